#include "SfxArchive.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

#include "common/ByteCursor.h"
#include "common/Zip64.h"
#include "common/ZipRecords.h"

namespace sfx {

namespace {

namespace ziprec = common::ziprec;

OpenResult Fail(std::string text) { return {false, std::move(text)}; }

// The end record as read; in an archive with a 64-bit end record, its disks, counts, size
// and offset are that record's.
struct EndRecord {
    uint64_t position = 0;
    uint32_t disk = 0, cdDisk = 0;
    uint64_t diskEntries = 0, entries = 0;
    uint64_t cdSize = 0, cdOffset = 0;
    uint16_t commentLength = 0;
    uint64_t directoryEnd = 0;  // where the directory ends: the 64-bit end record or the end record
    bool severalDisks = false;  // the locator counts more than one disk
};

// The most a directory may hold here: far more than any archive this program makes.
constexpr uint64_t kLargestDirectory = uint64_t(1) << 30;
// The most extensible data a 64-bit end record may carry here; writers put none.
constexpr uint64_t kLargestZip64Extension = 64 * 1024;
constexpr char kDamagedDirectory[] = "The archive's directory is damaged.";

// Takes the 64-bit end record's values when a locator lies in front of the end record. The
// record lies just in front of its locator: looked for there first (writers put no
// extensible data after it), else where the locator says, which is off by the size of
// anything put in front of the archive without moving its offsets. False when a locator is
// there but its record is not.
bool ReadZip64End(const ByteSource& source, EndRecord& end) {
    end.directoryEnd = end.position;
    if (end.position < ziprec::zip64locator::kSize) return true;
    const uint64_t locatorAt = end.position - ziprec::zip64locator::kSize;
    char bytes[ziprec::zip64locator::kSize];
    if (!source.ReadAt(locatorAt, bytes, sizeof bytes)) return true;
    const std::optional<common::zip64::Locator> locator = common::zip64::ParseLocator({bytes, sizeof bytes});
    if (!locator) return true;
    end.severalDisks = locator->totalDisks > 1;
    auto recordAt = [&](uint64_t at) -> std::optional<common::zip64::EndRecord> {
        char fixed[ziprec::zip64end::kFixedSize];
        if (at > locatorAt || locatorAt - at < sizeof fixed || !source.ReadAt(at, fixed, sizeof fixed))
            return std::nullopt;
        std::optional<common::zip64::EndRecord> record = common::zip64::ParseEndRecord({fixed, sizeof fixed});
        if (!record || record->Length() != locatorAt - at ||
            record->Length() - ziprec::zip64end::kFixedSize > kLargestZip64Extension)
            return std::nullopt;
        return record;
    };
    uint64_t recordPosition = locatorAt - std::min<uint64_t>(locatorAt, ziprec::zip64end::kFixedSize);
    std::optional<common::zip64::EndRecord> record = recordAt(recordPosition);
    if (!record) {
        recordPosition = locator->endRecordOffset;
        record = recordAt(recordPosition);
    }
    if (!record) return false;
    end.disk = record->thisDisk;
    end.cdDisk = record->directoryDisk;
    end.diskEntries = record->entriesHere;
    end.entries = record->entriesTotal;
    end.cdSize = record->directorySize;
    end.cdOffset = record->directoryOffset;
    end.directoryEnd = recordPosition;
    return true;
}

// Looks for the end record from the back of the file. A record whose comment reaches
// exactly to the end of the file is preferred; without the size check, one whose comment
// ends earlier (bytes appended after the archive) is accepted too.
bool FindEndRecord(const ByteSource& source, bool exactEnd, EndRecord& end) {
    uint64_t size = source.Size();
    if (size < ziprec::end::kFixedSize) return false;
    size_t tail = size_t(std::min<uint64_t>(size, ziprec::end::kFixedSize + ziprec::kMaxCommentSize));
    std::vector<uint8_t> buf(tail);
    if (!source.ReadAt(size - tail, buf.data(), tail)) return false;
    bool found = false;
    for (size_t i = tail - ziprec::end::kFixedSize + 1; i-- > 0;) {
        common::ByteCursor c(buf.data() + i, tail - i);
        EndRecord e;
        if (c.U32LE() != ziprec::end::kSignature) continue;
        e.disk = c.U16LE();
        e.cdDisk = c.U16LE();
        e.diskEntries = c.U16LE();
        e.entries = c.U16LE();
        e.cdSize = c.U32LE();
        e.cdOffset = c.U32LE();
        e.commentLength = c.U16LE();
        e.position = size - tail + i;
        uint64_t recordEnd = e.position + ziprec::end::kFixedSize + e.commentLength;
        if (!c.ok() || recordEnd > size) continue;
        if (recordEnd == size) {
            end = e;
            return true;
        }
        if (!exactEnd && !found) {
            end = e;
            found = true;
        }
    }
    return found;
}

}  // namespace

bool MemorySource::ReadAt(uint64_t offset, void* buffer, size_t count) const {
    if (offset > m_size || count > m_size - offset) return false;
    if (count) std::memcpy(buffer, m_data + offset, count);
    return true;
}

bool ParseSfxHeader(const uint8_t* bytes, SfxHeader& header) {
    if (std::memcmp(bytes, kSfxSignature, 3) != 0) return false;
    size_t a = bytes[4], b = bytes[5], c = bytes[6];
    if (7 + a + b + c > kSfxHeaderSize) return false;
    const char* p = reinterpret_cast<const char*>(bytes + 7);
    header.flags = bytes[3];
    header.caption.assign(p, a);
    header.defaultDir.assign(p + a, b);
    header.commandLine.assign(p + a + b, c);
    return true;
}

std::vector<uint8_t> BuildSfxHeader(const SfxHeader& header) {
    std::vector<uint8_t> out(kSfxHeaderSize, 0);
    std::memcpy(out.data(), kSfxSignature, 3);
    out[3] = header.flags;
    size_t room = kSfxHeaderSize - 7;
    size_t pos = 7;
    int slot = 4;
    for (const std::string* s : {&header.caption, &header.defaultDir, &header.commandLine}) {
        size_t n = std::min({s->size(), room, size_t(255)});
        out[slot++] = uint8_t(n);
        std::memcpy(out.data() + pos, s->data(), n);
        pos += n;
        room -= n;
    }
    return out;
}

bool ZipEntry::IsDirectory() const {
    if (!name.empty() && (name.back() == '/' || name.back() == '\\')) return true;
    return (externalAttributes & 0x10) != 0 && size == 0 && compressedSize == 0;
}

bool ZipEntry::IsSymlink() const {
    const unsigned host = madeBy >> 8;
    if (host != 3 && host != 19) return false;  // Unix, OS X
    return ((externalAttributes >> 16) & 0170000) == 0120000;
}

std::string MethodName(uint16_t method) {
    switch (method) {
        case 0: return "stored";
        case 8: return "deflated";
        case 9: return "deflate64";
        case 12: return "bzip2";
        case 14: return "LZMA";
        case 93: return "zstd";
        case 95: return "xz";
        case 99: return "AES-encrypted";
        default: return "method " + std::to_string(method);
    }
}

OpenResult ReadZipDirectory(const ByteSource& source, SfxArchive& archive) {
    archive = SfxArchive{};
    EndRecord end;
    if (!FindEndRecord(source, false, end)) return Fail("No zip archive was found in the file.");
    if (!ReadZip64End(source, end)) return Fail(kDamagedDirectory);
    if (end.severalDisks || end.disk != 0 || end.cdDisk != 0 || end.diskEntries != end.entries)
        return Fail("The archive is one part of a multi-disk set, which cannot be extracted here.");
    // The directory lies just in front of the 64-bit end record, or of the end record.
    if (end.cdSize > end.directoryEnd) return Fail(kDamagedDirectory);
    const uint64_t cdPos = end.directoryEnd - end.cdSize;
    // Offsets count from the archive's own start; when bytes were put in front without
    // moving them, the difference between stored and real directory position corrects them.
    if (end.cdOffset > cdPos) return Fail(kDamagedDirectory);
    const uint64_t bias = cdPos - end.cdOffset;

    if (end.cdSize > kLargestDirectory) return Fail("The archive's directory cannot be read.");
    std::vector<uint8_t> cd(static_cast<size_t>(end.cdSize));
    if (!source.ReadAt(cdPos, cd.data(), cd.size())) return Fail("The archive's directory cannot be read.");
    common::ByteCursor c(cd.data(), cd.size());
    archive.entries.reserve(
        static_cast<size_t>(std::min<uint64_t>(end.entries, cd.size() / ziprec::central::kFixedSize)));
    for (uint64_t i = 0; i < end.entries; ++i) {
        ZipEntry e;
        uint32_t sig = c.U32LE();
        e.madeBy = c.U16LE();
        c.U16LE();  // version needed
        e.flags = c.U16LE();
        e.method = c.U16LE();
        e.dosTime = c.U16LE();
        e.dosDate = c.U16LE();
        e.crc = c.U32LE();
        common::zip64::HeaderValues values;
        values.compressedSize = c.U32LE();
        values.uncompressedSize = c.U32LE();
        uint16_t nameLen = c.U16LE(), extraLen = c.U16LE(), commentLen = c.U16LE();
        values.disk = c.U16LE();
        c.U16LE();  // internal attributes
        e.externalAttributes = c.U32LE();
        values.localOffset = c.U32LE();
        e.name = std::string(c.Bytes(nameLen));
        const std::string_view extra = c.Bytes(extraLen);
        c.Skip(commentLen);
        if (!c.ok() || sig != ziprec::central::kSignature) return Fail(kDamagedDirectory);
        // Values the header has no room for lie in its 64-bit extra field.
        if (!common::zip64::ApplyExtra(extra, values)) return Fail(kDamagedDirectory);
        if (values.disk != 0)
            return Fail("The archive is one part of a multi-disk set, which cannot be extracted here.");
        e.compressedSize = values.compressedSize;
        e.size = values.uncompressedSize;
        e.utf8 = (e.flags & 0x0800) != 0;
        // The local header lies in the data part, in front of the directory.
        if (values.localOffset > end.cdOffset || end.cdOffset - values.localOffset < ziprec::local::kFixedSize)
            return Fail(kDamagedDirectory);
        e.localOffset = values.localOffset + bias;
        archive.entries.push_back(std::move(e));
    }
    archive.centralDirectory = cdPos;
    archive.endRecord = end.position;
    archive.archiveEnd = end.position + ziprec::end::kFixedSize + end.commentLength;
    archive.archiveStart = cdPos;
    for (const ZipEntry& e : archive.entries) archive.archiveStart = std::min(archive.archiveStart, e.localOffset);
    return {true, {}};
}

OpenResult OpenSfxArchive(const ByteSource& source, SfxArchive& archive, bool checkSize) {
    OpenResult r = ReadZipDirectory(source, archive);
    if (!r.ok) return r;
    if (archive.archiveStart < kSfxHeaderSize)
        return Fail("The file is not a self-extracting archive: it holds no extraction header.");
    archive.headerOffset = archive.archiveStart - kSfxHeaderSize;
    uint8_t bytes[kSfxHeaderSize];
    if (!source.ReadAt(archive.headerOffset, bytes, sizeof bytes) || !ParseSfxHeader(bytes, archive.header))
        return Fail("The file is not a self-extracting archive: its extraction header is missing or damaged.");
    if (checkSize && !(archive.header.flags & SfxNoCheckSize) && archive.archiveEnd != source.Size())
        return Fail("The file is incomplete or damaged: it does not end where its archive ends.");
    return {true, {}};
}

std::string ExtractEntryData(const ByteSource& source, const SfxArchive& archive, const ZipEntry& entry,
                             const WriteFn& write) {
    if (entry.IsEncrypted()) return "it is encrypted";
    if (entry.method != 0 && entry.method != 8)
        return "it is compressed with an unsupported method (" + MethodName(entry.method) + ")";

    uint8_t local[ziprec::local::kFixedSize];
    if (!source.ReadAt(entry.localOffset, local, sizeof local)) return "its data cannot be read";
    common::ByteCursor c(local, sizeof local);
    uint32_t sig = c.U32LE();
    c.Seek(ziprec::local::kNameLengthAt);
    uint16_t nameLen = c.U16LE(), extraLen = c.U16LE();
    if (sig != ziprec::local::kSignature) return "its local header is damaged";
    const uint64_t dataStart = entry.localOffset + ziprec::local::kFixedSize + nameLen + extraLen;
    // The data must lie inside the archive's data part, before the central directory.
    if (dataStart > archive.centralDirectory || entry.compressedSize > archive.centralDirectory - dataStart)
        return "its data lies outside the archive";
    if (entry.method == 0 && entry.compressedSize != entry.size) return "its stored sizes disagree";

    constexpr size_t kChunk = 64 * 1024;
    std::vector<uint8_t> in(kChunk), out(entry.method == 8 ? kChunk : 0);
    uint64_t remainingIn = entry.compressedSize;
    uint64_t produced = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t pos = dataStart;

    auto emit = [&](const uint8_t* data, size_t n) -> std::string {
        if (n == 0) return {};
        if (produced + n > entry.size) return "it holds more data than its directory says (damaged)";
        produced += n;
        crc = crc32(crc, data, uInt(n));
        if (!write(data, n)) return "write error";
        return {};
    };

    if (entry.method == 0) {
        while (remainingIn > 0) {
            size_t n = size_t(std::min<uint64_t>(remainingIn, kChunk));
            if (!source.ReadAt(pos, in.data(), n)) return "its data cannot be read";
            pos += n;
            remainingIn -= n;
            if (std::string err = emit(in.data(), n); !err.empty()) return err;
        }
    } else {
        z_stream zs{};
        if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return "out of memory";
        std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&zs, inflateEnd);
        int zr = Z_OK;
        while (zr != Z_STREAM_END) {
            if (zs.avail_in == 0) {
                if (remainingIn == 0) return "its compressed data ends too early (damaged)";
                size_t n = size_t(std::min<uint64_t>(remainingIn, kChunk));
                if (!source.ReadAt(pos, in.data(), n)) return "its data cannot be read";
                pos += n;
                remainingIn -= n;
                zs.next_in = in.data();
                zs.avail_in = uInt(n);
            }
            zs.next_out = out.data();
            zs.avail_out = uInt(out.size());
            zr = inflate(&zs, Z_NO_FLUSH);
            if (zr != Z_OK && zr != Z_STREAM_END) {
                if (zr == Z_BUF_ERROR && zs.avail_in == 0 && remainingIn > 0) continue;
                return zr == Z_MEM_ERROR ? "out of memory" : "its compressed data is damaged";
            }
            if (std::string err = emit(out.data(), out.size() - zs.avail_out); !err.empty()) return err;
        }
    }
    if (produced != entry.size) return "its size does not match its directory (damaged)";
    if (uint32_t(crc) != entry.crc) return "CRC error: the extracted data is damaged";
    return {};
}

}  // namespace sfx
