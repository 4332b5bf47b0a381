// Whole files: read at once, or written beside the old one and moved over it.
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/win32/WinText.h"

namespace platform {

SysError ProbeRead(const std::string& path) {
    win32::Handle h(::CreateFileW(win32::NativePath(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.IsValid()) return win32::LastError();
    return {};
}

FileBytes ReadFile(const std::string& path) {
    File::Opened opened = File::Open(ExpandFileName(path), File::Mode::Read);
    if (opened.error) return {std::nullopt, opened.error};
    std::string data(static_cast<std::size_t>(opened.size), '\0');
    const std::int64_t got = opened.file.Read(data.data(), static_cast<std::int64_t>(data.size()));
    if (got < 0) return {std::nullopt, win32::LastError()};
    data.resize(static_cast<std::size_t>(got));
    // A file that grew since it was opened is read to its end.
    char more[65536];
    for (std::int64_t n; (n = opened.file.Read(more, sizeof more)) > 0;) data.append(more, static_cast<std::size_t>(n));
    return {std::move(data), {}};
}

// The system looks the name up whatever the letter case, so nothing is saved by knowing more.
SysError WriteNewFile(const std::string& path, const std::string& bytes) { return WriteFile(path, bytes); }

SysError WriteFile(const std::string& path, const std::string& bytes) {
    const std::string p = ExpandFileName(path);
    const DWORD old = ::GetFileAttributesW(win32::NativePath(p).c_str());
    if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY)) return win32::FromWin32(ERROR_ACCESS_DENIED);
    const auto size = static_cast<std::int64_t>(bytes.size());
    if (old == INVALID_FILE_ATTRIBUTES) {
        // Nothing to keep whole: the new file is written in place, and removed on failure.
        File::Opened created = File::Open(p, File::Mode::CreateNew);
        if (!created.error) {
            SysError err = created.file.Write(bytes.data(), size);
            if (SysError closed = created.file.Close(); closed && !err) err = closed;
            if (err) ::DeleteFileW(win32::NativePath(p).c_str());
            return err;
        }
        if (created.error.code != kErrorAlreadyExists && created.error.code != ERROR_FILE_EXISTS) return created.error;
    }
    // Written beside the old file and moved over it, so a failure (a full disk) leaves the
    // old file whole.
    File::Opened temp;
    std::string tempPath;
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        tempPath = p + ".~tm" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(attempt);
        temp = File::Open(tempPath, File::Mode::CreateNew);
        if (temp.error.code != kErrorAlreadyExists && temp.error.code != ERROR_FILE_EXISTS) break;
    }
    if (temp.error) return temp.error;
    SysError err = temp.file.Write(bytes.data(), size);
    if (SysError closed = temp.file.Close(); closed && !err) err = closed;
    if (!err && !::MoveFileExW(win32::NativePath(tempPath).c_str(), win32::NativePath(p).c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        err = win32::LastError();
    if (err) ::DeleteFileW(win32::NativePath(tempPath).c_str());
    return err;
}

}  // namespace platform
