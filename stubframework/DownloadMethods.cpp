// The method rows of the download workflow: download, stopDownload, initDownloadSize.
#include "stubframework/ExternalMethods.h"
#include "StubCore/StubApplication.h"
#include "stubframework/core/DownloadWorkflow.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/core/PackageCache.h"
#include "stubframework/core/PullDownload.h"
#include "stubframework/utils/Paths.h"

#include <memory>

namespace stubframework {

HRESULT ExternalMethods::Download(WORD flags, DISPPARAMS* params, VARIANT*) {
    WriteDebugLog(app_, L"EMDownload");
    // rgvarg order: callback, isResume, isSecure, crc, file, url.
    static const VARTYPE kTypes[] = {VT_DISPATCH, VT_BOOL, VT_BOOL, VT_BSTR, VT_BSTR, VT_BSTR};
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD, params, kTypes);
    if (FAILED(hr)) return hr;

    auto request = std::make_unique<core::DownloadRequest>();
    request->url = TextArg(params, 5);
    request->path = TextArg(params, 4);
    request->crc = TextArg(params, 3);
    request->isSecure = V_BOOL(&params->rgvarg[2]) != VARIANT_FALSE;
    request->isResume = V_BOOL(&params->rgvarg[1]) != VARIANT_FALSE;
    WriteDebugLog(app_, L"EMDownload params %d, %d, %s, %s, %s", V_BOOL(&params->rgvarg[1]),
                  V_BOOL(&params->rgvarg[2]), request->crc.c_str(), request->path.c_str(), request->url.c_str());

    hr = StartWorker(L"EMDownload", core::DownloadThreadFunc, request, V_DISPATCH(&params->rgvarg[0]));
    if (FAILED(hr)) return hr;
    WriteDebugLog(app_, L"EMDownload -- Finish");
    return S_OK;
}

HRESULT ExternalMethods::StopDownload(WORD flags, DISPPARAMS* params, VARIANT*) {
    WriteDebugLog(app_, L"EMStopDownload");
    const HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 0);
    if (FAILED(hr)) return hr;
    app_->Bridge().SetStop(true);
    return S_OK;
}

HRESULT ExternalMethods::InitDownloadSize(WORD flags, DISPPARAMS* params, VARIANT*) {
    WriteDebugLog(app_, L"EMInitDownloadSize");
    static const VARTYPE kTypes[] = {VT_BOOL, VT_BSTR, VT_BSTR};
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD, params, kTypes);
    if (FAILED(hr)) return hr;

    std::wstring url = TextArg(params, 2);
    // The probe's few bytes go to the ground, never into the user's folder.
    const std::wstring cached = core::CachedPathOf(*app_, TextArg(params, 1));
    if (cached.empty()) {
        WriteErrorLog(app_, L"No place in the package cache for %s", TextArg(params, 1).c_str());
        return S_OK;
    }
    const std::wstring temporary = cached + L".temp";
    if (V_BOOL(&params->rgvarg[0]) != VARIANT_FALSE) core::TokenizeDownloadUrl(*app_, url);

    core::HtmlExternal& bridge = app_->Bridge();
    bridge.SetSizeProbe(true);
    core::DownloadCallback callback(&bridge);
    core::PullDownloadToFile(url.c_str(), temporary.c_str(), &callback);
    bridge.SetSizeProbe(false);
    if (utils::PathExists(temporary)) ::DeleteFileW(temporary.c_str());
    return S_OK;
}

void ExternalMethods::RegisterDownloadMethods() {
    RegisterMethod(L"download", &ExternalMethods::Download);
    RegisterMethod(L"stopDownload", &ExternalMethods::StopDownload);
    RegisterMethod(L"initDownloadSize", &ExternalMethods::InitDownloadSize);
}

} // namespace stubframework
