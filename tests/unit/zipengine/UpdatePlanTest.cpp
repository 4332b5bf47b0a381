// The update's plan, without files: which old entries stay, which are replaced or added in
// each mode; and the headers and end records that take 64-bit fields exactly where a value
// does not fit.
#include <gtest/gtest.h>

#include "UpdatePlan.h"
#include "ZipFormat.h"
#include "common/ByteCursor.h"
#include "common/Zip64.h"

using namespace zipengine;

namespace {

constexpr time_t kEntryTime = 1600000000;  // an even second

ExistingEntry Entry(const std::string& name, time_t modified, bool exactTime) {
    ExistingEntry e;
    e.name = name;
    e.modified = modified;
    e.exactTime = exactTime;
    // A central header whose DOS time fields hold `modified`, as a reader without the
    // extended timestamp sees it.
    e.centralHeader = CentralHeader(NewEntryFields{name, modified});
    return e;
}

SelectedItem Item(const std::string& name, time_t modified, uint64_t size = 1) {
    SelectedItem i;
    i.source = name;
    i.archiveName = name;
    i.isFolder = !name.empty() && name.back() == '/';
    i.modified = modified;
    i.size = size;
    return i;
}

// "keep N" for a kept old entry, "new N" for a selected item, in archive order.
std::string Describe(const UpdatePlan& plan) {
    std::string out;
    for (const Slot& s : plan.slots)
        out += (out.empty() ? "" : " ") + std::string(s.keep ? "keep " : "new ") + std::to_string(s.index);
    return out;
}

}  // namespace

TEST(UpdatePlan, EachModeKeepsReplacesAndAddsTheRightEntries) {
    ExistingArchive old;
    old.entries = {Entry("A.TXT", kEntryTime, true), Entry("dir/", kEntryTime, true),
                   Entry("dos.txt", kEntryTime, false)};
    struct Row {
        const char* name;
        bool update, freshen;
        time_t fileTime;  // of a.txt and dos.txt
        const char* plan;
    } rows[] = {
        // Adding replaces matches whatever their times (letter case ignored), never a folder
        // entry, and appends the rest in selection order.
        {"add_older_file", false, false, kEntryTime - 10, "new 0 keep 1 new 2 new 3"},
        {"update_newer_file", true, false, kEntryTime + 10, "new 0 keep 1 new 2 new 3"},
        {"update_older_file", true, false, kEntryTime - 10, "keep 0 keep 1 keep 2 new 3"},
        {"freshen_adds_nothing_new", false, true, kEntryTime + 10, "new 0 keep 1 new 2"},
        {"freshen_same_time", false, true, kEntryTime, "keep 0 keep 1 keep 2"},
        // A DOS time has 2-second steps: one second later is the same time, the exact
        // timestamp is not.
        {"freshen_one_second_later", false, true, kEntryTime + 1, "new 0 keep 1 keep 2"},
    };
    for (const Row& r : rows) {
        std::vector<SelectedItem> items = {Item("a.txt", r.fileTime), Item("DIR/", kEntryTime + 10),
                                           Item("DOS.TXT", r.fileTime), Item("new.txt", kEntryTime)};
        UpdatePlan plan = PlanUpdate(old, items, r.update, r.freshen);
        EXPECT_EQ(Describe(plan), r.plan) << r.name;
        size_t stored = 0;
        for (const Slot& s : plan.slots) stored += s.keep ? 0 : 1;
        EXPECT_EQ(plan.newCount, stored) << r.name;
        EXPECT_EQ(plan.newBytes, stored) << r.name;  // each item is one byte
    }
}

namespace {

// The values a central header gives once its 64-bit extra field is applied; the header's
// version needed to extract in `version`.
common::zip64::HeaderValues Read(const std::string& header, uint16_t& version, size_t& extraLength) {
    common::ByteCursor c(header);
    c.Seek(ziprec::central::kVersionNeededAt);
    version = c.U16LE();
    common::zip64::HeaderValues v;
    c.Seek(ziprec::central::kCompressedSizeAt);
    v.compressedSize = c.U32LE();
    v.uncompressedSize = c.U32LE();
    const size_t nameLength = c.U16LE();
    extraLength = c.U16LE();
    c.Seek(ziprec::central::kLocalOffsetAt);
    v.localOffset = c.U32LE();
    const std::string extra = header.substr(ziprec::central::kFixedSize + nameLength, extraLength);
    EXPECT_TRUE(common::zip64::ApplyExtra(extra, v));
    return v;
}

}  // namespace

TEST(ZipRecords, SixtyFourBitFieldsAppearExactlyWhereAValueDoesNotFit) {
    constexpr uint64_t kBig = uint64_t(6) << 30;
    struct Row {
        uint64_t size, compressed, offset;
        size_t zip64Bytes;  // the 64-bit block's data in the central header
    } rows[] = {
        {kMax32 - 1, kMax32 - 1, kMax32 - 1, 0},  // the largest values of the old records
        {kMax32, 1000, 0, 8},                     // the marker value itself goes to the block
        {kBig, kBig, kMax32, 24},
        {10, 10, kBig, 8},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.size);
        NewEntryFields f{"a.tab",         kEntryTime, r.size,       false,    false,
                         kMethodDeflated, 7,          r.compressed, r.offset, NeedsZip64(r.size)};
        uint16_t version = 0;
        size_t extraLength = 0;
        common::zip64::HeaderValues v = Read(CentralHeader(f), version, extraLength);
        EXPECT_EQ(v.uncompressedSize, r.size);
        EXPECT_EQ(v.compressedSize, r.compressed);
        EXPECT_EQ(v.localOffset, r.offset);
        EXPECT_EQ(extraLength, kExtTimeFieldSize + (r.zip64Bytes ? 4 + r.zip64Bytes : 0));
        EXPECT_EQ(version, r.zip64Bytes ? kVersionNeededZip64 : kVersionNeededDeflated);
        // The local header written ahead of the data is as long as the one that replaces it.
        NewEntryFields ahead = f;
        ahead.crc = 0;
        ahead.compressed = 0;
        EXPECT_EQ(LocalHeader(ahead).size(), LocalHeader(f).size());
        EXPECT_EQ(LocalHeader(f).size(), ziprec::local::kFixedSize + 5 + kExtTimeFieldSize + (f.zip64Local ? 20 : 0));
    }

    // A kept entry moved past 4 GiB and back: the offset goes into the block and out again,
    // the sizes stay as they were, and the header ends as it began.
    for (uint64_t size : {uint64_t(100), kBig}) {
        SCOPED_TRACE(size);
        NewEntryFields f{"b.dat", kEntryTime, size, false, false, kMethodStored, 7, size, 100, NeedsZip64(size)};
        const std::string original = CentralHeader(f);
        const std::string far = RelocatedCentralHeader(original, kBig + 3);
        uint16_t version = 0;
        size_t extraLength = 0;
        common::zip64::HeaderValues v = Read(far, version, extraLength);
        EXPECT_EQ(v.uncompressedSize, size);
        EXPECT_EQ(v.localOffset, kBig + 3);
        EXPECT_EQ(version, kVersionNeededZip64);
        EXPECT_EQ(RelocatedCentralHeader(far, 100).substr(ziprec::central::kCompressedSizeAt),
                  original.substr(ziprec::central::kCompressedSizeAt));
    }

    // The end records: the old one alone while every number fits, the 64-bit record and its
    // locator in front when the count reaches the marker.
    EXPECT_EQ(EndRecords(0xFFFE, kMax32 - 1, kMax32 - 1, 0, "c").size(), ziprec::end::kFixedSize + 1);
    const std::string end = EndRecords(0xFFFF, 10, 20, kBig, "");
    ASSERT_EQ(end.size(), ziprec::zip64end::kFixedSize + ziprec::zip64locator::kSize + ziprec::end::kFixedSize);
    auto record = common::zip64::ParseEndRecord(end);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->Length(), ziprec::zip64end::kFixedSize);
    EXPECT_EQ(record->entriesTotal, 0xFFFFu);
    EXPECT_EQ(record->directoryOffset, 20u);
    auto locator = common::zip64::ParseLocator(std::string_view(end).substr(ziprec::zip64end::kFixedSize));
    ASSERT_TRUE(locator);
    EXPECT_EQ(locator->endRecordOffset, kBig);
    EXPECT_EQ(locator->totalDisks, 1u);
}
