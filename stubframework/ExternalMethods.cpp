#include "stubframework/ExternalMethods.h"
#include "StubCore/StubApplication.h"
#include "stubframework/core/ScriptCallback.h"
#include "stubframework/utils/ComHolders.h"

#include <oleauto.h>

namespace stubframework {

ExternalMethods::ExternalMethods(StubApplication* app, RestoreStep restoreResumeProperties) : app_(app) {
    // Before any page script runs: the first page of a resumed run reads what was restored.
    if (restoreResumeProperties) restoreResumeProperties(*this);
    else RestoreResumeProperties();
}

ExternalMethods::~ExternalMethods() = default;

HRESULT ExternalMethods::CheckParamTypes(const DISPPARAMS* params, const VARTYPE* expected, UINT count) {
    if ((params ? params->cArgs : 0) != count) {
        WriteErrorLog(app_, L"CheckParamTypes -- DISP_E_BADPARAMCOUNT");
        return DISP_E_BADPARAMCOUNT;
    }
    for (UINT i = 0; i < count; ++i) {
        const VARTYPE actual = V_VT(&params->rgvarg[i]);
        if (actual != expected[i]) {
            WriteErrorLog(app_, L"CheckParamTypes -- DISP_E_TYPEMISMATCH -- %u %u %u", i,
                          static_cast<unsigned>(actual), static_cast<unsigned>(expected[i]));
            return DISP_E_TYPEMISMATCH;
        }
    }
    return S_OK;
}

HRESULT ExternalMethods::CheckFlagsAndCount(WORD flags, WORD expectedFlags, const DISPPARAMS* params, UINT count) {
    if (flags != expectedFlags) return DISP_E_MEMBERNOTFOUND;
    // No DISPPARAMS at all is a call without arguments.
    if ((params ? params->cArgs : 0) != count || (params && params->cNamedArgs != 0)) return DISP_E_BADPARAMCOUNT;
    return S_OK;
}

HRESULT ExternalMethods::StartWorker(const wchar_t* method, LPTHREAD_START_ROUTINE routine, void* record,
                                     core::MarshalledCallback& callback, IDispatch* function) {
    if (!app_) return E_UNEXPECTED;
    HRESULT hr = callback.Marshal(function);
    if (FAILED(hr)) {
        WriteErrorLog(app_, L"%s: CoMarshalInterThreadInterfaceInStream failed with %x", method,
                      static_cast<unsigned>(hr));
        return hr;
    }
    if (!app_->StartWorker(routine, record)) {
        // No worker means no callback ever: the page must hear of it now.
        hr = HRESULT_FROM_WIN32(::GetLastError());
        WriteErrorLog(app_, L"%s: CreateThread failed with %x", method, static_cast<unsigned>(hr));
        return FAILED(hr) ? hr : E_FAIL;
    }
    return S_OK;
}

std::wstring ExternalMethods::TextArg(const DISPPARAMS* params, UINT index) {
    if (!params || index >= params->cArgs) return std::wstring();
    const VARIANT& arg = params->rgvarg[index];
    if (V_VT(&arg) == VT_BSTR) {
        const BSTR text = V_BSTR(&arg);
        return text ? std::wstring(text, ::SysStringLen(text)) : std::wstring();
    }
    utils::ScopedVariant converted;
    if (FAILED(::VariantChangeType(converted.Ptr(), const_cast<VARIANT*>(&arg), 0, VT_BSTR))) return std::wstring();
    const BSTR text = V_BSTR(converted.Ptr());
    return text ? std::wstring(text, ::SysStringLen(text)) : std::wstring();
}

void ExternalMethods::SetTextResult(VARIANT* result, const std::wstring& text) {
    ::VariantInit(result);
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

void ExternalMethods::SetBoolResult(VARIANT* result, bool value) {
    ::VariantInit(result);
    V_VT(result) = VT_BOOL;
    V_BOOL(result) = value ? VARIANT_TRUE : VARIANT_FALSE;
}

void ExternalMethods::SetNumberResult(VARIANT* result, LONG value) {
    ::VariantInit(result);
    V_VT(result) = VT_I4;
    V_I4(result) = value;
}

void ExternalMethods::SetUnsignedResult(VARIANT* result, ULONG value) {
    ::VariantInit(result);
    V_VT(result) = VT_UI4;
    V_UI4(result) = value;
}

} // namespace stubframework
