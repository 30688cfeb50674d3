// The rows of the self-update and the installer-list refresh: isSkipSelfUpdate,
// isSilentLaunchStub, isNeedSelfUpdate, selfUpdate, updateInstallerList.
#include "stubframework/ExternalMethods.h"
#include "StubCore/StubApplication.h"
#include "stubframework/core/DownloadWorkflow.h"
#include "stubframework/core/SelfUpdate.h"
#include "stubframework/utils/CommandLineArgs.h"
#include "stubframework/utils/Paths.h"

#include <memory>

namespace stubframework {

HRESULT ExternalMethods::IsSkipSelfUpdate(WORD flags, DISPPARAMS* params, VARIANT* result) {
    const HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 0);
    if (FAILED(hr) || !result) return hr;
    const bool skip = app_->Switches().noSelfUpdate;
    SetBoolResult(result, skip);
    WriteDebugLog(app_, L"EMIsSkipUpdate Result: %s", skip ? L"skipUpdate" : L"update");
    return S_OK;
}

HRESULT ExternalMethods::IsSilentLaunchStub(WORD flags, DISPPARAMS* params, VARIANT* result) {
    const HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 0);
    if (FAILED(hr) || !result) return hr;
    bool silent = false;
    for (const std::wstring& arg : utils::GetCommandLineArgs()) silent = silent || utils::EqualsNoCase(arg, L"/QN");
    SetBoolResult(result, silent);
    WriteDebugLog(app_, L"EMIsSilentLaunchStub Result: %s", silent ? L"launch silently" : L"launch normal");
    return S_OK;
}

HRESULT ExternalMethods::IsNeedSelfUpdateRow(WORD flags, DISPPARAMS* params, VARIANT* result) {
    static const VARTYPE kTypes[] = {VT_BSTR};
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD | DISPATCH_PROPERTYGET, params, kTypes);
    if (FAILED(hr) || !result) return hr;
    std::wstring own;
    const bool need = utils::GetOwnModulePath(own) && core::IsNeedSelfUpdate(*app_, TextArg(params, 0), own);
    SetBoolResult(result, need);
    WriteDebugLog(app_, L"EMIsNeedSelfUpdate Result: %s", need ? L"need update" : L"not need update");
    return S_OK;
}

HRESULT ExternalMethods::SelfUpdate(WORD flags, DISPPARAMS* params, VARIANT*) {
    // rgvarg order: callback, url.
    static const VARTYPE kTypes[] = {VT_DISPATCH, VT_BSTR};
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD, params, kTypes);
    if (FAILED(hr)) return hr;
    auto request = std::make_unique<core::DownloadRequest>();
    request->url = TextArg(params, 1);
    request->isSecure = true;
    request->isResume = true;
    return StartWorker(L"ZSUpdateSelf", core::SelfUpdateThreadFunc, request, V_DISPATCH(&params->rgvarg[0]));
}

HRESULT ExternalMethods::UpdateInstallerList(WORD flags, DISPPARAMS* params, VARIANT*) {
    WriteDebugLog(app_, L"EMUpdateInstallerList");
    // rgvarg order: callback, isResume, isSecure, path, url.
    static const VARTYPE kTypes[] = {VT_DISPATCH, VT_BOOL, VT_BOOL, VT_BSTR, VT_BSTR};
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD, params, kTypes);
    if (FAILED(hr)) return hr;
    auto request = std::make_unique<core::DownloadRequest>();
    request->url = TextArg(params, 4);
    request->path = TextArg(params, 3);
    request->isSecure = V_BOOL(&params->rgvarg[2]) != VARIANT_FALSE;
    request->isResume = V_BOOL(&params->rgvarg[1]) != VARIANT_FALSE;
    WriteDebugLog(app_, L"EMUpdateInstallerList %s %s %d %d", request->url.c_str(), request->path.c_str(),
                  V_BOOL(&params->rgvarg[2]), V_BOOL(&params->rgvarg[1]));
    hr = StartWorker(L"EMUpdateInstallerList", core::UpdateInstallerListThreadFunc, request,
                     V_DISPATCH(&params->rgvarg[0]));
    if (SUCCEEDED(hr)) WriteDebugLog(app_, L"EMUpdateInstallerList -- Finish");
    return hr;
}

void ExternalMethods::RegisterSelfUpdateMethods() {
    RegisterMethod(L"isSkipSelfUpdate", &ExternalMethods::IsSkipSelfUpdate);
    RegisterMethod(L"isNeedSelfUpdate", &ExternalMethods::IsNeedSelfUpdateRow);
    RegisterMethod(L"isSilentLaunchStub", &ExternalMethods::IsSilentLaunchStub);
    RegisterMethod(L"selfUpdate", &ExternalMethods::SelfUpdate);
    RegisterMethod(L"updateInstallerList", &ExternalMethods::UpdateInstallerList);
}

} // namespace stubframework
