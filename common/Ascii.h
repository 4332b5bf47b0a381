#pragma once
// ASCII-only text helpers. Only the letters A-Z and a-z change case; every other byte is kept
// as it is (no locale), so a position found in a case-changed copy is the same position in
// the original.
#include <string>
#include <string_view>

namespace common {

constexpr char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
constexpr char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

std::string UpperAscii(std::string_view text);
std::string LowerAscii(std::string_view text);
// Equal when ASCII letter case is ignored.
bool EqualNoCase(std::string_view a, std::string_view b);

// Without the leading (TrimStart), trailing (TrimEnd) or both (Trim) bytes found in `blanks`.
std::string_view TrimStart(std::string_view text, std::string_view blanks = " \t");
std::string_view TrimEnd(std::string_view text, std::string_view blanks = " \t");
std::string_view Trim(std::string_view text, std::string_view blanks = " \t");

}  // namespace common
