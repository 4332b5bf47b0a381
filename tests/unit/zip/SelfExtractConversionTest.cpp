// Self-extracting conversion: the header, the text limit, the stub search, the extension
// rule, the shifted output checked by independent readers, and the failure paths.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "TestSupport.h"
#include "platform/File.h"
#include "ZipFixtures.h"
#include "platform/FileSystem.h"
#include "zip/ZipArchiver.h"
#include "zip/ZipMessages.h"

using namespace zip;
using namespace zipfixtures;
using testing_support::ReadText;
using testing_support::RunCommand;
using testing_support::ScopedRecordingUI;
using testing_support::TempDir;
using testing_support::WriteText;

namespace {

// Runs in the test's folder, so "SFXStub.bin" in the current folder is the test's own.
class SelfExtractConversionTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_oldDir = platform::CurrentDir();
        platform::SetCurrentDir(dir.path());
        zip.Unattended = true;
        zip.HowToDelete = htdFinal;
        zip.OnMessage = [this](TZipArchiver& s, std::int32_t, const std::string&) { messages.push_back(s.ErrCode()); };
        WriteText(dir / "stub.bin", stub);
        zip.SFXPath = dir / "stub.bin";
    }
    void TearDown() override { platform::SetCurrentDir(m_oldDir); }

    std::string MakeArchive(const std::string& name, const Archive& a) {
        const std::string bytes = Build(a).bytes;
        WriteText(dir / name, bytes);
        return bytes;
    }
    static Archive Sample() {
        Archive a = TwoFiles();
        a.entries[0].comment = "first entry";
        a.comment = "archive comment";
        return a;
    }

    TempDir dir;
    ScopedRecordingUI ui;
    TZipArchiver zip;
    std::vector<int> messages;
    const std::string stub = std::string(3000, '\x90') + "STUB-END";

private:
    std::string m_oldDir;
};

struct HeaderCase {
    SFXOpts options;
    OvrOpts overwrite;
    int flags;
};

TEST(SelfExtractHeader, FlagBitsFollowOptionsAndOverwriteMode) {
    const HeaderCase cases[] = {
        {{SFXCheckSize}, OvrConfirm, 0x00},
        {{SFXCheckSize}, OvrAlways, 0x08},  // this program's settings
        {{}, OvrNever, 0x30},
        {{SFXAskCmdLine, SFXAskFiles, SFXHideOverWriteBox, SFXAutoRun, SFXCheckSize}, OvrAlways, 0x4F},
        {{SFXAutoRun}, OvrConfirm, 0x60},
    };
    for (const HeaderCase& c : cases) {
        const std::string h = BuildSFXHeader(c.options, c.overwrite, "Cap", "Dir", "Cmd");
        ASSERT_EQ(h.size(), 256u);
        EXPECT_EQ(h.substr(0, 3), "MPU");
        EXPECT_EQ(static_cast<unsigned char>(h[3]), c.flags) << c.options.Raw();
        EXPECT_EQ(h.substr(4, 3), std::string("\x03\x03\x03", 3));
        EXPECT_EQ(h.substr(7, 9), "CapDirCmd");
        EXPECT_EQ(h.substr(16), std::string(240, '\0'));
    }
}

TEST_F(SelfExtractConversionTest, TextsOf249BytesFillTheHeaderAnd250AreRefused) {
    MakeArchive("a.zip", Sample());
    zip.SFXCaption = std::string(100, 'c');
    zip.SFXDefaultDir = std::string(49, 'd');
    zip.SFXCommandLine = std::string(100, 'x');
    zip.SetZipFilename(dir / "a.zip");
    ASSERT_EQ(zip.ConvertToSFX(), 0);
    const std::string out = ReadText(dir / "a.exe");
    EXPECT_EQ(out.substr(stub.size() + 7, 249), zip.SFXCaption + zip.SFXDefaultDir + zip.SFXCommandLine);
    EXPECT_EQ(static_cast<unsigned char>(out[stub.size() + 5]), 49);

    MakeArchive("b.zip", Sample());
    zip.SetZipFilename(dir / "b.zip");
    zip.SFXDefaultDir += "!";
    EXPECT_EQ(zip.ConvertToSFX(), -9);
    EXPECT_EQ(messages.back(), zmSFXTextsTooLong);
    EXPECT_EQ(zip.Message(),
              ZipMessageText(zmSFXTextsTooLong) + "\r\nSFXCaption + SFXDefaultDir + SFXCommandLine = 250");
    EXPECT_FALSE(testing_support::Exists(dir / "b.exe"));
    EXPECT_TRUE(testing_support::Exists(dir / "b.zip"));
}

TEST_F(SelfExtractConversionTest, ExtensionRuleIgnoresCase) {
    struct Row {
        const char* name;
        const char* output;
        int result;
    } rows[] = {{"u.ZIP", "u.exe", 0}, {"l.zip", "l.exe", 0}, {"m.ZiP", "m.exe", 0}, {"o.zap", "o.exe", -9}};
    for (const Row& r : rows) {
        messages.clear();
        MakeArchive(r.name, Sample());
        zip.SetZipFilename(dir / r.name);
        EXPECT_EQ(zip.ConvertToSFX(), r.result) << r.name;
        EXPECT_EQ(testing_support::Exists(dir / r.output), r.result == 0) << r.name;
        EXPECT_EQ(testing_support::Exists(dir / r.name), r.result != 0) << r.name;
        if (r.result != 0) {
            EXPECT_EQ(messages, std::vector<int>{zmNotZipName});
        }
    }
}

TEST_F(SelfExtractConversionTest, APipeAsTheStubIsRefusedAtOnce) {
    MakeArchive("a.zip", Sample());
    zip.SetZipFilename(dir / "a.zip");
    ASSERT_EQ(::unlink((dir / "stub.bin").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir / "stub.bin").c_str(), 0644), 0);
    // (in a child with a time limit: reading a pipe as the stub would wait for ever)
    auto outcome = testing_support::FinishedWithin(10, [&] { return std::to_string(zip.ConvertToSFX()); });
    EXPECT_EQ(outcome, "-3");
    EXPECT_FALSE(testing_support::Exists(dir / "a.exe"));
    EXPECT_TRUE(testing_support::Exists(dir / "a.zip"));
}

TEST_F(SelfExtractConversionTest, MissingArchiveIsRefused) {
    zip.SetZipFilename(dir / "none.zip");
    EXPECT_EQ(zip.ConvertToSFX(), -9);
    EXPECT_EQ(messages, std::vector<int>{zmNoArchive});
}

TEST_F(SelfExtractConversionTest, StubSearchOrder) {
    MakeArchive("s.zip", Sample());
    const std::string progStub = platform::ProgramDir() + "SFXStub.bin";
    // The program's folder is shared by every run: start clean and leave it clean.
    struct RemoveAtEnd {
        std::string path;
        ~RemoveAtEnd() { ::unlink(path.c_str()); }
    } cleanup{progStub};
    ::unlink(progStub.c_str());
    const std::string dllDir = dir / "engine";
    auto convert = [&](const std::string& sfxPath) {
        MakeArchive("s.zip", Sample());
        zip.SetZipFilename(dir / "s.zip");
        zip.SFXPath = sfxPath;
        return zip.ConvertToSFX();
    };
    auto stubOf = [&] { return ReadText(dir / "s.exe").substr(0, 5); };

    // The DLL folder is the last place looked at.
    WriteText(dllDir + "/SFXStub.bin", "DLLDR" + std::string(10, 'x'));
    zip.SetDLLDirectory(dllDir);
    EXPECT_EQ(convert("missing.bin"), 0);
    EXPECT_EQ(stubOf(), "DLLDR");
    EXPECT_EQ(zip.SFXPath, dllDir + "\\SFXStub.bin");

    // The program's folder comes before it.
    WriteText(progStub, "PROGR" + std::string(10, 'x'));
    EXPECT_EQ(convert("missing.bin"), 0);
    EXPECT_EQ(stubOf(), "PROGR");
    EXPECT_EQ(zip.SFXPath, progStub);

    // The current folder before that.
    WriteText(dir / "SFXStub.bin", "CURRE" + std::string(10, 'x'));
    EXPECT_EQ(convert("missing.bin"), 0);
    EXPECT_EQ(stubOf(), "CURRE");
    ::unlink(progStub.c_str());

    // SFXPath as it stands first of all.
    EXPECT_EQ(convert(dir / "stub.bin"), 0);
    EXPECT_EQ(stubOf(), stub.substr(0, 5));

    // None anywhere: SFXPath is emptied, and the next call searches again.
    ::unlink((dir / "SFXStub.bin").c_str());
    ::unlink((dllDir + "/SFXStub.bin").c_str());
    messages.clear();
    EXPECT_EQ(convert("missing.bin"), -9);
    EXPECT_EQ(messages, std::vector<int>{zmNoStub});
    EXPECT_EQ(zip.SFXPath, "");
    EXPECT_TRUE(testing_support::Exists(dir / "s.zip"));
    WriteText(dir / "SFXStub.bin", "AGAIN" + std::string(10, 'x'));
    zip.SetZipFilename(dir / "s.zip");
    EXPECT_EQ(zip.ConvertToSFX(), 0);
    EXPECT_EQ(stubOf(), "AGAIN");
    EXPECT_EQ(zip.SFXPath, "SFXStub.bin");
}

TEST_F(SelfExtractConversionTest, OutputShiftsEveryOffsetByStubAndHeader) {
    Archive a = Sample();
    const Built source = Build(a);
    WriteText(dir / "p.zip", source.bytes);
    WriteText(dir / "p.exe", "an older executable");
    zip.SFXOverWriteMode = OvrAlways;
    zip.SFXCommandLine = "notepad.exe|><readme.txt";
    zip.SetZipFilename(dir / "p.zip");
    ASSERT_EQ(zip.ConvertToSFX(), 0);
    EXPECT_TRUE(messages.empty());

    const std::string out = ReadText(dir / "p.exe");
    const std::size_t shift = stub.size() + 256;
    ASSERT_EQ(out.size(), shift + source.bytes.size());
    EXPECT_EQ(out.substr(0, stub.size()), stub);
    EXPECT_EQ(out[stub.size() + 3], '\x08');
    // Every byte is the archive's, except the offsets of the central headers and end record.
    std::string expected = source.bytes;
    std::size_t at = source.centralOffset;
    for (const Entry& e : a.entries) {
        const std::uint32_t moved = Get32(expected, at + 42) + static_cast<std::uint32_t>(shift);
        for (int i = 0; i < 4; ++i) expected[at + 42 + i] = static_cast<char>(moved >> (8 * i));
        at += 46 + e.name.size() + e.extra.size() + e.comment.size();
    }
    const std::uint32_t movedDir = Get32(expected, source.endOffset + 16) + static_cast<std::uint32_t>(shift);
    for (int i = 0; i < 4; ++i) expected[source.endOffset + 16 + i] = static_cast<char>(movedDir >> (8 * i));
    EXPECT_EQ(out.substr(shift), expected);

    EXPECT_FALSE(testing_support::Exists(dir / "p.zip")) << "the source archive is removed";
    EXPECT_EQ(zip.ZipFilename(), dir / "p.exe");
    EXPECT_EQ(zip.EntryCount(), 2);
    EXPECT_EQ(zip.ArchiveOffset(), static_cast<std::int64_t>(shift));
    EXPECT_FALSE(zip.OffsetsMismatch());
    EXPECT_EQ(zip.ArchiveComment(), "archive comment");
}

TEST_F(SelfExtractConversionTest, IndependentReadersAcceptTheOutput) {
    // A real deflated archive from an independent writer where one is installed.
    std::string archive = dir / "r.zip";
    WriteText(dir / "in/one.txt", std::string(5000, 'a') + "one");
    WriteText(dir / "in/two.txt", "two\r\n");
    if (testing_support::HaveTool("zip")) {
        ASSERT_EQ(RunCommand("cd '" + dir.path() + "' && zip -q -r -z r.zip in < /dev/null").status, 0);
    } else {
        MakeArchive("r.zip", Sample());
    }
    zip.SetZipFilename(archive);
    ASSERT_EQ(zip.ConvertToSFX(), 0);
    const std::string exe = dir / "r.exe";
    if (testing_support::HaveTool("unzip")) {
        auto r = RunCommand("unzip -t '" + exe + "' 2>&1");
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(r.output.find("extra bytes"), std::string::npos) << r.output;
    }
    if (testing_support::HaveTool("python3")) {
        auto r = RunCommand(
            "python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); "
            "assert z.testzip() is None; print(len(z.namelist()))\" '" +
            exe + "'");
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(r.output, std::to_string(zip.EntryCount()) + "\n");
    }
    TZipArchiver reader;
    reader.Unattended = true;
    reader.SetZipFilename(exe);
    EXPECT_EQ(reader.ArchiveOffset(), static_cast<std::int64_t>(stub.size() + 256));
    EXPECT_GE(reader.EntryCount(), 2);
}

// The native stub, or a failure: the tree builds it with these tests.
std::string NativeStub() {
    const std::string path = testing_support::BinDir() + "/sfxstub-native";
    EXPECT_TRUE(platform::FileExists(path)) << "the native stub is built with the tests";
    return path;
}

// Runs the self-extractor `exe` silently into `folder`.
testing_support::CommandResult RunSelfExtractor(const std::string& exe, const std::string& folder) {
    ::chmod(exe.c_str(), 0755);
    return RunCommand("'" + exe + "' -s '" + folder + "' 2>&1");
}

TEST_F(SelfExtractConversionTest, Zip64ArchiveHasEvery64BitOffsetMovedAndReadsEverywhere) {
    Archive a = Sample();
    a.zip64End = true;
    a.entries[0].zip64Marks = kMarkSize | kMarkCompressed | kMarkOffset;
    a.entries[1].zip64Marks = kMarkOffset;
    const Built source = Build(a);
    WriteText(dir / "z.zip", source.bytes);
    zip.SFXPath = NativeStub();
    zip.SetZipFilename(dir / "z.zip");
    ASSERT_EQ(zip.ConvertToSFX(), 0) << ::testing::PrintToString(messages);
    const std::string exe = dir / "z.exe";
    const std::string out = ReadText(exe);
    const std::uint64_t shift = *platform::FileSize(zip.SFXPath) + 256;
    ASSERT_EQ(out.size(), shift + source.bytes.size());

    // The extra fields' offsets, the 64-bit end record's and the locator's moved; the end
    // record keeps its marker.
    const std::uint64_t second = 30 + a.entries[0].name.size() + a.entries[0].data.size();
    EXPECT_EQ(Get64(out, shift + source.extraOffsets[0] + 16), shift);
    EXPECT_EQ(Get64(out, shift + source.extraOffsets[1]), shift + second);
    EXPECT_EQ(Get64(out, shift + source.zip64EndOffset + 48), shift + source.centralOffset);
    EXPECT_EQ(Get64(out, shift + source.zip64EndOffset + 56 + 8), shift + source.zip64EndOffset);
    EXPECT_EQ(Get32(out, shift + source.endOffset + 16), 0xFFFFFFFFu);

    // Independent readers accept it without finding a prefix to make up for.
    if (testing_support::HaveTool("unzip")) {
        auto r = RunCommand("unzip -t '" + exe + "' 2>&1");
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(r.output.find("extra bytes"), std::string::npos) << r.output;
    }
    if (testing_support::HaveTool("7z")) {
        auto r = RunCommand("7z t -tzip '" + exe + "' 2>&1");
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(r.output.find("Warning"), std::string::npos) << r.output;
    }
    if (testing_support::HaveTool("python3")) {
        auto r = RunCommand(
            "python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); assert z.testzip() is None; "
            "print(' '.join(z.namelist()))\" '" +
            exe + "' 2>&1");
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(r.output, "dir/alpha.txt beta.dat\n");
    }
    EXPECT_EQ(zip.ArchiveOffset(), static_cast<std::int64_t>(shift));
    EXPECT_FALSE(zip.OffsetsMismatch());
    EXPECT_EQ(zip.EntryCount(), 2);

    auto r = RunSelfExtractor(exe, dir / "out");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(ReadText(dir / "out/dir/alpha.txt"), a.entries[0].data);
    EXPECT_EQ(ReadText(dir / "out/beta.dat"), a.entries[1].data);
}

TEST_F(SelfExtractConversionTest, FilePast4GiBFromAnIndependentWriterExtractsWhole) {
    // The one large case: a sparse file, so only the extracted copy takes room on the disk.
    if (!testing_support::HaveTool("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
    const std::uint64_t size = (std::uint64_t(4) << 30) + 5;
    ASSERT_EQ(RunCommand("cd '" + dir.path() + "' && truncate -s " + std::to_string(size) +
                         " big.bin && printf tail >> big.bin && printf small > small.txt && "
                         "zip -q -1 big.zip big.bin small.txt && rm big.bin")
                  .status,
              0);
    zip.SFXPath = NativeStub();
    zip.SetZipFilename(dir / "big.zip");
    ASSERT_EQ(zip.EntryCount(), 2);
    EXPECT_EQ(zip.Entries()[0].UncomprSize, size + 4);
    ASSERT_EQ(zip.ConvertToSFX(), 0) << ::testing::PrintToString(messages);
    EXPECT_EQ(zip.Entries()[0].UncomprSize, size + 4);
    if (testing_support::HaveTool("unzip")) {
        auto r = RunCommand("unzip -l '" + (dir / "big.exe") + "' 2>&1");
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find(std::to_string(size + 4)), std::string::npos) << r.output;
    }

    auto r = RunSelfExtractor(dir / "big.exe", dir / "out");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(platform::FileSize(dir / "out/big.bin"), size + 4);
    auto extracted = platform::File::Open(dir / "out/big.bin", platform::File::Mode::Read);
    char last[4] = {};
    EXPECT_EQ(extracted.file.ReadAt(last, 4, static_cast<std::int64_t>(size)), 4);
    EXPECT_EQ(std::string(last, 4), "tail");
    EXPECT_EQ(ReadText(dir / "out/small.txt"), "small");
}

TEST_F(SelfExtractConversionTest, BytesAfterTheCommentAreNotCarriedOver) {
    const std::string bytes = Build(Sample()).bytes;
    WriteText(dir / "t.zip", bytes + "trailing junk");
    zip.SetZipFilename(dir / "t.zip");
    ASSERT_EQ(zip.ConvertToSFX(), 0);
    EXPECT_EQ(ReadText(dir / "t.exe").size(), stub.size() + 256 + bytes.size());
}

TEST_F(SelfExtractConversionTest, ArchiveWithOffsetsAlreadyOffIsCopiedUnchanged) {
    Archive a = Sample();
    a.prefix = std::string(500, 'P');
    a.shiftOffsets = false;
    const std::string bytes = Build(a).bytes;
    WriteText(dir / "m.zip", bytes);
    zip.SetZipFilename(dir / "m.zip");
    ASSERT_TRUE(zip.OffsetsMismatch());
    ASSERT_EQ(zip.ConvertToSFX(), 0);
    EXPECT_EQ(ReadText(dir / "m.exe").substr(stub.size() + 256), bytes);
}

TEST_F(SelfExtractConversionTest, FailuresLeaveTheSourceAndNoOutput) {
    struct Row {
        const char* name;
        std::function<std::string()> replacement;  // the archive's bytes after it was read
        int result;
    } rows[] = {
        {"not_an_archive_any_more", [] { return std::string(300, 'g'); }, -3},
        {"damaged_directory",
         [] {
             Archive a = Sample();
             a.centralSignature = 0x12345678;
             return Build(a).bytes;
         },
         -2},
        {"directory_shorter_than_recorded",
         [] {
             Archive a = Sample();
             a.totalEntriesDelta = 1;
             return Build(a).bytes;
         },
         -2},
    };
    for (const Row& r : rows) {
        MakeArchive("f.zip", Sample());
        zip.SetZipFilename(dir / "f.zip");
        ASSERT_EQ(zip.EntryCount(), 2);
        const std::string replacement = r.replacement();
        WriteText(dir / "f.zip", replacement);
        EXPECT_EQ(zip.ConvertToSFX(), r.result) << r.name;
        EXPECT_FALSE(testing_support::Exists(dir / "f.exe")) << r.name;
        EXPECT_EQ(ReadText(dir / "f.zip"), replacement) << r.name;
        EXPECT_EQ(zip.ZipFilename(), dir / "f.zip") << r.name;
    }
}

TEST_F(SelfExtractConversionTest, SourceGoesToTheTrashUnderAllowUndo) {
    const std::string dataHome = dir / "xdg";
    ASSERT_TRUE(platform::ForceDirectories(dataHome));  // the desktop's data folder exists
    const char* old = std::getenv("XDG_DATA_HOME");
    const std::string saved = old ? old : "";
    ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    MakeArchive("u.zip", Sample());
    zip.HowToDelete = htdAllowUndo;
    zip.SetZipFilename(dir / "u.zip");
    const int result = zip.ConvertToSFX();
    if (old) ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else ::unsetenv("XDG_DATA_HOME");
    ASSERT_EQ(result, 0);
    EXPECT_FALSE(testing_support::Exists(dir / "u.zip"));
    EXPECT_TRUE(testing_support::Exists(dataHome + "/Trash/files/u.zip"));
}

TEST_F(SelfExtractConversionTest, CopyBlocksCopiesTheCountOrToTheEnd) {
    std::string data;
    for (int i = 0; i < 20000; ++i) data += static_cast<char>(i * 7);
    WriteText(dir / "src", data);
    const std::pair<std::int64_t, std::size_t> rows[] = {{-1, 20000},  {0, 0},       {1, 1},
                                                         {8192, 8192}, {8193, 8193}, {30000, 20000}};
    for (const auto& [count, expected] : rows) {
        {
            auto src = platform::File::Open(dir / "src", platform::File::Mode::Read);
            auto dst = platform::File::Open(dir / "dst", platform::File::Mode::Replace);
            ASSERT_TRUE(src.file.Seek(0));
            EXPECT_EQ(TZipArchiver::CopyBlocks(src.file, dst.file, count), 0);
        }
        EXPECT_EQ(ReadText(dir / "dst"), data.substr(0, expected)) << count;
    }
}

TEST_F(SelfExtractConversionTest, EraseFileTakesBareNamesFromTheCurrentFolder) {
    WriteText(dir / "gone.txt", "x");
    EXPECT_EQ(zip.EraseFile("gone.txt", htdFinal), 0);
    EXPECT_FALSE(testing_support::Exists(dir / "gone.txt"));
    EXPECT_EQ(zip.EraseFile("gone.txt", htdFinal), -1);
    EXPECT_EQ(zip.EraseFile(dir / "never.txt", htdAllowUndo), -1);
}

}  // namespace
