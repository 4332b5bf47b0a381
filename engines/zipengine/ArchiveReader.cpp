#include "ArchiveReader.h"

#include <algorithm>

#include "ZipFormat.h"
#include "common/ByteCursor.h"

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
    const uint32_t cdSize = end.U32LE(), cdOffset = end.U32LE();
    const uint16_t commentLength = end.U16LE();
    archive.comment.assign(end.Bytes(commentLength));

    if (thisDisk != 0 || cdDisk != 0 || entriesHere != entriesTotal)
        return Fail("the archive belongs to a multi-disk set");
    if (entriesTotal == 0xFFFF || cdSize == kMax32 || cdOffset == kMax32) {
        const uint64_t locator = endPosition - ziprec::zip64locator::kSize;
        unsigned char sig[4];
        if (endPosition >= ziprec::zip64locator::kSize && source.ReadAt(locator, sig, 4) &&
            Signature(sig) == ziprec::zip64locator::kSignature)
            return Fail("the archive uses 64-bit (Zip64) records");
    }
    if (cdSize > endPosition) return Fail("the central directory lies outside the file");
    // The directory is read whole; a real one of 65,535 entries stays far below this bound.
    if (cdSize > kMaxDirectorySize) return Fail("the central directory is implausibly large");
    const uint64_t cdStart = endPosition - cdSize;
    if (cdOffset > cdStart) return Fail("the central directory offset points past the directory");
    archive.offsetDelta = cdStart - cdOffset;

    std::string cd(cdSize, '\0');
    if (!source.ReadAt(cdStart, cd.data(), cdSize)) return Fail("the central directory cannot be read");
    size_t pos = 0;
    archive.entries.reserve(entriesTotal);
    for (unsigned i = 0; i < entriesTotal; ++i) {
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
        h.Seek(ziprec::central::kCompressedSizeAt);
        const uint32_t compressed = h.U32LE();
        h.Seek(ziprec::central::kUncompressedSizeAt);
        const uint32_t uncompressed = h.U32LE();
        h.Seek(ziprec::central::kDiskStartAt);
        const uint16_t diskStart = h.U16LE();
        h.Seek(ziprec::central::kLocalOffsetAt);
        const uint32_t localOffset = h.U32LE();
        if (compressed == kMax32 || uncompressed == kMax32 || localOffset == kMax32 || diskStart == 0xFFFF)
            return Fail("the archive uses 64-bit (Zip64) records");
        if (diskStart != 0) return Fail("the archive belongs to a multi-disk set");

        ExistingEntry e;
        e.centralHeader.assign(cd, pos, total);
        e.name.assign(cd, pos + ziprec::central::kFixedSize, nameLen);
        const size_t extraPos = pos + ziprec::central::kFixedSize + nameLen;
        e.exactTime = ExtendedTime(std::string_view(cd).substr(extraPos, extraLen), e.modified);
        if (!e.exactTime) e.modified = common::FromDosDateTime(dosDate, dosTime);

        // The local header must be where the directory says, inside the archive data.
        e.localPosition = uint64_t(localOffset) + archive.offsetDelta;
        unsigned char local[ziprec::local::kFixedSize];
        common::ByteCursor l(local, sizeof local);
        if (e.localPosition + ziprec::local::kFixedSize > cdStart ||
            !source.ReadAt(e.localPosition, local, sizeof local) || l.U32LE() != ziprec::local::kSignature)
            return Fail("the local header of \"" + e.name + "\" is missing or damaged");
        l.Seek(ziprec::local::kNameLengthAt);
        const uint16_t localNameLen = l.U16LE();
        l.Seek(ziprec::local::kExtraLengthAt);
        const uint16_t localExtraLen = l.U16LE();
        uint64_t dataEnd = e.localPosition + ziprec::local::kFixedSize + localNameLen + localExtraLen + compressed;
        if (flags & kFlagDataDescriptor) {
            unsigned char sig[4];
            const bool signature = dataEnd + ziprec::descriptor::kSize <= cdStart && source.ReadAt(dataEnd, sig, 4) &&
                                   Signature(sig) == ziprec::descriptor::kSignature;
            dataEnd += signature ? ziprec::descriptor::kSize : ziprec::descriptor::kSizeWithoutSignature;
        }
        if (dataEnd > cdStart) return Fail("the data of \"" + e.name + "\" runs past the central directory");
        e.entryLength = dataEnd - e.localPosition;
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
