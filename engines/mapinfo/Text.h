#pragma once
// Small text helpers of the runtime. MapInfo texts are single-byte; only ASCII letters
// change case, so positions in an upper-cased copy match the original.
#include <string>
#include <string_view>
#include <vector>

#include "common/Ascii.h"

namespace mapinfo {

using common::EqualNoCase;
using common::UpperAscii;
// Without leading and trailing blanks and tabs.
inline std::string_view TrimBlanks(std::string_view text) { return common::Trim(text, " \t"); }
// Lines ended by CR LF, LF or CR; the ends are not part of the lines.
std::vector<std::string_view> SplitLines(std::string_view text);

inline bool IsSeparator(char c) { return c == '\\' || c == '/'; }
// The folder part with its trailing separator; "" for a bare name ("C:" for "C:name").
std::string FolderOf(std::string_view path);
// The text after the last separator (or drive colon).
std::string FileNameOf(std::string_view path);
// True when the file-name part of the path has a dot.
bool HasExtension(std::string_view path);

// A statement quoted for a message: cut to a readable length.
std::string QuoteForMessage(std::string_view text);

}  // namespace mapinfo
