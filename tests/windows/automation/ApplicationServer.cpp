// A local (out-of-process) COM server for the tests: the embedded runtime's object,
// registered as "MapInfo.Application", so calls take the path real MapInfo's take: a
// separate process, marshalled BSTRs and EXCEPINFOs, the class start-up tries first.
//   MapInfoApplicationServer /RegServer     registers it (HKLM\Software\Classes)
//   MapInfoApplicationServer /UnregServer   removes that registration
//   MapInfoApplicationServer -Embedding     serves (how COM starts it) until its last
//                                           object is released
#include <windows.h>
#include <shellapi.h>

#include "engines/mapinfo/win32/RuntimeServer.h"

namespace {

constexpr const wchar_t* kProgId = L"MapInfo.Application";
// A server nobody connects to leaves after this long.
constexpr UINT kIdleMilliseconds = 60000;

DWORD g_thread = 0;
DWORD g_cookie = 0;
long g_locks = 0;  // all calls come in on the apartment's one thread
bool g_used = false;
mapinfo::com::ClassFactory g_factory(kProgId);

bool IsSwitch(const wchar_t* arg, const wchar_t* name) {
    if (*arg != L'/' && *arg != L'-') return false;
    return ::CompareStringOrdinal(arg + 1, -1, name, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

namespace mapinfo::com {

void LockModule() {
    ++g_locks;
    g_used = true;
}

// The last object gone: no new activation reaches this process any more, and it leaves.
void UnlockModule() {
    if (--g_locks != 0) return;
    if (g_cookie) {
        ::CoRevokeClassObject(g_cookie);
        g_cookie = 0;
    }
    ::PostThreadMessageW(g_thread, WM_QUIT, 0, 0);
}

}  // namespace mapinfo::com

int main() {
    enum class Action { Serve, Register, Unregister } action = Action::Serve;
    int argc = 0;
    if (wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc)) {
        for (int i = 1; i < argc; ++i) {
            if (IsSwitch(argv[i], L"RegServer")) action = Action::Register;
            else if (IsSwitch(argv[i], L"UnregServer")) action = Action::Unregister;
        }
        ::LocalFree(argv);
    }
    if (action == Action::Register) {
        const std::wstring command = L"\"" + mapinfo::com::ThisModulePath() + L"\"";
        const HRESULT hr = mapinfo::com::RegisterServerClass({mapinfo::com::kTestApplicationClsid, kProgId,
                                                              L"Tallomir test MapInfo application", L"LocalServer32",
                                                              command, nullptr});
        return SUCCEEDED(hr) ? 0 : 1;
    }
    if (action == Action::Unregister)
        return SUCCEEDED(mapinfo::com::UnregisterServerClass(mapinfo::com::kTestApplicationClsid, kProgId)) ? 0 : 1;

    g_thread = ::GetCurrentThreadId();
    MSG msg;
    ::PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the thread's queue, before any post
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    HRESULT hr = ::CoRegisterClassObject(mapinfo::com::kTestApplicationClsid, &g_factory, CLSCTX_LOCAL_SERVER,
                                         REGCLS_MULTIPLEUSE, &g_cookie);
    if (FAILED(hr)) {
        ::CoUninitialize();
        return 3;
    }
    ::SetTimer(nullptr, 0, kIdleMilliseconds, nullptr);
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && !msg.hwnd && !g_used) break;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    if (g_cookie) ::CoRevokeClassObject(g_cookie);
    ::CoUninitialize();
    return 0;
}
