// The runtime's automation object: IDispatch without a type library over one Engine.
#include "engines/mapinfo/win32/RuntimeServer.h"

#include <oleauto.h>

#include <atomic>
#include <exception>
#include <new>
#include <string>

#include "engines/mapinfo/MapInfoEngine.h"
#include "engines/mapinfo/MapInfoError.h"
#include "platform/win32/WinText.h"

namespace mapinfo::com {
namespace {

constexpr DISPID kDispDo = 1;
constexpr DISPID kDispEval = 2;

// ASCII letters compared without case, as automation names are.
bool SameName(const wchar_t* name, const wchar_t* known) {
    for (; *name && *known; ++name, ++known) {
        wchar_t a = *name, b = *known;
        if (a >= L'a' && a <= L'z') a = static_cast<wchar_t>(a - L'a' + L'A');
        if (b >= L'a' && b <= L'z') b = static_cast<wchar_t>(b - L'a' + L'A');
        if (a != b) return false;
    }
    return *name == *known;
}

// Fills the caller's EXCEPINFO with the message; the answer of a rejected call.
HRESULT Reject(EXCEPINFO* info, const wchar_t* source, const std::string& message) noexcept {
    if (info) {
        *info = EXCEPINFO{};
        info->scode = E_FAIL;
        info->bstrSource = ::SysAllocString(source);
        try {
            const std::wstring wide = platform::win32::Wide(message);
            info->bstrDescription = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
        } catch (...) {
            info->bstrDescription = ::SysAllocString(L"Out of memory.");
        }
    }
    return DISP_E_EXCEPTION;
}

// Ends through Release (COM interfaces have no virtual destructors).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class RuntimeObject final : public IDispatch {
public:
    explicit RuntimeObject(const wchar_t* source) : m_source(source) { LockModule(); }

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --m_refs;
        if (left == 0) delete this;
        return left;
    }

    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return DISP_E_BADINDEX;
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        if (!names || !ids || count == 0) return E_INVALIDARG;
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        if (names[0] && SameName(names[0], L"Do")) ids[0] = kDispDo;
        else if (names[0] && SameName(names[0], L"Eval")) ids[0] = kDispEval;
        // Neither method has named arguments.
        return ids[0] != DISPID_UNKNOWN && count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* info,
                        UINT* argError) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        if ((id != kDispDo && id != kDispEval) || !(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
        if (!params) return E_INVALIDARG;
        if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
        if (params->cArgs != 1 || !params->rgvarg) return DISP_E_BADPARAMCOUNT;

        VARIANT text;
        ::VariantInit(&text);
        if (FAILED(::VariantChangeType(&text, &params->rgvarg[0], 0, VT_BSTR))) {
            if (argError) *argError = 0;
            return DISP_E_TYPEMISMATCH;
        }
        HRESULT hr = S_OK;
        try {
            const std::string argument =
                text.bstrVal ? platform::win32::Narrow(std::wstring_view(text.bstrVal, ::SysStringLen(text.bstrVal)))
                             : std::string();
            ::VariantClear(&text);
            if (id == kDispDo) {
                m_engine.Do(argument);
                if (result) ::VariantInit(result);  // VT_EMPTY
            } else {
                const std::wstring answer = platform::win32::Wide(m_engine.Eval(argument));
                BSTR b = ::SysAllocStringLen(answer.data(), static_cast<UINT>(answer.size()));
                if (!b) throw std::bad_alloc();
                if (result) {
                    ::VariantInit(result);
                    result->vt = VT_BSTR;
                    result->bstrVal = b;
                } else {
                    ::SysFreeString(b);
                }
            }
        } catch (const mapinfo::MapInfoError& e) {
            hr = Reject(info, m_source, e.what());
        } catch (const std::bad_alloc&) {
            hr = Reject(info, m_source, "Out of memory.");
        } catch (const std::exception& e) {
            hr = Reject(info, m_source, std::string("Internal error: ") + e.what());
        } catch (...) {
            hr = Reject(info, m_source, "Internal error.");
        }
        ::VariantClear(&text);
        return hr;
    }

private:
    ~RuntimeObject() { UnlockModule(); }

    std::atomic<ULONG> m_refs{1};
    const wchar_t* m_source;
    mapinfo::Engine m_engine;
};
#pragma GCC diagnostic pop

}  // namespace

STDMETHODIMP ClassFactory::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    RuntimeObject* created = nullptr;
    try {
        created = new RuntimeObject(m_source);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
    const HRESULT hr = created->QueryInterface(riid, object);
    created->Release();
    return hr;
}

STDMETHODIMP ClassFactory::LockServer(BOOL lock) {
    if (lock) LockModule();
    else UnlockModule();
    return S_OK;
}

}  // namespace mapinfo::com
