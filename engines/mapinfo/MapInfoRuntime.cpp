// The automation server "MapInfo.Runtime": one Engine per object, reached through the
// methods "Do" (run a statement) and "Eval" (evaluate an expression), each taking the
// MapBasic text. Method names ignore letter case, as automation names do. No exception
// crosses the C boundary: a rejected call answers TALLOMIR_INVOKE_ERROR with the message.
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "engines/mapinfo/MapInfoEngine.h"
#include "engines/mapinfo/MapInfoError.h"
#include "engines/mapinfo/Text.h"
#include "platform/AutomationPlugin.h"

namespace {

struct RuntimeObject {
    TallomirAutomationObject api;
    mapinfo::Engine engine;
};

// A malloc'ed copy handed to the caller (released through FreeText); null when memory ran out.
char* Copy(const std::string& s, size_t* len) {
    char* p = static_cast<char*>(std::malloc(s.size() + 1));
    if (!p) {
        *len = 0;
        return nullptr;
    }
    std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    *len = s.size();
    return p;
}

int Invoke(void* self, const char* method, const char* arg, size_t argLen, char** out, size_t* outLen) {
    auto* object = static_cast<RuntimeObject*>(self);
    *out = nullptr;
    *outLen = 0;
    std::string name = method ? method : "";
    try {
        std::string_view text(arg ? arg : "", arg ? argLen : 0);
        if (mapinfo::EqualNoCase(name, "Do")) {
            object->engine.Do(text);
            *out = Copy("", outLen);
            return TALLOMIR_INVOKE_OK;
        }
        if (mapinfo::EqualNoCase(name, "Eval")) {
            *out = Copy(object->engine.Eval(text), outLen);
            return TALLOMIR_INVOKE_OK;
        }
        *out = Copy("Unknown name: " + name, outLen);
        return TALLOMIR_INVOKE_UNKNOWN_METHOD;
    } catch (const mapinfo::MapInfoError& e) {
        *out = Copy(e.what(), outLen);
    } catch (const std::bad_alloc&) {
        *out = Copy("Out of memory.", outLen);
    } catch (const std::exception& e) {
        *out = Copy(std::string("Internal error: ") + e.what(), outLen);
    } catch (...) {
        *out = Copy("Internal error.", outLen);
    }
    return TALLOMIR_INVOKE_ERROR;
}

void FreeText(void*, char* text) { std::free(text); }

void Release(void* self) { delete static_cast<RuntimeObject*>(self); }

}  // namespace

extern "C" TALLOMIR_PLUGIN_EXPORT TallomirAutomationObject* TallomirCreateAutomationObject(void) {
    auto* object = new (std::nothrow) RuntimeObject{};
    if (!object) return nullptr;
    object->api = TallomirAutomationObject{TALLOMIR_AUTOMATION_ABI, object, Invoke, FreeText, Release};
    return &object->api;
}
