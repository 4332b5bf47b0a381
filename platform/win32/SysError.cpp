#include <cstdio>

#include "platform/win32/WinText.h"

namespace platform {

SysError SysError::Last() { return win32::LastError(); }

namespace win32 {

std::wstring Wide(std::string_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), length);
    return wide;
}

std::string Narrow(std::wstring_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length = ::WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
    return narrow;
}

std::wstring NativePath(std::string_view path) {
    std::wstring wide = Wide(path);
    for (wchar_t& c : wide)
        if (c == L'/') c = L'\\';
    return wide;
}

std::string HostPath(std::wstring_view path) {
    std::string narrow = Narrow(path);
    for (char& c : narrow)
        if (c == '\\') c = '/';
    return narrow;
}

SysError FromWin32(DWORD code) {
    if (code == 0) return {};
    wchar_t* buffer = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string message;
    if (length > 0 && buffer) message = Narrow(std::wstring_view(buffer, length));
    if (buffer) ::LocalFree(buffer);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    if (message.empty()) {
        char fallback[64];
        std::snprintf(fallback, sizeof fallback, "System error %lu (0x%08lX).", static_cast<unsigned long>(code),
                      static_cast<unsigned long>(code));
        message = fallback;
    }
    // Windows numbers its errors the way the program does; a failed COM call's HRESULT is
    // kept whole, so it stays distinct.
    return {static_cast<int>(code), message};
}

SysError LastError() { return FromWin32(::GetLastError()); }

}  // namespace win32
}  // namespace platform
