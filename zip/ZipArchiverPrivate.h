#pragma once
// Helpers shared by the component's source files; not part of its interface.
#include <cstdint>
#include <string>

#include "app/UserInterface.h"
#include "common/ZipRecords.h"
#include "app/pmUtils.h"
#include "platform/File.h"
#include "platform/FileSystem.h"

namespace zip::detail {

namespace ziprec = common::ziprec;

// The fixed record sizes as lengths of the platform's files, which count in signed 64 bits.
inline constexpr std::int64_t kEndRecordLength = static_cast<std::int64_t>(ziprec::end::kFixedSize);
inline constexpr std::int64_t kCentralHeaderLength = static_cast<std::int64_t>(ziprec::central::kFixedSize);

// The host path of a name the component was given (a Windows-style text or a host path):
// the existing spelling when one matches without regard to case.
inline std::string HostPath(const std::string& name) {
    return platform::ResolveCase(name).value_or(platform::ExpandFileName(name));
}

// The extension of a name from its last dot, upper-cased (".ZIP"); "" without a dot.
inline std::string UpperExtension(const std::string& name) { return pm::UpperAscii(pm::ExtensionOf(name)); }

// Reads a file on from its position in large blocks, as a run of small reads and skips
// would read it: one system call for many records. Release() puts the file's position where
// those reads and skips would have left it.
class BlockReader {
public:
    explicit BlockReader(platform::File& file) : m_file(file) {}
    BlockReader(const BlockReader&) = delete;
    BlockReader& operator=(const BlockReader&) = delete;
    // As File::Read: up to `size` bytes, fewer only at the end of the file or on a failure.
    std::int64_t Read(void* buffer, std::int64_t size);
    // As File::Skip, forward.
    bool Skip(std::int64_t count);
    bool Release();

private:
    static constexpr std::int64_t kBlockSize = 1 << 20;
    platform::File& m_file;
    std::string m_buffer;
    std::size_t m_at = 0;  // the next byte of m_buffer to hand out
};

// Shows the hourglass for the lifetime of the object.
class Hourglass {
public:
    Hourglass() { app::UI().SetHourglass(true); }
    ~Hourglass() { app::UI().SetHourglass(false); }
    Hourglass(const Hourglass&) = delete;
    Hourglass& operator=(const Hourglass&) = delete;
};

}  // namespace zip::detail
