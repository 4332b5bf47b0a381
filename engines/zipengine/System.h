// The engine's own way to the operating system (it is a self-contained library and links no
// platform layer): facts about a file, folder listings, files opened to be read at any
// position, the few changes an operation makes around the archive, and the clock of the
// compression trials. SystemPosix.cpp and SystemWin32.cpp implement it; the temporary archive
// itself is TempFile's.
//
// Paths are the caller's texts: bytes as given on POSIX systems; on Windows texts in the
// system's ANSI code page, where '\' and '/' both separate folders. Error codes are the
// system's own (errno, or GetLastError() on Windows); ErrorText() words them.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace zipengine::sys {

// What tells one file from another whatever name it was reached by (a link, a folder named
// twice): the device or volume and the file's number on it.
struct FileId {
    uint64_t volume = 0;
    uint64_t index = 0;
    auto operator<=>(const FileId&) const = default;
};

struct FileInfo {
    bool isFolder = false;
    bool isRegular = false;  // a plain file: not a folder, device, pipe or socket
    bool hidden = false;     // marked hidden or system (Windows only; names with a dot are the caller's rule)
    bool readOnly = false;
    uint64_t size = 0;
    time_t modified = 0;
    uint32_t mode = 0;  // what a replacing archive inherits: permission bits (POSIX) or attributes (Windows)
    FileId id;
};

// Facts about what `path` names, links followed; false when there is nothing there.
bool Stat(const std::string& path, FileInfo& info);
// True when the file at `path` can be opened to be read.
bool CanRead(const std::string& path);
// The names in `folder` but "." and "..", in no particular order; false when it cannot be
// listed. Names that the caller's texts cannot carry (outside the ANSI code page on Windows)
// go to `unnamable`, in the system's own spelling made readable.
bool ListFolder(const std::string& folder, std::vector<std::string>& names, std::vector<std::string>& unnamable);

// The part of a path that says where it begins, and the rest. On POSIX systems "/" or nothing,
// a leading "Z:" being the root as for the rest of the program (other drive letters are left
// for the lookup to fail); on Windows also "C:/", "C:" and "//server/share/", with either
// separator.
struct PathStart {
    std::string root;
    std::string rest;
};
PathStart SplitRoot(const std::string& path);
// The folder of `path` ("." when it names none; a root stays a root).
std::string FolderOf(const std::string& path);
bool IsSeparator(char c);

// A file open to be read at any position, closed with the object.
class File {
public:
    enum class Pattern { Random, Sequential };
    File() = default;
    ~File() { Close(); }
    File(File&& other) noexcept : m_handle(other.m_handle) { other.m_handle = kClosed; }
    File& operator=(File&& other) noexcept {
        if (this != &other) {
            Close();
            m_handle = other.m_handle;
            other.m_handle = kClosed;
        }
        return *this;
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens a regular file to read without waiting: a named pipe or a device where a file
    // was (put there since it was looked at, say) would hold the open up or be read forever,
    // so it is refused. Empty, or why the file was not opened.
    std::string Open(const std::string& path, Pattern pattern, FileInfo* info = nullptr);
    bool IsOpen() const { return m_handle != kClosed; }
    void Close();
    uint64_t Size() const;
    // Reads up to `count` bytes at `offset`: the number read (fewer only at the end of the
    // file), or -1 on an error.
    int64_t ReadAt(uint64_t offset, void* buffer, size_t count) const;
    // Reads exactly `count` bytes at `offset`; false when they are not all there.
    bool ReadFullyAt(uint64_t offset, void* buffer, size_t count) const;

private:
    static constexpr intptr_t kClosed = -1;
    intptr_t m_handle = kClosed;  // a descriptor, or a HANDLE on Windows
};

// Puts `from` in the place of `to` (a rename within one file system, replacing `to`); 0 or the
// system's error.
int RenameOver(const std::string& from, const std::string& to);
// True for the error of a rename across file systems or volumes.
bool IsOtherVolume(int error);
// Makes renames in `folder` durable before anything relies on them.
void SyncFolder(const std::string& folder);
// Deletes a file; 0 or the system's error.
int RemoveFile(const std::string& path);
// Sets the file's modification (and access) time.
void SetModified(const std::string& path, time_t when);
// The mode (FileInfo::mode) a newly made archive gets.
uint32_t NewFileMode();
// The system's words for an error code.
std::string ErrorText(int error);

// Seconds on the clock that times the compression trials against each other: the calling
// thread's CPU time, so other processes do not sway the choice, where the system measures it
// finely (POSIX systems); on Windows, whose thread times tick in steps of 10 ms or more (longer
// than a trial), a fine monotonic clock, the trials running back to back.
double TrialSeconds();

#ifdef _WIN32
// A path as the system's wide calls take it: the ANSI code page's text, '\' between folders.
std::wstring WidePath(const std::string& path);
// A FILETIME's count of 100-nanosecond steps since 1601 as a time_t.
time_t TimeOfFileTime(uint64_t fileTime);
#endif

}  // namespace zipengine::sys
