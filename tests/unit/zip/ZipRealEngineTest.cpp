// The component with the real engine library (bin/libzipengine.so): pack, read back, make
// self-extracting, and check the results with independent readers and the native build of
// the self-extractor (bin/sfxstub-native).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>

#include "TestSupport.h"
#include "platform/FileSystem.h"
#include "zip/ZipArchiver.h"

using namespace zip;
using testing_support::BinDir;
using testing_support::ReadText;
using testing_support::RunCommand;
using testing_support::ScopedRecordingUI;
using testing_support::TempDir;
using testing_support::WriteText;

namespace {

std::string PythonCheck(const std::string& path) {
    auto r = RunCommand(
        "python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); "
        "bad=z.testzip(); print('BAD', bad) if bad else print(' '.join(sorted(z.namelist())))\" '" +
        path + "' 2>&1");
    return r.status == 0 ? r.output : "python failed: " + r.output;
}

class ZipRealEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(platform::FileExists(BinDir() + "/libzipengine.so")) << "the engine is built with the tests";
        m_oldDir = platform::CurrentDir();
        // The copy run's layout: files below T, packed with names relative to T.
        WriteText(dir / "Roads.WOR", "!Workspace\r\n!Version 300\r\n");
        WriteText(dir / "TABLES/Roads.tab", "!table\r\n");
        std::string data;
        for (int i = 0; i < 200000; ++i) data += static_cast<char>('a' + (i * 31 + i / 7) % 26);
        WriteText(dir / "TABLES/DATA/Roads/roads.DAT", data);
        WriteText(dir / "TABLES/DATA/Roads/roads.MAP", std::string(70000, '\0') + "map");
        platform::SetCurrentDir(dir.path());
        zip.SetDLLDirectory(BinDir());
        zip.AddOptions = {AddDirNames, AddUpdate, AddZipTime, AddHiddenFiles};
        zip.SFXOverWriteMode = OvrAlways;
        zip.SFXCaption = "Tallomir Self-Extracting Archive";
        zip.HowToDelete = htdFinal;
        zip.TempDir = dir.path();
        zip.OnMessage = [this](TZipArchiver& s, std::int32_t, const std::string& text) {
            messages.push_back(std::to_string(s.ErrCode()) + " " + text);
        };
    }
    void TearDown() override {
        zip.UnloadEngine();
        if (!m_oldDir.empty()) platform::SetCurrentDir(m_oldDir);
    }
    void FillSpecs() {
        zip.FSpecArgs() = {"TABLES\\DATA\\Roads\\roads.DAT", "TABLES\\DATA\\Roads\\roads.MAP", "TABLES\\Roads.tab",
                           "Roads.WOR"};
    }
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const ZipDirEntry& e : zip.Entries()) names.insert(e.FileName);
        return names;
    }

    TempDir dir;
    ScopedRecordingUI ui;
    TZipArchiver zip;
    std::vector<std::string> messages;
    const std::string expectedNames =
        "Roads.WOR TABLES/DATA/Roads/roads.DAT TABLES/DATA/Roads/roads.MAP TABLES/Roads.tab\n";

private:
    std::string m_oldDir;
};

TEST_F(ZipRealEngineTest, PacksReadsBackAndMakesASelfExtractor) {
    std::vector<std::string> newFiles;
    zip.OnProgress = [&](TZipArchiver&, ProgressType t, const std::string& name, std::int32_t) {
        if (t == ptNewFile) newFiles.push_back(name);
    };
    zip.LoadEngine();
    ASSERT_TRUE(zip.EngineLoaded());
    zip.SetZipFilename(dir / "~temp.zip");
    FillSpecs();
    zip.Add();
    EXPECT_EQ(zip.AddedCount(), 4);
    EXPECT_TRUE(zip.FSpecArgs().empty());
    ASSERT_EQ(zip.EntryCount(), 4);
    EXPECT_EQ(Names(), (std::set<std::string>{"TABLES\\DATA\\Roads\\roads.DAT", "TABLES\\DATA\\Roads\\roads.MAP",
                                              "TABLES\\Roads.tab", "Roads.WOR"}));
    EXPECT_EQ(zip.ArchiveOffset(), 0);
    EXPECT_FALSE(zip.OffsetsMismatch());
    EXPECT_EQ(newFiles.size(), 4u);
    for (const std::string& n : newFiles) EXPECT_EQ(n.find('/'), std::string::npos) << n;
    EXPECT_GT(zip.TotalSize(), 270000u);
    EXPECT_EQ(PythonCheck(dir / "~temp.zip"), expectedNames);

    // The copy run renames the work archive and converts the final one.
    ASSERT_FALSE(platform::RenameFile(dir / "~temp.zip", dir / "Tallomir.zip"));
    zip.SetZipFilename(dir / "Tallomir.zip");
    const std::string stubPath = BinDir() + "/sfxstub-native";
    const bool nativeStub = platform::FileExists(stubPath);
    if (nativeStub) {
        zip.SFXPath = stubPath;
    } else {
        WriteText(dir / "stub.bin", std::string(4096, 'S'));
        zip.SFXPath = dir / "stub.bin";
    }
    const auto stubSize = static_cast<std::int64_t>(*platform::FileSize(zip.SFXPath));
    ASSERT_EQ(zip.ConvertToSFX(), 0) << ::testing::PrintToString(messages);
    const std::string exe = dir / "Tallomir.exe";
    EXPECT_EQ(zip.ZipFilename(), exe);
    EXPECT_EQ(zip.ArchiveOffset(), stubSize + 256);
    EXPECT_EQ(zip.EntryCount(), 4);
    EXPECT_FALSE(platform::FileExists(dir / "Tallomir.zip"));
    EXPECT_EQ(PythonCheck(exe), expectedNames);
    if (testing_support::HaveTool("unzip")) {
        auto r = RunCommand("unzip -t '" + exe + "' 2>&1");
        EXPECT_EQ(r.status, 0) << r.output;
    }
    if (nativeStub) {
        ::chmod(exe.c_str(), 0755);
        auto r = RunCommand("'" + exe + "' -s '" + (dir / "out") + "' 2>&1");
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(ReadText(dir / "out/TABLES/DATA/Roads/roads.DAT"), ReadText(dir / "TABLES/DATA/Roads/roads.DAT"));
        EXPECT_EQ(ReadText(dir / "out/Roads.WOR"), ReadText(dir / "Roads.WOR"));
    }
}

TEST_F(ZipRealEngineTest, AddsToANewSelfExtractorBehindItsStub) {
    WriteText(dir / "stub.bin", std::string(5000, 'S'));
    zip.SFXPath = dir / "stub.bin";
    zip.SetZipFilename(dir / "Direct.exe");
    FillSpecs();
    zip.Add();
    EXPECT_EQ(zip.AddedCount(), 4) << ::testing::PrintToString(messages);
    EXPECT_EQ(ReadText(dir / "Direct.exe").substr(0, 5000), std::string(5000, 'S'));
    EXPECT_EQ(zip.ArchiveOffset(), 5256);
    EXPECT_EQ(zip.EntryCount(), 4);
    EXPECT_EQ(PythonCheck(dir / "Direct.exe"), expectedNames);
}

TEST_F(ZipRealEngineTest, UpdateKeepsEntriesTheRunDoesNotList) {
    zip.SetZipFilename(dir / "~temp.zip");
    zip.FSpecArgs() = {"Roads.WOR"};
    zip.Add();
    ASSERT_EQ(zip.EntryCount(), 1);
    zip.FSpecArgs() = {"TABLES\\Roads.tab"};
    zip.Add();
    EXPECT_EQ(Names(), (std::set<std::string>{"Roads.WOR", "TABLES\\Roads.tab"}));
}

// Packages past 4 GiB, on sparse files that cost no disk space until packed: a file of the
// largest size the old headers hold, stored, carries the archive past 4 GiB; an update then
// copies it and deflates a file past 4 GiB behind it. Every reader takes the result, and the
// component's progress adds up to the total the engine announced in its units.
TEST_F(ZipRealEngineTest, PackagesPast4GiBReadBackEverywhere) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "packs 8 GiB: run by the normal build, too slow under a sanitizer";
#endif
    constexpr std::uint64_t kUnder = 0xFFFFFFFEull, kOver = (std::uint64_t(4) << 30) + 5;
    auto sparse = [&](const std::string& name, std::uint64_t size) {
        const std::string path = dir / name;
        int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
        ::close(fd);
    };
    ::mkdir((dir / "big").c_str(), 0755);
    sparse("big/under.img", kUnder);
    std::int64_t total = 0, progress = 0;
    zip.OnProgress = [&](TZipArchiver&, ProgressType t, const std::string&, std::int32_t figure) {
        if (t == ptTotalSize) total = figure, progress = 0;
        if (t == ptProgress) progress += figure;
    };
    zip.LoadEngine();
    ASSERT_TRUE(zip.EngineLoaded());
    const std::string archive = dir / "big.zip";
    zip.SetZipFilename(archive);
    zip.AddCompLevel = 0;
    zip.FSpecArgs() = {"big\\under.img", "Roads.WOR"};
    zip.Add();
    ASSERT_EQ(zip.AddedCount(), 2) << ::testing::PrintToString(messages);
    sparse("big/over.img", kOver);
    zip.AddCompLevel = 9;
    zip.FSpecArgs() = {"big\\over.img"};
    zip.Add();
    ASSERT_EQ(zip.AddedCount(), 1) << ::testing::PrintToString(messages);
    EXPECT_EQ(total, static_cast<std::int64_t>(kOver >> 2));
    EXPECT_EQ(progress, total);

    std::map<std::string, std::uint64_t> sizes;
    for (const ZipDirEntry& e : zip.Entries()) sizes[e.FileName] = e.UncomprSize;
    EXPECT_EQ(sizes, (std::map<std::string, std::uint64_t>{
                         {"big\\under.img", kUnder}, {"big\\over.img", kOver}, {"Roads.WOR", 26}}));
    EXPECT_GT(*platform::FileSize(archive), kUnder);
    EXPECT_EQ(PythonCheck(archive), "Roads.WOR big/over.img big/under.img\n");
    for (const std::string tool : {"unzip", "7z"}) {
        if (!testing_support::HaveTool(tool)) continue;
        auto r = RunCommand((tool == "7z" ? "7z t '" : "unzip -tq '") + archive + "' 2>&1");
        EXPECT_EQ(r.status, 0) << r.output;
    }
    ::unlink(archive.c_str());
}

}  // namespace
