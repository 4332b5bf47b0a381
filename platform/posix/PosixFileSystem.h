#pragma once
// What the POSIX implementations of the file-system services share among themselves.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/File.h"
#include "platform/FileSystem.h"

namespace platform::posix {

std::int64_t Nanos(const struct timespec& t);
// The status of the file at the host path `path`, from what stat said of it.
PathStatus StatusOf(std::string path, const struct stat& st);

// An open folder listing, closed when it goes out of scope.
struct DirCloser {
    void operator()(DIR* d) const {
        if (d) ::closedir(d);
    }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// The on-disk spelling of a path (as ResolveCase finds it) with the status of what it names,
// links followed (a link to nowhere: the link's own), found with as few questions to the
// file system as the lookup allows.
struct ResolvedPath {
    std::string path;
    struct stat status {};
};
std::optional<ResolvedPath> ResolvePath(const std::string& path);
// The on-disk spelling of a path that the caller has just found missing as spelled, for a
// caller that opens what is found and asks it for its status itself.
std::optional<std::string> ResolveMissingSpelling(const std::string& path);

// Keeps the kept listing of a folder up to date across a change this program makes in it (a
// file or folder made, replaced or removed), so that the next lookup there needs no new
// listing. Made just before the change, told after it succeeded; costs two questions to the
// file system only where a listing of the folder is kept. A change by another program in the
// same clock tick as this one would go unseen until the folder changes again.
class OwnChange {
public:
    explicit OwnChange(const std::string& path);  // the host path of the entry that changes
    void Added() { Done(true); }
    void Removed() { Done(false); }

private:
    void Done(bool present);

    std::string m_folder, m_name;
    std::int64_t m_before = 0;
    bool m_tracked = false;
};
// Drops the kept listing of a folder (for changes OwnChange does not describe).
void ForgetListing(const std::string& folder);

// File::Open, handing back the opened file's status too (`status` may be null); a file
// created new is not asked for it unless the caller wants it.
File::Opened OpenFile(const std::string& path, File::Mode mode, struct stat* status);

// The rest of an open regular file whose size was `expected` when it was opened.
FileBytes ReadAll(File& file, std::size_t expected);

}  // namespace platform::posix
