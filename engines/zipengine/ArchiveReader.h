// Reads the directory of an archive that is to be updated. Every number taken from the file
// is checked against the file before it is used, so a damaged or hostile archive yields an
// error text, never a crash or a read outside the file.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "System.h"

namespace zipengine {

// Random access to the bytes of an existing archive.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly `count` bytes at `offset`; false when they are not all there.
    virtual bool ReadAt(uint64_t offset, void* buffer, size_t count) const = 0;
};

class MemorySource : public ByteSource {
public:
    MemorySource(const void* data, size_t size) : m_data(static_cast<const unsigned char*>(data)), m_size(size) {}
    uint64_t Size() const override { return m_size; }
    bool ReadAt(uint64_t offset, void* buffer, size_t count) const override;

private:
    const unsigned char* m_data;
    size_t m_size;
};

// A file opened for reading, closed with the object.
class FileSource : public ByteSource {
public:
    explicit FileSource(sys::File file) : m_file(std::move(file)), m_size(m_file.Size()) {}
    uint64_t Size() const override { return m_size; }
    bool ReadAt(uint64_t offset, void* buffer, size_t count) const override;

private:
    sys::File m_file;
    uint64_t m_size = 0;
};

struct ExistingEntry {
    std::string name;            // as stored, "/" separators
    std::string centralHeader;   // the whole central file header: 46 bytes, name, extra, comment
    uint64_t localPosition = 0;  // file position of the local header
    uint64_t entryLength = 0;    // local header, name, extra field, data and data descriptor
    time_t modified = 0;         // from the extended timestamp when present, else the DOS fields
    bool exactTime = false;      // `modified` came from the extended timestamp
};

struct ExistingArchive {
    uint64_t fileSize = 0;
    // Bytes in front of the first entry (a self-extractor stub and its header); kept as they are.
    uint64_t prefixLength = 0;
    // File position minus stored offset: 0 when the offsets count from the start of the file
    // (plain or shifted archives), the prefix length when they count from the archive's start.
    uint64_t offsetDelta = 0;
    std::string comment;
    std::vector<ExistingEntry> entries;
};

struct ReadResult {
    bool ok = false;
    std::string error;  // why the archive cannot be updated
};

ReadResult ReadExistingArchive(const ByteSource& source, ExistingArchive& archive);

}  // namespace zipengine
