// The method rows of the installer web service and the machine's identity and network state:
// trackUserActivity, isInEmbargoedCountry, isInternetConnected, getMachineId.
#include "stubframework/ExternalMethods.h"
#include "StubCore/StubApplication.h"
#include "stubframework/core/Analytics.h"
#include "stubframework/core/AppConfig.h"
#include "stubframework/core/TokenService.h"

namespace stubframework {

HRESULT ExternalMethods::TrackUserActivity(WORD flags, DISPPARAMS* params, VARIANT*) {
    WriteDebugLog(app_, L"EMTrackUserActivity");
    static const VARTYPE kTypes[] = {VT_BSTR};
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD, params, kTypes);
    if (FAILED(hr)) return hr;

    const std::wstring activity = TextArg(params, 0);
    StubApplication* app = app_;
    app_->Analytics().StartUserActivity(activity, [app](const std::wstring& failed) {
        WriteErrorLog(app, L"TrackUserActivityTreadFunc track activity:%s failed!", failed.c_str());
    });
    return S_OK;
}

HRESULT ExternalMethods::IsInEmbargoedCountry(WORD flags, DISPPARAMS* params, VARIANT* result) {
    const HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 0);
    if (FAILED(hr) || !result) return hr;

    const core::RegionAnswer answer = app_->Analytics().QueryRegion();
    {
        utils::ScopedLock lock(lock_);
        app_->Config().SetProperty(L"Country", answer.country);
    }
    SetBoolResult(result, answer.isEmbargo == L"true");
    WriteDebugLog(app_, L"EMIsInEmbargoedCountry:Result: %s Country: %s", answer.isEmbargo.c_str(),
                  answer.country.c_str());
    return S_OK;
}

HRESULT ExternalMethods::IsInternetConnected(WORD flags, DISPPARAMS* params, VARIANT* result) {
    const HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 0);
    if (FAILED(hr) || !result) return hr;
    const bool connected = core::IsInternetConnected();
    SetBoolResult(result, connected);
    WriteDebugLog(app_, L"EMIsInternetConnected: %s", connected ? L"connected" : L"disconnected");
    return S_OK;
}

HRESULT ExternalMethods::GetMachineId(WORD flags, DISPPARAMS* params, VARIANT* result) {
    WriteDebugLog(app_, L"EMGetMachineId");
    const HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 0);
    if (FAILED(hr) || !result) return hr;
    const std::wstring id = app_->Config().MachineId();
    SetTextResult(result, id);
    WriteDebugLog(app_, L"EMGetMachineId Result : %s", id.c_str());
    return S_OK;
}

void ExternalMethods::RegisterWebServiceMethods() {
    RegisterMethod(L"trackUserActivity", &ExternalMethods::TrackUserActivity);
    RegisterMethod(L"getMachineId", &ExternalMethods::GetMachineId);
    RegisterMethod(L"isInEmbargoedCountry", &ExternalMethods::IsInEmbargoedCountry);
    RegisterMethod(L"isInternetConnected", &ExternalMethods::IsInternetConnected);
}

} // namespace stubframework
