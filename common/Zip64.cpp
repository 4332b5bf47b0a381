#include "common/Zip64.h"

#include <limits>

#include "common/ByteCursor.h"

namespace common::zip64 {

namespace {

using ziprec::kMarker16;
using ziprec::kMarker32;

// The data of the extra field's 64-bit block; nullopt when it holds none. A block whose
// length runs past the end ends the search: what follows is padding or damage.
std::optional<std::string_view> FindBlock(std::string_view extra, std::size_t& dataAt) {
    ByteCursor c(extra);
    while (c.remaining() >= 4) {
        const std::uint16_t tag = c.U16LE();
        const std::uint16_t length = c.U16LE();
        const std::size_t at = c.pos();
        const std::string_view data = c.Bytes(length);
        if (!c.ok()) return std::nullopt;
        if (tag == ziprec::zip64extra::kTag) {
            dataAt = at;
            return data;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<Locator> ParseLocator(std::string_view bytes) {
    ByteCursor c(bytes);
    if (c.U32LE() != ziprec::zip64locator::kSignature) return std::nullopt;
    Locator l;
    l.endRecordDisk = c.U32LE();
    l.endRecordOffset = c.U64LE();
    l.totalDisks = c.U32LE();
    if (!c.ok()) return std::nullopt;
    return l;
}

std::optional<EndRecord> ParseEndRecord(std::string_view bytes) {
    ByteCursor c(bytes);
    if (c.U32LE() != ziprec::zip64end::kSignature) return std::nullopt;
    EndRecord e;
    e.recordSize = c.U64LE();
    c.Seek(ziprec::zip64end::kThisDiskAt);
    e.thisDisk = c.U32LE();
    e.directoryDisk = c.U32LE();
    e.entriesHere = c.U64LE();
    e.entriesTotal = c.U64LE();
    e.directorySize = c.U64LE();
    e.directoryOffset = c.U64LE();
    constexpr std::uint64_t kFixedCounted = ziprec::zip64end::kFixedSize - ziprec::zip64end::kCountedFrom;
    if (!c.ok() || e.recordSize < kFixedCounted ||
        e.recordSize > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return std::nullopt;
    return e;
}

bool HeaderValues::AnyMarked() const {
    return uncompressedSize == kMarker32 || compressedSize == kMarker32 || localOffset == kMarker32 ||
           disk == kMarker16;
}

std::optional<ExtraLayout> LocateExtra(std::string_view extra, const HeaderValues& stored) {
    ExtraLayout layout;
    if (!stored.AnyMarked()) return layout;
    std::size_t dataAt = 0;
    const std::optional<std::string_view> block = FindBlock(extra, dataAt);
    if (!block) return std::nullopt;
    // The values follow one another in a fixed order, each only when its field is marked.
    std::size_t used = 0;
    auto take = [&](bool marked, std::size_t width, std::size_t& at) {
        if (!marked) return true;
        if (block->size() - used < width) return false;
        at = dataAt + used;
        used += width;
        return true;
    };
    if (!take(stored.uncompressedSize == kMarker32, 8, layout.uncompressedSizeAt) ||
        !take(stored.compressedSize == kMarker32, 8, layout.compressedSizeAt) ||
        !take(stored.localOffset == kMarker32, 8, layout.localOffsetAt) ||
        !take(stored.disk == kMarker16, 4, layout.diskAt))
        return std::nullopt;
    return layout;
}

bool ApplyExtra(std::string_view extra, HeaderValues& values) {
    const std::optional<ExtraLayout> layout = LocateExtra(extra, values);
    if (!layout) return false;
    ByteCursor c(extra);
    auto read64 = [&](std::size_t at, std::uint64_t& value) {
        if (at == ExtraLayout::npos) return;
        c.Seek(at);
        value = c.U64LE();
    };
    read64(layout->uncompressedSizeAt, values.uncompressedSize);
    read64(layout->compressedSizeAt, values.compressedSize);
    read64(layout->localOffsetAt, values.localOffset);
    if (layout->diskAt != ExtraLayout::npos) {
        c.Seek(layout->diskAt);
        values.disk = c.U32LE();
    }
    return c.ok();
}

}  // namespace common::zip64
