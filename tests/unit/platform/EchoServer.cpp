// A small automation server for the registry tests. "Echo" answers its argument, "Upper"
// upper-cases it, "Fail" is rejected with the argument as the server's message; any other
// method is unknown.
#include <cstdlib>
#include <cstring>
#include <string>

#include "TestPlugin.h"
#include "platform/AutomationPlugin.h"

namespace {

int Invoke(void*, const char* method, const char* arg, size_t argLen, char** out, size_t* outLen) {
    std::string a(arg, argLen);
    std::string m = method;
    if (m == "Echo") {
        *out = testing_support::PluginText(a, outLen);
        return TALLOMIR_INVOKE_OK;
    }
    if (m == "Upper") {
        for (char& c : a) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        *out = testing_support::PluginText(a, outLen);
        return TALLOMIR_INVOKE_OK;
    }
    if (m == "Fail") {
        *out = testing_support::PluginText(a, outLen);
        return TALLOMIR_INVOKE_ERROR;
    }
    *out = testing_support::PluginText("Unknown name: " + m, outLen);
    return TALLOMIR_INVOKE_UNKNOWN_METHOD;
}

}  // namespace

extern "C" TALLOMIR_PLUGIN_EXPORT TallomirAutomationObject* TallomirCreateAutomationObject(void) {
    return testing_support::NewPluginObject(Invoke);
}
