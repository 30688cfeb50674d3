// The table of named methods that the page reaches through window.external, and the checks and
// result encodings every handler shares.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <map>
#include <string>

#include "stubframework/utils/Handle.h"

namespace stubframework {

class StubApplication;
class ExternalMethods;

// Arguments as IDispatch::Invoke received them; rgvarg holds the script's arguments in reverse.
using MethodHandler = HRESULT (ExternalMethods::*)(WORD flags, DISPPARAMS* params, VARIANT* result);

class ExternalMethods {
public:
    using MethodMap = std::map<std::wstring, MethodHandler>;
    // Restores the properties of a resumed run; it must run before any page script does.
    using RestoreStep = void (*)(ExternalMethods& methods);

    explicit ExternalMethods(StubApplication* app, RestoreStep restoreResumeProperties = nullptr);
    virtual ~ExternalMethods();
    ExternalMethods(const ExternalMethods&) = delete;
    ExternalMethods& operator=(const ExternalMethods&) = delete;

    virtual void SetWindowHandle(HWND window) { window_ = window; }
    HWND WindowHandle() const { return window_; }

    StubApplication* Application() const { return app_; }
    // Guards the property map for every thread that touches it.
    utils::CriticalSection& PropertyLock() { return lock_; }
    // Ordered by name (UTF-16 code units); never changes after construction.
    const MethodMap& Methods() const { return methods_; }

    HRESULT Call(MethodHandler handler, WORD flags, DISPPARAMS* params, VARIANT* result) {
        return (this->*handler)(flags, params, result);
    }

    // Compares the argument count, then each rgvarg type exactly (no coercion); the expected
    // list is in rgvarg order, the reverse of the script's.
    HRESULT CheckParamTypes(const DISPPARAMS* params, const VARTYPE* expected, UINT count);

    // The flags and count checks that precede the type check: exactly the expected flags value,
    // exactly `count` positional arguments and no named ones.
    static HRESULT CheckFlagsAndCount(WORD flags, WORD expectedFlags, const DISPPARAMS* params, UINT count);

    // Result encodings.
    static void SetTextResult(VARIANT* result, const std::wstring& text);
    static void SetBoolResult(VARIANT* result, bool value);
    static void SetNumberResult(VARIANT* result, LONG value);
    static void SetUnsignedResult(VARIANT* result, ULONG value);

protected:
    // A name registered twice keeps the last handler.
    void RegisterMethod(const wchar_t* name, MethodHandler handler) { methods_[name] = handler; }
    // Handlers of derived tables; they are only ever called on their own object.
    template <typename Derived>
    void RegisterMethod(const wchar_t* name, HRESULT (Derived::*handler)(WORD, DISPPARAMS*, VARIANT*)) {
        methods_[name] = static_cast<MethodHandler>(handler);
    }

    // Rows of the installer web service, machine identity and network state (WebServiceMethods.cpp).
    void RegisterWebServiceMethods();

private:
    HRESULT TrackUserActivity(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT GetMachineId(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT IsInEmbargoedCountry(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT IsInternetConnected(WORD flags, DISPPARAMS* params, VARIANT* result);

    StubApplication* app_;
    HWND window_ = nullptr;
    utils::CriticalSection lock_;
    MethodMap methods_;
};

} // namespace stubframework
