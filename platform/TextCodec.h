#pragma once
// Texts of MapInfo files in UTF-8, converted from the code page they are written in by the
// system's own converter (iconv on POSIX systems, MultiByteToWideChar on Windows).
#include <optional>
#include <string>

namespace platform {

// `bytes` written in Windows code page `codePage` (1252, 1251, 437, 28591 for ISO 8859-1,
// 65001 for UTF-8...) as UTF-8; nothing when the system has no converter for the code page
// or the bytes are not text in it.
std::optional<std::string> Utf8FromCodePage(const std::string& bytes, unsigned codePage);

}  // namespace platform
