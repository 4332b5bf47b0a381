// MapInfo.Runtime.dll: the runtime as an in-process COM server, class "MapInfo.Runtime"
// (apartment-threaded). Exports the four entry points of a self-registering server
// (MapInfo.Runtime.def); `regsvr32 MapInfo.Runtime.dll` registers it.
#include <olectl.h>

#include <atomic>

#include "engines/mapinfo/win32/RuntimeServer.h"

namespace {

std::atomic<long> g_locks{0};  // live objects and LockServer locks
mapinfo::com::ClassFactory g_factory(L"MapInfo.Runtime");

}  // namespace

namespace mapinfo::com {
void LockModule() { ++g_locks; }
void UnlockModule() { --g_locks; }
}  // namespace mapinfo::com

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(clsid, mapinfo::com::kRuntimeClsid)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, object);
}

STDAPI DllCanUnloadNow(void) { return g_locks == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer(void) {
    std::wstring path = mapinfo::com::ThisModulePath();
    if (path.empty()) return SELFREG_E_CLASS;
    return mapinfo::com::RegisterServerClass({mapinfo::com::kRuntimeClsid, L"MapInfo.Runtime",
                                              L"Tallomir embedded MapInfo runtime", L"InprocServer32", std::move(path),
                                              L"Apartment"});
}

STDAPI DllUnregisterServer(void) {
    return mapinfo::com::UnregisterServerClass(mapinfo::com::kRuntimeClsid, L"MapInfo.Runtime");
}
