// The operating system's side of the temporary archive: a file that no one sees until it is
// complete, so a run that dies (killed, crashed, power cut) leaves nothing behind.
//
// On POSIX systems (TempFilePosix.cpp), where the file system allows it, the file is created
// without a name and gets one only when Complete() is called; the caller then renames it over
// the archive. Elsewhere it is created under a name the engine recognises (TempFile::IsOwnName)
// and kept locked (flock) while open, and RemoveStaleIn() removes such files once they are
// stale. Test-only: the variable ZIPENGINE_TEST_NAMED_TEMP=1 forces the named file.
//
// On Windows (TempFileWin32.cpp) the file has its own name from the start, is opened without
// delete sharing (the lock that tells a live writer) and is marked for deletion once the last
// handle closes; Complete() clears the mark just before the caller renames it. (The mark is
// the file's disposition, which can be cleared; FILE_FLAG_DELETE_ON_CLOSE could not be.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace zipengine {

class TempFile {
public:
    TempFile() = default;
    ~TempFile() { Discard(); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    // Creates an empty file in `folder`, unnamed where possible; 0 or the system's error.
    int CreateIn(const std::string& folder);
    // Writes all of `data` at `position`; 0 or the system's error.
    int WriteAt(const unsigned char* data, size_t size, uint64_t position);
    // Cuts the file (or extends it with zeros) to `size`; 0 or the system's error.
    int Resize(uint64_t size);
    // Writes the file to disk, gives it a fresh recognisable name in its folder (Path()) if it
    // has none, and closes it; 0 or the first system error. The file is not deleted on failure.
    int Complete();
    // Closes (if open) and deletes the file.
    void Discard();
    // After the file was renamed into place: it is no longer ours to delete.
    void Forget() { m_path.clear(); }

    // Empty while the file has no name.
    const std::string& Path() const { return m_path; }
    // Gives the open file the permissions (POSIX) or attributes (Windows) an archive is to
    // have (sys::FileInfo::mode); 0 or the system's error.
    int SetMode(uint32_t mode);

    // True for names this class gives: ".~zipengine-" followed by six characters and ".tmp".
    static bool IsOwnName(const std::string& name);
    // Deletes the files in `folder` that runs which died left there: an own name, a regular
    // file no one holds a lock on, and unchanged for a day (see kStaleAge for why).
    static void RemoveStaleIn(const std::string& folder);

private:
    // A name of our own in m_folder: with random characters, or with the "XXXXXX" that
    // mkostemps fills in.
    std::string OwnName(bool random) const;
    static constexpr size_t kSuffixLength = 4;  // ".tmp"
    // A named temporary file is stale once no one holds its lock and it has not changed for
    // this long. The lock is what tells a live writer, however long it pauses (a suspended
    // machine); the age covers the moments a writer holds no lock (between creating and
    // locking the file, between Complete() and the rename) and file systems whose locks do not
    // reach other machines. A writer changes the file with every write, so a day without
    // change means no run writes it.
    static constexpr time_t kStaleAge = 24 * 60 * 60;

    intptr_t m_handle = -1;  // a descriptor, or a HANDLE on Windows; -1 when closed
    std::string m_folder;    // ending in a separator (or the ':' of a drive)
    std::string m_path;
};

}  // namespace zipengine
