// The Windows program's services: Win32 calls, wide-character paths.
#include <windows.h>
#include <shellapi.h>

#include "Platform.h"
#include "WideText.h"

namespace sfx::os {

const char kSeparator = '\\';

namespace {

std::string ErrorText(DWORD code) {
    wchar_t* buf = nullptr;
    DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
    std::wstring text = n && buf ? std::wstring(buf, n) : L"error " + std::to_wstring(code);
    if (buf) LocalFree(buf);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
    return Narrow(text);
}

// Absolute paths get the long-path prefix, so deep folders are no problem.
std::wstring SysPath(const std::string& path) {
    std::wstring w = Widen(path);
    for (wchar_t& c : w)
        if (c == L'/') c = L'\\';
    if (w.size() >= 3 && w[1] == L':' && w[2] == L'\\') return L"\\\\?\\" + w;
    if (w.size() >= 2 && w[0] == L'\\' && w[1] == L'\\' && w.compare(0, 4, L"\\\\?\\") != 0)
        return L"\\\\?\\UNC\\" + w.substr(2);
    return w;
}

class FileSource : public ByteSource {
public:
    FileSource(HANDLE h, uint64_t size) : m_handle(h), m_size(size) {}
    ~FileSource() override { CloseHandle(m_handle); }
    uint64_t Size() const override { return m_size; }
    bool ReadAt(uint64_t offset, void* buffer, size_t count) const override {
        if (offset > m_size || count > m_size - offset) return false;
        auto* p = static_cast<char*>(buffer);
        while (count > 0) {
            OVERLAPPED ov{};
            ov.Offset = DWORD(offset);
            ov.OffsetHigh = DWORD(offset >> 32);
            DWORD chunk = DWORD(count > 0x1000000 ? 0x1000000 : count), got = 0;
            if (!ReadFile(m_handle, p, chunk, &got, &ov) || got == 0) return false;
            p += got;
            offset += got;
            count -= got;
        }
        return true;
    }

private:
    HANDLE m_handle;
    uint64_t m_size;
};

}  // namespace

std::string SelfPath() {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buf.data(), DWORD(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) return Narrow(buf.substr(0, n));
        buf.resize(buf.size() * 2);
    }
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".\\") : path.substr(0, slash + 1);
}

std::string FullPath(const std::string& path) {
    std::wstring w = Widen(path);
    DWORD n = GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::wstring out(n, L'\0');
    n = GetFullPathNameW(w.c_str(), n, out.data(), nullptr);
    out.resize(n);
    return Narrow(out);
}

std::string ExpandEnvironment(const std::string& text) {
    std::wstring w = Widen(text);
    DWORD n = ExpandEnvironmentStringsW(w.c_str(), nullptr, 0);
    if (n == 0) return text;
    std::wstring out(n, L'\0');
    n = ExpandEnvironmentStringsW(w.c_str(), out.data(), n);
    if (n == 0) return text;
    out.resize(n - 1);
    return Narrow(out);
}

bool IsAbsolute(const std::string& path) {
    return (!path.empty() && (path[0] == '\\' || path[0] == '/')) || (path.size() >= 2 && path[1] == ':');
}

std::unique_ptr<ByteSource> OpenSource(const std::string& path, std::string& error) {
    HANDLE h = CreateFileW(SysPath(FullPath(path)).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = ErrorText(GetLastError());
        return nullptr;
    }
    // A pipe, a console or another device has no end to read to.
    if (GetFileType(h) != FILE_TYPE_DISK) {
        error = "Not a regular file";
        CloseHandle(h);
        return nullptr;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size)) {
        error = ErrorText(GetLastError());
        CloseHandle(h);
        return nullptr;
    }
    return std::make_unique<FileSource>(h, uint64_t(size.QuadPart));
}

Kind KindOf(const std::string& path) {
    DWORD a = GetFileAttributesW(SysPath(path).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) {
        DWORD e = GetLastError();
        return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? Kind::Missing : Kind::Other;
    }
    if (a & FILE_ATTRIBUTE_REPARSE_POINT) return Kind::Link;
    if (a & FILE_ATTRIBUTE_DIRECTORY) return Kind::Folder;
    if (a & FILE_ATTRIBUTE_DEVICE) return Kind::Other;
    return Kind::File;
}

std::string CreateFolders(const std::string& path) {
    std::string full = FullPath(path);
    DWORD lastError = 0;
    for (size_t pos = full.find_first_of("\\/"); pos != std::string::npos; pos = full.find_first_of("\\/", pos + 1)) {
        std::string prefix = full.substr(0, pos);
        if (prefix.size() < 3) continue;  // "C:" or the start of a server name
        DWORD a = GetFileAttributesW(SysPath(prefix).c_str());
        if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY)) continue;
        if (!CreateDirectoryW(SysPath(prefix).c_str(), nullptr)) lastError = GetLastError();
    }
    if (!full.empty() && full.back() != '\\' && full.back() != '/' && !CreateDirectoryW(SysPath(full).c_str(), nullptr))
        lastError = GetLastError();
    DWORD a = GetFileAttributesW(SysPath(full).c_str());
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY)) return {};
    return ErrorText(lastError ? lastError : GetLastError());
}

std::string CreateFolder(const std::string& path) {
    if (!CreateDirectoryW(SysPath(path).c_str(), nullptr)) return ErrorText(GetLastError());
    return {};
}

bool SameFile(const std::string& a, const std::string& b) {
    auto info = [](const std::string& p, BY_HANDLE_FILE_INFORMATION& i) {
        HANDLE h = CreateFileW(SysPath(FullPath(p)).c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        bool ok = GetFileInformationByHandle(h, &i) != 0;
        CloseHandle(h);
        return ok;
    };
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    if (!info(a, ia) || !info(b, ib)) return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

bool FreeSpace(const std::string& folder, uint64_t& bytes) {
    ULARGE_INTEGER avail{};
    if (!GetDiskFreeSpaceExW(Widen(folder).c_str(), &avail, nullptr, nullptr)) return false;
    bytes = avail.QuadPart;
    return true;
}

OutputFile::~OutputFile() { Discard(); }

std::string OutputFile::Create(const std::string& target) {
    m_target = target;
    DWORD err = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_temp = target + ".~sfx" + std::to_string(attempt);
        // CREATE_NEW never opens an existing file or a link.
        HANDLE h =
            CreateFileW(SysPath(m_temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            m_handle = reinterpret_cast<intptr_t>(h);
            return {};
        }
        err = GetLastError();
        if (err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) break;
    }
    m_temp.clear();
    return ErrorText(err);
}

bool OutputFile::Write(const uint8_t* data, size_t count) {
    while (count > 0) {
        DWORD chunk = DWORD(count > 0x1000000 ? 0x1000000 : count), done = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(m_handle), data, chunk, &done, nullptr) || done == 0) return false;
        data += done;
        count -= done;
    }
    return true;
}

std::string OutputFile::Commit(const ZipEntry& entry) {
    HANDLE h = reinterpret_cast<HANDLE>(m_handle);
    FILETIME local{}, utc{};
    if (DosDateTimeToFileTime(entry.dosDate, entry.dosTime, &local) && LocalFileTimeToFileTime(&local, &utc))
        SetFileTime(h, nullptr, nullptr, &utc);
    m_handle = -1;
    if (!CloseHandle(h)) return "cannot write " + m_target + ": " + ErrorText(GetLastError());
    std::wstring target = SysPath(m_target);
    DWORD old = GetFileAttributesW(target.c_str());
    if (old != INVALID_FILE_ATTRIBUTES &&
        (old & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
        SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!MoveFileExW(SysPath(m_temp).c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return "cannot replace " + m_target + ": " + ErrorText(GetLastError());
    m_temp.clear();
    // The MS-DOS attributes the archive stored: read-only, hidden, system, archive.
    DWORD attrs = entry.externalAttributes &
                  (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    if (attrs) SetFileAttributesW(target.c_str(), attrs);
    return {};
}

void OutputFile::Discard() {
    if (m_handle != -1) CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    m_handle = -1;
    if (!m_temp.empty()) DeleteFileW(SysPath(m_temp).c_str());
    m_temp.clear();
}

std::string EntryNameToPath(const std::string& name, bool utf8) {
    if (utf8) return name;
    for (unsigned char c : name)
        if (c >= 0x80) return Narrow(Widen(name, CP_OEMCP));
    return name;
}

std::string RunProgram(const std::string& program, const std::string& arguments, const std::string& folder) {
    std::wstring file = Widen(program), params = Widen(arguments), dir = Widen(folder);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpFile = file.c_str();
    info.lpParameters = params.empty() ? nullptr : params.c_str();
    info.lpDirectory = dir.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) return ErrorText(GetLastError());
    return {};
}

}  // namespace sfx::os
