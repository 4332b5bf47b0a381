// Copying a file, and the test whether another program holds one: the system's share modes
// tell.
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Hash.h"
#include "platform/HashingCopy.h"
#include "platform/win32/WinText.h"

namespace platform {
namespace {

// A file another program keeps to itself fails to open with a sharing violation (or, for a
// range it locked, refuses a lock of ours over it).
bool Refused(const std::string& path, DWORD access, DWORD share) {
    win32::Handle h(::CreateFileW(win32::NativePath(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.IsValid()) return true;
    if (::GetFileType(h.Get()) != FILE_TYPE_DISK) return true;
    OVERLAPPED whole{};
    const DWORD lock = LOCKFILE_FAIL_IMMEDIATELY | ((access & GENERIC_WRITE) ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (!::LockFileEx(h.Get(), lock, 0, MAXDWORD, MAXDWORD, &whole)) return true;
    whole = OVERLAPPED{};
    ::UnlockFileEx(h.Get(), 0, MAXDWORD, MAXDWORD, &whole);
    return false;
}

bool IsReadOnly(const std::string& path) {
    const DWORD a = ::GetFileAttributesW(win32::NativePath(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY);
}

HANDLE Native(const File& file) { return reinterpret_cast<HANDLE>(file.NativeHandle()); }

// The bytes of `in` into the new or emptied file `to`, each fed to `hash` as it passes, with
// the source's attributes and time of the last change carried over.
SysError CopyHashing(File& in, const std::string& from, const std::string& to, Sha256* hash) {
    File::Opened out = File::Open(to, File::Mode::Replace);
    if (out.error) return out.error;
    SysError err = HashingCopy(in, out.file, *hash);
    FILETIME written{};
    if (!err && ::GetFileTime(Native(in), nullptr, nullptr, &written))
        ::SetFileTime(Native(out.file), nullptr, nullptr, &written);
    if (SysError closed = out.file.Close(); closed && !err) err = closed;
    if (err) {
        ::DeleteFileW(win32::NativePath(to).c_str());
        return err;
    }
    const DWORD attributes = ::GetFileAttributesW(win32::NativePath(from).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) ::SetFileAttributesW(win32::NativePath(to).c_str(), attributes);
    return {};
}

}  // namespace

SysError CopyFile(const std::string& source, const std::string& dest) { return CopyFile(source, dest, CopyOptions{}); }

SysError CopyFile(const std::string& source, const std::string& dest, Sha256* hash) {
    CopyOptions options;
    options.hash = hash;
    return CopyFile(source, dest, options);
}

namespace {

// The copy itself: the destination is looked for in every case, as the system does anyway.
SysError CopyCarryingAttributes(const std::string& from, const std::string& to, const CopyOptions& options) {
    Sha256* hash = options.hash;
    // The source is opened as the copy will read it, so a pipe or a device is refused here
    // and a file another program writes is reported in use.
    File::Opened in = File::Open(from, File::Mode::Read);
    if (in.error) return in.error;
    auto fromStatus = StatPath(from);
    if (options.sourceStatus) *options.sourceStatus = fromStatus;
    if (auto toStatus = StatPath(to)) {
        if (toStatus->isDirectory) return win32::FromWin32(ERROR_ACCESS_DENIED);
        if (!toStatus->isRegularFile) return {kErrorAccessDenied, "Not a regular file"};
        if (fromStatus && fromStatus->device == toStatus->device && fromStatus->inode == toStatus->inode)
            return {kErrorSharingViolation, "The source and the destination are the same file."};
        if (IsReadOnly(to)) return win32::FromWin32(ERROR_ACCESS_DENIED);
    }
    if (hash) return CopyHashing(in.file, from, to, hash);
    in.file.Close();
    // The system's copy carries the attributes and the time of the last change over.
    BOOL cancel = FALSE;
    if (!::CopyFileExW(win32::NativePath(from).c_str(), win32::NativePath(to).c_str(), nullptr, nullptr, &cancel, 0)) {
        SysError err = win32::LastError();
        // A copy that failed part-way leaves no truncated file looking complete; one that
        // never started (the destination held by another program) leaves it as it was.
        if (err.code != kErrorSharingViolation && err.code != kErrorAccessDenied && err.code != ERROR_LOCK_VIOLATION)
            ::DeleteFileW(win32::NativePath(to).c_str());
        return err;
    }
    return {};
}

}  // namespace

SysError CopyFile(const std::string& source, const std::string& dest, const CopyOptions& options) {
    const std::string to = ExpandFileName(dest);
    if (SysError err = CopyCarryingAttributes(ExpandFileName(source), to, options)) return err;
    if (options.writable && IsReadOnly(to)) {
        const DWORD attributes = ::GetFileAttributesW(win32::NativePath(to).c_str());
        ::SetFileAttributesW(win32::NativePath(to).c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
    return {};
}

bool HeldByAnother(const std::string& path, Access access) {
    const std::string full = ExpandFileName(path);
    if (access == Access::SharedRead) {
        // A missing or unreadable file is not held: reading it reports why.
        if (!PathExists(full)) return false;
        win32::Handle h(::CreateFileW(win32::NativePath(full).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!h.IsValid()) return ::GetLastError() == ERROR_SHARING_VIOLATION;
        return Refused(full, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    }
    // Read-only files count as in use even where the system would let this user write them.
    auto status = StatPath(full);
    if (!status || !status->isRegularFile || IsReadOnly(full)) return true;
    // Shared with no one: any other opener makes this fail.
    return Refused(full, GENERIC_READ | GENERIC_WRITE, 0);
}

}  // namespace platform
