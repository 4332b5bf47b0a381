#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

namespace platform {

DynamicLibrary::DynamicLibrary(const std::string& path) {
    m_handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        const char* err = ::dlerror();
        m_error = err ? err : "The library could not be loaded.";
    }
}

DynamicLibrary::~DynamicLibrary() { Unload(); }

void* DynamicLibrary::Symbol(const char* name) const {
    if (!m_handle) return nullptr;
    return ::dlsym(m_handle, name);
}

void DynamicLibrary::Unload() {
    if (m_handle) ::dlclose(m_handle);
    m_handle = nullptr;
}

std::string LibraryFileName(const std::string& baseName) { return "lib" + baseName + ".so"; }

}  // namespace platform
