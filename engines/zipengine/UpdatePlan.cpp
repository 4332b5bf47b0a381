#include "UpdatePlan.h"

#include <map>

#include "ZipFormat.h"
#include "common/ByteCursor.h"

namespace zipengine {

namespace {

// True when the old entry is older than the item's file. Without an extended timestamp the
// entry's time is a DOS time of even seconds, so the file's time is taken so too.
bool OlderThanFile(const ExistingEntry& old, const SelectedItem& item) {
    if (old.exactTime) return old.modified < item.modified;
    common::ByteCursor h(old.centralHeader);
    h.Seek(ziprec::central::kDateAt);
    const uint16_t date = h.U16LE();
    h.Seek(ziprec::central::kTimeAt);
    const uint16_t time = h.U16LE();
    common::DosDateTime d = common::ToDosDateTime(item.modified);
    return (uint32_t(date) << 16 | time) < (uint32_t(d.date) << 16 | d.time);
}

}  // namespace

UpdatePlan PlanUpdate(const ExistingArchive& old, const std::vector<SelectedItem>& items, bool update, bool freshen) {
    std::map<std::string, size_t> byName;  // old entries by name, letter case ignored
    for (size_t i = 0; i < old.entries.size(); ++i) byName.emplace(UpperAscii(old.entries[i].name), i);
    std::vector<long> replacedBy(old.entries.size(), -1);
    std::vector<size_t> appended;
    for (size_t i = 0; i < items.size(); ++i) {
        const SelectedItem& item = items[i];
        auto it = byName.find(UpperAscii(item.archiveName));
        if (it == byName.end()) {
            if (!freshen || update) appended.push_back(i);
            continue;
        }
        if (item.isFolder || replacedBy[it->second] >= 0) continue;  // folder entries are kept as they are
        if ((update || freshen) && !OlderThanFile(old.entries[it->second], item)) continue;
        replacedBy[it->second] = long(i);
    }
    UpdatePlan plan;
    for (size_t k = 0; k < old.entries.size(); ++k)
        plan.slots.push_back(replacedBy[k] >= 0 ? Slot{false, size_t(replacedBy[k])} : Slot{true, k});
    for (size_t i : appended) plan.slots.push_back({false, i});
    for (const Slot& s : plan.slots) {
        if (s.keep) continue;
        ++plan.newCount;
        plan.newBytes += items[s.index].size;
    }
    return plan;
}

}  // namespace zipengine
