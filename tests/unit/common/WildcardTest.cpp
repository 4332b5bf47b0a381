#include "common/Wildcard.h"

#include <gtest/gtest.h>

namespace {

using common::WildcardMatch;

TEST(WildcardMatch, Table) {
    struct Case {
        const char* pattern;
        const char* name;
        bool match;
    } cases[] = {
        {"*", "", true},
        {"*.*", "a.b", true},
        {"a?c", "ABC", true},
        {"a?c", "ac", false},
        {"*.tab", "x.TAB", true},
        {"*.tab", "x.tab.bak", false},
        {"a*b*c", "aXbYbZc", true},
        {"a*b*c", "aXbYbZ", false},
        {"roads.*", "roads.", true},
        {"roads.*", "roads", false},
    };
    for (const auto& c : cases) EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
}

}  // namespace
