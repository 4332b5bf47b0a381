#pragma once
// One open regular file: read and written in place or at offsets, copied from in the
// kernel where the system can, closed when it goes out of scope. Every file named by the
// user, a workspace, a header or an archive is opened through it, so that a named pipe or a
// device at the name never holds the program up and is never read or written through.
#include <cstdint>
#include <optional>
#include <streambuf>
#include <string>
#include <vector>

#include "platform/SysError.h"

namespace platform {

class File {
public:
    enum class Mode {
        Read,       // an existing file, for reading
        ReadWrite,  // an existing file, for reading and writing
        Write,      // an existing file or a new one, for writing; its bytes are kept
        Replace,    // an existing file emptied, or a new one, for writing
        CreateNew,  // a new file only, for writing
    };
    struct Opened;

    // Opens the file at the host path `path` as it is spelled (no letter-case lookup),
    // without waiting. Anything but a regular file is refused: a folder as access denied,
    // a pipe or a device with "Not a regular file". New files get the permissions the
    // process gives new files.
    static Opened Open(const std::string& path, Mode mode);

    File() = default;
    ~File();
    File(File&& other) noexcept : m_handle(other.m_handle) { other.m_handle = -1; }
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool IsOpen() const { return m_handle >= 0; }
    // The size the open file has now; -1 when it cannot be told.
    std::int64_t Size() const;

    // Bytes read from the current position (fewer only at the end of the file), -1 on failure.
    std::int64_t Read(void* buffer, std::int64_t size);
    // Bytes read at `offset`, leaving the position alone (fewer only at the end), -1 on failure.
    std::int64_t ReadAt(void* buffer, std::int64_t size, std::int64_t offset);
    // Writes every byte at the current position, or says why not.
    SysError Write(const void* buffer, std::int64_t size);
    // Writes every byte at `offset`, leaving the position alone.
    SysError WriteAt(const void* buffer, std::int64_t size, std::int64_t offset);
    bool Seek(std::int64_t offset);  // from the start; false for a negative offset
    bool Skip(std::int64_t count);   // from the current position
    SysError Truncate(std::int64_t size);

    // Copies up to `size` bytes from this file's position to the target's: in the kernel
    // where the system can (sharing blocks on file systems that offer it), through a buffer
    // where not. `copied` falls short of `size` only at the end of this file.
    struct CopyResult {
        std::uint64_t copied = 0;
        SysError error;
        bool crossDevice = false;  // the kernel would not copy between these two file systems
    };
    CopyResult CopyTo(File& target, std::uint64_t size);
    // The same through the program's buffer only, continuing from what `result` has copied.
    CopyResult CopyThroughBuffer(File& target, std::uint64_t size, CopyResult result);

    // Advisory whole-file locks, taken without waiting: false when another opener holds a
    // lock that excludes this one (a shared lock excludes only exclusive ones).
    bool TryLock(bool exclusive);
    // Whether another opener holds a byte-range lock on the file that keeps this opener out:
    // any such lock when `forWriting`, else only a lock taken for writing, as readers share.
    // (The locks programs, Wine among them, take to keep a file to themselves.)
    bool RangeLockedByAnother(bool forWriting) const;

    // Closes the file; the error the final close reported, if any.
    SysError Close();

    // The system's handle, for the platform layer's own use; and a file made of a handle the
    // platform layer opened itself, which it then closes.
    std::intptr_t NativeHandle() const { return m_handle; }
    static File Adopt(std::intptr_t handle) { return File(handle); }

private:
    explicit File(std::intptr_t handle) : m_handle(handle) {}

    std::intptr_t m_handle = -1;
};

struct File::Opened {
    File file;               // open only when `error` is empty
    std::uint64_t size = 0;  // the file's size when it was opened
    SysError error;
};

// A read buffer over an open file, for code that reads through a standard stream; it
// seeks, so streams over it may too. The file stays the caller's. Given the file's size,
// it reads no further than that and knows the end without asking for it.
class FileReadBuffer : public std::streambuf {
public:
    explicit FileReadBuffer(File& file, std::optional<std::uint64_t> size = {})
        : m_file(file), m_size(size), m_buffer(64 * 1024) {}

protected:
    int_type underflow() override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir way, std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

private:
    File& m_file;
    std::optional<std::uint64_t> m_size;
    std::vector<char> m_buffer;
    std::int64_t m_bufferStart = 0;  // the file offset of the buffer's first byte
};

}  // namespace platform
