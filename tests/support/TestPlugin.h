#pragma once
// The plumbing every test automation server shares: texts handed back through the plugin
// interface, and the object that answers with one invoke function.
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/AutomationPlugin.h"

namespace testing_support {

// A copy of `s` the program releases through free_text.
inline char* PluginText(const std::string& s, size_t* len) {
    char* p = static_cast<char*>(std::malloc(s.size() + 1));
    std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    *len = s.size();
    return p;
}

using PluginInvoke = int (*)(void*, const char*, const char*, size_t, char**, size_t*);

// A new object that answers every call with `invoke`.
inline TallomirAutomationObject* NewPluginObject(PluginInvoke invoke) {
    auto* obj = new TallomirAutomationObject{TALLOMIR_AUTOMATION_ABI, nullptr, invoke,
                                             [](void*, char* text) { std::free(text); },
                                             [](void* self) { delete static_cast<TallomirAutomationObject*>(self); }};
    obj->self = obj;
    return obj;
}

}  // namespace testing_support
