// The update's plan, without files: which old entries stay, which are replaced or added in
// each mode, and where the limits of a zip archive without 64-bit records refuse the work.
#include <gtest/gtest.h>

#include "UpdatePlan.h"
#include "ZipFormat.h"

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
    e.centralHeader = CentralHeader(NewEntryFields{name, modified}, 0);
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

TEST(UpdatePlan, SizeLimitsRefuseWhatCouldPassFourGiBOr65535Entries) {
    // One new file "a": 30 + 1 + 9 bytes of local header, 46 + 1 + 9 of central header and
    // the 22-byte end record come on top of its size.
    constexpr uint64_t kMostData = kMax32 - 118;
    struct Row {
        const char* name;
        uint64_t size;
        uint64_t prefix;
        size_t comment;
        size_t keptEntries;
        const char* problem;  // the start of the reason; empty when it fits
    } rows[] = {
        {"largest_that_fits", kMostData, 0, 0, 0, ""},
        {"one_byte_more", kMostData + 1, 0, 0, 0, "The archive could grow beyond 4 GiB"},
        {"prefix_counts", kMostData - 100, 101, 0, 0, "The archive could grow beyond 4 GiB"},
        {"comment_counts", kMostData - 100, 0, 101, 0, "The archive could grow beyond 4 GiB"},
        {"file_of_4_GiB", kMax32, 0, 0, 0, "a is 4 GiB or larger"},
        {"65535_entries", 1, 0, 0, 65534, ""},
        {"65536_entries", 1, 0, 0, 65535, "The archive would hold 65536 entries"},
    };
    for (const Row& r : rows) {
        ExistingArchive old;
        old.prefixLength = r.prefix;
        old.comment.assign(r.comment, 'c');
        old.entries.resize(r.keptEntries);
        std::vector<SelectedItem> items = {Item("a", kEntryTime, r.size)};
        UpdatePlan plan = PlanUpdate(old, items, false, false);
        std::optional<std::string> problem = SizeLimitProblem(plan, old, items);
        EXPECT_EQ(problem.value_or("").substr(0, std::string(r.problem).size()), r.problem) << r.name;
        EXPECT_EQ(problem.has_value(), *r.problem != '\0') << r.name;
    }
}
