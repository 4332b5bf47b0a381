#include <gtest/gtest.h>
#include <sys/stat.h>

#include "MapInfoFixtures.h"
#include "engines/mapinfo/DbfFile.h"
#include "engines/mapinfo/MapInfoError.h"

using mapinfo::DbfFile;
using mapinfo::MapInfoError;
using mapinfo_test::MakeDat;
using testing_support::ReadText;
using testing_support::TempDir;
using testing_support::WriteText;

namespace {

const std::vector<mapinfo_test::Column> kColumns{{"Table", 12}, {"Descr", 5}};

std::string Good() { return MakeDat(kColumns, {{"a.TAB", "one"}, {"b.TAB", "two"}, {"c.TAB", "three"}}); }

std::string Patched(std::string bytes, std::size_t at, std::initializer_list<unsigned char> values) {
    for (unsigned char v : values) bytes[at++] = static_cast<char>(v);
    return bytes;
}

struct Damage {
    const char* fault;
    std::string bytes;
};

TEST(DbfFile, DamagedFilesAreRefusedWithAnError) {
    const std::string good = Good();
    const Damage cases[] = {
        {"empty file", ""},
        {"header cut short", good.substr(0, 20)},
        {"not dBase III", Patched(good, 0, {0x30})},
        {"header length below one descriptor", Patched(good, 8, {0x10, 0x00})},
        {"header length past the end", Patched(good, 8, {0xFF, 0xFF})},
        {"record length disagrees with fields", Patched(good, 10, {0x20, 0x00})},
        {"record length zero", Patched(good, 10, {0x00, 0x00})},
        {"record count past the end", Patched(good, 4, {0x04, 0x00, 0x00, 0x00})},
        {"absurd record count", Patched(good, 4, {0xFF, 0xFF, 0xFF, 0xFF})},
        {"truncated last record", good.substr(0, good.size() - 4)},
        {"field of width zero", Patched(good, 32 + 16, {0x00})},
        {"descriptors without an end mark", Patched(good, 8, {0x60, 0x00})},
    };
    for (const Damage& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_THROW(DbfFile::FromBytes(c.bytes), MapInfoError);
    }
}

TEST(DbfFile, ReadsRecordsFieldsAndSkipsDeletedRows) {
    auto f = DbfFile::FromBytes(
        MakeDat(kColumns, {{"a.TAB", "one"}, {"b.TAB", "two"}, {"c.TAB", ""}}, {false, true, false}));
    ASSERT_EQ(f->RecordCount(), 3u);
    ASSERT_EQ(f->Layout().fields.size(), 2u);
    EXPECT_EQ(f->Layout().fields[1].offset, 12u);
    EXPECT_EQ(f->NextLiveRecord(0), 1u);
    EXPECT_EQ(f->NextLiveRecord(1), 3u);  // row 2 is deleted
    EXPECT_EQ(f->NextLiveRecord(3), 0u);
    std::string r = f->ReadRecord(1);
    EXPECT_EQ(DbfFile::FieldText(r, f->Layout().fields[0]), "a.TAB");  // NUL padding dropped
    EXPECT_EQ(DbfFile::FieldText(f->ReadRecord(3), f->Layout().fields[1]), "");
    EXPECT_TRUE(DbfFile::IsDeleted(f->ReadRecord(2)));
    EXPECT_THROW(f->ReadRecord(0), MapInfoError);
    EXPECT_THROW(f->ReadRecord(4), MapInfoError);
}

TEST(DbfFile, LargeFilesAreWalkedAcrossReadWindows) {
    std::vector<std::vector<std::string>> rows;
    std::vector<bool> deleted;
    for (int i = 1; i <= 3000; ++i) {
        rows.push_back({"tile" + std::to_string(i) + ".TAB", std::to_string(i)});
        deleted.push_back(i % 7 == 0);
    }
    auto f = DbfFile::FromBytes(MakeDat({{"Table", 90}, {"N", 9}}, rows, deleted));  // 300 KB
    int seen = 0;
    for (std::uint32_t n = f->NextLiveRecord(0); n != 0; n = f->NextLiveRecord(n)) {
        ASSERT_NE(n % 7, 0u);
        ASSERT_EQ(DbfFile::FieldText(f->ReadRecord(n), f->Layout().fields[1]), std::to_string(n));
        ++seen;
    }
    EXPECT_EQ(seen, 3000 - 3000 / 7);
    EXPECT_EQ(DbfFile::FieldText(f->ReadRecord(5), f->Layout().fields[0]), "tile5.TAB");  // back again
}

TEST(DbfFile, FieldTextKeepsLeadingBlanksAndDecodesBinaryNumbers) {
    mapinfo::DbfField f{"X", 'C', 0, 6, 0};
    EXPECT_EQ(DbfFile::FieldText(" " + std::string("  ab  "), f), "  ab");
    mapinfo::DbfField i{"N", 'I', 0, 4, 0};
    EXPECT_EQ(DbfFile::FieldText(std::string(" \x00\x14\x00\x00", 5), i), "5120");
    EXPECT_EQ(DbfFile::FieldText(std::string(" \xFF\xFF\xFF\xFF", 5), i), "-1");
    mapinfo::DbfField s{"S", 'S', 0, 2, 0};
    EXPECT_EQ(DbfFile::FieldText(std::string(" \x07\x00", 3), s), "7");
}

TEST(DbfFile, WithFieldTextPadsWithNulsAndRefusesWhatDoesNotFit) {
    mapinfo::DbfField f{"Table", 'C', 2, 5, 0};
    std::string record = " xyABCDEz";
    EXPECT_EQ(DbfFile::WithFieldText(record, f, "ab"), std::string(" xyab\0\0\0z", 9));
    EXPECT_EQ(DbfFile::WithFieldText(record, f, "abcde"), " xyabcdez");
    EXPECT_THROW(DbfFile::WithFieldText(record, f, "abcdef"), MapInfoError);
    mapinfo::DbfField n{"N", 'I', 0, 4, 0};
    EXPECT_THROW(DbfFile::WithFieldText(" 1234", n, "1"), MapInfoError);
}

TEST(DbfFile, APipeOrADeviceIsRefusedAtOnce) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "pipe.DAT").c_str(), 0644), 0);
    for (const std::string& path : {dir / "pipe.DAT", std::string("/dev/zero")}) {
        // (in a child with a time limit: opening the pipe to read it would wait for ever)
        auto outcome = testing_support::FinishedWithin(10, [&]() -> std::string {
            try {
                DbfFile::Open(path);
                return "opened";
            } catch (const MapInfoError& e) {
                return e.what();
            }
        });
        EXPECT_EQ(outcome, "Unable to open the data file " + path + ": Not a regular file.");
    }
}

TEST(DbfFile, CommitReplacesOnlyTheChangedRecordsAndKeepsTheMode) {
    TempDir dir;
    std::string path = dir / "t.DAT";
    WriteText(path, Good());
    ::chmod(path.c_str(), 0640);
    auto f = DbfFile::Open(path);
    std::string r2 = mapinfo::DbfFile::WithFieldText(f->ReadRecord(2), f->Layout().fields[0], "new.TAB");
    f->Commit({{2, r2}});
    std::string after = ReadText(path);
    std::string expected = Good();
    expected.replace(32 + 64 + 1 + 18, 18, r2);  // record 2 of 18 bytes
    EXPECT_EQ(after, expected);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_FALSE(testing_support::Exists(path + ".commit~"));
    // The reader sees the committed bytes.
    EXPECT_EQ(DbfFile::FieldText(f->ReadRecord(2), f->Layout().fields[0]), "new.TAB");
}

TEST(DbfFile, FailedCommitLeavesTheOldFileWhole) {
    TempDir dir;
    std::string path = dir / "t.DAT";
    WriteText(path, Good());
    auto f = DbfFile::Open(path);
    std::string r1 = f->ReadRecord(1);
    r1[1] = 'Z';

    ::chmod(path.c_str(), 0444);  // read-only data file
    EXPECT_THROW(f->Commit({{1, r1}}), MapInfoError);
    EXPECT_EQ(ReadText(path), Good());
    ::chmod(path.c_str(), 0644);

    WriteText(path, Good() + "more");  // changed behind the table's back
    EXPECT_THROW(f->Commit({{1, r1}}), MapInfoError);
    EXPECT_EQ(ReadText(path), Good() + "more");

    EXPECT_THROW(f->Commit({{9, r1}}), MapInfoError);  // no such record
}

}  // namespace
