// Changes to folders and names, attributes, the recycle bin and the volume of a path.
#include <windows.h>
// (after windows.h, which it needs)
#include <shellapi.h>

#include "platform/FileSystem.h"
#include "platform/win32/WinText.h"

namespace platform {

SysError CreateDir(const std::string& dir) {
    if (!::CreateDirectoryW(win32::NativePath(ExpandFileName(dir)).c_str(), nullptr)) return win32::LastError();
    return {};
}

bool ForceDirectories(const std::string& dir) {
    std::string d = ExpandFileName(dir);
    while (d.size() > 3 && d.back() == '/') d.pop_back();
    if (DirectoryExists(d)) return true;
    const std::size_t slash = d.rfind('/');
    if (slash != std::string::npos && slash > 2 && !ForceDirectories(d.substr(0, slash))) return false;
    if (::CreateDirectoryW(win32::NativePath(d).c_str(), nullptr)) return true;
    return ::GetLastError() == ERROR_ALREADY_EXISTS && DirectoryExists(d);
}

SysError RemoveDir(const std::string& dir) {
    if (!::RemoveDirectoryW(win32::NativePath(ExpandFileName(dir)).c_str())) return win32::LastError();
    return {};
}

SysError DeleteFile(const std::string& path) {
    if (!::DeleteFileW(win32::NativePath(ExpandFileName(path)).c_str())) return win32::LastError();
    return {};
}

SysError RenameFile(const std::string& from, const std::string& to) {
    if (!::MoveFileExW(win32::NativePath(ExpandFileName(from)).c_str(), win32::NativePath(ExpandFileName(to)).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return win32::LastError();
    return {};
}

int GetFileAttributes(const std::string& path) {
    const DWORD a = ::GetFileAttributesW(win32::NativePath(ExpandFileName(path)).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return -1;
    return static_cast<int>(a & (kAttrReadOnly | kAttrHidden | kAttrDirectory | kAttrArchive));
}

SysError SetFileAttributes(const std::string& path, int attributes) {
    const std::wstring native = win32::NativePath(ExpandFileName(path));
    const DWORD old = ::GetFileAttributesW(native.c_str());
    if (old == INVALID_FILE_ATTRIBUTES) return win32::LastError();
    const DWORD settable = kAttrReadOnly | kAttrHidden | kAttrArchive;
    const DWORD wanted = (old & ~settable) | (static_cast<DWORD>(attributes) & settable);
    if (wanted == old) return {};  // nothing to change (the usual case after a copy)
    if (!::SetFileAttributesW(native.c_str(), wanted & ~FILE_ATTRIBUTE_DIRECTORY)) return win32::LastError();
    return {};
}

SysError MoveToTrash(const std::string& path) {
    auto resolved = ResolveCase(path);
    if (!resolved) return win32::FromWin32(ERROR_FILE_NOT_FOUND);
    std::wstring from = win32::NativePath(*resolved);
    from.push_back(L'\0');  // the list of names ends with an empty one
    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    const int rc = ::SHFileOperationW(&operation);
    if (rc != 0) return win32::FromWin32(static_cast<DWORD>(rc));
    if (operation.fAnyOperationsAborted) return {kErrorAccessDenied, "Moving to the recycle bin was cancelled."};
    return {};
}

std::optional<VolumeInfo> GetVolumeInfo(const std::string& path) {
    // A path that is about to be created still has a volume: its root is asked.
    const std::wstring native = win32::NativePath(ExpandFileName(path));
    std::wstring root(MAX_PATH + 1, L'\0');
    if (!::GetVolumePathNameW(native.c_str(), root.data(), static_cast<DWORD>(root.size()))) return std::nullopt;
    root.resize(wcslen(root.c_str()));
    ULARGE_INTEGER available{}, total{}, free{};
    if (!::GetDiskFreeSpaceExW(root.c_str(), &available, &total, &free)) return std::nullopt;
    VolumeInfo info;
    info.root = win32::HostPath(root);
    info.totalBytes = total.QuadPart;
    info.freeBytes = available.QuadPart;
    wchar_t label[MAX_PATH + 1] = {};
    if (::GetVolumeInformationW(root.c_str(), label, MAX_PATH + 1, nullptr, nullptr, nullptr, nullptr, 0))
        info.label = win32::Narrow(label);
    return info;
}

}  // namespace platform
