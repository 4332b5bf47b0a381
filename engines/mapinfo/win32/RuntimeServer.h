#pragma once
// The embedded MapInfo runtime as a COM automation server on Windows: one mapinfo::Engine
// per object, reached through IDispatch by the names "Do" (run a statement; answers
// nothing) and "Eval" (evaluate an expression; answers its text), letter case ignored, one
// text argument. Rejections come back as DISP_E_EXCEPTION with the runtime's message as
// the description; no C++ exception crosses COM.
//
// Two hosts serve it: the in-process server MapInfo.Runtime.dll ("MapInfo.Runtime") and,
// for the tests, a local server program registered as "MapInfo.Application". Each host
// defines LockModule/UnlockModule, which count its live objects and class-factory locks.
#include <windows.h>
#include <objbase.h>

#include <string>

namespace mapinfo::com {

// {B7D172E5-23D7-4EB1-B4D7-8384C3C3DD3D}: "MapInfo.Runtime", the in-process server.
inline constexpr CLSID kRuntimeClsid = {0xb7d172e5, 0x23d7, 0x4eb1, {0xb4, 0xd7, 0x83, 0x84, 0xc3, 0xc3, 0xdd, 0x3d}};
// {05B39B3D-A681-4200-998D-F1E51DEB2333}: the tests' local server, as "MapInfo.Application".
inline constexpr CLSID kTestApplicationClsid = {
    0x05b39b3d, 0xa681, 0x4200, {0x99, 0x8d, 0xf1, 0xe5, 0x1d, 0xeb, 0x23, 0x33}};

// Defined by the host: an object or a LockServer lock begins or ends.
void LockModule();
void UnlockModule();

// The class factory of the runtime's objects. It does not count towards the host's
// lifetime (a local server's registration holds it); it lives as long as the host.
// `source` names the server in the EXCEPINFO of rejected calls.
// (COM interfaces have no virtual destructors: objects end through Release.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(const wchar_t* source) : m_source(source) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    const wchar_t* m_source;
};
#pragma GCC diagnostic pop

// One class written to (and removed from) HKEY_LOCAL_MACHINE\Software\Classes:
//   <progId>                 = description, CLSID = {clsid}
//   CLSID\{clsid}            = description, ProgID = progId,
//                              <serverKey> = server [, ThreadingModel = threadingModel]
struct ClassRegistration {
    CLSID clsid;
    const wchar_t* progId;
    const wchar_t* description;
    const wchar_t* serverKey;       // L"InprocServer32" or L"LocalServer32"
    std::wstring server;            // the DLL's full path, or the program's command line
    const wchar_t* threadingModel;  // L"Apartment" for a DLL; nullptr for a program
};
HRESULT RegisterServerClass(const ClassRegistration& registration);
// Removes the class's key, and the ProgID's key where it still names this class.
HRESULT UnregisterServerClass(const CLSID& clsid, const wchar_t* progId);

// The full path of the module (DLL or program) that holds this code.
std::wstring ThisModulePath();

}  // namespace mapinfo::com
