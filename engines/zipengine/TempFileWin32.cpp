#include <windows.h>

#include <algorithm>
#include <ctime>
#include <vector>

#include "System.h"
#include "TempFile.h"

namespace zipengine {

namespace {

HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

// Marks the open file for deletion when its last handle closes, or clears the mark.
bool MarkForDeletion(HANDLE h, bool on) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = on ? TRUE : FALSE;
    return SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// Attributes an archive may carry over; the rest (temporary, compressed, ...) are the file
// system's business.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

}  // namespace

int TempFile::CreateIn(const std::string& folder) {
    m_folder = folder.empty() ? std::string(".") : folder;
    if (!sys::IsSeparator(m_folder.back()) && m_folder.back() != ':') m_folder += '/';
    // No delete sharing while open: that is the lock RemoveStaleIn() respects.
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 100 && error == ERROR_FILE_EXISTS; ++attempt) {
        const std::string name = OwnName(true);
        HANDLE h = CreateFileW(sys::WidePath(name).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                               nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            error = GetLastError();
            if (error == ERROR_ALREADY_EXISTS) error = ERROR_FILE_EXISTS;
            continue;
        }
        error = 0;
        m_handle = reinterpret_cast<intptr_t>(h);
        m_path = name;
    }
    if (error) return int(error);
    // A run that dies now leaves nothing behind: the system deletes the file with its handle.
    // Where the mark cannot be set the file is still ours to delete, and the age rule's.
    MarkForDeletion(AsHandle(m_handle), true);
    return 0;
}

int TempFile::WriteAt(const unsigned char* data, size_t size, uint64_t position) {
    while (size > 0) {
        const DWORD want = DWORD(std::min<size_t>(size, size_t(1) << 30));
        OVERLAPPED where{};
        where.Offset = DWORD(position & 0xFFFFFFFFu);
        where.OffsetHigh = DWORD(position >> 32);
        DWORD written = 0;
        if (!WriteFile(AsHandle(m_handle), data, want, &written, &where)) return int(GetLastError());
        if (written == 0) return ERROR_WRITE_FAULT;
        data += written;
        size -= written;
        position += written;
    }
    return 0;
}

int TempFile::Resize(uint64_t size) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = LONGLONG(size);
    return SetFileInformationByHandle(AsHandle(m_handle), FileEndOfFileInfo, &end, sizeof end) ? 0
                                                                                               : int(GetLastError());
}

int TempFile::SetMode(uint32_t mode) {
    FILE_BASIC_INFO basic{};  // times of 0 stay as they are
    basic.FileAttributes = mode & kKeptAttributes;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(AsHandle(m_handle), FileBasicInfo, &basic, sizeof basic) ? 0
                                                                                               : int(GetLastError());
}

int TempFile::Complete() {
    HANDLE h = AsHandle(m_handle);
    DWORD error = FlushFileBuffers(h) ? 0 : GetLastError();
    // Kept from here on, for the caller to rename.
    if (!error && !MarkForDeletion(h, false)) error = GetLastError();
    if (!CloseHandle(h) && !error) error = GetLastError();
    m_handle = -1;
    return int(error);
}

void TempFile::Discard() {
    if (m_handle != -1) CloseHandle(AsHandle(m_handle));  // the file is being thrown away: its close result is moot
    m_handle = -1;
    if (!m_path.empty()) DeleteFileW(sys::WidePath(m_path).c_str());  // gone already when it was still marked
    m_path.clear();
}

void TempFile::RemoveStaleIn(const std::string& folder) {
    const std::string base = folder.empty() ? std::string(".") : folder;
    std::vector<std::string> names, unnamable;
    if (!sys::ListFolder(base, names, unnamable)) return;
    const std::string prefix = sys::IsSeparator(base.back()) || base.back() == ':' ? base : base + "/";
    const time_t now = time(nullptr);
    for (const std::string& name : names) {
        if (!IsOwnName(name)) continue;
        // Opening it to delete fails while a live writer holds it (it shares no deletion), and
        // the deletion goes through this handle: only the file judged is deleted.
        HANDLE h = CreateFileW(sys::WidePath(prefix + name).c_str(), DELETE | FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h == INVALID_HANDLE_VALUE) continue;
        BY_HANDLE_FILE_INFORMATION info{};
        if (GetFileInformationByHandle(h, &info) &&
            !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
            const uint64_t written =
                uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32 | info.ftLastWriteTime.dwLowDateTime;
            if (now - sys::TimeOfFileTime(written) >= kStaleAge) MarkForDeletion(h, true);
        }
        CloseHandle(h);
    }
}

}  // namespace zipengine
