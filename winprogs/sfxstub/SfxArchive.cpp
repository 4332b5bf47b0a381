#include "SfxArchive.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "common/ByteCursor.h"
#include "common/ZipRecords.h"

namespace sfx {

namespace {

namespace ziprec = common::ziprec;

OpenResult Fail(std::string text) { return {false, std::move(text)}; }

struct EndRecord {
    uint64_t position = 0;
    uint16_t disk = 0, cdDisk = 0, diskEntries = 0, entries = 0;
    uint32_t cdSize = 0, cdOffset = 0;
    uint16_t commentLength = 0;
};

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
    if (end.disk != 0 || end.cdDisk != 0 || end.diskEntries != end.entries)
        return Fail("The archive is one part of a multi-disk set, which cannot be extracted here.");
    if (end.entries == 0xFFFF || end.cdSize == 0xFFFFFFFF || end.cdOffset == 0xFFFFFFFF)
        return Fail("The archive uses 64-bit extensions, which this extractor does not read.");
    if (end.cdSize > end.position) return Fail("The archive's directory is damaged.");
    const uint64_t cdPos = end.position - end.cdSize;
    // Offsets count from the archive's own start; when bytes were put in front without
    // moving them, the difference between stored and real directory position corrects them.
    if (end.cdOffset > cdPos) return Fail("The archive's directory is damaged.");
    const uint64_t bias = cdPos - end.cdOffset;

    std::vector<uint8_t> cd(end.cdSize);
    if (!source.ReadAt(cdPos, cd.data(), cd.size())) return Fail("The archive's directory cannot be read.");
    common::ByteCursor c(cd.data(), cd.size());
    archive.entries.reserve(std::min<size_t>(end.entries, cd.size() / ziprec::central::kFixedSize));
    for (unsigned i = 0; i < end.entries; ++i) {
        ZipEntry e;
        uint32_t sig = c.U32LE();
        e.madeBy = c.U16LE();
        c.U16LE();  // version needed
        e.flags = c.U16LE();
        e.method = c.U16LE();
        e.dosTime = c.U16LE();
        e.dosDate = c.U16LE();
        e.crc = c.U32LE();
        e.compressedSize = c.U32LE();
        e.size = c.U32LE();
        uint16_t nameLen = c.U16LE(), extraLen = c.U16LE(), commentLen = c.U16LE();
        uint16_t disk = c.U16LE();
        c.U16LE();  // internal attributes
        e.externalAttributes = c.U32LE();
        uint32_t local = c.U32LE();
        e.name = std::string(c.Bytes(nameLen));
        c.Skip(size_t(extraLen) + commentLen);
        if (!c.ok() || sig != ziprec::central::kSignature) return Fail("The archive's directory is damaged.");
        if (disk != 0) return Fail("The archive is one part of a multi-disk set, which cannot be extracted here.");
        if (e.compressedSize == 0xFFFFFFFF || e.size == 0xFFFFFFFF || local == 0xFFFFFFFF)
            return Fail("The archive uses 64-bit extensions, which this extractor does not read.");
        e.utf8 = (e.flags & 0x0800) != 0;
        e.localOffset = uint64_t(local) + bias;
        if (e.localOffset + ziprec::local::kFixedSize > cdPos) return Fail("The archive's directory is damaged.");
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
