#pragma once
// The reading side of a self-extracting file: the 256-byte header that follows the stub,
// and the zip archive behind it (end record and 64-bit end record, central directory with
// 64-bit extra fields, local headers, inflate, CRC check). Everything here works on a ByteSource and never trusts a
// stored number: every offset and length is checked against the file before it is used.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sfx {

// Random-access bytes: the stub's own executable, or a buffer in the tests and the fuzzer.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly `count` bytes at `offset`; false when they are not all there.
    virtual bool ReadAt(uint64_t offset, void* buffer, size_t count) const = 0;
};

class MemorySource : public ByteSource {
public:
    MemorySource(const void* data, size_t size) : m_data(static_cast<const uint8_t*>(data)), m_size(size) {}
    uint64_t Size() const override { return m_size; }
    bool ReadAt(uint64_t offset, void* buffer, size_t count) const override;

private:
    const uint8_t* m_data;
    size_t m_size;
};

// Option flags of the header (bit 0 is the lowest).
enum SfxFlag : uint8_t {
    SfxAskCmdLine = 0x01,        // let the user see and change the command before it runs
    SfxAskFiles = 0x02,          // let the user choose which files to extract
    SfxHideOverwriteBox = 0x04,  // do not offer the overwrite choice in the window
    SfxOverwriteAlways = 0x08,
    SfxOverwriteNever = 0x10,  // neither of the two: ask for each existing file
    SfxNoCheckSize = 0x20,     // skip the check that the file is whole
    SfxAutoRun = 0x40,         // extract at once into the default folder, without asking
};

constexpr size_t kSfxHeaderSize = 256;
constexpr char kSfxSignature[3] = {'M', 'P', 'U'};

struct SfxHeader {
    uint8_t flags = 0;
    std::string caption;
    std::string defaultDir;
    std::string commandLine;
};

// Reads the header from its 256 bytes; false when the signature is wrong or the texts
// do not fit.
bool ParseSfxHeader(const uint8_t* bytes, SfxHeader& header);
// The 256 bytes for a header (texts cut to fit); used by the tests and by tools.
std::vector<uint8_t> BuildSfxHeader(const SfxHeader& header);

struct ZipEntry {
    std::string name;   // as stored, bytes
    bool utf8 = false;  // general-purpose bit 11: the name is UTF-8, else the OEM code page
    uint16_t flags = 0;
    uint16_t method = 0;  // 0 stored, 8 deflated; anything else is refused
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0;
    uint64_t localOffset = 0;  // where the local header lies in the file (already corrected)
    uint16_t madeBy = 0;
    uint32_t externalAttributes = 0;
    uint16_t dosTime = 0;
    uint16_t dosDate = 0;

    bool IsDirectory() const;
    bool IsSymlink() const;  // a Unix link stored by the archiver: never created
    bool IsEncrypted() const { return flags & 0x0001; }
};

// What the reader found in a self-extracting file.
struct SfxArchive {
    SfxHeader header;
    uint64_t headerOffset = 0;      // where the 256-byte header lies (= size of the stub)
    uint64_t archiveStart = 0;      // first byte of the archive part
    uint64_t centralDirectory = 0;  // where the central directory really lies
    uint64_t endRecord = 0;         // where the end record lies
    uint64_t archiveEnd = 0;        // end of the end record's comment
    std::vector<ZipEntry> entries;
};

struct OpenResult {
    bool ok = false;
    std::string error;  // for the user, when !ok
};

// Finds the header from the archive behind it: the end record gives the central directory,
// the smallest local-header offset the archive's start, and the header lies 256 bytes
// before it. `checkSize`: the file must end where the archive ends (a cut-off or padded
// download is refused).
OpenResult OpenSfxArchive(const ByteSource& source, SfxArchive& archive, bool checkSize);

// Reads a plain zip archive (no header in front); used by the tests and the fuzzer.
OpenResult ReadZipDirectory(const ByteSource& source, SfxArchive& archive);

// Decompresses one entry, handing the bytes to `write` in pieces, and checks its size and
// CRC. `write` returns false to stop (a write error). Returns an empty text on success,
// else what went wrong.
using WriteFn = std::function<bool(const uint8_t* data, size_t count)>;
std::string ExtractEntryData(const ByteSource& source, const SfxArchive& archive, const ZipEntry& entry,
                             const WriteFn& write);

// Short name of a compression method, for messages.
std::string MethodName(uint16_t method);

}  // namespace sfx
