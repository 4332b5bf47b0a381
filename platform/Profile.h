#pragma once
// Initialisation-profile files with the semantics the program relies on: sections and keys
// match without regard to case, a value is read back cut to 2047 characters, writing one
// value keeps every other line of the file as it stands. Lines end in CR LF when written.
#include <string>

#include "platform/SysError.h"

namespace platform {

inline constexpr std::size_t kProfileValueMax = 2047;

// The value of `key` in `section` of `file`, or `defaultValue` when the file, the section
// or the key is missing. Surrounding blanks of the value are dropped, as are one pair of
// enclosing double quotes.
std::string GetProfileString(const std::string& file, const std::string& section, const std::string& key,
                             const std::string& defaultValue);

// Sets `key` in `section` (both created when missing), keeping all other lines.
SysError WriteProfileString(const std::string& file, const std::string& section, const std::string& key,
                            const std::string& value);

// Writes are immediate; flushing only checks that the file is readable again.
SysError FlushProfile(const std::string& file);

}  // namespace platform
