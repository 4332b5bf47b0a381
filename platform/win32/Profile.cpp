// Initialisation-profile files through the system's own profile functions.
#include "platform/Profile.h"

#include "platform/FileSystem.h"
#include "platform/win32/WinText.h"

namespace platform {

std::string GetProfileString(const std::string& file, const std::string& section, const std::string& key,
                             const std::string& defaultValue) {
    // The buffer holds the longest value the program reads plus its terminator, so a longer
    // value comes back cut exactly as the system cuts it.
    std::wstring value(kProfileValueMax + 1, L'\0');
    const std::wstring fallback = win32::Wide(defaultValue);
    const DWORD length = ::GetPrivateProfileStringW(win32::Wide(section).c_str(), win32::Wide(key).c_str(),
                                                    fallback.c_str(), value.data(), static_cast<DWORD>(value.size()),
                                                    win32::NativePath(ExpandFileName(file)).c_str());
    value.resize(length);
    std::string text = win32::Narrow(value);
    if (text.size() > kProfileValueMax) text.resize(kProfileValueMax);
    return text;
}

SysError WriteProfileString(const std::string& file, const std::string& section, const std::string& key,
                            const std::string& value) {
    if (!::WritePrivateProfileStringW(win32::Wide(section).c_str(), win32::Wide(key).c_str(),
                                      win32::Wide(value).c_str(), win32::NativePath(ExpandFileName(file)).c_str()))
        return win32::LastError();
    return {};
}

SysError FlushProfile(const std::string& file) {
    // Writing nothing to no section makes the system write out what it keeps of the file.
    ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, win32::NativePath(ExpandFileName(file)).c_str());
    if (!PathExists(file)) return {};
    return ReadFile(file).error;
}

}  // namespace platform
