// Late-bound automation through COM: an object is created from its programmatic identifier
// (CLSIDFromProgID, then CoCreateInstance for IDispatch, a local server or an in-process
// one) and called by name (GetIDsOfNames, then Invoke with one BSTR argument). Texts cross
// as BSTRs, converted from and to the program's ANSI code page. Failures read as they do
// on the other platforms: "Invalid class string: ... (class not registered)", "Server
// execution failed: ...", "Unknown name: ...", the server's own description, or the
// system's text for any other HRESULT.
#include "platform/Automation.h"

#include <objbase.h>
#include <oleauto.h>

#include <utility>

#include "platform/FileSystem.h"
#include "platform/win32/WinText.h"

namespace platform {

namespace {

// The system's text for a failed COM call (a fallback text where the system has none).
std::string HResultText(HRESULT hr) { return win32::FromWin32(static_cast<DWORD>(hr)).message; }

// COM, as a single-threaded apartment, on the calling thread: started once, before the
// thread's first creation, and kept until the process ends (the program's automation
// reference outlives every scope that could end it). A thread whose apartment some other
// part of the process already chose (a multithreaded one) keeps it: COM works there too.
void EnsureCom() {
    thread_local HRESULT started = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(started) && started != RPC_E_CHANGED_MODE)
        throw AutomationError("COM could not be started: " + HResultText(started));
}

bool IsClassNotRegistered(HRESULT hr) {
    return hr == CO_E_CLASSSTRING || hr == REGDB_E_CLASSNOTREG || hr == REGDB_E_READREGDB || hr == REGDB_E_KEYMISSING;
}

// A BSTR freed when it goes out of scope.
class Bstr {
public:
    explicit Bstr(const std::string& text) {
        std::wstring wide = win32::Wide(text);
        m_b = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
        if (!m_b) throw AutomationError("Out of memory.");
    }
    ~Bstr() { ::SysFreeString(m_b); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR Get() const { return m_b; }

private:
    BSTR m_b = nullptr;
};

std::string FromBstr(BSTR b) { return b ? win32::Narrow(std::wstring_view(b, ::SysStringLen(b))) : std::string(); }

// A VARIANT cleared when it goes out of scope.
struct Variant {
    VARIANT v;
    Variant() { ::VariantInit(&v); }
    ~Variant() { ::VariantClear(&v); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
};

// The server's message from a DISP_E_EXCEPTION; every string of the EXCEPINFO is freed.
std::string ExceptionText(EXCEPINFO& info) {
    if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
    std::string text = FromBstr(info.bstrDescription);
    ::SysFreeString(info.bstrSource);
    ::SysFreeString(info.bstrDescription);
    ::SysFreeString(info.bstrHelpFile);
    if (!text.empty()) return text;
    if (FAILED(info.scode)) return HResultText(info.scode);
    if (info.wCode != 0) return "The automation server rejected the call (error " + std::to_string(info.wCode) + ").";
    return "The automation server rejected the call.";
}

}  // namespace

struct AutomationObject::Impl {
    IDispatch* dispatch = nullptr;

    explicit Impl(IDispatch* d) : dispatch(d) {}
    ~Impl() {
        if (dispatch) dispatch->Release();
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
};

std::shared_ptr<AutomationObject> CreateOleObject(const std::string& progId) {
    EnsureCom();
    const std::string notRegistered = "Invalid class string: " + progId + " (class not registered)";
    if (progId.empty()) throw AutomationError(notRegistered);
    const std::wstring wide = win32::Wide(progId);
    CLSID clsid{};
    HRESULT hr = ::CLSIDFromProgID(wide.c_str(), &clsid);
    if (FAILED(hr)) {
        if (IsClassNotRegistered(hr)) throw AutomationError(notRegistered);
        throw AutomationError("Invalid class string: " + progId + " (" + HResultText(hr) + ")");
    }
    IDispatch* dispatch = nullptr;
    hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_INPROC_SERVER, IID_IDispatch,
                            reinterpret_cast<void**>(&dispatch));
    if (FAILED(hr) || !dispatch) {
        if (dispatch) dispatch->Release();
        if (hr == REGDB_E_CLASSNOTREG) throw AutomationError(notRegistered);
        throw AutomationError("Server execution failed: " + progId + ": " +
                              HResultText(FAILED(hr) ? hr : E_NOINTERFACE));
    }
    auto impl = std::make_unique<AutomationObject::Impl>(dispatch);
    return std::shared_ptr<AutomationObject>(new AutomationObject(std::move(impl), progId));
}

AutomationObject::AutomationObject(std::unique_ptr<Impl> impl, std::string progId)
    : m_impl(std::move(impl)), m_progId(std::move(progId)) {}

AutomationObject::~AutomationObject() = default;

std::string AutomationObject::Invoke(const std::string& method, const std::string& argument) {
    IDispatch* dispatch = m_impl->dispatch;
    std::wstring name = win32::Wide(method);
    LPOLESTR names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (hr == DISP_E_UNKNOWNNAME || hr == DISP_E_MEMBERNOTFOUND) throw AutomationError("Unknown name: " + method);
    if (FAILED(hr)) throw AutomationError(HResultText(hr));

    Bstr text(argument);
    VARIANTARG arg;
    ::VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = text.Get();  // owned by `text`
    DISPPARAMS params{&arg, nullptr, 1, 0};
    Variant result;
    EXCEPINFO info{};
    UINT argError = 0;
    hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result.v, &info, &argError);
    if (hr == DISP_E_EXCEPTION) throw AutomationError(ExceptionText(info));
    if (FAILED(hr)) throw AutomationError(HResultText(hr));

    switch (result.v.vt) {
        case VT_EMPTY:
        case VT_NULL: return {};
        case VT_BSTR: return FromBstr(result.v.bstrVal);
        default: break;
    }
    hr = ::VariantChangeType(&result.v, &result.v, VARIANT_ALPHABOOL, VT_BSTR);
    if (FAILED(hr)) throw AutomationError(HResultText(hr));
    return FromBstr(result.v.bstrVal);
}

}  // namespace platform
