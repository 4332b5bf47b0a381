#include "ZipFormat.h"

#include <algorithm>

#include "common/ByteCursor.h"
#include "common/Zip64.h"

namespace zipengine {

namespace {

bool ValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 99;
        if (n == 99 || i + n >= s.size() + (n ? 0 : 1)) return false;
        for (size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n + 1;
    }
    return true;
}

// The 64-bit extra field of a local header: block head and both sizes.
constexpr size_t kZip64SizesFieldSize = 4 + 16;

// The entry's headers carry the 64-bit extra field (sizes or the offset do not fit).
bool UsesZip64(const NewEntryFields& e) {
    return e.zip64Local || NeedsZip64(e.size) || NeedsZip64(e.compressed) || NeedsZip64(e.localOffset);
}

uint16_t VersionNeeded(const NewEntryFields& e) {
    if (UsesZip64(e)) return kVersionNeededZip64;
    return e.method == kMethodDeflated || e.isFolder ? kVersionNeededDeflated : kVersionNeededStored;
}

void AppendExtTime(std::string& h, time_t modified) {
    Append16(h, kExtTimeTag);
    Append16(h, 5);
    h.push_back(1);
    Append32(h, uint32_t(modified));
}

}  // namespace

bool NeedsUtf8Flag(std::string_view name) {
    bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return !ascii && ValidUtf8(name);
}

std::string LocalHeader(const NewEntryFields& e) {
    std::string h;
    common::DosDateTime d = common::ToDosDateTime(e.modified);
    Append32(h, ziprec::local::kSignature);
    Append16(h, VersionNeeded(e));
    Append16(h, NeedsUtf8Flag(e.name) ? kFlagUtf8 : 0);
    Append16(h, e.method);
    Append16(h, d.time);
    Append16(h, d.date);
    Append32(h, e.crc);
    Append32(h, e.zip64Local ? ziprec::kMarker32 : uint32_t(e.compressed));
    Append32(h, e.zip64Local ? ziprec::kMarker32 : uint32_t(e.size));
    Append16(h, uint16_t(e.name.size()));
    Append16(h, uint16_t((e.zip64Local ? kZip64SizesFieldSize : 0) + kExtTimeFieldSize));
    h += e.name;
    if (e.zip64Local) {
        Append16(h, ziprec::zip64extra::kTag);
        Append16(h, 16);
        Append64(h, e.size);
        Append64(h, e.compressed);
    }
    AppendExtTime(h, e.modified);
    return h;
}

std::string CentralHeader(const NewEntryFields& e) {
    const bool bigSize = NeedsZip64(e.size), bigCompressed = NeedsZip64(e.compressed);
    const bool bigOffset = NeedsZip64(e.localOffset);
    std::string zip64;
    if (bigSize) Append64(zip64, e.size);
    if (bigCompressed) Append64(zip64, e.compressed);
    if (bigOffset) Append64(zip64, e.localOffset);
    common::DosDateTime d = common::ToDosDateTime(e.modified);
    std::string h;
    Append32(h, ziprec::central::kSignature);
    Append16(h, uint16_t((11 << 8) | (UsesZip64(e) ? kVersionNeededZip64 : 20)));
    Append16(h, VersionNeeded(e));
    Append16(h, NeedsUtf8Flag(e.name) ? kFlagUtf8 : 0);
    Append16(h, e.method);
    Append16(h, d.time);
    Append16(h, d.date);
    Append32(h, e.crc);
    Append32(h, bigCompressed ? ziprec::kMarker32 : uint32_t(e.compressed));
    Append32(h, bigSize ? ziprec::kMarker32 : uint32_t(e.size));
    Append16(h, uint16_t(e.name.size()));
    Append16(h, uint16_t((zip64.empty() ? 0 : 4 + zip64.size()) + kExtTimeFieldSize));
    Append16(h, 0);  // comment length
    Append16(h, 0);  // disk number start
    Append16(h, 0);  // internal attributes
    uint32_t attributes = e.isFolder ? kDosDirectory : kDosArchive;
    if (e.readOnly) attributes |= kDosReadOnly;
    Append32(h, attributes);
    Append32(h, bigOffset ? ziprec::kMarker32 : uint32_t(e.localOffset));
    h += e.name;
    if (!zip64.empty()) {
        Append16(h, ziprec::zip64extra::kTag);
        Append16(h, uint16_t(zip64.size()));
        h += zip64;
    }
    AppendExtTime(h, e.modified);
    return h;
}

std::string RelocatedCentralHeader(std::string_view header, uint64_t offset) {
    std::string h(header);
    common::ByteCursor c(header);
    c.Seek(ziprec::central::kVersionNeededAt);
    const uint16_t needed = c.U16LE();
    c.Seek(ziprec::central::kCompressedSizeAt);
    common::zip64::HeaderValues stored;
    stored.compressedSize = c.U32LE();
    stored.uncompressedSize = c.U32LE();
    const size_t nameLength = c.U16LE(), extraLength = c.U16LE();
    c.Seek(ziprec::central::kDiskStartAt);
    stored.disk = c.U16LE();
    c.Seek(ziprec::central::kLocalOffsetAt);
    stored.localOffset = c.U32LE();
    const size_t extraAt = ziprec::central::kFixedSize + nameLength;
    if (!c.ok() || extraAt + extraLength > header.size()) return {};
    const std::string_view extra = header.substr(extraAt, extraLength);
    // The header marks the values its extra field holds: the sizes and disk stay as marked,
    // the offset is marked when the new one needs it.
    const bool markedSize = stored.uncompressedSize == ziprec::kMarker32;
    const bool markedCompressed = stored.compressedSize == ziprec::kMarker32;
    const bool markedDisk = stored.disk == ziprec::kMarker16;
    common::ByteWriter patch(reinterpret_cast<unsigned char*>(h.data()), h.size());
    patch.Seek(ziprec::central::kLocalOffsetAt);
    if (!markedSize && !markedCompressed && !markedDisk && stored.localOffset != ziprec::kMarker32 &&
        !NeedsZip64(offset)) {
        patch.U32LE(uint32_t(offset));
        return h;
    }
    common::zip64::HeaderValues values = stored;
    if (!common::zip64::ApplyExtra(extra, values)) return {};
    std::string zip64;
    if (markedSize) Append64(zip64, values.uncompressedSize);
    if (markedCompressed) Append64(zip64, values.compressedSize);
    if (NeedsZip64(offset)) Append64(zip64, offset);
    if (markedDisk) Append32(zip64, values.disk);
    std::string newExtra;
    if (!zip64.empty()) {
        Append16(newExtra, ziprec::zip64extra::kTag);
        Append16(newExtra, uint16_t(zip64.size()));
        newExtra += zip64;
    }
    // The other blocks follow as they were; bytes after the last whole block are kept too.
    common::ByteCursor blocks(extra);
    size_t rest = 0;
    while (blocks.remaining() >= 4) {
        const size_t at = blocks.pos();
        const uint16_t tag = blocks.U16LE();
        blocks.Bytes(blocks.U16LE());
        if (!blocks.ok()) break;
        if (tag != ziprec::zip64extra::kTag) newExtra.append(extra.substr(at, blocks.pos() - at));
        rest = blocks.pos();
    }
    newExtra.append(extra.substr(rest));
    if (newExtra.size() > 0xFFFF) return {};
    patch.U32LE(NeedsZip64(offset) ? ziprec::kMarker32 : uint32_t(offset));
    patch.Seek(ziprec::central::kExtraLengthAt);
    patch.U16LE(uint16_t(newExtra.size()));
    if (!zip64.empty() && needed < kVersionNeededZip64) {
        patch.Seek(ziprec::central::kVersionNeededAt);
        patch.U16LE(kVersionNeededZip64);
    }
    return h.replace(extraAt, extraLength, newExtra);
}

std::string EndRecords(uint64_t entries, uint64_t directorySize, uint64_t directoryOffset, uint64_t endOffset,
                       const std::string& comment) {
    std::string end;
    if (NeedsZip64Count(entries) || NeedsZip64(directorySize) || NeedsZip64(directoryOffset)) {
        Append32(end, ziprec::zip64end::kSignature);
        Append64(end, ziprec::zip64end::kFixedSize - ziprec::zip64end::kCountedFrom);
        Append16(end, uint16_t((11 << 8) | kVersionNeededZip64));
        Append16(end, kVersionNeededZip64);
        Append32(end, 0);  // this disk
        Append32(end, 0);  // the directory's disk
        Append64(end, entries);
        Append64(end, entries);
        Append64(end, directorySize);
        Append64(end, directoryOffset);
        Append32(end, ziprec::zip64locator::kSignature);
        Append32(end, 0);  // the disk of the 64-bit end record
        Append64(end, endOffset);
        Append32(end, 1);  // disks in all
    }
    const uint16_t count = NeedsZip64Count(entries) ? ziprec::kMarker16 : uint16_t(entries);
    Append32(end, ziprec::end::kSignature);
    Append16(end, 0);
    Append16(end, 0);
    Append16(end, count);
    Append16(end, count);
    Append32(end, NeedsZip64(directorySize) ? ziprec::kMarker32 : uint32_t(directorySize));
    Append32(end, NeedsZip64(directoryOffset) ? ziprec::kMarker32 : uint32_t(directoryOffset));
    Append16(end, uint16_t(comment.size()));
    end += comment;
    return end;
}

}  // namespace zipengine
