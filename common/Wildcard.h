#pragma once
// Match of a name against a pattern with '*' (any run of bytes) and '?' (any one byte),
// ignoring ASCII letter case.
#include <string_view>

namespace common {

bool WildcardMatch(std::string_view pattern, std::string_view name);

}  // namespace common
