#include "zip/ZipEntryTest.h"

#include <zlib.h>

#include <memory>

#include "common/ZipRecords.h"
#include "platform/File.h"
#include "platform/Hash.h"

namespace zip {
namespace {

namespace loc = common::ziprec::local;

std::uint32_t Le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

// Where the entry's data starts: after its local header, found at the stored offset or, in a
// self-extractor whose offsets were left as they were, that far behind the archive's start.
std::int64_t DataStart(platform::File& file, const ZipDirEntry& e, std::int64_t archiveOffset) {
    for (std::int64_t at :
         {static_cast<std::int64_t>(e.RelOffLocal), static_cast<std::int64_t>(e.RelOffLocal) + archiveOffset}) {
        unsigned char header[loc::kFixedSize];
        if (file.ReadAt(header, sizeof header, at) != static_cast<std::int64_t>(sizeof header)) continue;
        if (Le32(header) != loc::kSignature) continue;
        return at + static_cast<std::int64_t>(loc::kFixedSize) + Le16(header + loc::kNameLengthAt) +
               Le16(header + loc::kExtraLengthAt);
    }
    return -1;
}

// The entry's data read and inflated; its fault, or empty.
std::string TestOne(platform::File& file, const ZipDirEntry& e, std::int64_t archiveOffset,
                    std::vector<unsigned char>& in, std::vector<unsigned char>& out, std::string* keep,
                    platform::Sha256* hash) {
    if (e.Flag & 1) return "encrypted; not tested";
    if (e.ComprMethod != 0 && e.ComprMethod != 8)
        return "compression method " + std::to_string(e.ComprMethod) + " unknown";
    std::int64_t at = DataStart(file, e, archiveOffset);
    if (at < 0) return "local header missing";
    z_stream z{};
    if (e.ComprMethod == 8 && inflateInit2(&z, -MAX_WBITS) != Z_OK) return "cannot inflate";
    std::unique_ptr<z_stream, int (*)(z_stream*)> guard(e.ComprMethod == 8 ? &z : nullptr, inflateEnd);
    uLong crc = crc32(0, nullptr, 0);
    std::uint64_t left = e.ComprSize, produced = 0;
    int status = Z_OK;
    while (left > 0) {
        const auto want = static_cast<std::int64_t>(std::min<std::uint64_t>(left, in.size()));
        const std::int64_t got = file.ReadAt(in.data(), want, at);
        if (got <= 0) return "truncated";
        at += got;
        left -= static_cast<std::uint64_t>(got);
        if (e.ComprMethod == 0) {
            crc = crc32_z(crc, in.data(), static_cast<z_size_t>(got));
            if (keep) keep->append(reinterpret_cast<const char*>(in.data()), static_cast<std::size_t>(got));
            if (hash) hash->Update(in.data(), static_cast<std::size_t>(got));
            produced += static_cast<std::uint64_t>(got);
            continue;
        }
        z.next_in = in.data();
        z.avail_in = static_cast<uInt>(got);
        while (z.avail_in > 0 && status != Z_STREAM_END) {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            status = inflate(&z, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END) return "compressed data damaged";
            const std::size_t n = out.size() - z.avail_out;
            crc = crc32_z(crc, out.data(), n);
            if (keep) keep->append(reinterpret_cast<const char*>(out.data()), n);
            if (hash) hash->Update(out.data(), n);
            produced += n;
        }
    }
    if (e.ComprMethod == 8 && status != Z_STREAM_END) return "compressed data ends early";
    if (produced != e.UncomprSize)
        return "size " + std::to_string(produced) + " instead of " + std::to_string(e.UncomprSize);
    if (crc != e.CRC32) return "CRC mismatch";
    return {};
}

}  // namespace

std::vector<EntryFault> TestEntries(const TZipArchiver& zip, const std::function<bool(const std::string&)>& keep,
                                    std::map<std::string, std::string>* kept,
                                    std::map<std::string, std::string>* digests) {
    std::vector<EntryFault> faults;
    platform::File::Opened opened = platform::File::Open(zip.ZipFilename(), platform::File::Mode::Read);
    if (opened.error) return {{zip.ZipFilename(), opened.error.message}};
    std::vector<unsigned char> in(1 << 18), out(1 << 18);
    for (const ZipDirEntry& e : zip.Entries()) {
        if (!e.FileName.empty() && (e.FileName.back() == '\\' || e.FileName.back() == '/')) continue;  // a folder
        std::string bytes;
        const bool keepIt = kept && keep && keep(e.FileName);
        platform::Sha256 hash;
        std::string why =
            TestOne(opened.file, e, zip.ArchiveOffset(), in, out, keepIt ? &bytes : nullptr, digests ? &hash : nullptr);
        if (keepIt && why.empty()) (*kept)[e.FileName] = std::move(bytes);
        if (digests && why.empty()) (*digests)[e.FileName] = hash.HexDigest();
        if (!why.empty()) faults.push_back({e.FileName, why});
    }
    return faults;
}

}  // namespace zip
