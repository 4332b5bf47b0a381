// The operating system's side of the temporary archive: a file that no one sees until it is
// complete, so a run that dies (killed, crashed, power cut) leaves nothing behind.
//
// Where the file system allows it the file is created without a name and gets one only when
// Complete() is called; the caller then renames it over the archive. Elsewhere it is created
// under a name the engine recognises (TempFile::IsOwnName) and kept locked (flock) while
// open, and RemoveStaleIn() removes such files once they are stale.
//
// TempFilePosix.cpp is the only implementation so far. A Windows one would stand beside it
// with the same members: a named file marked for deletion on close, the mark cleared in
// Complete() just before the caller renames it. (FileDispositionInfo cannot clear the mark of
// FILE_FLAG_DELETE_ON_CLOSE; FileDispositionInfoEx with FILE_DISPOSITION_FLAG_ON_CLOSE can.)
//
// Test-only: the variable ZIPENGINE_TEST_NAMED_TEMP=1 forces the named file.
#pragma once

#include <cstddef>
#include <cstdint>
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
    // The open descriptor (-1 when closed), for setting the archive's permissions.
    int Descriptor() const { return m_fd; }

    // True for names this class gives: ".~zipengine-" followed by six characters and ".tmp".
    static bool IsOwnName(const std::string& name);
    // Deletes the files in `folder` that runs which died left there: an own name, a regular
    // file no one holds a lock on, and unchanged for a day (see TempFilePosix.cpp for why).
    static void RemoveStaleIn(const std::string& folder);

private:
    int m_fd = -1;
    std::string m_folder;  // with a trailing '/'
    std::string m_path;
};

}  // namespace zipengine
