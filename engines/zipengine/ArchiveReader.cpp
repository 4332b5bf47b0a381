#include "ArchiveReader.h"

#include <unistd.h>

#include <algorithm>
#include <sys/stat.h>

#include "ZipFormat.h"

namespace zipengine {

bool MemorySource::ReadAt(uint64_t offset, void* buffer, size_t count) const {
    if (offset > m_size || count > m_size - offset) return false;
    std::copy_n(m_data + offset, count, static_cast<unsigned char*>(buffer));
    return true;
}

FileSource::FileSource(int fd) : m_fd(fd) {
    struct stat st {};
    if (m_fd >= 0 && fstat(m_fd, &st) == 0) m_size = uint64_t(st.st_size);
}

FileSource::~FileSource() {
    if (m_fd >= 0) close(m_fd);
}

bool FileSource::ReadAt(uint64_t offset, void* buffer, size_t count) const {
    if (offset > m_size || count > m_size - offset) return false;
    auto* p = static_cast<unsigned char*>(buffer);
    while (count > 0) {
        ssize_t n = pread(m_fd, p, count, off_t(offset));
        if (n <= 0) return false;
        p += n;
        offset += uint64_t(n);
        count -= size_t(n);
    }
    return true;
}

namespace {

constexpr uint32_t kMaxDirectorySize = uint32_t(64) << 20;

ReadResult Fail(std::string text) { return {false, std::move(text)}; }

// The modification time from an extended timestamp field in `extra`, if there is one.
bool ExtendedTime(const std::string& extra, time_t& out) {
    size_t pos = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(extra.data());
    while (pos + 4 <= extra.size()) {
        uint16_t tag = Get16(p + pos);
        uint16_t size = Get16(p + pos + 2);
        if (size > extra.size() - pos - 4) return false;
        if (tag == kExtTimeTag && size >= 5 && (p[pos + 4] & 1)) {
            out = time_t(int32_t(Get32(p + pos + 5)));
            return true;
        }
        pos += 4 + size_t(size);
    }
    return false;
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
    const auto* t = reinterpret_cast<const unsigned char*>(tail.data());
    size_t found = std::string::npos;
    for (size_t pos = tailSize - ziprec::end::kFixedSize + 1; pos-- > 0;) {
        if (Get32(t + pos) == ziprec::end::kSignature && pos + ziprec::end::kFixedSize + Get16(t + pos + 20) <= tailSize) {
            found = pos;
            break;
        }
    }
    if (found == std::string::npos) return Fail("no end of central directory record: the file is not a zip archive");
    const unsigned char* end = t + found;
    const uint64_t endPosition = size - tailSize + found;
    const uint16_t thisDisk = Get16(end + 4), cdDisk = Get16(end + 6);
    const uint16_t entriesHere = Get16(end + 8), entriesTotal = Get16(end + 10);
    const uint32_t cdSize = Get32(end + 12), cdOffset = Get32(end + 16);
    archive.comment.assign(reinterpret_cast<const char*>(end + ziprec::end::kFixedSize), Get16(end + 20));

    if (thisDisk != 0 || cdDisk != 0 || entriesHere != entriesTotal)
        return Fail("the archive belongs to a multi-disk set");
    if (entriesTotal == 0xFFFF || cdSize == kMax32 || cdOffset == kMax32) {
        unsigned char sig[4];
        if (endPosition >= ziprec::zip64locator::kSize &&
            source.ReadAt(endPosition - ziprec::zip64locator::kSize, sig, 4) && Get32(sig) == ziprec::zip64locator::kSignature)
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
    const auto* c = reinterpret_cast<const unsigned char*>(cd.data());
    size_t pos = 0;
    archive.entries.reserve(entriesTotal);
    for (unsigned i = 0; i < entriesTotal; ++i) {
        if (cdSize - pos < ziprec::central::kFixedSize || Get32(c + pos) != ziprec::central::kSignature)
            return Fail("a central file header is damaged");
        const unsigned char* h = c + pos;
        const size_t nameLen = Get16(h + 28), extraLen = Get16(h + 30), commentLen = Get16(h + 32);
        const size_t total = ziprec::central::kFixedSize + nameLen + extraLen + commentLen;
        if (total > cdSize - pos) return Fail("a central file header is cut short");
        const uint16_t flags = Get16(h + 8);
        const uint32_t compressed = Get32(h + 20), uncompressed = Get32(h + 24), localOffset = Get32(h + 42);
        if (compressed == kMax32 || uncompressed == kMax32 || localOffset == kMax32 || Get16(h + 34) == 0xFFFF)
            return Fail("the archive uses 64-bit (Zip64) records");
        if (Get16(h + 34) != 0) return Fail("the archive belongs to a multi-disk set");

        ExistingEntry e;
        e.centralHeader.assign(cd, pos, total);
        e.name.assign(cd, pos + ziprec::central::kFixedSize, nameLen);
        e.exactTime = ExtendedTime(cd.substr(pos + ziprec::central::kFixedSize + nameLen, extraLen), e.modified);
        if (!e.exactTime)
            e.modified = FromDosDateTime(Get16(h + 14), Get16(h + 12));

        // The local header must be where the directory says, inside the archive data.
        e.localPosition = uint64_t(localOffset) + archive.offsetDelta;
        unsigned char local[ziprec::local::kFixedSize];
        if (e.localPosition + ziprec::local::kFixedSize > cdStart || !source.ReadAt(e.localPosition, local, sizeof local) ||
            Get32(local) != ziprec::local::kSignature)
            return Fail("the local header of \"" + e.name + "\" is missing or damaged");
        uint64_t dataEnd = e.localPosition + ziprec::local::kFixedSize + Get16(local + 26) + Get16(local + 28) + compressed;
        if (flags & kFlagDataDescriptor) {
            unsigned char sig[4];
            const bool signature = dataEnd + ziprec::descriptor::kSize <= cdStart && source.ReadAt(dataEnd, sig, 4) &&
                                   Get32(sig) == ziprec::descriptor::kSignature;
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
