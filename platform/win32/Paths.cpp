// Paths: the current folder, the expansion of texts into full host paths, and the program's
// own folder. Drive letters and shares are the system's own: there is no drive map here.
#include <algorithm>

#include "platform/FileSystem.h"
#include "platform/win32/WinText.h"

namespace platform {

std::string CurrentDir() {
    const DWORD length = ::GetCurrentDirectoryW(0, nullptr);
    std::wstring dir(length, L'\0');
    const DWORD written = ::GetCurrentDirectoryW(length, dir.data());
    dir.resize(written);
    std::string host = win32::HostPath(dir);
    if (host.size() > 3 && host.back() == '/') host.pop_back();  // "C:/" keeps its separator
    return host;
}

SysError SetCurrentDir(const std::string& dir) {
    if (!::SetCurrentDirectoryW(win32::NativePath(ExpandFileName(dir)).c_str())) return win32::LastError();
    return {};
}

// Windows reaches drives and shares itself: the map is the system's own drives, each its own
// root, and cannot be changed.
void SetDriveMapping(const std::string&, const std::string&) {}
void ClearDriveMappings() {}
std::map<std::string, std::string> DriveMappings() {
    std::map<std::string, std::string> drives;
    const DWORD present = ::GetLogicalDrives();
    for (int i = 0; i < 26; ++i)
        if (present & (1u << i))
            drives[std::string(1, static_cast<char>('a' + i))] = std::string(1, static_cast<char>('A' + i)) + ":/";
    return drives;
}

std::string ExpandFileName(const std::string& path) {
    const std::wstring native = win32::NativePath(path.empty() ? std::string(".") : path);
    DWORD length = ::GetFullPathNameW(native.c_str(), 0, nullptr, nullptr);
    if (length == 0) return win32::HostPath(native);
    std::wstring full(length, L'\0');
    length = ::GetFullPathNameW(native.c_str(), length, full.data(), nullptr);
    full.resize(length);
    return win32::HostPath(full);
}

std::string ProgramDir() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return CurrentDir() + "/";
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    std::string host = win32::HostPath(buffer);
    return host.substr(0, host.rfind('/') + 1);
}

}  // namespace platform
