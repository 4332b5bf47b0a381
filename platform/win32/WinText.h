#pragma once
// What the Windows implementations share: the program's texts are byte strings in the
// system's ANSI code page (as workspaces and headers are written), converted to and from
// the wide-character calls here, at the boundary. Host paths use '/' between folders
// ("C:/Data/roads.tab", "//server/share/x"); the system is given '\'.
#include <windows.h>
// The platform layer's own names that windows.h would turn into its wide functions.
#undef CopyFile
#undef DeleteFile
#undef GetFileAttributes
#undef SetFileAttributes
#undef GetProfileString
#undef WriteProfileString

#include <string>
#include <string_view>

#include "platform/SysError.h"

namespace platform::win32 {

std::wstring Wide(std::string_view text);        // ANSI code page to UTF-16
std::string Narrow(std::wstring_view text);      // UTF-16 to the ANSI code page
std::wstring NativePath(std::string_view path);  // a host path for the system: '\' separators
std::string HostPath(std::wstring_view path);    // a system path as a host path: '/' separators

// The system's last error, or a given one, as a SysError with the system's text (a
// fallback text where the system has none).
SysError LastError();
SysError FromWin32(DWORD code);

// A handle closed when it goes out of scope.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE h) : m_h(h) {}
    ~Handle() { Reset(); }
    Handle(Handle&& o) noexcept : m_h(o.m_h) { o.m_h = INVALID_HANDLE_VALUE; }
    Handle& operator=(Handle&& o) noexcept {
        if (this != &o) {
            Reset();
            m_h = o.m_h;
            o.m_h = INVALID_HANDLE_VALUE;
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool IsValid() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
    HANDLE Get() const { return m_h; }
    void Reset() {
        if (IsValid()) ::CloseHandle(m_h);
        m_h = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE m_h = INVALID_HANDLE_VALUE;
};

}  // namespace platform::win32
