#pragma once
// What the POSIX implementations of the file-system services share among themselves.
#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/File.h"
#include "platform/FileSystem.h"

namespace platform::posix {

char LowerAscii(char c);
bool EqualNoCase(const std::string& a, const std::string& b);
std::string LowerText(std::string s);
std::int64_t Nanos(const struct timespec& t);

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

// The rest of an open regular file whose size was `expected` when it was opened.
FileBytes ReadAll(File& file, std::size_t expected);

}  // namespace platform::posix
