#include <windows.h>

#include <algorithm>

#include "System.h"

namespace zipengine::sys {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Between the epochs of FILETIME (1601) and time_t (1970), in 100-nanosecond steps.
constexpr int64_t kEpochDifference = 116444736000000000LL;

// A handle closed when it goes out of scope.
class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE h) : m_h(h) {}
    ~ScopedHandle() {
        if (IsValid()) CloseHandle(m_h);
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    bool IsValid() const { return m_h != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_h; }

private:
    HANDLE m_h;
};

FILETIME ToFileTime(time_t t) {
    const uint64_t v = uint64_t(int64_t(t) * 10000000 + kEpochDifference);
    return {DWORD(v & 0xFFFFFFFFu), DWORD(v >> 32)};
}

bool Fill(HANDLE h, FileInfo& info) {
    BY_HANDLE_FILE_INFORMATION bi{};
    if (!GetFileInformationByHandle(h, &bi)) return false;
    const DWORD a = bi.dwFileAttributes;
    info.isFolder = (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.isRegular = !info.isFolder && GetFileType(h) == FILE_TYPE_DISK;
    info.hidden = (a & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
    info.readOnly = (a & FILE_ATTRIBUTE_READONLY) != 0;
    info.size = info.isRegular ? uint64_t(bi.nFileSizeHigh) << 32 | bi.nFileSizeLow : 0;
    info.modified =
        TimeOfFileTime(uint64_t(bi.ftLastWriteTime.dwHighDateTime) << 32 | bi.ftLastWriteTime.dwLowDateTime);
    info.mode = a;
    info.id = {bi.dwVolumeSerialNumber, uint64_t(bi.nFileIndexHigh) << 32 | bi.nFileIndexLow};
    return true;
}

std::wstring Wide(const std::string& text) {
    if (text.empty()) return {};
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(size_t(std::max(n, 0)), L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), out.data(), n);
    return out;
}

// The ANSI code page's text of `text`; false when some character has none there.
bool Narrow(const std::wstring& text, std::string& out, UINT codePage = CP_ACP) {
    out.clear();
    if (text.empty()) return true;
    BOOL lossy = FALSE;
    BOOL* lossyFlag = codePage == CP_UTF8 ? nullptr : &lossy;
    const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    int n = WideCharToMultiByte(codePage, flags, text.data(), int(text.size()), nullptr, 0, nullptr, lossyFlag);
    if (n <= 0) return false;
    out.resize(size_t(n));
    WideCharToMultiByte(codePage, flags, text.data(), int(text.size()), out.data(), n, nullptr, lossyFlag);
    return !lossy;
}

// Opens what `path` names to look at it (folders too), whoever else has it open.
HANDLE OpenToLook(const std::string& path, DWORD access) {
    return CreateFileW(WidePath(path).c_str(), access, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                       nullptr);
}

}  // namespace

std::wstring WidePath(const std::string& path) {
    std::wstring w = Wide(path);
    std::replace(w.begin(), w.end(), L'/', L'\\');
    // A folder's trailing separator is dropped, but a root's ("C:\", "\\server\share\").
    const size_t root = SplitRoot(path).root.size();
    while (w.size() > std::max<size_t>(root, 1) && w.back() == L'\\') w.pop_back();
    return w;
}

time_t TimeOfFileTime(uint64_t fileTime) { return time_t((int64_t(fileTime) - kEpochDifference) / 10000000); }

bool Stat(const std::string& path, FileInfo& info) {
    ScopedHandle h(OpenToLook(path, FILE_READ_ATTRIBUTES));
    return h.IsValid() && Fill(h.Get(), info);
}

bool CanRead(const std::string& path) {
    ScopedHandle h(CreateFileW(WidePath(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    return h.IsValid();
}

bool ListFolder(const std::string& folder, std::vector<std::string>& names, std::vector<std::string>& unnamable) {
    std::wstring pattern = WidePath(folder);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L':') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;  // an empty drive root
    do {
        const std::wstring w = data.cFileName;
        if (w == L"." || w == L"..") continue;
        std::string name;
        if (Narrow(w, name)) {
            names.push_back(name);
        } else {
            Narrow(w, name, CP_UTF8);
            unnamable.push_back(name);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return true;
}

PathStart SplitRoot(const std::string& path) {
    const std::string& p = path;
    if (p.size() >= 2 && IsSeparator(p[0]) && IsSeparator(p[1])) {
        // "//server/share/": the server and the share are the root.
        size_t server = p.find_first_of("/\\", 2);
        size_t share = server == std::string::npos ? std::string::npos : p.find_first_of("/\\", server + 1);
        if (share == std::string::npos) return {p + "/", ""};
        return {p.substr(0, share + 1), p.substr(share + 1)};
    }
    const bool drive = p.size() >= 2 && p[1] == ':' && ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
    if (drive) {
        const size_t n = p.size() >= 3 && IsSeparator(p[2]) ? 3 : 2;
        return {p.substr(0, n), p.substr(n)};
    }
    if (!p.empty() && IsSeparator(p[0])) return {p.substr(0, 1), p.substr(1)};
    return {"", p};
}

std::string FolderOf(const std::string& path) {
    const std::string root = SplitRoot(path).root;
    const size_t last = path.find_last_of("/\\");
    if (last == std::string::npos || last < root.size()) {
        if (root.empty()) return ".";
        // "C:name" lies in drive C's current folder.
        return root.back() == ':' ? path.substr(0, root.size()) + "." : path.substr(0, root.size());
    }
    return path.substr(0, last);
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::string File::Open(const std::string& path, Pattern pattern, FileInfo* info) {
    Close();
    const DWORD hint = pattern == Pattern::Sequential ? FILE_FLAG_SEQUENTIAL_SCAN : FILE_FLAG_RANDOM_ACCESS;
    HANDLE h = CreateFileW(WidePath(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | hint, nullptr);
    if (h == INVALID_HANDLE_VALUE) return ErrorText(int(GetLastError()));
    FileInfo own;
    std::string error;
    if (!Fill(h, own)) error = ErrorText(int(GetLastError()));
    else if (!own.isRegular) error = "Not a regular file";
    if (!error.empty()) {
        CloseHandle(h);
        return error;
    }
    if (info) *info = own;
    m_handle = intptr_t(h);
    return {};
}

void File::Close() {
    if (m_handle != kClosed) CloseHandle(HANDLE(m_handle));  // opened to be read: nothing to report
    m_handle = kClosed;
}

uint64_t File::Size() const {
    LARGE_INTEGER size{};
    return IsOpen() && GetFileSizeEx(HANDLE(m_handle), &size) ? uint64_t(size.QuadPart) : 0;
}

int64_t File::ReadAt(uint64_t offset, void* buffer, size_t count) const {
    auto* p = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const DWORD want = DWORD(std::min<size_t>(count - done, size_t(1) << 30));
        const uint64_t at = offset + done;
        OVERLAPPED where{};
        where.Offset = DWORD(at & 0xFFFFFFFFu);
        where.OffsetHigh = DWORD(at >> 32);
        DWORD got = 0;
        if (!ReadFile(HANDLE(m_handle), p + done, want, &got, &where)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return -1;
        }
        if (got == 0) break;
        done += got;
    }
    return int64_t(done);
}

bool File::ReadFullyAt(uint64_t offset, void* buffer, size_t count) const {
    return ReadAt(offset, buffer, count) == int64_t(count);
}

int RenameOver(const std::string& from, const std::string& to) {
    // Written through: the rename is on disk before the call returns, so a move can trust it.
    return MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : int(GetLastError());
}

bool IsOtherVolume(int error) { return error == ERROR_NOT_SAME_DEVICE; }

void SyncFolder(const std::string&) {}  // RenameOver writes through

int RemoveFile(const std::string& path) {
    const std::wstring w = WidePath(path);
    if (DeleteFileW(w.c_str())) return 0;
    DWORD error = GetLastError();
    // A read-only file goes too, as it does on POSIX systems, where only the folder's
    // permissions count.
    const DWORD attributes = GetFileAttributesW(w.c_str());
    if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_READONLY) &&
        SetFileAttributesW(w.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY))) {
        if (DeleteFileW(w.c_str())) return 0;
        error = GetLastError();
        SetFileAttributesW(w.c_str(), attributes);
    }
    return int(error);
}

void SetModified(const std::string& path, time_t when) {
    ScopedHandle h(OpenToLook(path, FILE_WRITE_ATTRIBUTES));
    const FILETIME ft = ToFileTime(when);
    if (h.IsValid()) SetFileTime(h.Get(), nullptr, &ft, &ft);
}

uint32_t NewFileMode() { return FILE_ATTRIBUTE_ARCHIVE; }

std::string ErrorText(int error) {
    wchar_t* buffer = nullptr;
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, DWORD(error), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring w = n && buffer ? std::wstring(buffer, n) : std::wstring();
    if (buffer) LocalFree(buffer);
    // The messages' own closing stop and line break go: the engine's sentences add their own.
    while (!w.empty() && (w.back() == L'\r' || w.back() == L'\n' || w.back() == L' ' || w.back() == L'.')) w.pop_back();
    std::string text;
    Narrow(w, text);
    return text.empty() ? "Windows error " + std::to_string(error) : text;
}

double TrialSeconds() {
    LARGE_INTEGER now{}, frequency{};
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart) / double(frequency.QuadPart);
}

}  // namespace zipengine::sys
