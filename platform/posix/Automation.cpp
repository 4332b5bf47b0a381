#include "platform/Automation.h"

#include "platform/AutomationPlugin.h"
#include "platform/DynamicLibrary.h"
#include "platform/FileSystem.h"

namespace platform {

struct AutomationObject::Impl {
    std::unique_ptr<DynamicLibrary> library;  // outlives the object it created
    TallomirAutomationObject* object = nullptr;

    ~Impl() {
        if (object) object->release(object->self);
        object = nullptr;
    }
};

std::shared_ptr<AutomationObject> CreateOleObject(const std::string& progId) {
    std::string pluginName = progId + ".so";
    for (const std::string& dir : AutomationSearchPath()) {
        std::string path = dir + "/" + pluginName;
        if (!FileExists(path)) continue;
        auto library = std::make_unique<DynamicLibrary>(path);
        if (!library->IsLoaded()) throw AutomationError("Server execution failed: " + library->Error());
        auto create = reinterpret_cast<TallomirCreateAutomationObjectFn>(library->Symbol(TALLOMIR_AUTOMATION_ENTRY));
        if (!create) throw AutomationError("Server execution failed: " + path + " is no automation server.");
        TallomirAutomationObject* object = create();
        if (!object) throw AutomationError("Server execution failed: " + progId + " did not start.");
        if (object->abi_version != TALLOMIR_AUTOMATION_ABI) {
            object->release(object->self);
            throw AutomationError("Server execution failed: " + progId + " speaks another interface version.");
        }
        auto impl = std::make_unique<AutomationObject::Impl>();
        impl->library = std::move(library);
        impl->object = object;
        return std::shared_ptr<AutomationObject>(new AutomationObject(std::move(impl), progId));
    }
    throw AutomationError("Invalid class string: " + progId + " (class not registered)");
}

AutomationObject::AutomationObject(std::unique_ptr<Impl> impl, std::string progId)
    : m_impl(std::move(impl)), m_progId(std::move(progId)) {}

AutomationObject::~AutomationObject() = default;

std::string AutomationObject::Invoke(const std::string& method, const std::string& argument) {
    TallomirAutomationObject* obj = m_impl->object;
    char* out = nullptr;
    std::size_t outLen = 0;
    int rc = obj->invoke(obj->self, method.c_str(), argument.data(), argument.size(), &out, &outLen);
    std::string text = out ? std::string(out, outLen) : std::string();
    if (out) obj->free_text(obj->self, out);
    switch (rc) {
        case TALLOMIR_INVOKE_OK: return text;
        case TALLOMIR_INVOKE_UNKNOWN_METHOD: throw AutomationError(text.empty() ? "Unknown name: " + method : text);
        default: throw AutomationError(text.empty() ? "The automation server rejected the call." : text);
    }
}

}  // namespace platform
