#include "ArchiveReader.h"

#include <algorithm>
#include <optional>

#include "ZipFormat.h"
#include "common/ByteCursor.h"
#include "common/Zip64.h"

namespace zipengine {

bool MemorySource::ReadAt(uint64_t offset, void* buffer, size_t count) const {
    if (offset > m_size || count > m_size - offset) return false;
    std::copy_n(m_data + offset, count, static_cast<unsigned char*>(buffer));
    return true;
}

bool FileSource::ReadAt(uint64_t offset, void* buffer, size_t count) const {
    if (offset > m_size || count > m_size - offset) return false;
    return m_file.ReadFullyAt(offset, buffer, count);
}

namespace {

constexpr uint32_t kMaxDirectorySize = uint32_t(64) << 20;

ReadResult Fail(std::string text) { return {false, std::move(text)}; }

// The modification time from an extended timestamp field in `extra`, if there is one.
bool ExtendedTime(std::string_view extra, time_t& out) {
    common::ByteCursor c(extra);
    while (c.remaining() >= 4) {
        const uint16_t tag = c.U16LE();
        const uint16_t size = c.U16LE();
        common::ByteCursor field(c.Bytes(size));
        if (!c.ok()) return false;
        if (tag == kExtTimeTag && size >= 5 && (field.U8() & 1)) {
            out = time_t(int32_t(field.U32LE()));
            return true;
        }
    }
    return false;
}

// The signature in the first four bytes of `bytes`.
uint32_t Signature(const unsigned char (&bytes)[4]) { return common::ByteCursor(bytes, 4).U32LE(); }

// Finds where an entry's local header, data and descriptor lie, checking that they lie where
// the directory says, inside the archive's data: sets `e.localPosition` and `e.entryLength`.
ReadResult LocateEntryData(const ByteSource& source, uint64_t cdStart, uint64_t offsetDelta, uint16_t flags,
                           uint64_t compressed, uint64_t localOffset, ExistingEntry& e) {
    // The local header must be where the directory says, inside the archive data.
    if (localOffset > cdStart - offsetDelta)
        return Fail("the local header of \"" + e.name + "\" is missing or damaged");
    e.localPosition = localOffset + offsetDelta;
    unsigned char local[ziprec::local::kFixedSize];
    common::ByteCursor l(local, sizeof local);
    if (ziprec::local::kFixedSize > cdStart - e.localPosition || !source.ReadAt(e.localPosition, local, sizeof local) ||
        l.U32LE() != ziprec::local::kSignature)
        return Fail("the local header of \"" + e.name + "\" is missing or damaged");
    l.Seek(ziprec::local::kNameLengthAt);
    const uint16_t localNameLen = l.U16LE();
    l.Seek(ziprec::local::kExtraLengthAt);
    const uint16_t localExtraLen = l.U16LE();
    const uint64_t dataStart = e.localPosition + ziprec::local::kFixedSize + localNameLen + localExtraLen;
    if (dataStart > cdStart || compressed > cdStart - dataStart)
        return Fail("the data of \"" + e.name + "\" runs past the central directory");
    uint64_t dataEnd = dataStart + compressed;
    if (flags & kFlagDataDescriptor) {
        // The descriptor's sizes are 8 bytes each when the local header has a 64-bit extra field.
        std::string localExtra(localExtraLen, '\0');
        if (!source.ReadAt(dataStart - localExtraLen, localExtra.data(), localExtra.size()))
            return Fail("the local header of \"" + e.name + "\" is missing or damaged");
        common::zip64::HeaderValues marked;
        marked.uncompressedSize = kMax32;
        const bool wide = common::zip64::LocateExtra(localExtra, marked).has_value();
        const uint64_t descriptorSize = ziprec::descriptor::kSize + (wide ? 8 : 0);
        unsigned char sig[4];
        const bool signature = descriptorSize <= cdStart - dataEnd && source.ReadAt(dataEnd, sig, 4) &&
                               Signature(sig) == ziprec::descriptor::kSignature;
        dataEnd += signature ? descriptorSize : descriptorSize - 4;
    }
    if (dataEnd > cdStart) return Fail("the data of \"" + e.name + "\" runs past the central directory");
    e.entryLength = dataEnd - e.localPosition;
    return {true, {}};
}

// The numbers of the 64-bit end record, where a locator just in front of the end record at
// `endPosition` sends to one: they replace the end record's, and the directory then ends
// where that record begins.
struct EndNumbers {
    uint64_t thisDisk = 0, cdDisk = 0, entriesHere = 0, entries = 0, cdSize = 0, cdOffset = 0, directoryEnd = 0;
};
ReadResult ReadZip64EndNumbers(const ByteSource& source, uint64_t endPosition, EndNumbers& n) {
    if (endPosition < ziprec::zip64locator::kSize) return {true, {}};
    const uint64_t locatorAt = endPosition - ziprec::zip64locator::kSize;
    std::string bytes(ziprec::zip64locator::kSize, '\0');
    if (!source.ReadAt(locatorAt, bytes.data(), bytes.size())) return Fail("the archive cannot be read");
    if (auto locator = common::zip64::ParseLocator(bytes)) {
        if (locator->totalDisks > 1 || locator->endRecordDisk != 0)
            return Fail("the archive belongs to a multi-disk set");
        // The record lies just in front of its locator; its stored offset is off by any
        // prefix put in front of an archive unshifted, so it is looked for there first.
        auto recordAt = [&](uint64_t at) -> std::optional<common::zip64::EndRecord> {
            std::string fixed(ziprec::zip64end::kFixedSize, '\0');
            if (at > locatorAt || locatorAt - at < fixed.size() || !source.ReadAt(at, fixed.data(), fixed.size()))
                return std::nullopt;
            auto record = common::zip64::ParseEndRecord(fixed);
            if (!record || record->Length() != locatorAt - at) return std::nullopt;
            return record;
        };
        uint64_t recordPosition = locatorAt - std::min<uint64_t>(locatorAt, ziprec::zip64end::kFixedSize);
        auto record = recordAt(recordPosition);
        if (!record && (record = recordAt(locator->endRecordOffset))) recordPosition = locator->endRecordOffset;
        if (!record) return Fail("the 64-bit end of central directory record is missing or damaged");
        n.directoryEnd = recordPosition;
        n.thisDisk = record->thisDisk;
        n.cdDisk = record->directoryDisk;
        n.entriesHere = record->entriesHere;
        n.entries = record->entriesTotal;
        n.cdSize = record->directorySize;
        n.cdOffset = record->directoryOffset;
    }
    return {true, {}};
}

}  // namespace

ReadResult ReadExistingArchive(const ByteSource& source, ExistingArchive& archive) {
    archive = ExistingArchive{};
    const uint64_t size = source.Size();
    archive.fileSize = size;
    if (size < ziprec::end::kFixedSize) return Fail("the file is too short to be a zip archive");

    // The end record is the last signature from which the record and its comment fit in the file.
    const size_t tailSize = size_t(std::min<uint64_t>(size, ziprec::end::kFixedSize + ziprec::kMaxCommentSize));
    std::string tail(tailSize, '\0');
    if (!source.ReadAt(size - tailSize, tail.data(), tailSize)) return Fail("the archive cannot be read");
    size_t found = std::string::npos;
    for (size_t pos = tailSize - ziprec::end::kFixedSize + 1; pos-- > 0;) {
        common::ByteCursor record(std::string_view(tail).substr(pos));
        if (record.U32LE() != ziprec::end::kSignature) continue;
        record.Seek(ziprec::end::kCommentLengthAt);
        if (pos + ziprec::end::kFixedSize + record.U16LE() <= tailSize) {
            found = pos;
            break;
        }
    }
    if (found == std::string::npos) return Fail("no end of central directory record: the file is not a zip archive");
    const uint64_t endPosition = size - tailSize + found;
    // The fields from the disk numbers to the comment's length follow each other in this order.
    common::ByteCursor end(std::string_view(tail).substr(found));
    end.Seek(ziprec::end::kThisDiskAt);
    const uint16_t thisDisk = end.U16LE(), cdDisk = end.U16LE();
    const uint16_t entriesHere = end.U16LE(), entriesTotal = end.U16LE();
    const uint32_t cdSize32 = end.U32LE(), cdOffset32 = end.U32LE();
    const uint16_t commentLength = end.U16LE();
    archive.comment.assign(end.Bytes(commentLength));

    EndNumbers n{thisDisk, cdDisk, entriesHere, entriesTotal, cdSize32, cdOffset32, endPosition};
    if (ReadResult zip64 = ReadZip64EndNumbers(source, endPosition, n); !zip64.ok) return zip64;
    const uint64_t directoryEnd = n.directoryEnd, entries = n.entries, cdSize = n.cdSize, cdOffset = n.cdOffset;
    if (n.thisDisk != 0 || n.cdDisk != 0 || n.entriesHere != entries)
        return Fail("the archive belongs to a multi-disk set");
    if (cdSize > directoryEnd) return Fail("the central directory lies outside the file");
    // The directory is read whole; a real one of a million entries stays below this bound.
    if (cdSize > kMaxDirectorySize) return Fail("the central directory is implausibly large");
    if (entries > cdSize / ziprec::central::kFixedSize) return Fail("the central directory is cut short");
    const uint64_t cdStart = directoryEnd - cdSize;
    if (cdOffset > cdStart) return Fail("the central directory offset points past the directory");
    archive.offsetDelta = cdStart - cdOffset;

    std::string cd(size_t(cdSize), '\0');
    if (!source.ReadAt(cdStart, cd.data(), cd.size())) return Fail("the central directory cannot be read");
    size_t pos = 0;
    archive.entries.reserve(size_t(entries));
    for (uint64_t i = 0; i < entries; ++i) {
        common::ByteCursor h(std::string_view(cd).substr(pos));
        if (cdSize - pos < ziprec::central::kFixedSize || h.U32LE() != ziprec::central::kSignature)
            return Fail("a central file header is damaged");
        h.Seek(ziprec::central::kNameLengthAt);
        const size_t nameLen = h.U16LE(), extraLen = h.U16LE(), commentLen = h.U16LE();
        const size_t total = ziprec::central::kFixedSize + nameLen + extraLen + commentLen;
        if (total > cdSize - pos) return Fail("a central file header is cut short");
        h.Seek(ziprec::central::kFlagsAt);
        const uint16_t flags = h.U16LE();
        h.Seek(ziprec::central::kTimeAt);
        const uint16_t dosTime = h.U16LE();
        h.Seek(ziprec::central::kDateAt);
        const uint16_t dosDate = h.U16LE();
        common::zip64::HeaderValues v;
        h.Seek(ziprec::central::kCompressedSizeAt);
        v.compressedSize = h.U32LE();
        v.uncompressedSize = h.U32LE();
        h.Seek(ziprec::central::kDiskStartAt);
        v.disk = h.U16LE();
        h.Seek(ziprec::central::kLocalOffsetAt);
        v.localOffset = h.U32LE();

        ExistingEntry e;
        e.centralHeader.assign(cd, pos, total);
        e.name.assign(cd, pos + ziprec::central::kFixedSize, nameLen);
        const size_t extraPos = pos + ziprec::central::kFixedSize + nameLen;
        const std::string_view extra = std::string_view(cd).substr(extraPos, extraLen);
        // Marked values lie in the 64-bit extra field.
        if (!common::zip64::ApplyExtra(extra, v))
            return Fail("the 64-bit extra field of \"" + e.name + "\" is missing or damaged");
        if (v.disk != 0) return Fail("the archive belongs to a multi-disk set");
        const uint64_t compressed = v.compressedSize, localOffset = v.localOffset;
        e.exactTime = ExtendedTime(extra, e.modified);
        if (!e.exactTime) e.modified = common::FromDosDateTime(dosDate, dosTime);

        if (ReadResult located =
                LocateEntryData(source, cdStart, archive.offsetDelta, flags, compressed, localOffset, e);
            !located.ok)
            return located;
        archive.entries.push_back(std::move(e));
        pos += total;
    }

    // Entries may not overlap; the bytes in front of the first one are the prefix.
    std::vector<const ExistingEntry*> order;
    for (const auto& e : archive.entries) order.push_back(&e);
    std::sort(order.begin(), order.end(), [](auto* a, auto* b) { return a->localPosition < b->localPosition; });
    for (size_t i = 1; i < order.size(); ++i)
        if (order[i - 1]->localPosition + order[i - 1]->entryLength > order[i]->localPosition)
            return Fail("entries \"" + order[i - 1]->name + "\" and \"" + order[i]->name + "\" overlap");
    archive.prefixLength = order.empty() ? cdStart : order.front()->localPosition;
    return {true, {}};
}

}  // namespace zipengine
