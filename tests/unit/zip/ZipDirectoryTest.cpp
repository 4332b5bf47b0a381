// Reading an archive's directory back: well-formed archives, damaged ones (one row per
// fault, with the numbers each must report), prefixes, and the name conversion.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "TestSupport.h"
#include "ZipFixtures.h"
#include "zip/ZipArchiver.h"
#include "zip/ZipMessages.h"

using namespace zip;
using namespace zipfixtures;
using testing_support::ScopedRecordingUI;
using testing_support::TempDir;
using testing_support::WriteText;

namespace {

struct DirectoryCase {
    const char* name;
    std::function<std::string()> bytes;
    std::vector<int> messages;   // ErrCode after each reported message, in order
    int entries;                 // EntryCount afterwards
    bool nameKept;               // ZipFilename still set afterwards
    std::int64_t archiveOffset;  // -1: not checked
};

std::string Damaged(const std::function<void(Archive&)>& change) {
    Archive a = TwoFiles();
    change(a);
    return Build(a).bytes;
}

// TwoFiles with 64-bit records: the first entry's sizes and offset in its extra field, the
// second's offset only, and the 64-bit end record and locator.
Archive Zip64TwoFiles() {
    Archive a = TwoFiles();
    a.zip64End = true;
    a.entries[0].zip64Marks = kMarkSize | kMarkCompressed | kMarkOffset;
    a.entries[1].zip64Marks = kMarkOffset;
    return a;
}

std::string Zip64Damaged(const std::function<void(Built&)>& change) {
    Built b = Build(Zip64TwoFiles());
    change(b);
    return b.bytes;
}

std::vector<DirectoryCase> Cases() {
    const std::string plain = Build(TwoFiles()).bytes;
    return {
        {"plain", [=] { return plain; }, {}, 2, true, 0},
        {"empty_file", [] { return std::string(); }, {zmNoEndRecord}, 0, false, 0},
        {"short_file", [] { return std::string("PK\x05\x06short", 10); }, {zmNoEndRecord}, 0, false, 0},
        {"shorter_than_end_record",
         [] { return std::string("PK\x05\x06", 4) + std::string(17, '\0'); },
         {zmNoEndRecord},
         0,
         false,
         0},
        {"no_end_record", [] { return std::string(200, 'z'); }, {zmNoEndRecord}, 0, false, 0},
        {"end_record_cut_off", [=] { return plain.substr(0, plain.size() - 5); }, {zmNoEndRecord}, 0, false, 0},
        {"empty_archive", [] { return Build(Archive{}).bytes; }, {}, 0, true, 0},
        {"archive_comment",
         [] {
             Archive a = TwoFiles();
             a.comment = "made for the tests";
             return Build(a).bytes;
         },
         {},
         2,
         true,
         0},
        {"zero_padding_to_512",
         [=] {
             std::string s = plain;
             s.resize((s.size() / 512 + 1) * 512, '\0');
             return s;
         },
         {},
         2,
         true,
         0},
        {"zero_padding_not_to_boundary",
         [=] { return plain + std::string(7, '\0'); },
         {zmTrailingBytesWarning},
         2,
         true,
         0},
        {"zero_padding_of_512_or_more",
         [=] {
             std::string s = plain;
             s.resize((s.size() / 512 + 2) * 512, '\0');
             return s;
         },
         {zmTrailingBytesWarning},
         2,
         true,
         0},
        {"other_trailing_bytes", [=] { return plain + "junk"; }, {zmTrailingBytesWarning}, 2, true, 0},
        {"comment_length_past_end",
         [] {
             return Damaged([](Archive& a) {
                 a.comment = "abc";
                 a.commentLengthDelta = 40;
             });
         },
         {zmTrailingBytesWarning},
         2,
         true,
         0},
        {"wrong_central_signature",
         [] { return Damaged([](Archive& a) { a.centralSignature = 0x02014B51; }); },
         {zmHeaderSignature},
         0,
         false,
         0},
        {"more_entries_than_headers",
         [] { return Damaged([](Archive& a) { a.totalEntriesDelta = 1; }); },
         {zmHeaderShort},
         2,
         false,
         0},
        {"central_size_too_large",
         [] { return Damaged([](Archive& a) { a.centralSizeDelta = 1000000; }); },
         {zmDirOffsetWarning, zmDirSeekFailed},
         0,
         false,
         0},
        {"name_cut_short",
         [] {
             Archive a = TwoFiles();
             std::string s = Build(a).bytes;
             // The last central header's name length reaches past the end of the file.
             const std::size_t second = Build(a).centralOffset + 46 + a.entries[0].name.size();
             s[second + 28] = '\xFF';
             s[second + 29] = '\xFF';
             return s;
         },
         {zmNameShort},
         1,
         false,
         0},
        {"comment_cut_short",
         [] {
             Archive a = TwoFiles();
             Built b = Build(a);
             const std::size_t second = b.centralOffset + 46 + a.entries[0].name.size();
             b.bytes[second + 32] = '\xFF';
             b.bytes[second + 33] = '\x7F';
             return b.bytes;
         },
         {zmCommentShort},
         2,
         false,
         0},
        {"prefix_with_shifted_offsets",
         [] {
             Archive a = TwoFiles();
             a.prefix = std::string(1000, 'S');
             return Build(a).bytes;
         },
         {},
         2,
         true,
         1000},
        {"prefix_without_shifted_offsets",
         [] {
             Archive a = TwoFiles();
             a.prefix = std::string(777, 'S');
             a.shiftOffsets = false;
             return Build(a).bytes;
         },
         {zmDirOffsetWarning},
         2,
         true,
         777},
        {"first_disk_of_spanned_set",
         [] {
             std::string s;
             Put32(s, 0x08074B50);
             Put32(s, 0x04034B50);
             return s + std::string(100, 'd');
         },
         {zmNoEndRecordSpanned},
         0,
         false,
         0},
        {"zip64", [] { return Build(Zip64TwoFiles()).bytes; }, {}, 2, true, 0},
        {"zip64_end_record_missing_behind_its_locator",
         [] { return Zip64Damaged([](Built& b) { b.bytes[b.zip64EndOffset] = 'X'; }); },
         {zmZip64RecordDamaged},
         0,
         false,
         0},
        {"zip64_locator_counting_two_disks",
         [] { return Zip64Damaged([](Built& b) { b.bytes[b.endOffset - 4] = 2; }); },
         {zmDirReadFailed},
         0,
         false,
         0},
        {"zip64_extra_field_too_short",
         [] {
             // The second entry's block is cut to 4 bytes: no room for its offset.
             return Zip64Damaged([](Built& b) { b.bytes[b.extraOffsets[1] - 2] = 4; });
         },
         {zmZip64RecordDamaged},
         2,
         false,
         0},
        {"zip64_directory_larger_than_the_file",
         [] { return Zip64Damaged([](Built& b) { b.bytes[b.zip64EndOffset + 47] = 0x40; }); },
         {zmDirOffsetWarning, zmDirSeekFailed},
         0,
         false,
         0},
        {"directory_on_other_disk",
         [] {
             std::string s = Build(TwoFiles()).bytes;
             s[s.size() - 22 + 6] = 1;  // disk with the central directory
             return s;
         },
         {zmDirReadFailed},
         0,
         false,
         0},
    };
}

class ZipDirectoryTest : public ::testing::TestWithParam<DirectoryCase> {};

TEST_P(ZipDirectoryTest, ReportsWhatTheArchiveHolds) {
    const DirectoryCase& c = GetParam();
    TempDir dir;
    ScopedRecordingUI ui;
    const std::string path = dir / "case.zip";
    WriteText(path, c.bytes());
    TZipArchiver zip;
    zip.Unattended = true;
    std::vector<int> messages;
    int dirUpdates = 0;
    zip.OnMessage = [&](TZipArchiver& sender, std::int32_t, const std::string&) {
        messages.push_back(sender.ErrCode());
    };
    zip.OnDirUpdate = [&](TZipArchiver&) { ++dirUpdates; };
    zip.SetZipFilename(path);
    EXPECT_EQ(messages, c.messages);
    EXPECT_EQ(zip.EntryCount(), c.entries);
    EXPECT_EQ(zip.ZipFilename(), c.nameKept ? path : "");
    if (c.archiveOffset >= 0) {
        EXPECT_EQ(zip.ArchiveOffset(), c.archiveOffset);
    }
    EXPECT_EQ(dirUpdates, 1);
    EXPECT_TRUE((ui.events.empty() || ui.Kinds() == std::vector<std::string>{"hourglass", "hourglass"}))
        << "unattended: no dialog";
}

INSTANTIATE_TEST_SUITE_P(ZipArchives, ZipDirectoryTest, ::testing::ValuesIn(Cases()),
                         [](const auto& test) { return std::string(test.param.name); });

class ZipDirectoryFixture : public ::testing::Test {
protected:
    TempDir dir;
    ScopedRecordingUI ui;
    TZipArchiver zip;
    void SetUp() override { zip.Unattended = true; }
};

TEST_F(ZipDirectoryFixture, EntriesCarryTheHeaderFieldsAndBackslashedNames) {
    Archive a = TwoFiles();
    a.entries[1].comment = "second";
    a.entries[1].extra = std::string("\x55\x54\x05\x00\x01\x02\x03\x04\x05", 9);
    Built b = Build(a);
    WriteText(dir / "a.zip", b.bytes);
    zip.SetZipFilename(dir / "a.zip");
    ASSERT_EQ(zip.EntryCount(), 2);
    const ZipDirEntry& first = zip.Entries()[0];
    EXPECT_EQ(first.FileName, "dir\\alpha.txt");
    EXPECT_EQ(first.MadeBy, 0x031E);
    EXPECT_EQ(first.UncomprSize, a.entries[0].data.size());
    EXPECT_EQ(first.RelOffLocal, 0u);
    EXPECT_EQ(first.ExtFileAttrib, 0x81A40000u);
    const ZipDirEntry& second = zip.Entries()[1];
    EXPECT_EQ(second.FileName, "beta.dat");
    EXPECT_EQ(second.FileComment, "second");
    EXPECT_EQ(second.ExtraFieldLength, 9);
    EXPECT_EQ(zip.ArchiveSize(), static_cast<std::int64_t>(b.bytes.size()));
    EXPECT_EQ(zip.CentralDirOffset(), static_cast<std::int64_t>(b.centralOffset));
    EXPECT_EQ(zip.EndRecordOffset(), static_cast<std::int64_t>(b.endOffset));
    EXPECT_FALSE(zip.OffsetsMismatch());
    EXPECT_FALSE(zip.Spanned());
}

TEST_F(ZipDirectoryFixture, Zip64RecordsGiveEveryValueIn64Bits) {
    // Each entry keeps in its extra field just the values the header marks, in a fixed order;
    // the directory's place comes from the 64-bit end record, behind any prefix.
    const std::uint64_t big = (std::uint64_t(5) << 30) + 3;
    struct Row {
        const char* name;
        std::size_t prefix;
        bool shiftOffsets;
    } rows[] = {{"plain", 0, true}, {"prefix_with_shifted_offsets", 700, true}, {"unshifted_prefix", 300, false}};
    for (const Row& r : rows) {
        Archive a = Zip64TwoFiles();
        a.entries[0].claimedSize = big;
        a.prefix = std::string(r.prefix, 'P');
        a.shiftOffsets = r.shiftOffsets;
        a.comment = "sixty-four";
        const Built b = Build(a);
        WriteText(dir / "z.zip", b.bytes);
        std::vector<int> messages;
        zip.OnMessage = [&](TZipArchiver& s, std::int32_t, const std::string&) { messages.push_back(s.ErrCode()); };
        zip.SetZipFilename(dir / "z.zip");
        ASSERT_EQ(zip.EntryCount(), 2) << r.name;
        const std::uint64_t base = r.shiftOffsets ? r.prefix : 0;
        const ZipDirEntry& first = zip.Entries()[0];
        EXPECT_EQ(first.UncomprSize, big) << r.name;
        EXPECT_EQ(first.ComprSize, a.entries[0].data.size()) << r.name;
        EXPECT_EQ(first.RelOffLocal, base) << r.name;
        const ZipDirEntry& second = zip.Entries()[1];
        EXPECT_EQ(second.UncomprSize, 300u) << r.name;
        EXPECT_EQ(second.RelOffLocal, base + 30 + a.entries[0].name.size() + a.entries[0].data.size()) << r.name;
        EXPECT_EQ(zip.EndRecord().TotalEntries, 2u) << r.name;
        EXPECT_EQ(zip.Zip64EndRecordOffset(), static_cast<std::int64_t>(b.zip64EndOffset)) << r.name;
        EXPECT_EQ(zip.CentralDirOffset(), static_cast<std::int64_t>(b.centralOffset)) << r.name;
        EXPECT_EQ(zip.ArchiveOffset(), static_cast<std::int64_t>(r.prefix)) << r.name;
        EXPECT_EQ(zip.OffsetsMismatch(), !r.shiftOffsets) << r.name;
        EXPECT_EQ(messages, r.shiftOffsets ? std::vector<int>{} : std::vector<int>{zmDirOffsetWarning}) << r.name;
        EXPECT_EQ(zip.ArchiveComment(), "sixty-four") << r.name;
    }

    // More entries than the end record's 16 bits can count.
    Archive many;
    many.zip64End = true;
    for (int i = 0; i < 70000; ++i) many.entries.push_back({"f" + std::to_string(i), "", "", 0x031E, ""});
    WriteText(dir / "many.zip", Build(many).bytes);
    zip.SetZipFilename(dir / "many.zip");
    EXPECT_EQ(zip.EntryCount(), 70000);
    EXPECT_EQ(zip.Entries().back().FileName, "f69999");
}

TEST_F(ZipDirectoryFixture, CommentAndTrailingBytesFigures) {
    Archive a = TwoFiles();
    a.comment = std::string("visible\0hidden", 14);
    Built b = Build(a);
    WriteText(dir / "c.zip", b.bytes + "tail");
    zip.SetZipFilename(dir / "c.zip");
    EXPECT_EQ(zip.ArchiveComment(), "visible");
    EXPECT_EQ(zip.ArchiveSize(), static_cast<std::int64_t>(b.bytes.size()));
    EXPECT_EQ(zip.PhysicalSize(), static_cast<std::int64_t>(b.bytes.size() + 4));
    EXPECT_EQ(zip.EndRecordOffset(), static_cast<std::int64_t>(b.endOffset));
}

TEST_F(ZipDirectoryFixture, MissingFileKeepsTheNameAndFiresTheUpdate) {
    int updates = 0;
    zip.OnDirUpdate = [&](TZipArchiver&) { ++updates; };
    zip.SetZipFilename(dir / "none.zip");
    EXPECT_EQ(zip.ZipFilename(), dir / "none.zip");
    EXPECT_EQ(zip.EntryCount(), 0);
    EXPECT_EQ(updates, 1);
}

TEST_F(ZipDirectoryFixture, FailedReadShowsItsMessageWhenAttended) {
    zip.Unattended = false;
    WriteText(dir / "x.zip", "not an archive");
    zip.SetZipFilename(dir / "x.zip");
    ASSERT_EQ(ui.events.size(), 3u);  // hourglass on, the dialog, hourglass off
    EXPECT_EQ(ui.events[1].kind, "message");
    EXPECT_EQ(ui.events[1].text, ZipMessageText(zmNoEndRecord));
    EXPECT_EQ(zip.Message(), ZipMessageText(zmNoEndRecord));
    EXPECT_EQ(zip.ZipFilename(), "");
}

TEST_F(ZipDirectoryFixture, APipeOrADeviceAsTheArchiveIsRefusedAtOnce) {
    ASSERT_EQ(::mkfifo((dir / "pipe.zip").c_str(), 0644), 0);
    for (const std::string& name : {dir / "pipe.zip", std::string("/dev/zero")}) {
        // (in a child with a time limit: reading the directory of a pipe would wait for ever)
        auto outcome = testing_support::FinishedWithin(10, [&] {
            std::string seen;
            zip.OnMessage = [&](TZipArchiver& sender, std::int32_t, const std::string&) {
                seen += std::to_string(sender.ErrCode()) + " ";
            };
            zip.SetZipFilename(name);
            return seen + "name '" + zip.ZipFilename() + "'";
        });
        EXPECT_EQ(outcome, std::to_string(zmCannotOpenArchive) + " name ''") << name;
    }
}

TEST_F(ZipDirectoryFixture, NameConversionFollowsHostSystemAndCodePage) {
    // 0x81 is u-umlaut in code page 437 and 0xFC in Windows-1252.
    const std::string oemName = "gr\x81n.txt";
    struct Row {
        std::uint16_t madeBy;
        CodePageOpts codePage;
        bool converted;
    } rows[] = {
        {0x0014, cpAuto, true},                           // MS-DOS
        {0x0014, cpNone, false}, {0x0614, cpNone, true},  // OS/2 HPFS
        {0x0B32, cpAuto, true},                           // NTFS, version 5.0
        {0x0B14, cpAuto, false},                          // NTFS, other version
        {0x031E, cpAuto, false},                          // Unix
        {0x031E, cpOEM, true},
    };
    for (const Row& r : rows) {
        Archive a;
        a.entries = {{oemName, "x", "k\x81", r.madeBy, ""}};
        WriteText(dir / "n.zip", Build(a).bytes);
        zip.CodePage = r.codePage;
        zip.SetZipFilename(dir / "n.zip");
        ASSERT_EQ(zip.EntryCount(), 1);
        EXPECT_EQ(zip.Entries()[0].FileName, r.converted ? "gr\xFCn.txt" : oemName) << std::hex << r.madeBy;
        EXPECT_EQ(zip.Entries()[0].FileComment, r.converted ? "k\xFC" : "k\x81") << std::hex << r.madeBy;
    }
}

TEST(ZipOemToAnsi, KeepsAsciiAndMapsEveryHighByteOnItsOwn) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::string converted = OemToAnsi(all);
    ASSERT_EQ(converted.size(), 256u);
    EXPECT_EQ(converted.substr(0, 128), all.substr(0, 128));
    EXPECT_EQ(OemToAnsi("\x80\x8E\x99\x9A\xE1\xA4"), "\xC7\xC4\xD6\xDC\xDF\xF1");
    for (int b = 0x80; b < 256; ++b) EXPECT_NE(converted[b], '\0') << b;
}

TEST_F(ZipDirectoryFixture, CheckDriveRefusesBadLettersAndUnmappedDrives) {
    EXPECT_TRUE(zip.CheckDrive("/"));
    try {
        zip.CheckDrive("1:\\");
        ADD_FAILURE() << "no error for a digit";
    } catch (const EZipArchiver& e) {
        EXPECT_EQ(e.Number(), zmInvalidDrive);
        EXPECT_NE(std::string(e.what()).find("1:\\"), std::string::npos);
    }
    try {
        zip.CheckDrive("q:\\");
        ADD_FAILURE() << "no error for an unmapped drive";
    } catch (const EZipArchiver& e) {
        EXPECT_EQ(e.Number(), zmDriveUnusable);
        EXPECT_NE(std::string(e.what()).find("q:\\"), std::string::npos);
    }
    EXPECT_TRUE(zip.CheckDrive("Z:\\"));  // Z maps to the root by default
}

}  // namespace
