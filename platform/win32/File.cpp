#include "platform/File.h"

#include <algorithm>

#include "platform/win32/WinText.h"

namespace platform {
namespace {

HANDLE H(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

SysError NotRegularFile() { return {kErrorAccessDenied, "Not a regular file"}; }

// Largest single transfer the system takes.
constexpr std::int64_t kChunk = 1 << 30;

std::int64_t Position(HANDLE h) {
    LARGE_INTEGER zero{}, position{};
    if (!::SetFilePointerEx(h, zero, &position, FILE_CURRENT)) return -1;
    return position.QuadPart;
}

bool MoveTo(HANDLE h, std::int64_t offset, DWORD from) {
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    return ::SetFilePointerEx(h, distance, nullptr, from) != 0;
}

// Puts the file position back where it was when it goes out of scope.
class KeepPosition {
public:
    explicit KeepPosition(HANDLE h) : m_h(h), m_position(Position(h)) {}
    ~KeepPosition() {
        if (m_position >= 0) MoveTo(m_h, m_position, FILE_BEGIN);
    }
    KeepPosition(const KeepPosition&) = delete;
    KeepPosition& operator=(const KeepPosition&) = delete;

private:
    HANDLE m_h;
    std::int64_t m_position;
};

// The whole file, for the advisory locks: every byte a file can have.
OVERLAPPED WholeFile() { return OVERLAPPED{}; }

}  // namespace

File::Opened File::Open(const std::string& path, Mode mode) {
    DWORD access = GENERIC_READ, disposition = OPEN_EXISTING;
    switch (mode) {
        case Mode::Read: break;
        case Mode::ReadWrite: access = GENERIC_READ | GENERIC_WRITE; break;
        case Mode::Write: access = GENERIC_WRITE, disposition = OPEN_ALWAYS; break;
        case Mode::Replace: access = GENERIC_WRITE, disposition = CREATE_ALWAYS; break;
        case Mode::CreateNew: access = GENERIC_WRITE, disposition = CREATE_NEW; break;
    }
    Opened opened;
    // Others may read the file meanwhile, never write it: a file another program is writing
    // cannot be opened (a sharing violation, "in use").
    HANDLE h = ::CreateFileW(win32::NativePath(path).c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        opened.error = win32::LastError();
        return opened;
    }
    File file(reinterpret_cast<std::intptr_t>(h));
    // A pipe, a console or a device opens like a file; only a file on a disk is one.
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        opened.error = NotRegularFile();
        return opened;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(h, &size)) {
        opened.error = win32::LastError();
        return opened;
    }
    opened.file = std::move(file);
    opened.size = static_cast<std::uint64_t>(size.QuadPart);
    return opened;
}

File::~File() {
    if (IsOpen()) ::CloseHandle(H(m_handle));
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (IsOpen()) ::CloseHandle(H(m_handle));
        m_handle = other.m_handle;
        other.m_handle = -1;
    }
    return *this;
}

std::int64_t File::Size() const {
    LARGE_INTEGER size{};
    if (!IsOpen() || !::GetFileSizeEx(H(m_handle), &size)) return -1;
    return size.QuadPart;
}

std::int64_t File::Read(void* buffer, std::int64_t size) {
    if (!IsOpen() || size < 0) return -1;
    std::int64_t done = 0;
    while (done < size) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min(size - done, kChunk));
        if (!::ReadFile(H(m_handle), static_cast<char*>(buffer) + done, want, &got, nullptr)) return -1;
        if (got == 0) break;  // the end of the file
        done += got;
    }
    return done;
}

std::int64_t File::ReadAt(void* buffer, std::int64_t size, std::int64_t offset) {
    if (!IsOpen() || offset < 0) return -1;
    KeepPosition keep(H(m_handle));
    if (!MoveTo(H(m_handle), offset, FILE_BEGIN)) return -1;
    return Read(buffer, size);
}

SysError File::Write(const void* buffer, std::int64_t size) {
    if (!IsOpen() || size < 0) return win32::FromWin32(ERROR_INVALID_HANDLE);
    std::int64_t done = 0;
    while (done < size) {
        DWORD written = 0;
        const DWORD want = static_cast<DWORD>(std::min(size - done, kChunk));
        if (!::WriteFile(H(m_handle), static_cast<const char*>(buffer) + done, want, &written, nullptr))
            return win32::LastError();
        done += written;
    }
    return {};
}

SysError File::WriteAt(const void* buffer, std::int64_t size, std::int64_t offset) {
    if (!IsOpen() || offset < 0) return win32::FromWin32(ERROR_INVALID_HANDLE);
    KeepPosition keep(H(m_handle));
    if (!MoveTo(H(m_handle), offset, FILE_BEGIN)) return win32::LastError();
    return Write(buffer, size);
}

bool File::Seek(std::int64_t offset) { return IsOpen() && offset >= 0 && MoveTo(H(m_handle), offset, FILE_BEGIN); }

bool File::Skip(std::int64_t count) { return IsOpen() && MoveTo(H(m_handle), count, FILE_CURRENT); }

SysError File::Truncate(std::int64_t size) {
    if (!IsOpen() || size < 0) return win32::FromWin32(ERROR_INVALID_HANDLE);
    KeepPosition keep(H(m_handle));
    if (!MoveTo(H(m_handle), size, FILE_BEGIN) || !::SetEndOfFile(H(m_handle))) return win32::LastError();
    return {};
}

File::CopyResult File::CopyTo(File& target, std::uint64_t size) {
    CopyResult result;
    if (!IsOpen() || !target.IsOpen()) {
        result.error = win32::FromWin32(ERROR_INVALID_HANDLE);
        return result;
    }
    return CopyThroughBuffer(target, size, result);
}

bool File::TryLock(bool exclusive) {
    if (!IsOpen()) return false;
    OVERLAPPED whole = WholeFile();
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    return ::LockFileEx(H(m_handle), flags, 0, MAXDWORD, MAXDWORD, &whole) != 0;
}

bool File::RangeLockedByAnother(bool forWriting) const {
    if (!IsOpen()) return false;
    // A lock of our own over the whole file is refused where another opener's lock keeps us
    // out; when it is granted it is given back at once.
    OVERLAPPED whole = WholeFile();
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (forWriting ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (!::LockFileEx(H(m_handle), flags, 0, MAXDWORD, MAXDWORD, &whole)) return true;
    whole = WholeFile();
    ::UnlockFileEx(H(m_handle), 0, MAXDWORD, MAXDWORD, &whole);
    return false;
}

SysError File::Close() {
    if (!IsOpen()) return {};
    const BOOL closed = ::CloseHandle(H(m_handle));
    m_handle = -1;
    return closed ? SysError{} : win32::LastError();
}

}  // namespace platform
