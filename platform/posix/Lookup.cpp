// Lookups that ignore letter case, as the Windows file system does, and the cache of folder
// listings behind them; wildcard searches.
#include <dirent.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "common/Ascii.h"
#include "common/Wildcard.h"
#include "platform/posix/PosixFileSystem.h"

namespace platform {

using common::LowerAscii;
using posix::Nanos;

namespace posix {

std::int64_t Nanos(const struct timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000LL + t.tv_nsec;
}

}  // namespace posix

namespace {

// The names of one folder, in directory order, with a case-folded index. Listings are kept
// between calls: a listing is used again only while the folder's modification time is
// unchanged and either was read clearly after it (ReadClearlyAfterChange) or is the time of
// a change this program made itself and entered into the listing (OwnChange), so that a run
// that fills a folder never lists it again.
struct DirListing {
    std::int64_t mtime = 0;
    std::int64_t listedAt = 0;
    bool changedByUs = false;
    std::vector<std::string> names;                            // a removed name leaves an empty place
    std::unordered_map<std::string, std::size_t> byLowerName;  // first in directory order
    std::multimap<std::string, std::size_t> sortedLower;       // for prefix searches
};

std::mutex g_listingMutex;
std::unordered_map<std::string, std::shared_ptr<DirListing>> g_listings;
constexpr std::size_t kMaxListings = 4096;

// The key of a folder's listing: one listing serves "/a/b" and "/a/b/" alike, which are
// the same folder (named both ways, it would be read and kept twice).
std::string ListingKey(const std::string& dir) {
    std::size_t end = dir.size();
    while (end > 1 && dir[end - 1] == '/') --end;
    return dir.substr(0, end);
}

bool Trusted(const DirListing& l, const struct stat& st) {
    return l.mtime == Nanos(st.st_mtim) && (l.changedByUs || ReadClearlyAfterChange(l.mtime, l.listedAt));
}

void AddName(DirListing& l, const std::string& name) {
    std::string lower = LowerAscii(name);
    auto [from, to] = l.sortedLower.equal_range(lower);
    for (auto it = from; it != to; ++it)
        if (l.names[it->second] == name) return;  // there already (a file replaced)
    l.byLowerName.emplace(lower, l.names.size());
    l.sortedLower.emplace(std::move(lower), l.names.size());
    l.names.push_back(name);
}

void RemoveName(DirListing& l, const std::string& name) {
    const std::string lower = LowerAscii(name);
    auto [from, to] = l.sortedLower.equal_range(lower);
    for (auto it = from; it != to; ++it) {
        if (l.names[it->second] != name) continue;
        const std::size_t index = it->second;
        l.names[index].clear();
        l.sortedLower.erase(it);
        auto first = l.byLowerName.find(lower);
        if (first != l.byLowerName.end() && first->second == index) {
            l.byLowerName.erase(first);
            // Another spelling of the same name, if the folder holds one, takes its place.
            auto [rest, end] = l.sortedLower.equal_range(lower);
            std::size_t next = l.names.size();
            for (; rest != end; ++rest) next = std::min(next, rest->second);
            if (next < l.names.size()) l.byLowerName.emplace(lower, next);
        }
        return;
    }
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
    std::string key = ListingKey(dir);
    {
        std::lock_guard lock(g_listingMutex);
        auto it = g_listings.find(key);
        if (it != g_listings.end() && Trusted(*it->second, st)) return it->second;
    }
    auto listing = std::make_shared<DirListing>();
    listing->mtime = Nanos(st.st_mtim);
    listing->listedAt = FileClockNowNs();
    posix::DirHandle handle(::opendir(dir.c_str()));
    if (!handle) return nullptr;
    while (dirent* e = ::readdir(handle.get())) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string lower = LowerAscii(name);
        listing->byLowerName.emplace(lower, listing->names.size());
        listing->sortedLower.emplace(std::move(lower), listing->names.size());
        listing->names.push_back(std::move(name));
    }
    std::lock_guard lock(g_listingMutex);
    if (g_listings.size() >= kMaxListings) g_listings.clear();
    g_listings[std::move(key)] = listing;
    return listing;
}

// The on-disk spelling of `name` inside the existing folder `dir` ("" = root).
std::optional<std::string> FindEntryNoCase(const std::string& dir, const std::string& name,
                                           const struct stat* dirStatus = nullptr) {
    auto listing = ListDirectory(dir.empty() ? "/" : dir, dirStatus);
    if (!listing) return std::nullopt;
    auto it = listing->byLowerName.find(LowerAscii(name));
    if (it == listing->byLowerName.end()) return std::nullopt;
    return listing->names[it->second];
}

// The on-disk spelling of `full` (a host path whose spelling as given names nothing),
// matching each component without regard to case. `lastStatus`, when the walk ended on a
// component it asked about itself, is that component's own status (links not followed).
std::optional<std::string> LookUpSpelling(std::string full) {
    const bool trailing = full.size() > 1 && full.back() == '/';
    if (trailing) full.pop_back();
    const std::size_t slash = full.rfind('/');
    const std::string parent = full.substr(0, slash);
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
            struct stat st;
            if (::lstat(exact.c_str(), &st) == 0) {
                current = std::move(exact);
                continue;
            }
        }
        auto found = FindEntryNoCase(current, part, lastOnly ? &parentStatus : nullptr);
        lastOnly = false;
        if (!found) return std::nullopt;
        current += '/';
        current += *found;
    }
    if (current.empty()) current.push_back('/');
    if (trailing && current != "/") current += '/';
    return current;
}

}  // namespace

namespace posix {

std::optional<ResolvedPath> ResolvePath(const std::string& path) {
    ResolvedPath resolved;
    resolved.path = ExpandFileName(path);
    if (::stat(resolved.path.c_str(), &resolved.status) == 0) return resolved;  // the spelling as given exists
    auto spelling = LookUpSpelling(std::move(resolved.path));
    if (!spelling) return std::nullopt;
    resolved.path = std::move(*spelling);
    if (::stat(resolved.path.c_str(), &resolved.status) != 0 && ::lstat(resolved.path.c_str(), &resolved.status) != 0)
        return std::nullopt;
    return resolved;
}

std::optional<std::string> ResolveMissingSpelling(const std::string& path) {
    return LookUpSpelling(ExpandFileName(path));
}

OwnChange::OwnChange(const std::string& path) {
    std::string entry = path;
    while (entry.size() > 1 && entry.back() == '/') entry.pop_back();
    const std::size_t slash = entry.rfind('/');
    if (slash == std::string::npos) return;
    m_folder = slash == 0 ? "/" : ListingKey(entry.substr(0, slash));
    m_name = entry.substr(slash + 1);
    {
        std::lock_guard lock(g_listingMutex);
        if (!g_listings.count(m_folder)) return;  // nothing kept, nothing to keep up to date
    }
    struct stat st;
    if (::stat(m_folder.c_str(), &st) != 0) return;
    m_before = Nanos(st.st_mtim);
    m_tracked = true;
}

void OwnChange::Done(bool present) {
    if (!m_tracked) return;
    m_tracked = false;
    struct stat st;
    const bool known = ::stat(m_folder.c_str(), &st) == 0;
    std::lock_guard lock(g_listingMutex);
    auto it = g_listings.find(m_folder);
    if (it == g_listings.end()) return;
    // Only a listing that was up to date just before the change is brought up to date.
    if (!known || it->second->mtime != m_before) {
        g_listings.erase(it);
        return;
    }
    if (it->second.use_count() > 1) it->second = std::make_shared<DirListing>(*it->second);  // still read elsewhere
    DirListing& listing = *it->second;
    if (present) AddName(listing, m_name);
    else RemoveName(listing, m_name);
    listing.mtime = Nanos(st.st_mtim);
    listing.changedByUs = true;
}

void ForgetListing(const std::string& folder) {
    std::lock_guard lock(g_listingMutex);
    g_listings.erase(ListingKey(folder));
}

}  // namespace posix

std::optional<std::string> ResolveCase(const std::string& path) {
    auto resolved = posix::ResolvePath(path);
    if (!resolved) return std::nullopt;
    return std::move(resolved->path);
}

std::optional<DirEntry> StatEntry(const std::string& path) {
    auto found = posix::ResolvePath(path);
    if (!found) return std::nullopt;
    const std::string& resolved = found->path;
    const struct stat& st = found->status;
    DirEntry entry;
    std::string trimmed =
        resolved.size() > 1 && resolved.back() == '/' ? resolved.substr(0, resolved.size() - 1) : resolved;
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
    auto found = posix::ResolvePath(path);
    if (!found) return std::nullopt;
    return posix::StatusOf(std::move(found->path), found->status);
}

PathStatus posix::StatusOf(std::string path, const struct stat& st) {
    PathStatus status;
    status.path = std::move(path);
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

std::vector<DirEntry> FindFiles(const std::string& folder, const std::string& pattern,
                                std::optional<std::int64_t>* folderChangedNs) {
    std::vector<DirEntry> out;
    auto found = posix::ResolvePath(folder);
    if (!found) return out;
    if (folderChangedNs) *folderChangedNs = Nanos(found->status.st_mtim);
    std::string dirPath = std::move(found->path);
    auto listing = ListDirectory(dirPath, &found->status);
    if (!listing) return out;
    if (dirPath.back() != '/') dirPath += '/';
    // Only names that begin with the pattern's literal prefix can match: found in the sorted
    // index, they come in order of their names, letter case ignored.
    const std::string prefix = LowerAscii(pattern.substr(0, pattern.find_first_of("*?")));
    std::vector<std::size_t> candidates;
    for (auto it = listing->sortedLower.lower_bound(prefix);
         it != listing->sortedLower.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it)
        candidates.push_back(it->second);
    for (std::size_t index : candidates) {
        const std::string& name = listing->names[index];
        if (!common::WildcardMatch(pattern, name)) continue;
        DirEntry entry;
        entry.name = name;
        entry.isHidden = name[0] == '.';
        struct stat st;
        const std::string path = dirPath + name;
        if (::stat(path.c_str(), &st) == 0) {
            entry.isDirectory = S_ISDIR(st.st_mode);
            entry.size = entry.isDirectory ? 0 : static_cast<std::uint64_t>(st.st_size);
            entry.modifiedNs = Nanos(st.st_mtim);
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

}  // namespace platform
