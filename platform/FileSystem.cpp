#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QFile>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <sstream>
#include <unordered_map>
#include <time.h>

namespace platform {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

std::string LowerText(std::string s) {
    for (char& c : s) c = LowerAscii(c);
    return s;
}

// A file descriptor closed when it goes out of scope.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() { if (fd >= 0) ::close(fd); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int release() { int f = fd; fd = -1; return f; }
};

SysError NotRegularFile() { return {kErrorAccessDenied, "Not a regular file"}; }

// A file opened by OpenRegular, with what the open file reported of itself.
struct Opened {
    UniqueFd fd;
    struct stat st {};
    SysError error;
};

// Opens `path` without waiting and keeps it only when it is a regular file: a named pipe
// would hold the open up until a writer (or reader) comes, and it or a device would be
// read forever. The descriptor blocks again once it is known to be a file.
Opened OpenRegular(const std::string& path, int flags, mode_t mode) {
    Opened o;
    o.fd = UniqueFd(::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode));
    if (!o.fd) {
        // (a pipe nobody reads, or a device without its hardware, refuses a waitless open)
        o.error = errno == ENXIO ? NotRegularFile() : SysError::FromErrno(errno);
        return o;
    }
    if (::fstat(o.fd.get(), &o.st) != 0) o.error = SysError::FromErrno(errno);
    else if (S_ISDIR(o.st.st_mode)) o.error = SysError::FromErrno(EISDIR);
    else if (!S_ISREG(o.st.st_mode)) o.error = NotRegularFile();
    else if (::fcntl(o.fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) o.error = SysError::FromErrno(errno);
    if (o.error) o.fd = UniqueFd();
    return o;
}

// The rest of an open regular file whose size was `expected` when it was opened.
FileBytes ReadAll(int fd, std::size_t expected) {
    std::string data;
    data.reserve(expected);
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
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

struct DirCloser {
    void operator()(DIR* d) const { if (d) ::closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

std::mutex g_driveMutex;

// Normalises a drive key: "C" / "c:" -> "c"; "\\Srv\Share" -> "//srv/share".
std::string DriveKey(std::string drive) {
    std::replace(drive.begin(), drive.end(), '\\', '/');
    while (!drive.empty() && drive.back() == '/') drive.pop_back();
    if (drive.size() == 2 && drive[1] == ':') drive.resize(1);
    return LowerText(drive);
}

std::string TrimBlanks(const std::string& s) {
    std::size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return {};
    std::size_t b = s.find_last_not_of(" \t\r");
    return s.substr(a, b - a + 1);
}

void AddMapping(std::map<std::string, std::string>& map, const std::string& drive, std::string host) {
    while (host.size() > 1 && host.back() == '/') host.pop_back();
    if (!drive.empty() && !host.empty()) map[DriveKey(drive)] = host;
}

// The drive map every copy of this layer starts from (the program and each plugin alike):
// Z = /, then the section [Drives] of "Tallomir.INI" beside the program ("C=/mnt/c",
// "\\server\share=/srv/share"), then TALLOMIR_DRIVES ("C=/mnt/c;D=/media/d").
std::map<std::string, std::string> InitialDriveMap() {
    std::map<std::string, std::string> map{{"z", "/"}};
    Opened file = OpenRegular(ProgramDir() + "Tallomir.INI", O_RDONLY, 0);
    std::istringstream ini(
        file.error ? std::string() : ReadAll(file.fd.get(), static_cast<std::size_t>(file.st.st_size)).bytes.value_or(""));
    bool inDrives = false;
    for (std::string line; std::getline(ini, line);) {
        line = TrimBlanks(line);
        if (!line.empty() && line[0] == '[') {
            inDrives = EqualNoCase(TrimBlanks(line.substr(1, line.find(']') - 1)), "Drives");
        } else if (inDrives && line.find('=') != std::string::npos) {
            AddMapping(map, TrimBlanks(line.substr(0, line.find('='))), TrimBlanks(line.substr(line.find('=') + 1)));
        }
    }
    if (const char* env = std::getenv("TALLOMIR_DRIVES")) {
        std::istringstream list(env);
        for (std::string item; std::getline(list, item, ';');)
            if (item.find('=') != std::string::npos)
                AddMapping(map, TrimBlanks(item.substr(0, item.find('='))), TrimBlanks(item.substr(item.find('=') + 1)));
    }
    return map;
}

std::map<std::string, std::string>& DriveMap() {
    static std::map<std::string, std::string> map = InitialDriveMap();
    return map;
}

std::string LookupDrive(const std::string& key) {
    std::lock_guard lock(g_driveMutex);
    auto it = DriveMap().find(key);
    if (it != DriveMap().end()) return it->second;
    std::string missing = key;
    std::replace(missing.begin(), missing.end(), '/', '_');
    return "/nonexistent-drive/" + missing;  // an unmapped drive holds no files
}

// Folds "." and ".." of an absolute '/'-separated path.
std::string FoldPath(const std::string& path) {
    // Most paths need no folding: no "//", no "." or ".." component.
    bool clean = path.find("//") == std::string::npos;
    for (std::size_t dot = path.find("/."); clean && dot != std::string::npos; dot = path.find("/.", dot + 1)) {
        std::size_t after = dot + 2;
        if (after == path.size() || path[after] == '/' ||
            (path[after] == '.' && (after + 1 == path.size() || path[after + 1] == '/')))
            clean = false;
    }
    if (clean && !path.empty()) return path;
    bool trailing = path.size() > 1 && path.back() == '/';
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
        start = end + 1;
    }
    std::string out;
    for (const auto& p : parts) out += "/" + p;
    if (out.empty()) return "/";
    if (trailing) out += '/';
    return out;
}

bool StatPath(const std::string& path, struct stat& st) { return ::stat(path.c_str(), &st) == 0; }

}  // namespace

// ---- current folder and path expansion -------------------------------------------------

std::string CurrentDir() {
    std::string buf(PATH_MAX, '\0');
    if (!::getcwd(buf.data(), buf.size())) return "/";
    buf.resize(std::strlen(buf.c_str()));
    return buf;
}

SysError SetCurrentDir(const std::string& dir) {
    auto resolved = ResolveCase(dir);
    std::string target = resolved ? *resolved : ExpandFileName(dir);
    if (::chdir(target.c_str()) != 0) return SysError::FromErrno(errno);
    return {};
}

void SetDriveMapping(const std::string& drive, const std::string& hostFolder) {
    std::lock_guard lock(g_driveMutex);
    AddMapping(DriveMap(), drive, hostFolder);
}

void ClearDriveMappings() {
    std::lock_guard lock(g_driveMutex);
    DriveMap() = InitialDriveMap();
}

std::map<std::string, std::string> DriveMappings() {
    std::lock_guard lock(g_driveMutex);
    return DriveMap();
}

bool IsAbsoluteText(const std::string& path) {
    if (path.empty()) return false;
    if (path[0] == '/' || path[0] == '\\') return true;
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

std::string ExpandFileName(const std::string& path) {
    std::string p = path;
    std::replace(p.begin(), p.end(), '\\', '/');
    std::string host;
    if (p.size() >= 2 && p[0] == '/' && p[1] == '/') {
        // \\server\share\rest: the share prefix goes through the drive map.
        std::size_t serverEnd = p.find('/', 2);
        std::size_t shareEnd = serverEnd == std::string::npos ? std::string::npos
                                                              : p.find('/', serverEnd + 1);
        std::string prefix = p.substr(0, shareEnd);
        std::string rest = shareEnd == std::string::npos ? "" : p.substr(shareEnd);
        host = LookupDrive(DriveKey(prefix)) + "/" + rest;
    } else if (p.size() >= 2 && p[1] == ':' && IsAbsoluteText(p)) {
        host = LookupDrive(DriveKey(p.substr(0, 1))) + "/" + p.substr(2);
    } else if (!p.empty() && p[0] == '/') {
        host = p;
    } else {
        host = CurrentDir() + "/" + p;
    }
    return FoldPath(host);
}

// ---- lookups ------------------------------------------------------------------------------

namespace {

// The names of one folder, in directory order, with a case-folded index. Listings are kept
// between calls: a listing is used again only while the folder's modification time is
// unchanged and was read clearly after it (ReadClearlyAfterChange).
struct DirListing {
    std::int64_t mtime = 0;
    std::int64_t listedAt = 0;
    std::vector<std::string> names;
    std::unordered_map<std::string, std::size_t> byLowerName;  // first in directory order
    std::vector<std::pair<std::string, std::size_t>> sortedLower;  // for prefix searches
};

std::mutex g_listingMutex;
std::unordered_map<std::string, std::shared_ptr<const DirListing>> g_listings;
constexpr std::size_t kMaxListings = 4096;

std::int64_t Nanos(const struct timespec& t) { return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000LL + t.tv_nsec; }

bool Trusted(const DirListing& l, const struct stat& st) {
    return l.mtime == Nanos(st.st_mtim) && ReadClearlyAfterChange(l.mtime, l.listedAt);
}

// `known` is the folder's status when the caller has just read it, which saves asking again.
std::shared_ptr<const DirListing> ListDirectory(const std::string& dir, const struct stat* known = nullptr) {
    struct stat st;
    if (known) {
        st = *known;
    } else if (::stat(dir.c_str(), &st) != 0) {
        return nullptr;
    }
    if (!S_ISDIR(st.st_mode)) return nullptr;
    {
        std::lock_guard lock(g_listingMutex);
        auto it = g_listings.find(dir);
        if (it != g_listings.end() && Trusted(*it->second, st)) return it->second;
    }
    auto listing = std::make_shared<DirListing>();
    listing->mtime = Nanos(st.st_mtim);
    listing->listedAt = FileClockNowNs();
    DirHandle handle(::opendir(dir.c_str()));
    if (!handle) return nullptr;
    while (dirent* e = ::readdir(handle.get())) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string lower = LowerText(name);
        listing->byLowerName.emplace(lower, listing->names.size());
        listing->sortedLower.emplace_back(std::move(lower), listing->names.size());
        listing->names.push_back(std::move(name));
    }
    std::sort(listing->sortedLower.begin(), listing->sortedLower.end());
    std::lock_guard lock(g_listingMutex);
    if (g_listings.size() >= kMaxListings) g_listings.clear();
    g_listings[dir] = listing;
    return listing;
}

// The on-disk spelling of `name` inside the existing folder `dir` ("" = root).
std::optional<std::string> FindEntryNoCase(const std::string& dir, const std::string& name,
                                           const struct stat* dirStatus = nullptr) {
    auto listing = ListDirectory(dir.empty() ? "/" : dir, dirStatus);
    if (!listing) return std::nullopt;
    auto it = listing->byLowerName.find(LowerText(name));
    if (it == listing->byLowerName.end()) return std::nullopt;
    return listing->names[it->second];
}

}  // namespace

namespace {

// ResolveCase that also hands back the status of what it found (links followed), so the
// common questions cost as few system calls as possible. False when nothing matches.
// `exactMissing`: the caller already knows the spelling as given does not exist.
// `wantStatus` false: the caller opens what is found and asks it itself, so `st` is left
// unset when the spelling came from a folder listing.
bool ResolveWithStat(const std::string& path, std::string& resolved, struct stat& st, bool exactMissing = false,
                     bool wantStatus = true) {
    std::string full = ExpandFileName(path);
    if (!exactMissing && ::stat(full.c_str(), &st) == 0) {  // the exact spelling exists
        resolved = std::move(full);
        return true;
    }
    bool trailing = full.size() > 1 && full.back() == '/';
    if (trailing) full.pop_back();
    std::size_t slash = full.rfind('/');
    std::string parent = full.substr(0, slash);
    std::string current;  // resolved so far, "" = root
    std::size_t start = 1;
    bool lastOnly = false;
    struct stat parentStatus;
    if (!parent.empty() && ::stat(parent.c_str(), &parentStatus) == 0 && S_ISDIR(parentStatus.st_mode)) {
        current = parent;  // only the last name differs in letter case
        start = slash + 1;
        lastOnly = true;
    }
    while (start <= full.size()) {
        std::size_t end = full.find('/', start);
        if (end == std::string::npos) end = full.size();
        std::string part = full.substr(start, end - start);
        start = end + 1;
        if (part.empty()) continue;
        if (!lastOnly) {
            std::string exact = current + "/" + part;
            if (::lstat(exact.c_str(), &st) == 0) {
                current = std::move(exact);
                continue;
            }
        }
        auto found = FindEntryNoCase(current, part, lastOnly ? &parentStatus : nullptr);
        lastOnly = false;
        if (!found) return false;
        current += "/" + *found;
    }
    if (current.empty()) current = "/";
    if (wantStatus && ::stat(current.c_str(), &st) != 0 && ::lstat(current.c_str(), &st) != 0) return false;
    if (trailing && current != "/") current += '/';
    resolved = std::move(current);
    return true;
}

}  // namespace

std::optional<std::string> ResolveCase(const std::string& path) {
    std::string resolved;
    struct stat st;
    if (!ResolveWithStat(path, resolved, st)) return std::nullopt;
    return resolved;
}

std::optional<DirEntry> StatEntry(const std::string& path) {
    std::string resolved;
    struct stat st;
    if (!ResolveWithStat(path, resolved, st)) return std::nullopt;
    DirEntry entry;
    std::string trimmed = resolved.size() > 1 && resolved.back() == '/' ? resolved.substr(0, resolved.size() - 1) : resolved;
    entry.name = trimmed.substr(trimmed.rfind('/') + 1);
    entry.isDirectory = S_ISDIR(st.st_mode);
    entry.isHidden = !entry.name.empty() && entry.name[0] == '.';
    entry.size = entry.isDirectory ? 0 : static_cast<std::uint64_t>(st.st_size);
    return entry;
}

std::int64_t FileClockNowNs() {
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return Nanos(now);
}

bool ReadClearlyAfterChange(std::int64_t modifiedNs, std::int64_t readAtNs) {
    constexpr std::int64_t kMarginNs = 50'000'000;  // 50 ms: many clock ticks of any file system
    return modifiedNs < readAtNs - kMarginNs;
}

std::optional<PathStatus> StatPath(const std::string& path) {
    PathStatus status;
    struct stat st;
    if (!ResolveWithStat(path, status.path, st)) return std::nullopt;
    status.isDirectory = S_ISDIR(st.st_mode);
    status.isRegularFile = S_ISREG(st.st_mode);
    status.size = status.isDirectory ? 0 : static_cast<std::uint64_t>(st.st_size);
    status.modifiedNs = Nanos(st.st_mtim);
    status.device = static_cast<std::uint64_t>(st.st_dev);
    status.inode = static_cast<std::uint64_t>(st.st_ino);
    return status;
}

bool FileExists(const std::string& path) {
    auto e = StatEntry(path);
    return e && !e->isDirectory;
}

bool DirectoryExists(const std::string& path) {
    auto e = StatEntry(path);
    return e && e->isDirectory;
}

bool PathExists(const std::string& path) { return ResolveCase(path).has_value(); }

bool WildcardMatch(const std::string& pattern, const std::string& name) {
    // Iterative match with one backtrack point for the last '*'.
    std::size_t p = 0, n = 0, starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || LowerAscii(pattern[p]) == LowerAscii(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::vector<DirEntry> FindFiles(const std::string& folder, const std::string& pattern) {
    std::vector<DirEntry> out;
    std::string dirPath;
    struct stat dirStatus;
    if (!ResolveWithStat(folder, dirPath, dirStatus)) return out;
    auto listing = ListDirectory(dirPath, &dirStatus);
    if (!listing) return out;
    if (dirPath.back() != '/') dirPath += '/';
    // Only names that begin with the pattern's literal prefix can match: find them in the
    // sorted index, then keep directory order.
    const std::string prefix = LowerText(pattern.substr(0, pattern.find_first_of("*?")));
    std::vector<std::size_t> candidates;
    for (auto it = std::lower_bound(listing->sortedLower.begin(), listing->sortedLower.end(),
                                    std::make_pair(prefix, std::size_t{0}));
         it != listing->sortedLower.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it)
        candidates.push_back(it->second);
    std::sort(candidates.begin(), candidates.end());
    for (std::size_t index : candidates) {
        const std::string& name = listing->names[index];
        if (!WildcardMatch(pattern, name)) continue;
        DirEntry entry;
        entry.name = name;
        entry.isHidden = name[0] == '.';
        struct stat st;
        const std::string path = dirPath + name;
        if (::stat(path.c_str(), &st) == 0) {
            entry.isDirectory = S_ISDIR(st.st_mode);
            entry.size = entry.isDirectory ? 0 : static_cast<std::uint64_t>(st.st_size);
        } else if (::lstat(path.c_str(), &st) != 0) {
            continue;  // gone since the folder was listed
        }
        out.push_back(std::move(entry));
    }
    return out;
}

std::optional<std::uint64_t> FileSize(const std::string& path) {
    auto e = StatEntry(path);
    if (!e || e->isDirectory) return std::nullopt;
    return e->size;
}

// ---- changes --------------------------------------------------------------------------------

namespace {

// File systems (by device) found not to clone files, so a run of many copies asks once.
std::mutex g_noCloneMutex;
std::vector<dev_t> g_noCloneDevices;

bool MayClone(dev_t device) {
    std::lock_guard lock(g_noCloneMutex);
    return std::find(g_noCloneDevices.begin(), g_noCloneDevices.end(), device) == g_noCloneDevices.end();
}

// Copies the bytes of one open file to another: a reflink where possible, else the kernel
// copy, else plain reads and writes. `device` holds the source.
SysError CopyBytes(int in, int out, std::uint64_t size, dev_t device) {
    if (size > 0 && MayClone(device)) {
        if (::ioctl(out, FICLONE, in) == 0) return {};
        if (errno == EOPNOTSUPP || errno == ENOTTY) {  // not this file system at all (other errors may pass)
            std::lock_guard lock(g_noCloneMutex);
            if (g_noCloneDevices.size() < 64) g_noCloneDevices.push_back(device);
        }
    }
    std::uint64_t done = 0;
    bool kernelCopy = true;
    while (done < size && kernelCopy) {
        ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size - done, 0);
        if (n > 0) {
            done += static_cast<std::uint64_t>(n);
        } else if (n == 0) {
            break;  // the source became shorter
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL) {
            kernelCopy = false;
        } else {
            return SysError::FromErrno(errno);
        }
    }
    if (kernelCopy) return {};
    if (::lseek(in, static_cast<off_t>(done), SEEK_SET) < 0 ||
        ::lseek(out, static_cast<off_t>(done), SEEK_SET) < 0)
        return SysError::FromErrno(errno);
    std::vector<char> buf(1 << 20);
    for (;;) {
        ssize_t n = ::read(in, buf.data(), buf.size());
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return SysError::FromErrno(errno);
        }
        for (ssize_t off = 0; off < n;) {
            ssize_t w = ::write(out, buf.data() + off, static_cast<std::size_t>(n - off));
            if (w < 0) {
                if (errno == EINTR) continue;
                return SysError::FromErrno(errno);
            }
            off += w;
        }
    }
    return {};
}

}  // namespace

SysError CopyFile(const std::string& source, const std::string& dest) {
    // The source as given is opened first; its letter case is looked up only when that fails.
    Opened in = OpenRegular(ExpandFileName(source), O_RDONLY, 0);
    if (in.error.code == kErrorFileNotFound || in.error.code == kErrorPathNotFound) {
        std::string resolved;
        struct stat found;
        if (!ResolveWithStat(source, resolved, found, /*exactMissing=*/true)) return in.error;
        in = OpenRegular(resolved, O_RDONLY, 0);
    }
    if (in.error) return in.error;
    const struct stat& st = in.st;
    // Another program holding the source exclusively, or writing under a record lock, makes
    // it "in use".
    if (::flock(in.fd.get(), LOCK_SH | LOCK_NB) != 0) return SysError::FromErrno(errno);
    if (HeldByRecordLock(in.fd.get(), false)) return SysError::FromErrno(EWOULDBLOCK);

    std::string dst;
    struct stat dst_st;
    bool existed = ResolveWithStat(dest, dst, dst_st) && !S_ISLNK(dst_st.st_mode);
    if (!existed) dst = ExpandFileName(dest);
    if (existed) {
        if (dst_st.st_dev == st.st_dev && dst_st.st_ino == st.st_ino)
            return {kErrorSharingViolation, "The source and the destination are the same file."};
        if ((dst_st.st_mode & 0222) == 0) return SysError::FromErrno(EACCES);  // read-only
    }
    // A new destination is created empty. Only an existing one is truncated, and only once it
    // is locked: truncating a new file would also make some file systems (ext4) flush it on
    // close, as they do for files replaced by truncation, which slows copying many files.
    int created = existed ? -1 : ::open(dst.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (created < 0 && !existed && errno != EEXIST) return SysError::FromErrno(errno);
    const bool fresh = created >= 0;
    // An existing destination is opened as a file is that the user named: a pipe or a
    // device there is refused, never waited on or written through.
    UniqueFd out(created);
    if (!fresh) {
        Opened existing = OpenRegular(dst, O_WRONLY | O_CREAT, 0600);
        if (existing.error) return existing.error;
        out = std::move(existing.fd);
    }
    if (::flock(out.get(), LOCK_EX | LOCK_NB) != 0) return SysError::FromErrno(errno);
    if (!fresh && HeldByRecordLock(out.get(), true)) return SysError::FromErrno(EWOULDBLOCK);
    SysError err;
    if (!fresh && ::ftruncate(out.get(), 0) != 0) err = SysError::FromErrno(errno);
    if (!err) err = CopyBytes(in.fd.get(), out.get(), static_cast<std::uint64_t>(st.st_size), st.st_dev);
    if (!err && ::fchmod(out.get(), st.st_mode & 07777) != 0) err = SysError::FromErrno(errno);
    if (!err) {
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        if (::futimens(out.get(), times) != 0) err = SysError::FromErrno(errno);
    }
    int fd = out.release();
    if (::close(fd) != 0 && !err) err = SysError::FromErrno(errno);
    if (err) ::unlink(dst.c_str());  // never leave a truncated copy behind
    return err;
}

bool HeldByRecordLock(int fd, bool forWriting) {
    struct flock lock {};
    lock.l_type = forWriting ? F_WRLCK : F_RDLCK;
    lock.l_whence = SEEK_SET;  // the whole file: start 0, length 0
    // Open-file locks see every other holder, this process's other files included; the
    // classic call only other processes.
    if (::fcntl(fd, F_OFD_GETLK, &lock) != 0) {
        lock = {};
        lock.l_type = forWriting ? F_WRLCK : F_RDLCK;
        lock.l_whence = SEEK_SET;
        if (::fcntl(fd, F_GETLK, &lock) != 0) return false;
    }
    return lock.l_type != F_UNLCK;
}

SysError CreateDir(const std::string& dir) {
    std::string d = ExpandFileName(dir);
    if (::mkdir(d.c_str(), 0777) != 0) return SysError::FromErrno(errno);
    return {};
}

bool ForceDirectories(const std::string& dir) {
    std::string d = ExpandFileName(dir);
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    if (DirectoryExists(d)) return true;
    std::size_t slash = d.rfind('/');
    if (slash != std::string::npos && slash > 0 && !ForceDirectories(d.substr(0, slash))) return false;
    // The parent may exist under another letter case.
    std::string parent = slash == 0 ? "/" : d.substr(0, slash);
    std::string target = ResolveCase(parent).value_or(parent);
    if (target.back() != '/') target += '/';
    target += d.substr(slash + 1);
    return ::mkdir(target.c_str(), 0777) == 0 || (errno == EEXIST && DirectoryExists(target));
}

SysError RemoveDir(const std::string& dir) {
    std::string d = ResolveCase(dir).value_or(ExpandFileName(dir));
    if (::rmdir(d.c_str()) != 0) return SysError::FromErrno(errno);
    return {};
}

SysError DeleteFile(const std::string& path) {
    std::string p = ResolveCase(path).value_or(ExpandFileName(path));
    struct stat st;
    if (::lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return SysError::FromErrno(EISDIR);
    if (::unlink(p.c_str()) != 0) return SysError::FromErrno(errno);
    return {};
}

SysError RenameFile(const std::string& from, const std::string& to) {
    std::string f = ResolveCase(from).value_or(ExpandFileName(from));
    std::string t = ResolveCase(to).value_or(ExpandFileName(to));
    if (::rename(f.c_str(), t.c_str()) != 0) return SysError::FromErrno(errno);
    return {};
}

int GetFileAttributes(const std::string& path) {
    std::string resolved;
    struct stat st;
    // (a link whose target is missing is reported by its own status, which is not wanted here)
    if (!ResolveWithStat(path, resolved, st) || S_ISLNK(st.st_mode)) return -1;
    const std::string* r = &resolved;
    int attrs = 0;
    if (S_ISDIR(st.st_mode)) attrs |= kAttrDirectory;
    else attrs |= kAttrArchive;
    if ((st.st_mode & 0222) == 0) attrs |= kAttrReadOnly;
    std::string name = r->substr(r->find_last_of('/', r->size() > 1 ? r->size() - 2 : 0) + 1);
    if (!name.empty() && name[0] == '.') attrs |= kAttrHidden;
    return attrs;
}

SysError SetFileAttributes(const std::string& path, int attributes) {
    std::string resolved;
    struct stat st;
    if (!ResolveWithStat(path, resolved, st) || S_ISLNK(st.st_mode)) return SysError::FromErrno(ENOENT);
    const mode_t old = st.st_mode & 07777;
    mode_t mode = old;
    if (attributes & kAttrReadOnly) {
        mode &= ~static_cast<mode_t>(0222);
    } else if ((mode & 0222) == 0) {
        mode |= S_IWUSR;  // clearing read-only gives the owner write access back
    }
    if (mode == old) return {};  // nothing to change (the usual case after a copy)
    if (::chmod(resolved.c_str(), mode) != 0) return SysError::FromErrno(errno);
    return {};
}

SysError MoveToTrash(const std::string& path) {
    auto r = ResolveCase(path);
    if (!r) return SysError::FromErrno(ENOENT);
    // The desktop's trash must exist first: without it the file would be moved into a
    // "files" folder under the current folder instead.
    std::string dataHome;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') dataHome = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home) dataHome = std::string(home) + "/.local/share";
    if (dataHome.empty() || !ForceDirectories(dataHome + "/Trash/files") || !ForceDirectories(dataHome + "/Trash/info"))
        return {kErrorAccessDenied, "There is no trash folder for this user."};
    QFile file(QString::fromLocal8Bit(r->c_str()));
    if (!file.moveToTrash()) return {kErrorAccessDenied, file.errorString().toLocal8Bit().toStdString()};
    return {};
}

std::optional<VolumeInfo> GetVolumeInfo(const std::string& path) {
    std::string p = ResolveCase(path).value_or(ExpandFileName(path));
    struct stat st;
    // Walk up to an existing folder: a path that is about to be created still has a volume.
    while (!StatPath(p, st)) {
        std::size_t slash = p.find_last_of('/', p.size() > 1 ? p.size() - 2 : 0);
        if (slash == std::string::npos || p == "/") return std::nullopt;
        p = slash == 0 ? "/" : p.substr(0, slash);
    }
    struct statvfs vfs;
    if (::statvfs(p.c_str(), &vfs) != 0) return std::nullopt;
    VolumeInfo info;
    info.totalBytes = static_cast<std::uint64_t>(vfs.f_blocks) * vfs.f_frsize;
    info.freeBytes = static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    // The mount point: the highest folder on the same device.
    std::string root = p;
    while (root != "/") {
        std::size_t slash = root.find_last_of('/', root.size() - 1);
        std::string parent = slash == 0 ? "/" : root.substr(0, slash);
        struct stat pst;
        if (!StatPath(parent, pst) || pst.st_dev != st.st_dev) break;
        root = parent;
    }
    info.root = root;
    // The label, where the system lists one for the device behind the mount.
    DirHandle labels(::opendir("/dev/disk/by-label"));
    if (labels) {
        while (dirent* e = ::readdir(labels.get())) {
            std::string link = std::string("/dev/disk/by-label/") + e->d_name;
            struct stat dev;
            if (e->d_name[0] != '.' && ::stat(link.c_str(), &dev) == 0 && S_ISBLK(dev.st_mode) &&
                dev.st_rdev == st.st_dev) {
                info.label = e->d_name;
                break;
            }
        }
    }
    return info;
}

FileBytes ReadFile(const std::string& path) {
    // The spelling as given is tried first; the letter case is looked up only when it fails.
    Opened opened = OpenRegular(ExpandFileName(path), O_RDONLY, 0);
    if (opened.error.code == kErrorFileNotFound || opened.error.code == kErrorPathNotFound) {
        std::string resolved;
        struct stat st;
        if (!ResolveWithStat(path, resolved, st, /*exactMissing=*/true, /*wantStatus=*/false))
            return {std::nullopt, opened.error};
        opened = OpenRegular(resolved, O_RDONLY, 0);
    }
    if (opened.error) return {std::nullopt, opened.error};
    return ReadAll(opened.fd.get(), static_cast<std::size_t>(opened.st.st_size));
}

OpenedFile OpenRegularFile(const std::string& path, int flags, unsigned mode) {
    Opened o = OpenRegular(path, flags, static_cast<mode_t>(mode));
    return {std::move(o.fd), static_cast<std::uint64_t>(o.st.st_size), o.error};
}

UniqueFd::~UniqueFd() {
    if (m_fd >= 0) ::close(m_fd);
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = other.release();
    }
    return *this;
}

SysError WriteFile(const std::string& path, const std::string& bytes) {
    // Written beside the target and renamed over it, so a failure (a full disk) leaves
    // the old file whole.
    std::string p = ResolveCase(path).value_or(ExpandFileName(path));
    struct stat old;
    bool existed = ::stat(p.c_str(), &old) == 0;
    if (existed && (old.st_mode & 0222) == 0) return SysError::FromErrno(EACCES);  // read-only
    if (!existed) {
        // Nothing to keep whole: write the new file in place, and remove it on failure.
        Fd fd(::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd.fd >= 0) {
            SysError err;
            for (std::size_t off = 0; off < bytes.size() && !err;) {
                ssize_t w = ::write(fd.fd, bytes.data() + off, bytes.size() - off);
                if (w < 0 && errno != EINTR) err = SysError::FromErrno(errno);
                if (w > 0) off += static_cast<std::size_t>(w);
            }
            if (::close(fd.release()) != 0 && !err) err = SysError::FromErrno(errno);
            if (err) ::unlink(p.c_str());
            return err;
        }
        if (errno != EEXIST) return SysError::FromErrno(errno);
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

std::string ProgramDir() {
    std::string buf(PATH_MAX, '\0');
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return CurrentDir() + "/";
    buf.resize(static_cast<std::size_t>(n));
    return buf.substr(0, buf.rfind('/') + 1);
}

}  // namespace platform
