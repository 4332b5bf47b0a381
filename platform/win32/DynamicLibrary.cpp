#include "platform/DynamicLibrary.h"

#include "platform/win32/WinText.h"

namespace platform {

DynamicLibrary::DynamicLibrary(const std::string& path) {
    // The library's own folder is searched for what it needs in turn.
    HMODULE module = ::LoadLibraryExW(win32::NativePath(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) m_error = win32::LastError().message;
    m_handle = reinterpret_cast<void*>(module);
}

DynamicLibrary::~DynamicLibrary() { Unload(); }

void* DynamicLibrary::Symbol(const char* name) const {
    if (!m_handle) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(m_handle), name));
}

void DynamicLibrary::Unload() {
    if (m_handle) ::FreeLibrary(static_cast<HMODULE>(m_handle));
    m_handle = nullptr;
}

std::string LibraryFileName(const std::string& baseName) { return baseName + ".dll"; }

}  // namespace platform
