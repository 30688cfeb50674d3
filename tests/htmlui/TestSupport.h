// Shared pieces of the bridge and window tests: a private HKEY_CURRENT_USER, an application
// object around it, and a script function double that records its calls.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <memory>
#include <string>
#include <vector>
#include <wrl/client.h>

#include "StubCore/StubApplication.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/utils/Handle.h"

namespace htmluitest {

// Points HKEY_CURRENT_USER of this process at a throwaway key, so the application object's
// registry writes never meet other tests' values.
class PrivateCurrentUser {
public:
    PrivateCurrentUser();
    ~PrivateCurrentUser();
private:
    std::wstring sub_;
    stubframework::utils::ScopedRegKey key_;
};

// A real application object (log, settings, no bundle) for the method table to point at.
class TestApplication {
public:
    explicit TestApplication(const stubframework::utils::StartupSwitches& switches = {});
    ~TestApplication();
    stubframework::StubApplication& App() { return *app_; }
    // The log's lines so far.
    std::string LogText();
private:
    PrivateCurrentUser user_;
    std::unique_ptr<stubframework::StubApplication> app_;
};

// The bridge with a reference held for the test's lifetime.
struct BridgeRef {
    stubframework::core::HtmlExternal* bridge = new stubframework::core::HtmlExternal();
    ~BridgeRef() { bridge->Release(); }
    stubframework::core::HtmlExternal* operator->() const { return bridge; }
};

// A script function: records each call's thread, flags and arguments (in rgvarg order) and
// answers with its call count as VT_I4.
class RecordingFunction final : public IDispatch {
public:
    struct Call {
        DWORD thread;
        WORD flags;
        std::vector<std::wstring> textArgs;   // VT_BSTR as text, VT_I4 as decimal, others "?"
    };

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&references_)); }
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO*, UINT*) override;

    LONG References() const { return references_; }
    std::vector<Call> calls;
    int marker = 0;            // set to 1 inside every call

private:
    LONG references_ = 1;
};

// Hands out a VT_BSTR / VT_I4 / VT_BOOL / VT_DISPATCH argument; the holder frees texts.
class Args {
public:
    Args() = default;
    Args(const Args&) = delete;
    Args& operator=(const Args&) = delete;
    ~Args();
    Args& Text(const std::wstring& text);
    Args& Number(LONG value);
    Args& Bool(bool value);
    Args& Function(IDispatch* function);
    // DISPPARAMS as a script engine builds it: the last added argument is rgvarg[0].
    DISPPARAMS Params();
private:
    std::vector<VARIANT> scriptOrder_;
    std::vector<VARIANT> reversed_;
};

std::string Narrow(const std::wstring& text);

// Takes over the reference a new object starts with. (MinGW's ComPtr::Attach adds one more.)
template <typename T>
Microsoft::WRL::ComPtr<T> Adopt(T* object) {
    Microsoft::WRL::ComPtr<T> held;
    *held.GetAddressOf() = object;
    return held;
}

} // namespace htmluitest
