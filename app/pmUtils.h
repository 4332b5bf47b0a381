#pragma once
// Path and text helpers for texts that come from MapInfo files. Both '\' and '/' separate
// folders in such texts; recognition upper-cases ASCII letters only, so a position found in
// the upper-cased copy is the same position in the original.
#include <string>
#include <string_view>

namespace pm {

inline constexpr std::size_t npos = std::string::npos;

inline bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Position of the last '\' or '/', npos when there is none.
std::size_t LastSeparator(std::string_view path);

// The text after the last separator (the whole text when it has none).
std::string FileNameOf(std::string_view path);
// The folder part with its trailing separator ("" for a bare name).
std::string FolderOf(std::string_view path);
// The text before the last dot (the whole text when it has none).
std::string WithoutExtension(std::string_view name);
// The extension with its dot (".TAB"), "" when the file name has no dot.
std::string ExtensionOf(std::string_view path);
// Adds a '\' unless the text already ends with a separator (or is empty).
std::string WithTrailingSeparator(std::string_view folder);

// ASCII upper case; every other byte is kept, so positions match the original.
std::string UpperAscii(std::string_view text);
bool EqualNoCase(std::string_view a, std::string_view b);
bool EndsWithNoCase(std::string_view text, std::string_view suffix);

// First occurrence of `what` in `text` at or after `from`; npos when absent.
inline std::size_t Find(std::string_view text, std::string_view what, std::size_t from = 0) {
    return text.find(what, from);
}
// First occurrence of `what` in the upper-cased `text` (what must be upper case).
std::size_t FindUpper(std::string_view text, std::string_view upperWhat);

// Converts every '/' to '\', for texts written into files that MapInfo on Windows reads.
std::string ToBackslashes(std::string_view path);

}  // namespace pm
