// The reading core of the self-extractor: header, locating the archive behind the stub,
// damaged archives, entry names and the stored command line.
#include <gtest/gtest.h>

#include "CommandLine.h"
#include "SafeName.h"
#include "SfxArchive.h"
#include "SfxTestKit.h"

using namespace sfx;
using sfxtest::BuildZip;
using sfxtest::MakeSfx;

namespace {

OpenResult Open(const std::string& bytes, SfxArchive& archive, bool checkSize = true) {
    MemorySource src(bytes.data(), bytes.size());
    return OpenSfxArchive(src, archive, checkSize);
}

std::string Extract(const std::string& bytes, const SfxArchive& archive, size_t index, std::string& out) {
    MemorySource src(bytes.data(), bytes.size());
    out.clear();
    return ExtractEntryData(src, archive, archive.entries[index], [&](const uint8_t* d, size_t n) {
        out.append(reinterpret_cast<const char*>(d), n);
        return true;
    });
}

const std::string kStub(3000, 'S');

}  // namespace

TEST(SfxHeader, TextsOf249BytesFillTheHeaderAndRoundTrip) {
    SfxHeader h;
    h.flags = 0x5A;
    h.caption = std::string(100, 'c');
    h.defaultDir = std::string(100, 'd');
    h.commandLine = std::string(49, 'x');
    std::vector<uint8_t> bytes = BuildSfxHeader(h);
    ASSERT_EQ(bytes.size(), 256u);
    EXPECT_EQ(bytes[255], 'x');
    SfxHeader back;
    ASSERT_TRUE(ParseSfxHeader(bytes.data(), back));
    EXPECT_EQ(back.flags, 0x5A);
    EXPECT_EQ(back.caption, h.caption);
    EXPECT_EQ(back.defaultDir, h.defaultDir);
    EXPECT_EQ(back.commandLine, h.commandLine);
}

TEST(SfxHeader, RefusesWrongSignatureAndLengthsBeyondTheHeader) {
    std::vector<uint8_t> bytes = BuildSfxHeader(sfxtest::Header(8, "notepad.exe|><readme.txt"));
    SfxHeader out;
    std::vector<uint8_t> bad = bytes;
    bad[2] = 'X';
    EXPECT_FALSE(ParseSfxHeader(bad.data(), out));
    bad = bytes;
    bad[4] = 200, bad[5] = 40, bad[6] = 10;  // 250 bytes of text
    EXPECT_FALSE(ParseSfxHeader(bad.data(), out));
}

TEST(SfxOpen, FindsHeaderAndEntriesBehindStubsOfAnySize) {
    const std::string zip = BuildZip({{"a.txt", "alpha"}, {"dir/b.txt", std::string(5000, 'b')}});
    for (size_t stubSize : {size_t(0), size_t(1), size_t(4096), size_t(70000)}) {
        const std::string file = MakeSfx(std::string(stubSize, 'S'), sfxtest::Header(8, "cmd"), zip);
        SfxArchive a;
        ASSERT_TRUE(Open(file, a).ok) << stubSize;
        EXPECT_EQ(a.headerOffset, stubSize);
        EXPECT_EQ(a.header.commandLine, "cmd");
        ASSERT_EQ(a.entries.size(), 2u);
        std::string data;
        EXPECT_EQ(Extract(file, a, 1, data), "");
        EXPECT_EQ(data, std::string(5000, 'b'));
    }
}

TEST(SfxOpen, EmptyArchiveHasItsHeaderBeforeTheCentralDirectory) {
    const std::string file = MakeSfx(kStub, sfxtest::Header(8, "", "Empty"), BuildZip({}));
    SfxArchive a;
    ASSERT_TRUE(Open(file, a).ok);
    EXPECT_EQ(a.headerOffset, kStub.size());
    EXPECT_EQ(a.header.caption, "Empty");
    EXPECT_TRUE(a.entries.empty());
}

TEST(SfxOpen, ArchiveWhoseOffsetsWereNotMovedIsStillRead) {
    // Stub and header put in front of an archive without shifting its offsets.
    const std::string zip = BuildZip({{"a.txt", "alpha"}});
    std::vector<uint8_t> h = BuildSfxHeader(sfxtest::Header(8));
    const std::string file = kStub + std::string(h.begin(), h.end()) + zip;
    SfxArchive a;
    ASSERT_TRUE(Open(file, a).ok);
    EXPECT_EQ(a.headerOffset, kStub.size());
    std::string data;
    EXPECT_EQ(Extract(file, a, 0, data), "");
    EXPECT_EQ(data, "alpha");
}

TEST(SfxOpen, SizeCheckRefusesCutAndPaddedFilesUnlessSwitchedOff) {
    const std::string zip = BuildZip({{"a.txt", "alpha"}}, "comment");
    const std::string good = MakeSfx(kStub, sfxtest::Header(8), zip);
    const std::string padded = good + "trailing";
    const std::string paddedNoCheck = MakeSfx(kStub, sfxtest::Header(8 | SfxNoCheckSize), zip) + "trailing";
    SfxArchive a;
    EXPECT_TRUE(Open(good, a).ok);
    EXPECT_FALSE(Open(padded, a).ok);
    EXPECT_TRUE(Open(paddedNoCheck, a).ok);
    EXPECT_FALSE(Open(good.substr(0, good.size() - 3), a).ok);  // cut inside the comment
}

struct BadFile {
    const char* fault;
    std::string bytes;
};

TEST(SfxOpen, DamagedFilesGetAMessageNeverACrash) {
    const std::string zip = BuildZip({{"a.txt", "alpha"}, {"b.txt", "beta"}});
    const std::string good = MakeSfx(kStub, sfxtest::Header(8), zip);
    const size_t end = good.rfind(std::string("PK\x05\x06", 4));
    const size_t cd = good.find(std::string("PK\x01\x02", 4));
    std::vector<BadFile> cases;
    cases.push_back({"not an archive", std::string(5000, 'x')});
    cases.push_back({"plain zip without header", zip});
    cases.push_back({"empty file", ""});
    std::string s = good;
    s[kStub.size()] = 'X';
    cases.push_back({"header signature damaged", s});
    s = good;
    s[end + 12] = char(0xFF), s[end + 13] = char(0xFF), s[end + 14] = char(0xFF), s[end + 15] = 0x7F;
    cases.push_back({"central directory larger than the file", s});
    s = good;
    s[cd + 1] = 'X';
    cases.push_back({"central header signature damaged", s});
    s = good;
    s[end + 10] = 9, s[end + 8] = 9;
    cases.push_back({"more entries than the directory holds", s});
    s = good;
    s[cd + 42] = char(0xF0), s[cd + 45] = 0x7F;
    cases.push_back({"local offset beyond the directory", s});
    s = good;
    s[end + 4] = 1;
    cases.push_back({"part of a multi-disk set", s});
    s = good;
    s[end + 10] = char(0xFF), s[end + 11] = char(0xFF), s[end + 8] = char(0xFF), s[end + 9] = char(0xFF);
    cases.push_back({"64-bit extension marker", s});
    for (const BadFile& c : cases) {
        SfxArchive a;
        OpenResult r = Open(c.bytes, a);
        EXPECT_FALSE(r.ok) << c.fault;
        EXPECT_FALSE(r.error.empty()) << c.fault;
    }
}

TEST(SfxExtract, DamagedEntriesAreReportedWithTheirFault) {
    struct Case {
        const char* fault;
        std::vector<sfxtest::TestEntry> entries;
        std::function<void(std::string&)> damage;
        const char* expected;  // part of the message
    };
    const std::string text(20000, 'q');
    auto flipInData = [](std::string& f) { f[f.find("PK\x03\x04") + 30 + 5 + 3] ^= 0x55; };
    std::vector<Case> cases = {
        {"stored data changed", {{"x.txt", text, false}}, flipInData, "CRC"},
        {"deflated data changed", {{"x.txt", text + "abcdefghijklmnopqrstuvwxyz", true}}, flipInData, ""},
        {"local header signature",
         {{"x.txt", text}},
         [](std::string& f) { f[f.find("PK\x03\x04") + 2] = 9; },
         "local header"},
        {"unsupported method", {{"x.txt", text, false, 0, 0, 12}}, nullptr, "bzip2"},
        {"encrypted", {{"x.txt", text, false, 0, 1}}, nullptr, "encrypted"},
        {"stored sizes disagree",
         {{"x.txt", text, false}},
         [](std::string& f) { f[f.find("PK\x01\x02") + 24] ^= 1; },
         "sizes disagree"},
        {"deflated size larger than directory says",
         {{"x.txt", text}},
         [](std::string& f) { f[f.find("PK\x01\x02") + 25] ^= 0x40; },
         "more data"},
        {"compressed data cut short",
         {{"x.txt", text}},
         [](std::string& f) { f[f.find("PK\x01\x02") + 20] = 3, f[f.find("PK\x01\x02") + 21] = 0; },
         "damaged"},
    };
    for (const Case& c : cases) {
        std::string file = MakeSfx(kStub, sfxtest::Header(8), BuildZip(c.entries));
        if (c.damage) c.damage(file);
        SfxArchive a;
        ASSERT_TRUE(Open(file, a).ok) << c.fault;
        std::string data;
        std::string err = Extract(file, a, 0, data);
        EXPECT_NE(err, "") << c.fault;
        EXPECT_NE(err.find(c.expected), std::string::npos) << c.fault << ": " << err;
    }
}

TEST(SafeName, RefusesEveryNameThatLeavesTheFolder) {
    const char* const hostile[] = {
        "../x",  "/etc/x",         "C:\\x", "c:x",         "a/../../x", "a\\..\\x", "..",    "\\\\server\\share\\x",
        "\\x",   "a/b/../../../x", "CON",   "dir/nul.txt", "lpt1",      "x:y",      "a. /b", "...",
        "name.", "tab\there",      "a/b?",
    };
    for (const char* name : hostile) {
        NameCheck r = CheckEntryName(name);
        EXPECT_FALSE(r.ok) << name;
        EXPECT_FALSE(r.reason.empty()) << name;
    }
}

TEST(SafeName, AcceptsOrdinaryNamesAndNormalisesSeparators) {
    struct Case {
        const char* name;
        std::vector<std::string> parts;
    } cases[] = {
        {"readme.txt", {"readme.txt"}},   {"TABLES\\DATA\\Roads\\roads.TAB", {"TABLES", "DATA", "Roads", "roads.TAB"}},
        {"./a//b/", {"a", "b"}},          {"a..b/..c", {"a..b", "..c"}},
        {"console.txt", {"console.txt"}}, {"com10", {"com10"}},
    };
    for (const Case& c : cases) {
        NameCheck r = CheckEntryName(c.name);
        EXPECT_TRUE(r.ok) << c.name << ": " << r.reason;
        EXPECT_EQ(r.parts, c.parts) << c.name;
    }
}

TEST(CommandLine, BarSeparatesProgramAndFolderMarkExpands) {
    struct Case {
        const char* text;
        const char* folder;
        const char* program;
        const char* arguments;
    } cases[] = {
        {"notepad.exe|><readme.txt", "C:\\Out\\", "notepad.exe", "C:\\Out\\readme.txt"},
        {"notepad.exe|><readme.txt", "C:\\My Data\\", "notepad.exe", "\"C:\\My Data\\readme.txt\""},
        {"", "C:\\Out\\", "", ""},
        {"   ", "C:\\Out\\", "", ""},
        {"|><readme.txt", "C:\\Out\\", "", ""},
        {"><setup.exe", "C:\\Out\\", "C:\\Out\\setup.exe", ""},
        {"><setup.exe|", "D:\\x y\\", "D:\\x y\\setup.exe", ""},
        {"prog.exe|-a \"><x y.txt\"  ><z", "C:\\O P\\", "prog.exe", "-a \"C:\\O P\\x y.txt\" \"C:\\O P\\z\""},
        {"prog.exe|  a   b ", "C:\\", "prog.exe", "a b"},
        {"prog.exe|><a><b", "/t/", "prog.exe", "/t/a/t/b"},
    };
    for (const Case& c : cases) {
        Command cmd = ExpandCommandLine(c.text, c.folder);
        EXPECT_EQ(cmd.program, c.program) << c.text;
        EXPECT_EQ(cmd.arguments, c.arguments) << c.text;
    }
}
