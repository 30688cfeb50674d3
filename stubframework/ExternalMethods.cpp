#include "stubframework/ExternalMethods.h"
#include "StubCore/StubApplication.h"

#include <oleauto.h>

namespace stubframework {

ExternalMethods::ExternalMethods(StubApplication* app, RestoreStep restoreResumeProperties) : app_(app) {
    if (restoreResumeProperties) restoreResumeProperties(*this);
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
