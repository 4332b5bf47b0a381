// What an update will write, decided without touching a file: which old entries stay, which
// selected items replace them or are added.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ArchiveReader.h"
#include "FileSelection.h"

namespace zipengine {

// One entry of the new archive, in order: an entry kept from the old archive or an item of
// the selection stored anew.
struct Slot {
    bool keep = false;
    size_t index = 0;  // into the old entries or the selection
};

struct UpdatePlan {
    std::vector<Slot> slots;
    size_t newCount = 0;    // slots stored anew
    uint64_t newBytes = 0;  // their files' sizes together
};

// Old entries keep their places, replaced ones in place by their item; items without an old
// entry (letter case ignored) follow in selection order. With `update` or `freshen` an entry
// is replaced only when older than its file, and `freshen` alone adds nothing new. An old
// folder entry is never replaced.
UpdatePlan PlanUpdate(const ExistingArchive& old, const std::vector<SelectedItem>& items, bool update, bool freshen);

}  // namespace zipengine
