// Reading and writing whole files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/posix/PosixFileSystem.h"

namespace platform {
namespace {

// A file descriptor closed when it goes out of scope.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int release() {
        int f = fd;
        fd = -1;
        return f;
    }
};

}  // namespace

namespace posix {

FileBytes ReadAll(File& file, std::size_t expected) {
    const int fd = static_cast<int>(file.NativeHandle());
    std::string data;
    data.reserve(expected);
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return {std::nullopt, SysError::FromErrno(errno)};
        }
        data.append(buf, static_cast<std::size_t>(n));
        // A short read that completes the size just seen is the end: no further read is
        // needed to hear so. (Files that report no size, as kernel files do, read to the end.)
        if (expected > 0 && data.size() == expected && static_cast<std::size_t>(n) < sizeof buf) break;
    }
    return {std::move(data), {}};
}

}  // namespace posix

// Opening a file takes no lock here.
SysError ProbeRead(const std::string& path) { return File::Open(path, File::Mode::Read).error; }

FileBytes ReadFile(const std::string& path) {
    // The spelling as given is tried first; the letter case is looked up only when it fails.
    File::Opened opened = File::Open(ExpandFileName(path), File::Mode::Read);
    if (opened.error.code == kErrorFileNotFound || opened.error.code == kErrorPathNotFound) {
        auto resolved = posix::ResolveMissingSpelling(path);
        if (!resolved) return {std::nullopt, opened.error};
        opened = File::Open(*resolved, File::Mode::Read);
    }
    if (opened.error) return {std::nullopt, opened.error};
    return posix::ReadAll(opened.file, static_cast<std::size_t>(opened.size));
}

namespace {

// The bytes of a file just created at `p`, which is removed again on failure: there was
// nothing to keep whole.
SysError FillCreated(File& created, const std::string& p, const std::string& bytes) {
    SysError err = created.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    if (SysError closed = created.Close(); closed && !err) err = closed;
    if (err) ::unlink(p.c_str());
    return err;
}

SysError WriteWhole(const std::string& p, const std::string& bytes, bool existed, const struct stat& old) {
    if (!existed) {
        File::Opened created = File::Open(p, File::Mode::CreateNew);
        if (!created.error) return FillCreated(created.file, p, bytes);
        if (created.error.code != kErrorAlreadyExists) return created.error;
        // Created meanwhile by someone else: replace it like an existing file.
    }
    std::string tmp = p + ".~tmXXXXXX";
    Fd fd(::mkstemp(tmp.data()));
    if (fd.fd < 0) return SysError::FromErrno(errno);
    mode_t mode = 0666;
    if (existed) {
        mode = old.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~mask;
    }
    auto fail = [&](int err) {
        ::unlink(tmp.c_str());
        return SysError::FromErrno(err);
    };
    std::size_t off = 0;
    while (off < bytes.size()) {
        ssize_t w = ::write(fd.fd, bytes.data() + off, bytes.size() - off);
        if (w < 0) {
            if (errno == EINTR) continue;
            return fail(errno);
        }
        off += static_cast<std::size_t>(w);
    }
    if (::fchmod(fd.fd, mode) != 0) return fail(errno);
    if (::close(fd.release()) != 0) return fail(errno);
    if (::rename(tmp.c_str(), p.c_str()) != 0) return fail(errno);
    return {};
}

}  // namespace

SysError WriteNewFile(const std::string& path, const std::string& bytes) {
    const std::string p = ExpandFileName(path);
    posix::OwnChange change(p);
    File::Opened created = File::Open(p, File::Mode::CreateNew);
    if (created.error.code == kErrorAlreadyExists) return WriteFile(path, bytes);
    if (created.error) return created.error;
    const SysError err = FillCreated(created.file, p, bytes);
    if (err) change.Removed();
    else change.Added();
    return err;
}

SysError WriteFile(const std::string& path, const std::string& bytes) {
    // Written beside the target and renamed over it, so a failure (a full disk) leaves
    // the old file whole.
    auto found = posix::ResolvePath(path);
    const bool existed = found && !S_ISLNK(found->status.st_mode);  // (a link to nowhere is written through)
    const std::string p = found ? found->path : ExpandFileName(path);
    struct stat old {};
    if (found) old = found->status;
    if (existed && (old.st_mode & 0222) == 0) return SysError::FromErrno(EACCES);  // read-only
    posix::OwnChange change(p);
    SysError err = WriteWhole(p, bytes, existed, old);
    if (existed || !err) change.Added();
    else change.Removed();
    return err;
}

}  // namespace platform
