#include "platform/TextCodec.h"

#include <windows.h>

#include <string>

namespace platform {

std::optional<std::string> Utf8FromCodePage(const std::string& bytes, unsigned codePage) {
    if (bytes.empty()) return std::string();
    const int size = static_cast<int>(bytes.size());
    const int wide = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (wide <= 0) return std::nullopt;
    std::wstring utf16(static_cast<std::size_t>(wide), L'\0');
    ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, utf16.data(), wide);
    const int narrow = ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, nullptr, 0, nullptr, nullptr);
    if (narrow <= 0) return std::nullopt;
    std::string out(static_cast<std::size_t>(narrow), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, out.data(), narrow, nullptr, nullptr);
    return out;
}

}  // namespace platform
