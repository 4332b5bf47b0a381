// Paths: the current folder, the drive map and the expansion of Windows-style paths into
// host paths, and the program's own folder.
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>

#include "common/Ascii.h"
#include "platform/posix/PosixFileSystem.h"

namespace platform {

using common::EqualNoCase;

namespace {

std::mutex g_driveMutex;

// Normalises a drive key: "C" / "c:" -> "c"; "\\Srv\Share" -> "//srv/share".
std::string DriveKey(std::string drive) {
    std::replace(drive.begin(), drive.end(), '\\', '/');
    while (!drive.empty() && drive.back() == '/') drive.pop_back();
    if (drive.size() == 2 && drive[1] == ':') drive.resize(1);
    return common::LowerAscii(drive);
}

std::string TrimBlanks(const std::string& s) { return std::string(common::Trim(s, " \t\r")); }

void AddMapping(std::map<std::string, std::string>& map, const std::string& drive, std::string host) {
    while (host.size() > 1 && host.back() == '/') host.pop_back();
    if (!drive.empty() && !host.empty()) map[DriveKey(drive)] = host;
}

// The drive map every copy of this layer starts from (the program and each plugin alike):
// Z = /, then the section [Drives] of "Tallomir.INI" beside the program ("C=/mnt/c",
// "\\server\share=/srv/share"), then TALLOMIR_DRIVES ("C=/mnt/c;D=/media/d").
std::map<std::string, std::string> InitialDriveMap() {
    std::map<std::string, std::string> map{{"z", "/"}};
    File::Opened file = File::Open(ProgramDir() + "Tallomir.INI", File::Mode::Read);
    std::istringstream ini(
        file.error ? std::string() : posix::ReadAll(file.file, static_cast<std::size_t>(file.size)).bytes.value_or(""));
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
                AddMapping(map, TrimBlanks(item.substr(0, item.find('='))),
                           TrimBlanks(item.substr(item.find('=') + 1)));
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

std::string ExpandFileName(const std::string& path) {
    std::string p = path;
    std::replace(p.begin(), p.end(), '\\', '/');
    std::string host;
    if (p.size() >= 2 && p[0] == '/' && p[1] == '/') {
        // \\server\share\rest: the share prefix goes through the drive map.
        std::size_t serverEnd = p.find('/', 2);
        std::size_t shareEnd = serverEnd == std::string::npos ? std::string::npos : p.find('/', serverEnd + 1);
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

std::string ProgramDir() {
    std::string buf(PATH_MAX, '\0');
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return CurrentDir() + "/";
    buf.resize(static_cast<std::size_t>(n));
    return buf.substr(0, buf.rfind('/') + 1);
}

}  // namespace platform
