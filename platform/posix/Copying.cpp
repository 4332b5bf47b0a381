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

// File systems (by device) found not to clone files, so a run of many copies asks once.
std::mutex g_noCloneMutex;
std::vector<dev_t> g_noCloneDevices;

bool MayClone(dev_t device) {
    std::lock_guard lock(g_noCloneMutex);
    return std::find(g_noCloneDevices.begin(), g_noCloneDevices.end(), device) == g_noCloneDevices.end();
}

int Fd(const File& file) { return static_cast<int>(file.NativeHandle()); }

// The bytes of one open file into another, each fed to `hash` as it passes; up to the end of
// the source as it is read (a source that became shorter is copied as it is).
SysError CopyHashing(File& in, File& out, Sha256* hash) { return HashingCopy(in, out, *hash); }

// The bytes of one open file into another, just created or emptied: shared blocks where the
// file system offers them, else the kernel's copy, else a buffer.
SysError CopyContents(File& in, File& out, std::uint64_t size, dev_t device, Sha256* hash) {
    if (hash) return CopyHashing(in, out, hash);
    if (size > 0 && MayClone(device)) {
        if (::ioctl(Fd(out), FICLONE, Fd(in)) == 0) return {};
        if (errno == EOPNOTSUPP || errno == ENOTTY) {  // not this file system at all (other errors may pass)
            std::lock_guard lock(g_noCloneMutex);
            if (g_noCloneDevices.size() < 64) g_noCloneDevices.push_back(device);
        }
    }
    return in.CopyTo(out, size).error;  // a source that became shorter is copied as it is
}

}  // namespace

SysError CopyFile(const std::string& source, const std::string& dest) { return CopyFile(source, dest, nullptr); }

SysError CopyFile(const std::string& source, const std::string& dest, Sha256* hash) {
    // The source as given is opened first; its letter case is looked up only when that fails.
    File::Opened in = File::Open(ExpandFileName(source), File::Mode::Read);
    if (in.error.code == kErrorFileNotFound || in.error.code == kErrorPathNotFound) {
        auto resolved = posix::ResolveMissingSpelling(source);
        if (!resolved) return in.error;
        in = File::Open(*resolved, File::Mode::Read);
    }
    if (in.error) return in.error;
    struct stat st;
    if (::fstat(Fd(in.file), &st) != 0) return SysError::FromErrno(errno);
    // Another program holding the source exclusively, or writing under a record lock, makes
    // it "in use".
    if (!in.file.TryLock(false) || in.file.RangeLockedByAnother(false)) return SysError::FromErrno(EWOULDBLOCK);

    auto existing = posix::ResolvePath(dest);
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
    File::Opened out = File::Open(dst, existed ? File::Mode::Write : File::Mode::CreateNew);
    const bool fresh = !existed && !out.error;
    if (!existed && out.error.code == kErrorAlreadyExists) out = File::Open(dst, File::Mode::Write);  // made meanwhile
    if (out.error) return out.error;
    if (!out.file.TryLock(true)) return SysError::FromErrno(EWOULDBLOCK);
    if (!fresh && out.file.RangeLockedByAnother(true)) return SysError::FromErrno(EWOULDBLOCK);
    SysError err;
    if (!fresh) err = out.file.Truncate(0);
    if (!err) err = CopyContents(in.file, out.file, static_cast<std::uint64_t>(st.st_size), st.st_dev, hash);
    if (!err && ::fchmod(Fd(out.file), st.st_mode & 07777) != 0) err = SysError::FromErrno(errno);
    if (!err) {
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        if (::futimens(Fd(out.file), times) != 0) err = SysError::FromErrno(errno);
    }
    if (SysError closed = out.file.Close(); closed && !err) err = closed;
    if (err) ::unlink(dst.c_str());  // never leave a truncated copy behind
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
