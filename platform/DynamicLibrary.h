#pragma once
// Loading a library at run time.
#include <memory>
#include <string>

namespace platform {

class DynamicLibrary {
public:
    // Loads the library; check IsLoaded() and Error() afterwards.
    explicit DynamicLibrary(const std::string& path);
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    bool IsLoaded() const { return m_handle != nullptr; }
    const std::string& Error() const { return m_error; }
    // The address of an exported symbol, nullptr when it is not there.
    void* Symbol(const char* name) const;
    void Unload();

private:
    void* m_handle = nullptr;
    std::string m_error;
};

// The file name a library of this base name has on this platform ("zipengine" ->
// "libzipengine.so").
std::string LibraryFileName(const std::string& baseName);

}  // namespace platform
