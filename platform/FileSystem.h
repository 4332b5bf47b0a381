#pragma once
// The file system with the semantics the program was designed for: name lookups ignore
// letter case, texts from MapInfo files may use '\' or '/' as separators, absolute Windows
// paths go through a drive map. Paths handed back are host paths ('/').
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/SysError.h"

namespace platform {
class Sha256;
}

namespace platform {

// File attribute bits, as in the Windows attribute set.
inline constexpr int kAttrReadOnly = 0x01;
inline constexpr int kAttrHidden = 0x02;
inline constexpr int kAttrDirectory = 0x10;
inline constexpr int kAttrArchive = 0x20;

// ---- current folder and path expansion -------------------------------------------------

std::string CurrentDir();  // absolute, no trailing separator (except "/")
SysError SetCurrentDir(const std::string& dir);

// Maps a Windows drive ("C") or share prefix ("\\server\share", any separators, any case)
// to a host folder. The map starts as "Z" = "/", then the [Drives] section of
// "Tallomir.INI" beside the program, then the variable TALLOMIR_DRIVES ("C=/mnt/c;D=/d"),
// so the program and its plugins see the same drives.
void SetDriveMapping(const std::string& drive, const std::string& hostFolder);
void ClearDriveMappings();  // back to the initial map
std::map<std::string, std::string> DriveMappings();

// The full host path of a text that may be a Windows path: '\' and '/' both separate,
// relative paths are taken from the current folder, "." and ".." are folded, a drive
// letter or share prefix goes through the drive map. An unmapped drive gives a path under
// "/nonexistent-drive/X/" that exists nowhere. A trailing separator is kept.
std::string ExpandFileName(const std::string& path);
// True when the text names a drive ("C:..."), a share ("\\srv\sh...") or starts at a root.
bool IsAbsoluteText(const std::string& path);

// ---- lookups (letter case ignored) ------------------------------------------------------

// The on-disk spelling of an existing path, matching each component without regard to
// case (an exact match wins). nullopt when nothing matches.
std::optional<std::string> ResolveCase(const std::string& path);
bool FileExists(const std::string& path);       // a file (not a folder), case ignored
bool DirectoryExists(const std::string& path);  // a folder, case ignored
bool PathExists(const std::string& path);       // anything, case ignored

struct DirEntry {
    std::string name;        // on-disk name, no folder
    std::uint64_t size = 0;  // 64-bit size (0 for folders)
    bool isDirectory = false;
    bool isHidden = false;        // name begins with a dot
    std::int64_t modifiedNs = 0;  // last change of the contents, ns since the epoch
};
// Every entry of `folder` (case-insensitive folder lookup) whose name matches `pattern`
// (with '*' and '?', case ignored), "." and ".." excepted, hidden entries and folders
// included, in order of their names with letter case ignored (the same order on every
// system and file system, so what is made from a listing is too).
// `folderChangedNs`, when given, receives the folder's modification time as it was before
// the listing, where every entry added, removed or renamed changes that time (as on POSIX
// file systems); elsewhere it receives nothing.
std::vector<DirEntry> FindFiles(const std::string& folder, const std::string& pattern,
                                std::optional<std::int64_t>* folderChangedNs = nullptr);

std::optional<std::uint64_t> FileSize(const std::string& path);
// The on-disk name, size and kind of one path (letter case ignored); links are followed.
std::optional<DirEntry> StatEntry(const std::string& path);
// The whole on-disk spelling of one path (as ResolveCase gives it) with its kind and size,
// found with as few questions to the file system as the lookup allows.
struct PathStatus {
    std::string path;
    std::uint64_t size = 0;  // 0 for folders
    bool isDirectory = false;
    bool isRegularFile = false;   // not a folder, device, pipe or socket
    std::int64_t modifiedNs = 0;  // last change of the contents, ns since the epoch
    std::uint64_t device = 0;     // with `inode`: which file this is, whatever its name
    std::uint64_t inode = 0;
};
std::optional<PathStatus> StatPath(const std::string& path);

// The present time on the clock file systems stamp changes with, in ns since the epoch.
std::int64_t FileClockNowNs();
// Whether what was read of a file or folder at `readAtNs`, whose time stamp was then
// `modifiedNs`, still stands while that time stamp is unchanged: only when the stamp lies
// clearly before the reading, as file-system clocks are coarse and a change in the same
// tick as the reading could otherwise go unseen.
bool ReadClearlyAfterChange(std::int64_t modifiedNs, std::int64_t readAtNs);

// ---- changes ----------------------------------------------------------------------------

// How a file is about to be used, for the test whether another program holds it.
enum class Access {
    Exclusive,   // read and written, shared with no other program
    SharedRead,  // read while other programs may read it too
};
// True when the file cannot be had for `access`. Exclusive: a file that is missing,
// read-only, in a read-only folder, without access rights, not a regular file, or held by
// another program in any way. SharedRead: a file another program keeps to itself or writes
// under a lock; a missing or unreadable one is not held (reading it says why).
bool HeldByAnother(const std::string& path, Access access);

// Copies a file, replacing an existing destination; mode and time stamps are carried over.
// Uses the kernel copy (a reflink where the file system offers it). A read-only
// destination is not replaced (access denied); a source or destination that is not a
// regular file (a named pipe, a device) is refused without waiting on it. A copy that
// fails part-way removes what it wrote, so no truncated file is left looking complete.
SysError CopyFile(const std::string& source, const std::string& dest);
// The same copy with every byte copied fed to `hash` as it passes: the bytes go through the
// program's buffer (no kernel copy), so nothing has to be read a second time to know them.
SysError CopyFile(const std::string& source, const std::string& dest, Sha256* hash);
// What a copy may be told beyond the plain copy.
struct CopyOptions {
    Sha256* hash = nullptr;  // as above: every byte copied is fed to it
    // `dest` is spelled as it is to be on disk, in a folder the caller made and knows holds no
    // entry of that name in any letter case: it is created without being looked for first.
    // Should one be there after all, the copy goes on as an ordinary one.
    bool newDestination = false;
    // The copy does not keep the source's read-only attribute.
    bool writable = false;
    // Given the source's status, as the copy found it, once the source could be opened.
    std::optional<PathStatus>* sourceStatus = nullptr;
};
SysError CopyFile(const std::string& source, const std::string& dest, const CopyOptions& options);
SysError CreateDir(const std::string& dir);
bool ForceDirectories(const std::string& dir);  // creates every missing parent
SysError RemoveDir(const std::string& dir);     // only an empty folder
SysError DeleteFile(const std::string& path);
SysError RenameFile(const std::string& from, const std::string& to);  // replaces `to`

// Attributes: -1 when the path does not exist. Read-only = no write permission bits.
int GetFileAttributes(const std::string& path);
SysError SetFileAttributes(const std::string& path, int attributes);

// Moves a file or folder to the desktop's trash (freedesktop.org).
SysError MoveToTrash(const std::string& path);

struct VolumeInfo {
    std::string root;   // mount point of the file system that holds the path
    std::string label;  // volume label, empty when it has none
    std::uint64_t totalBytes = 0;
    std::uint64_t freeBytes = 0;
};
std::optional<VolumeInfo> GetVolumeInfo(const std::string& path);

// A whole file's bytes, or the error that stopped the read.
struct FileBytes {
    std::optional<std::string> bytes;
    SysError error;
};
// Only a regular file is read, opened without waiting (see File::Open).
FileBytes ReadFile(const std::string& path);
// Why `path` could not be read, found by opening it for reading while sharing it with every
// other program, so that no one is kept out even for a moment; Ok when it can be.
SysError ProbeRead(const std::string& path);
// Writes a whole file, creating or replacing it; the old file stays whole on failure.
SysError WriteFile(const std::string& path, const std::string& bytes);
// The same for a file the caller knows is not there in any letter case (in a folder it made
// and keeps count of): created as spelled, without being looked for first. One found there
// after all is replaced as WriteFile replaces it.
SysError WriteNewFile(const std::string& path, const std::string& bytes);

// The folder that holds the running program, with a trailing '/'.
std::string ProgramDir();

}  // namespace platform
