#include "platform/File.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/PosixFileSystem.h"

namespace platform {
namespace {

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

int Flags(File::Mode mode) {
    switch (mode) {
        case File::Mode::Read: return O_RDONLY;
        case File::Mode::ReadWrite: return O_RDWR;
        case File::Mode::Write: return O_WRONLY | O_CREAT;
        case File::Mode::Replace: return O_WRONLY | O_CREAT | O_TRUNC;
        case File::Mode::CreateNew: return O_WRONLY | O_CREAT | O_EXCL;
    }
    return O_RDONLY;
}

SysError NotRegularFile() { return {kErrorAccessDenied, "Not a regular file"}; }

}  // namespace

File::Opened File::Open(const std::string& path, Mode mode) { return posix::OpenFile(path, mode, nullptr); }

namespace posix {

File::Opened OpenFile(const std::string& path, File::Mode mode, struct stat* status) {
    // Opened without waiting: a named pipe would hold the open up until a writer (or reader)
    // came, and it or a device would be read forever. Once the file is known to be a regular
    // one the flag can stay, as it changes nothing for such a file. A file created new cannot
    // be either.
    const int flags = Flags(mode);
    const bool createdNew = mode == File::Mode::CreateNew;
    File::Opened opened;
    const int fd = ::open(path.c_str(), flags | (createdNew ? 0 : O_NONBLOCK) | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        // (a pipe nobody reads, or a device without its hardware, refuses a waitless open)
        opened.error = errno == ENXIO ? NotRegularFile() : SysError::FromErrno(errno);
        return opened;
    }
    File file = File::Adopt(fd);
    if (createdNew && !status) {
        opened.file = std::move(file);
        return opened;
    }
    struct stat st;
    int problem = ::fstat(fd, &st) != 0 ? errno : 0;
    if (!problem && S_ISDIR(st.st_mode)) problem = EISDIR;
    if (!problem && !S_ISREG(st.st_mode)) opened.error = NotRegularFile();
    if (problem) opened.error = SysError::FromErrno(problem);
    if (!opened.error) {
        opened.file = std::move(file);
        opened.size = static_cast<std::uint64_t>(st.st_size);
        if (status) *status = st;
    }
    return opened;
}

}  // namespace posix

File::~File() {
    if (m_handle >= 0) ::close(Fd(m_handle));
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (m_handle >= 0) ::close(Fd(m_handle));
        m_handle = other.m_handle;
        other.m_handle = -1;
    }
    return *this;
}

std::int64_t File::Size() const {
    struct stat st;
    if (m_handle < 0 || ::fstat(Fd(m_handle), &st) != 0) return -1;
    return st.st_size;
}

namespace {

// Repeats `step(done)` (one system read or write of the rest, from `done` on) until `size`
// bytes went through, the file ends (a step of 0) or a step fails; EINTR is retried. The bytes
// that went through, or -1 with errno set.
template <typename Step>
std::int64_t Repeat(std::int64_t size, Step step) {
    std::int64_t done = 0;
    while (done < size) {
        const ssize_t n = step(done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += n;
    }
    return done;
}

}  // namespace

std::int64_t File::Read(void* buffer, std::int64_t size) {
    if (m_handle < 0 || size < 0) return -1;
    auto* out = static_cast<char*>(buffer);
    return Repeat(size, [&](std::int64_t done) {
        return ::read(Fd(m_handle), out + done, static_cast<std::size_t>(size - done));
    });
}

std::int64_t File::ReadAt(void* buffer, std::int64_t size, std::int64_t offset) {
    if (m_handle < 0 || size < 0 || offset < 0) return -1;
    auto* out = static_cast<char*>(buffer);
    return Repeat(size, [&](std::int64_t done) {
        return ::pread(Fd(m_handle), out + done, static_cast<std::size_t>(size - done), offset + done);
    });
}

SysError File::Write(const void* buffer, std::int64_t size) {
    if (m_handle < 0 || size < 0) return SysError::FromErrno(EBADF);
    const auto* in = static_cast<const char*>(buffer);
    const std::int64_t done = Repeat(
        size, [&](std::int64_t at) { return ::write(Fd(m_handle), in + at, static_cast<std::size_t>(size - at)); });
    if (done < 0) return SysError::FromErrno(errno);
    return done < size ? SysError::FromErrno(EIO) : SysError{};
}

SysError File::WriteAt(const void* buffer, std::int64_t size, std::int64_t offset) {
    if (m_handle < 0 || size < 0 || offset < 0) return SysError::FromErrno(EBADF);
    const auto* in = static_cast<const char*>(buffer);
    const std::int64_t done = Repeat(size, [&](std::int64_t at) {
        return ::pwrite(Fd(m_handle), in + at, static_cast<std::size_t>(size - at), offset + at);
    });
    if (done < 0) return SysError::FromErrno(errno);
    return done < size ? SysError::FromErrno(EIO) : SysError{};
}

bool File::Seek(std::int64_t offset) {
    return m_handle >= 0 && offset >= 0 && ::lseek(Fd(m_handle), offset, SEEK_SET) == offset;
}

bool File::Skip(std::int64_t count) { return m_handle >= 0 && ::lseek(Fd(m_handle), count, SEEK_CUR) >= 0; }

SysError File::Truncate(std::int64_t size) {
    if (m_handle < 0 || ::ftruncate(Fd(m_handle), size) != 0) return SysError::FromErrno(m_handle < 0 ? EBADF : errno);
    return {};
}

File::CopyResult File::CopyTo(File& target, std::uint64_t size) {
    CopyResult result;
    if (m_handle < 0 || target.m_handle < 0) {
        result.error = SysError::FromErrno(EBADF);
        return result;
    }
    bool inKernel = true;
    while (result.copied < size && inKernel) {
        // The kernel may copy less than asked without having reached the end.
        const ssize_t n = ::copy_file_range(Fd(m_handle), nullptr, Fd(target.m_handle), nullptr,
                                            static_cast<std::size_t>(size - result.copied), 0);
        if (n > 0) {
            result.copied += static_cast<std::uint64_t>(n);
        } else if (n == 0) {
            return result;  // the end of this file
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL || errno == EBADF) {
            result.crossDevice = errno == EXDEV;
            inKernel = false;  // not between these two files: through a buffer from here on
        } else {
            result.error = SysError::FromErrno(errno);
            return result;
        }
    }
    return inKernel ? result : CopyThroughBuffer(target, size, result);
}

bool File::TryLock(bool exclusive) {
    return m_handle >= 0 && ::flock(Fd(m_handle), (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0;
}

bool File::RangeLockedByAnother(bool forWriting) const {
    if (m_handle < 0) return false;
    struct flock lock {};
    lock.l_type = forWriting ? F_WRLCK : F_RDLCK;
    lock.l_whence = SEEK_SET;  // the whole file: start 0, length 0
    // Open-file locks see every other holder, this process's other files included; the
    // classic call only other processes.
    if (::fcntl(Fd(m_handle), F_OFD_GETLK, &lock) != 0) {
        lock = {};
        lock.l_type = forWriting ? F_WRLCK : F_RDLCK;
        lock.l_whence = SEEK_SET;
        if (::fcntl(Fd(m_handle), F_GETLK, &lock) != 0) return false;
    }
    return lock.l_type != F_UNLCK;
}

SysError File::Close() {
    if (m_handle < 0) return {};
    const int rc = ::close(Fd(m_handle));
    m_handle = -1;
    return rc == 0 ? SysError{} : SysError::FromErrno(errno);
}

}  // namespace platform
