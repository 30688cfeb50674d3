// The development host with a few rows of its own, so the bridge can be checked from a browser
// whatever rows the product's table has today.
#include <windows.h>

#include "StubCore/StubMain.h"
#include "stubframework/MyExternalMethods.h"
#include "stubframework/core/WorkerPrologue.h"
#include "stubframework/htmlui/HostWindow.h"
#include "stubframework/utils/ComHolders.h"
#include "stubframework/utils/ProxyAuth.h"
#include "tools/devhost/BrowserHost.h"

#include <memory>

namespace {

using stubframework::ExternalMethods;
namespace core = stubframework::core;

struct CallBackRecord {
    ExternalMethods* owner = nullptr;
    core::MarshalledCallback callback;
    std::wstring text;
    LONG number;
    bool flag;
};

DWORD WINAPI CallBackThreadFunc(void* parameter) {
    core::WorkerPrologue<CallBackRecord> worker(parameter, L"CallBackThreadFunc");
    if (!worker.Ready()) return 1;
    CallBackRecord* const record = &worker.Get();
    // rgvarg order: the script receives (text, number, flag).
    stubframework::utils::ScopedVariant args[3];
    V_VT(args[0].Ptr()) = VT_BOOL;
    V_BOOL(args[0].Ptr()) = record->flag ? VARIANT_TRUE : VARIANT_FALSE;
    V_VT(args[1].Ptr()) = VT_I4;
    V_I4(args[1].Ptr()) = record->number;
    V_VT(args[2].Ptr()) = VT_BSTR;
    V_BSTR(args[2].Ptr()) = ::SysAllocStringLen(record->text.data(), static_cast<UINT>(record->text.size()));
    VARIANT values[3] = {args[0].Get(), args[1].Get(), args[2].Get()};   // borrowed, freed by the holders
    core::CallScriptFunction(worker.Callback().Get(), values, 3);
    return 0;
}

// What the run's credential prompt answers for target: "user|password", or "cancelled".
std::wstring AskCredentials(const std::wstring& target) {
    stubframework::utils::ForgetRunCredentials();
    stubframework::utils::AuthRound round(target, true, true);
    stubframework::utils::Credentials credentials;
    return round.Next(credentials) ? credentials.user + L"|" + credentials.password : L"cancelled";
}

DWORD WINAPI CredentialsThreadFunc(void* parameter) {
    core::WorkerPrologue<CallBackRecord> worker(parameter, L"CredentialsThreadFunc");
    if (!worker.Ready()) return 1;
    stubframework::utils::ScopedVariant answer;
    const std::wstring text = AskCredentials(worker.Get().text);
    V_VT(answer.Ptr()) = VT_BSTR;
    V_BSTR(answer.Ptr()) = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    VARIANT values[1] = {answer.Get()};
    core::CallScriptFunction(worker.Callback().Get(), values, 1);
    return 0;
}

class TestMethods : public myexternalmethods::MyExternalMethods {
public:
    explicit TestMethods(stubframework::StubApplication* app) : MyExternalMethods(app) {
        RegisterMethod(L"echoValue", &TestMethods::EchoValue);
        RegisterMethod(L"callBackLater", &TestMethods::CallBackLater);
        RegisterMethod(L"askCredentials", &TestMethods::AskCredentialsNow);
        RegisterMethod(L"askCredentialsLater", &TestMethods::AskCredentialsLater);
        // Until the product's own window row is in the table.
        if (!Methods().count(L"closeWindow")) RegisterMethod(L"closeWindow", &TestMethods::CloseWindow);
    }

private:
    // echoValue(text | whole number | flag) gives its argument back unchanged.
    HRESULT EchoValue(WORD flags, DISPPARAMS* params, VARIANT* result) {
        HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD | DISPATCH_PROPERTYGET, params, 1);
        if (FAILED(hr)) return hr;
        const VARTYPE type = V_VT(&params->rgvarg[0]);
        if (type != VT_BSTR && type != VT_I4 && type != VT_BOOL) return DISP_E_TYPEMISMATCH;
        if (!result) return S_OK;
        return ::VariantCopy(result, &params->rgvarg[0]);
    }

    // callBackLater(text, number, flag, callback): a worker calls callback(text, number, flag).
    HRESULT CallBackLater(WORD flags, DISPPARAMS* params, VARIANT*) {
        static const VARTYPE kTypes[] = {VT_DISPATCH, VT_BOOL, VT_I4, VT_BSTR};
        const HRESULT hr = CheckArguments(flags, DISPATCH_METHOD, params, kTypes);
        if (FAILED(hr)) return hr;
        std::unique_ptr<CallBackRecord> record(new CallBackRecord());
        record->flag = V_BOOL(&params->rgvarg[1]) != VARIANT_FALSE;
        record->number = V_I4(&params->rgvarg[2]);
        record->text.assign(V_BSTR(&params->rgvarg[3]), ::SysStringLen(V_BSTR(&params->rgvarg[3])));
        return StartWorker(L"callBackLater", CallBackThreadFunc, record, V_DISPATCH(&params->rgvarg[0]));
    }

    // askCredentials(target): the prompt inside the call; its answer as AskCredentials gives it.
    HRESULT AskCredentialsNow(WORD flags, DISPPARAMS* params, VARIANT* result) {
        static const VARTYPE kTypes[] = {VT_BSTR};
        const HRESULT hr = CheckArguments(flags, DISPATCH_METHOD | DISPATCH_PROPERTYGET, params, kTypes);
        if (FAILED(hr)) return hr;
        const std::wstring text =
            AskCredentials(std::wstring(V_BSTR(&params->rgvarg[0]), ::SysStringLen(V_BSTR(&params->rgvarg[0]))));
        if (!result) return S_OK;
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return S_OK;
    }

    // askCredentialsLater(target, callback): a worker asks while the page waits for nothing.
    HRESULT AskCredentialsLater(WORD flags, DISPPARAMS* params, VARIANT*) {
        static const VARTYPE kTypes[] = {VT_DISPATCH, VT_BSTR};
        const HRESULT hr = CheckArguments(flags, DISPATCH_METHOD, params, kTypes);
        if (FAILED(hr)) return hr;
        std::unique_ptr<CallBackRecord> record(new CallBackRecord());
        record->text.assign(V_BSTR(&params->rgvarg[1]), ::SysStringLen(V_BSTR(&params->rgvarg[1])));
        return StartWorker(L"askCredentialsLater", CredentialsThreadFunc, record, V_DISPATCH(&params->rgvarg[0]));
    }

    HRESULT CloseWindow(WORD flags, DISPPARAMS* params, VARIANT*) {
        const HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 0);
        if (FAILED(hr)) return hr;
        stubframework::htmlui::RequestHostWindowClose(WindowHandle());
        return S_OK;
    }
};

ExternalMethods* MakeTestMethods(stubframework::StubApplication* app) { return new TestMethods(app); }

} // namespace

int wmain() {
    stubframework::UiHost host;
    host.runWindow = devhost::RunBrowserWindow;
    host.makeMethods = MakeTestMethods;
    return stubframework::StubMain(host);
}
