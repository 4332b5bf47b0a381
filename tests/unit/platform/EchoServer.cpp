// A small automation server for the registry tests. "Echo" answers its argument, "Upper"
// upper-cases it, "Fail" is rejected with the argument as the server's message; any other
// method is unknown.
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/AutomationPlugin.h"

namespace {

char* Copy(const std::string& s, size_t* len) {
    char* p = static_cast<char*>(std::malloc(s.size() + 1));
    std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    *len = s.size();
    return p;
}

int Invoke(void*, const char* method, const char* arg, size_t argLen, char** out, size_t* outLen) {
    std::string a(arg, argLen);
    std::string m = method;
    if (m == "Echo") {
        *out = Copy(a, outLen);
        return TALLOMIR_INVOKE_OK;
    }
    if (m == "Upper") {
        for (char& c : a) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        *out = Copy(a, outLen);
        return TALLOMIR_INVOKE_OK;
    }
    if (m == "Fail") {
        *out = Copy(a, outLen);
        return TALLOMIR_INVOKE_ERROR;
    }
    *out = Copy("Unknown name: " + m, outLen);
    return TALLOMIR_INVOKE_UNKNOWN_METHOD;
}

void FreeText(void*, char* text) { std::free(text); }

void Release(void* self) { delete static_cast<TallomirAutomationObject*>(self); }

}  // namespace

extern "C" TALLOMIR_PLUGIN_EXPORT TallomirAutomationObject* TallomirCreateAutomationObject(void) {
    auto* obj = new TallomirAutomationObject{TALLOMIR_AUTOMATION_ABI, nullptr, Invoke, FreeText, Release};
    obj->self = obj;
    return obj;
}
