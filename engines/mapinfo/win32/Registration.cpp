// Self-registration of the runtime's servers under HKEY_LOCAL_MACHINE\Software\Classes.
#include <string>

#include "engines/mapinfo/win32/RuntimeServer.h"

namespace mapinfo::com {
namespace {

constexpr const wchar_t* kClassesRoot = L"Software\\Classes";

std::wstring ClsidText(const CLSID& clsid) {
    wchar_t text[64] = {};
    ::StringFromGUID2(clsid, text, 64);
    return text;
}

// Creates (or opens) HKLM\Software\Classes\<path> and sets one value (the key's default
// value when `name` is null).
LONG SetValue(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
    const std::wstring full = std::wstring(kClassesRoot) + L"\\" + path;
    HKEY key = nullptr;
    LONG rc = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, full.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    rc = ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
    return rc;
}

// The default value of HKLM\Software\Classes\<path>; empty when there is none.
std::wstring DefaultValue(const std::wstring& path) {
    const std::wstring full = std::wstring(kClassesRoot) + L"\\" + path;
    wchar_t buffer[128] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, full.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
        ERROR_SUCCESS)
        return {};
    return buffer;
}

LONG DeleteTree(const std::wstring& path) {
    HKEY classes = nullptr;
    LONG rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClassesRoot, 0, KEY_ALL_ACCESS, &classes);
    if (rc != ERROR_SUCCESS) return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
    rc = ::RegDeleteTreeW(classes, path.c_str());
    if (rc == ERROR_SUCCESS) rc = ::RegDeleteKeyW(classes, path.c_str());
    ::RegCloseKey(classes);
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

}  // namespace

HRESULT RegisterServerClass(const ClassRegistration& r) {
    const std::wstring clsid = ClsidText(r.clsid);
    const std::wstring classKey = L"CLSID\\" + clsid;
    const std::wstring progId = r.progId;
    LONG rc = SetValue(progId, nullptr, r.description);
    if (rc == ERROR_SUCCESS) rc = SetValue(progId + L"\\CLSID", nullptr, clsid);
    if (rc == ERROR_SUCCESS) rc = SetValue(classKey, nullptr, r.description);
    if (rc == ERROR_SUCCESS) rc = SetValue(classKey + L"\\ProgID", nullptr, progId);
    if (rc == ERROR_SUCCESS) rc = SetValue(classKey + L"\\" + r.serverKey, nullptr, r.server);
    if (rc == ERROR_SUCCESS && r.threadingModel)
        rc = SetValue(classKey + L"\\" + r.serverKey, L"ThreadingModel", r.threadingModel);
    if (rc != ERROR_SUCCESS) {
        UnregisterServerClass(r.clsid, r.progId);
        return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
    }
    return S_OK;
}

HRESULT UnregisterServerClass(const CLSID& clsid, const wchar_t* progId) {
    const std::wstring id = ClsidText(clsid);
    LONG rc = ERROR_SUCCESS;
    // Another server may have taken the ProgID over since: its registration stays.
    const std::wstring progIdKey = progId;
    if (DefaultValue(progIdKey + L"\\CLSID") == id) rc = DeleteTree(progIdKey);
    const LONG rcClass = DeleteTree(L"CLSID\\" + id);
    if (rc == ERROR_SUCCESS) rc = rcClass;
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
}

std::wstring ThisModulePath() {
    static const int anchor = 0;
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCWSTR>(&anchor), &module))
        return {};
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace mapinfo::com
