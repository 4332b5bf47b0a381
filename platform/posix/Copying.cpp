// Copying a file, and the test whether another program holds one.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <vector>

#include "platform/Hash.h"
#include "platform/HashingCopy.h"
#include "platform/posix/PosixFileSystem.h"

namespace platform {
namespace {

// What the kernel was found not to do, so that a run of many copies asks once: file systems
// (by device) that share no blocks at all, and pairs of them (source, destination) between
// which blocks are not shared or the kernel does not copy (two file systems of different
// kinds, as a disk and a memory file system).
using DevicePair = std::pair<dev_t, dev_t>;
struct KernelLimits {
    std::mutex mutex;
    std::vector<dev_t> noClone;
    std::vector<DevicePair> noClonePair, noKernelCopy;
};
KernelLimits g_limits;

template <typename Item>
bool Known(const std::vector<Item>& list, const Item& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}
template <typename Item>
void Remember(std::vector<Item>& list, const Item& item) {
    std::lock_guard lock(g_limits.mutex);
    if (list.size() < 64 && !Known(list, item)) list.push_back(item);
}

int Fd(const File& file) { return static_cast<int>(file.NativeHandle()); }

// The bytes of one open file (status `from`) into another on device `to`, just created or
// emptied: with `hash`, through the program's buffers, each byte fed to it; otherwise shared
// blocks where the file system offers them, else the kernel's copy, else a buffer. Up to the
// source's size as it was opened; a source that became shorter is copied as it is.
SysError CopyContents(File& in, const struct stat& from, File& out, dev_t to, Sha256* hash) {
    if (hash) return HashingCopy(in, out, *hash);
    const auto size = static_cast<std::uint64_t>(from.st_size);
    if (size == 0) return {};
    const DevicePair pair{from.st_dev, to};
    bool mayClone, kernelCopies;
    {
        std::lock_guard lock(g_limits.mutex);
        mayClone = !Known(g_limits.noClone, from.st_dev) && !Known(g_limits.noClonePair, pair);
        kernelCopies = !Known(g_limits.noKernelCopy, pair);
    }
    if (mayClone) {
        if (::ioctl(Fd(out), FICLONE, Fd(in)) == 0) return {};
        // Not this file system at all, or not between these two; other errors may pass.
        if (errno == EOPNOTSUPP || errno == ENOTTY) Remember(g_limits.noClone, from.st_dev);
        else if (errno == EXDEV) Remember(g_limits.noClonePair, pair);
    }
    if (!kernelCopies) return in.CopyThroughBuffer(out, size, {}).error;
    const File::CopyResult copied = in.CopyTo(out, size);
    if (copied.crossDevice) Remember(g_limits.noKernelCopy, pair);
    return copied.error;
}

// The permission bits a copy of a file with mode `mode` gets.
mode_t CopyMode(mode_t mode, bool writable) {
    mode &= 07777;
    if (writable && (mode & 0222) == 0) mode |= S_IWUSR;  // as clearing read-only does
    return mode;
}

// The contents, mode and time stamps of the source open as `in` (status `st`) into `out`,
// just created (status `outStatus`) or opened and locked; a copy that fails part-way removes
// its file.
SysError FillCopy(File& in, const struct stat& st, File::Opened& out, const struct stat& outStatus, bool fresh,
                  const std::string& dst, const CopyOptions& options) {
    SysError err;
    if (!fresh) err = out.file.Truncate(0);
    if (!err) err = CopyContents(in, st, out.file, outStatus.st_dev, options.hash);
    const mode_t mode = CopyMode(st.st_mode, options.writable);
    if (!err && (!fresh || (outStatus.st_mode & 07777) != mode) && ::fchmod(Fd(out.file), mode) != 0)
        err = SysError::FromErrno(errno);
    if (!err) {
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        if (::futimens(Fd(out.file), times) != 0) err = SysError::FromErrno(errno);
    }
    if (SysError closed = out.file.Close(); closed && !err) err = closed;
    if (err) ::unlink(dst.c_str());  // never leave a truncated copy behind
    return err;
}

}  // namespace

SysError CopyFile(const std::string& source, const std::string& dest) { return CopyFile(source, dest, CopyOptions{}); }

SysError CopyFile(const std::string& source, const std::string& dest, Sha256* hash) {
    CopyOptions options;
    options.hash = hash;
    return CopyFile(source, dest, options);
}

SysError CopyFile(const std::string& source, const std::string& dest, const CopyOptions& options) {
    // The source as given is opened first; its letter case is looked up only when that fails.
    struct stat st;
    std::string from = ExpandFileName(source);
    File::Opened in = posix::OpenFile(from, File::Mode::Read, &st);
    if (in.error.code == kErrorFileNotFound || in.error.code == kErrorPathNotFound) {
        auto resolved = posix::ResolveMissingSpelling(source);
        if (!resolved) return in.error;
        from = std::move(*resolved);
        in = posix::OpenFile(from, File::Mode::Read, &st);
    }
    if (in.error) return in.error;
    if (options.sourceStatus) *options.sourceStatus = posix::StatusOf(from, st);
    // Another program holding the source exclusively, or writing under a record lock, makes
    // it "in use".
    if (!in.file.TryLock(false) || in.file.RangeLockedByAnother(false)) return SysError::FromErrno(EWOULDBLOCK);

    std::optional<posix::ResolvedPath> existing;
    if (!options.newDestination) existing = posix::ResolvePath(dest);
    const bool existed = existing && !S_ISLNK(existing->status.st_mode);
    const std::string dst = existed ? existing->path : ExpandFileName(dest);
    if (existed) {
        if (existing->status.st_dev == st.st_dev && existing->status.st_ino == st.st_ino)
            return {kErrorSharingViolation, "The source and the destination are the same file."};
        if ((existing->status.st_mode & 0222) == 0) return SysError::FromErrno(EACCES);  // read-only
    }
    // A new destination is created empty. Only an existing one is truncated, and only once it
    // is locked: truncating a new file would also make some file systems (ext4) flush it on
    // close, as they do for files replaced by truncation, which slows copying many files. An
    // existing destination is opened as a file the user named: a pipe or a device there is
    // refused, never waited on or written through.
    posix::OwnChange change(dst);
    struct stat outStatus;
    File::Opened out = posix::OpenFile(dst, existed ? File::Mode::Write : File::Mode::CreateNew, &outStatus);
    if (options.newDestination && out.error.code == kErrorAlreadyExists) {
        CopyOptions ordinary = options;  // there after all: looked up and checked as usual
        ordinary.newDestination = false;
        in.file.Close();
        return CopyFile(source, dest, ordinary);
    }
    const bool fresh = !existed && !out.error;
    if (!existed && out.error.code == kErrorAlreadyExists)
        out = posix::OpenFile(dst, File::Mode::Write, &outStatus);  // made meanwhile
    if (out.error) return out.error;
    if (!out.file.TryLock(true)) return SysError::FromErrno(EWOULDBLOCK);
    if (!fresh && out.file.RangeLockedByAnother(true)) return SysError::FromErrno(EWOULDBLOCK);
    SysError err = FillCopy(in.file, st, out, outStatus, fresh, dst, options);
    if (err) change.Removed();
    else change.Added();
    return err;
}

bool HeldByAnother(const std::string& path, Access access) {
    if (access == Access::SharedRead) {
        // A missing or unreadable file is not held: reading it reports why.
        auto resolved = ResolveCase(path);
        if (!resolved) return false;
        File::Opened opened = File::Open(*resolved, File::Mode::Read);
        if (opened.error) return false;
        // Readers share; a program that holds the file exclusively keeps it to itself.
        return !opened.file.TryLock(false) || opened.file.RangeLockedByAnother(false);
    }
    auto found = posix::ResolvePath(path);
    if (!found || !S_ISREG(found->status.st_mode)) return true;
    // Read-only files count as in use even for a user who could write them anyway, and so do
    // files in a read-only folder (they can be written but not replaced or removed).
    if ((found->status.st_mode & 0222) == 0) return true;
    const std::string& resolved = found->path;
    struct stat folder;
    const std::string parent = resolved.substr(0, std::max<std::size_t>(resolved.rfind('/'), 1));
    if (::stat(parent.c_str(), &folder) != 0 || (folder.st_mode & 0222) == 0) return true;
    // Opened without waiting: a pipe or a device may have taken the file's place since.
    File::Opened opened = File::Open(resolved, File::Mode::ReadWrite);
    if (opened.error) return true;
    // The file closes on return, which drops the lock at once.
    return !opened.file.TryLock(true) || opened.file.RangeLockedByAnother(true);
}

}  // namespace platform
