#include "stubframework/htmlui/MSHTMLExternal.h"

#include <wrl/client.h>
#include <cwchar>
#include <new>

namespace stubframework { namespace htmlui {

namespace {
const DISPID kExpandoBit = static_cast<DISPID>(0x80000000u);

bool SameName(const wchar_t* a, const wchar_t* b, bool ignoreCase) {
    return (ignoreCase ? ::_wcsicmp(a, b) : std::wcscmp(a, b)) == 0;
}
} // namespace

MSHTMLExternal::~MSHTMLExternal() = default;

STDMETHODIMP MSHTMLExternal::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == __uuidof(IDispatchEx)) {
        *object = static_cast<IDispatchEx*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) MSHTMLExternal::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&references_)); }

STDMETHODIMP_(ULONG) MSHTMLExternal::Release() {
    const LONG count = ::InterlockedDecrement(&references_);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

STDMETHODIMP MSHTMLExternal::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLExternal::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLExternal::GetMemberProperties(DISPID, DWORD, DWORD*) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLExternal::GetMemberName(DISPID, BSTR*) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLExternal::GetNextDispID(DWORD, DISPID, DISPID*) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLExternal::GetNameSpaceParent(IUnknown**) { return E_NOTIMPL; }

STDMETHODIMP MSHTMLExternal::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (count && (!names || !ids)) return E_POINTER;
    size_t methodCount = 0;
    const DispatchEntry* table = DispatchTable(methodCount);
    HRESULT hr = S_OK;
    for (UINT n = 0; n < count; ++n) {
        ids[n] = DISPID_UNKNOWN;
        for (size_t i = 0; names[n] && i < methodCount; ++i) {
            if (SameName(table[i].name, names[n], false)) {
                ids[n] = static_cast<DISPID>(i + 1);
                break;
            }
        }
        if (ids[n] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

STDMETHODIMP MSHTMLExternal::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                    VARIANT* result, EXCEPINFO*, UINT*) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    return InvokeMethod(id, flags, params, result);
}

HRESULT MSHTMLExternal::InvokeMethod(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) {
    size_t methodCount = 0;
    const DispatchEntry* table = DispatchTable(methodCount);
    if (id < 1 || static_cast<size_t>(id) > methodCount) return DISP_E_MEMBERNOTFOUND;
    // Handlers build strings and containers: running out of memory must not cross into the caller.
    try {
        return CallEntry(table[id - 1], flags, params, result);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP MSHTMLExternal::GetDispID(BSTR name, DWORD flags, DISPID* id) {
    if (!id) return E_POINTER;
    *id = DISPID_UNKNOWN;
    const wchar_t* wanted = name ? name : L"";
    const bool ignoreCase = (flags & fdexNameCaseInsensitive) != 0;

    size_t methodCount = 0;
    const DispatchEntry* table = DispatchTable(methodCount);
    for (size_t i = 0; i < methodCount; ++i) {
        if (SameName(table[i].name, wanted, ignoreCase)) {
            *id = static_cast<DISPID>(i + 1);
            return S_OK;
        }
    }
    if (!(flags & fdexNameNoDynamicProperties)) {
        for (size_t i = 0; i < expandos_.size(); ++i) {
            Expando& expando = *expandos_[i];
            if (!SameName(expando.name.c_str(), wanted, ignoreCase)) continue;
            if (expando.deleted) {
                if (!(flags & fdexNameEnsure)) return DISP_E_UNKNOWNNAME;
                expando.value.Reset();
                expando.deleted = false;
            }
            *id = static_cast<DISPID>(i) | kExpandoBit;
            return S_OK;
        }
    }
    if (!(flags & fdexNameEnsure)) return DISP_E_UNKNOWNNAME;
    try {
        std::unique_ptr<Expando> expando(new Expando);
        expando->name = wanted;
        expandos_.push_back(std::move(expando));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    *id = static_cast<DISPID>(expandos_.size() - 1) | kExpandoBit;
    return S_OK;
}

STDMETHODIMP MSHTMLExternal::InvokeEx(DISPID id, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                                      EXCEPINFO* exception, IServiceProvider* caller) {
    if (id >= 0) return InvokeMethod(id, flags, params, result);
    const size_t index = static_cast<size_t>(static_cast<DWORD>(id) & ~static_cast<DWORD>(kExpandoBit));
    if (index >= expandos_.size()) return DISP_E_UNKNOWNNAME;
    return InvokeExpando(*expandos_[index], locale, flags, params, result, exception, caller);
}

HRESULT MSHTMLExternal::InvokeExpando(Expando& expando, LCID locale, WORD flags, DISPPARAMS* params,
                                      VARIANT* result, EXCEPINFO* exception, IServiceProvider* caller) {
    const UINT args = params ? params->cArgs : 0;
    const UINT named = params ? params->cNamedArgs : 0;
    if (flags & DISPATCH_PROPERTYGET) {
        if (args || named) return DISP_E_BADPARAMCOUNT;
        if (!result) return S_OK;
        ::VariantInit(result);
        return ::VariantCopy(result, expando.value.Ptr());
    }
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        if (args != 1) return DISP_E_BADPARAMCOUNT;
        if (named != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) return DISP_E_PARAMNOTFOUND;
        // Dereferenced: a by-reference argument points into the caller's frame, gone after the call.
        utils::ScopedVariant copy;
        const HRESULT hr = ::VariantCopyInd(copy.Ptr(), &params->rgvarg[0]);
        if (FAILED(hr)) return hr;
        expando.value.Attach(copy.Detach());
        expando.deleted = false;
        return S_OK;
    }
    if (flags & DISPATCH_METHOD) {
        if (V_VT(&expando.value.Get()) != VT_DISPATCH || !V_DISPATCH(&expando.value.Get())) return S_OK;
        // Held for the call: the function may change this object's members while it runs.
        Microsoft::WRL::ComPtr<IDispatch> function(V_DISPATCH(&expando.value.Get()));
        Microsoft::WRL::ComPtr<IDispatchEx> functionEx;
        if (SUCCEEDED(function.As(&functionEx)))
            return functionEx->InvokeEx(DISPID_VALUE, locale, flags, params, result, exception, caller);
        return function->Invoke(DISPID_VALUE, IID_NULL, locale, flags, params, result, exception, nullptr);
    }
    return E_NOTIMPL;
}

STDMETHODIMP MSHTMLExternal::DeleteMemberByName(BSTR name, DWORD flags) {
    DISPID id = DISPID_UNKNOWN;
    GetDispID(name, flags, &id);
    return DeleteMemberByDispID(id);
}

STDMETHODIMP MSHTMLExternal::DeleteMemberByDispID(DISPID id) {
    if (id >= 0) return S_FALSE;
    const size_t index = static_cast<size_t>(static_cast<DWORD>(id) & ~static_cast<DWORD>(kExpandoBit));
    if (index < expandos_.size()) {
        expandos_[index]->value.Reset();
        expandos_[index]->deleted = true;
    }
    return S_OK;
}

}} // namespace stubframework::htmlui
