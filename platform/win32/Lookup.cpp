// Lookups: the file system ignores letter case itself; the on-disk spelling of each part of a
// path is asked of the folder that holds it.
#include <algorithm>

#include "common/Ascii.h"
#include "common/Wildcard.h"
#include "platform/FileSystem.h"
#include "platform/win32/WinText.h"

namespace platform {
namespace {

// 100 ns ticks between 1601-01-01 (the system's epoch) and 1970-01-01.
constexpr std::int64_t kEpochTicks = 116444736000000000LL;

std::int64_t Nanos(const FILETIME& t) {
    const std::int64_t ticks =
        static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    return (ticks - kEpochTicks) * 100;
}

std::uint64_t SizeOf(DWORD high, DWORD low) { return (static_cast<std::uint64_t>(high) << 32) | low; }

// The length of the root of a full host path: "C:/" (3), "//server/share/" or "//server/share".
std::size_t RootLength(const std::string& path) {
    if (path.size() >= 3 && path[1] == ':' && path[2] == '/') return 3;
    if (path.size() >= 2 && path[0] == '/' && path[1] == '/') {
        const std::size_t server = path.find('/', 2);
        if (server == std::string::npos) return path.size();
        const std::size_t share = path.find('/', server + 1);
        return share == std::string::npos ? path.size() : share + 1;
    }
    return 0;
}

// The full path of an existing entry, each part as the folder that holds it spells it.
std::optional<std::string> OnDiskSpelling(const std::string& full) {
    std::string path = full;
    const bool trailing = path.size() > RootLength(path) && path.back() == '/';
    if (trailing) path.pop_back();
    const std::size_t root = RootLength(path);
    std::string out = path.substr(0, root);
    std::size_t start = root;
    while (start < path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(start, end - start);
        WIN32_FIND_DATAW data;
        HANDLE find = ::FindFirstFileExW(win32::NativePath(out + part).c_str(), FindExInfoBasic, &data,
                                         FindExSearchNameMatch, nullptr, 0);
        if (find == INVALID_HANDLE_VALUE) return std::nullopt;
        ::FindClose(find);
        out += win32::Narrow(data.cFileName);
        if (end < path.size()) out += '/';
        start = end + 1;
    }
    if (trailing) out += '/';
    return out;
}

// What the system says of the file a path names (links followed), from an open handle that
// asks for no access, so a file another program holds is still described.
struct Described {
    BY_HANDLE_FILE_INFORMATION info{};
    bool isDisk = false;
};
std::optional<Described> Describe(const std::string& path) {
    win32::Handle h(::CreateFileW(win32::NativePath(path).c_str(), 0,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.IsValid()) return std::nullopt;
    Described d;
    if (!::GetFileInformationByHandle(h.Get(), &d.info)) return std::nullopt;
    d.isDisk = ::GetFileType(h.Get()) == FILE_TYPE_DISK;
    return d;
}

}  // namespace

std::optional<std::string> ResolveCase(const std::string& path) {
    const std::string full = ExpandFileName(path);
    if (::GetFileAttributesW(win32::NativePath(full).c_str()) == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return OnDiskSpelling(full);
}

std::optional<DirEntry> StatEntry(const std::string& path) {
    auto status = StatPath(path);
    if (!status) return std::nullopt;
    DirEntry entry;
    std::string trimmed = status->path;
    if (trimmed.size() > RootLength(trimmed) && trimmed.back() == '/') trimmed.pop_back();
    entry.name = trimmed.substr(trimmed.rfind('/') + 1);
    entry.isDirectory = status->isDirectory;
    entry.size = status->size;
    const DWORD attributes = ::GetFileAttributesW(win32::NativePath(status->path).c_str());
    entry.isHidden = (!entry.name.empty() && entry.name[0] == '.') ||
                     (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN));
    return entry;
}

std::int64_t FileClockNowNs() {
    FILETIME now;
    ::GetSystemTimePreciseAsFileTime(&now);
    return Nanos(now);
}

bool ReadClearlyAfterChange(std::int64_t modifiedNs, std::int64_t readAtNs) {
    // Write times of some file systems (FAT) are kept in 2-second steps.
    constexpr std::int64_t kMarginNs = 2'100'000'000;
    return modifiedNs < readAtNs - kMarginNs;
}

std::optional<PathStatus> StatPath(const std::string& path) {
    auto spelled = ResolveCase(path);
    if (!spelled) return std::nullopt;
    auto described = Describe(*spelled);
    if (!described) return std::nullopt;
    const BY_HANDLE_FILE_INFORMATION& info = described->info;
    PathStatus status;
    status.path = std::move(*spelled);
    status.isDirectory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    status.isRegularFile = !status.isDirectory && described->isDisk;
    status.size = status.isDirectory ? 0 : SizeOf(info.nFileSizeHigh, info.nFileSizeLow);
    status.modifiedNs = Nanos(info.ftLastWriteTime);
    status.device = info.dwVolumeSerialNumber;
    status.inode = SizeOf(info.nFileIndexHigh, info.nFileIndexLow);
    return status;
}

bool FileExists(const std::string& path) {
    const DWORD a = ::GetFileAttributesW(win32::NativePath(ExpandFileName(path)).c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
    const DWORD a = ::GetFileAttributesW(win32::NativePath(ExpandFileName(path)).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathExists(const std::string& path) {
    return ::GetFileAttributesW(win32::NativePath(ExpandFileName(path)).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A folder's modification time is not a witness of its entries here (FAT keeps none), so
// none is given.
std::vector<DirEntry> FindFiles(const std::string& folder, const std::string& pattern, std::optional<std::int64_t>*) {
    std::vector<DirEntry> out;
    std::string dir = ExpandFileName(folder);
    if (dir.back() != '/') dir += '/';
    // Every name is listed and matched here: the system's own patterns also match the short
    // 8.3 names, which would find files whose real names do not match.
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileExW(win32::NativePath(dir + "*").c_str(), FindExInfoBasic, &data,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) return out;
    do {
        std::string name = win32::Narrow(data.cFileName);
        if (name == "." || name == ".." || !common::WildcardMatch(pattern, name)) continue;
        DirEntry entry;
        entry.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.size = entry.isDirectory ? 0 : SizeOf(data.nFileSizeHigh, data.nFileSizeLow);
        entry.modifiedNs = Nanos(data.ftLastWriteTime);
        entry.isHidden = name[0] == '.' || (data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN);
        entry.name = std::move(name);
        out.push_back(std::move(entry));
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    std::stable_sort(out.begin(), out.end(), [](const DirEntry& a, const DirEntry& b) {
        return common::LowerAscii(a.name) < common::LowerAscii(b.name);
    });
    return out;
}

std::optional<std::uint64_t> FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(win32::NativePath(ExpandFileName(path)).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    return SizeOf(data.nFileSizeHigh, data.nFileSizeLow);
}

}  // namespace platform
