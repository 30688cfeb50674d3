#include "tests/htmlui/TestSupport.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

using namespace stubframework;

namespace htmluitest {

PrivateCurrentUser::PrivateCurrentUser()
    : sub_(L"SOFTWARE\\TandoraTests\\HtmlUi" + std::to_wstring(::GetCurrentProcessId())) {
    EXPECT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, sub_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                key_.Receive(), nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(::RegOverridePredefKey(HKEY_CURRENT_USER, key_.Get()), ERROR_SUCCESS);
}

PrivateCurrentUser::~PrivateCurrentUser() {
    ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    key_.Reset();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, sub_.c_str());
}

TestApplication::TestApplication(const utils::StartupSwitches& switches)
    : app_(new StubApplication(utils::ScopedHandle(), switches)) {}

TestApplication::~TestApplication() { app_.reset(); }

std::string TestApplication::LogText() {
    std::string bytes;
    testsupport::ReadFileBytes(app_->Log().FilePath(), bytes);
    return bytes;
}

STDMETHODIMP RecordingFunction::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) RecordingFunction::Release() {
    const LONG count = ::InterlockedDecrement(&references_);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

STDMETHODIMP RecordingFunction::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                       EXCEPINFO*, UINT*) {
    if (id != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
    Call call{::GetCurrentThreadId(), flags, {}};
    for (UINT i = 0; params && i < params->cArgs; ++i) {
        const VARIANT& arg = params->rgvarg[i];
        if (V_VT(&arg) == VT_BSTR) call.textArgs.push_back(V_BSTR(&arg) ? V_BSTR(&arg) : L"");
        else if (V_VT(&arg) == VT_I4) call.textArgs.push_back(std::to_wstring(V_I4(&arg)));
        else call.textArgs.push_back(L"?");
    }
    calls.push_back(call);
    marker = 1;
    if (result) {
        ::VariantInit(result);
        V_VT(result) = VT_I4;
        V_I4(result) = static_cast<LONG>(calls.size());
    }
    return S_OK;
}

Args::~Args() {
    for (VARIANT& v : scriptOrder_) ::VariantClear(&v);
}

Args& Args::Text(const std::wstring& text) {
    VARIANT v;
    ::VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    scriptOrder_.push_back(v);
    return *this;
}

Args& Args::Number(LONG value) {
    VARIANT v;
    ::VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    scriptOrder_.push_back(v);
    return *this;
}

Args& Args::Bool(bool value) {
    VARIANT v;
    ::VariantInit(&v);
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = value ? VARIANT_TRUE : VARIANT_FALSE;
    scriptOrder_.push_back(v);
    return *this;
}

Args& Args::Function(IDispatch* function) {
    VARIANT v;
    ::VariantInit(&v);
    V_VT(&v) = VT_DISPATCH;
    V_DISPATCH(&v) = function;
    function->AddRef();
    scriptOrder_.push_back(v);
    return *this;
}

DISPPARAMS Args::Params() {
    // Shallow copies: the values stay owned by scriptOrder_.
    reversed_.assign(scriptOrder_.rbegin(), scriptOrder_.rend());
    return DISPPARAMS{reversed_.empty() ? nullptr : reversed_.data(), nullptr,
                      static_cast<UINT>(reversed_.size()), 0};
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

} // namespace htmluitest
