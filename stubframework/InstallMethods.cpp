// The method row of the package install: install.
#include "stubframework/ExternalMethods.h"
#include "StubCore/StubApplication.h"
#include "stubframework/core/InstallText.h"
#include "stubframework/core/InstallWorkflow.h"
#include "stubframework/utils/CommandLineArgs.h"

#include <memory>

namespace stubframework {

HRESULT ExternalMethods::Install(WORD flags, DISPPARAMS* params, VARIANT*) {
    WriteDebugLog(app_, L"EMInstall");
    // rgvarg order: callback, estimatedTime, parameters, packagePath.
    static const VARTYPE kTypes[] = {VT_DISPATCH, VT_I4, VT_BSTR, VT_BSTR};
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD, params, kTypes);
    if (FAILED(hr)) return hr;

    auto request = std::make_unique<core::InstallRequest>();
    const std::wstring pageParameters = TextArg(params, 2);
    request->packagePath = TextArg(params, 3);
    request->estimatedTime = V_I4(&params->rgvarg[1]);
    request->parameters =
        core::ComposeInstallParameters(app_->Switches().passThrough, utils::GetCommandLineArgs(), pageParameters);
    WriteDebugLog(app_, L"EMInstall params %ld, %s, %s", static_cast<long>(request->estimatedTime),
                  pageParameters.c_str(), request->packagePath.c_str());

    const utils::ArgList split = utils::SplitCommandLine(request->parameters);
    hr = StartWorker(L"EMInstall", core::InstallThreadFunc, request, V_DISPATCH(&params->rgvarg[0]));
    if (FAILED(hr)) return hr;
    // An installer with its own UI must not sit behind the stub's window.
    if (!core::HasWholeArgument(split, L"/QN") && !core::HasWholeArgument(split, L"/V/QN"))
        ::ShowWindow(WindowHandle(), SW_HIDE);
    WriteDebugLog(app_, L"EMInstall -- Finish");
    return S_OK;
}

void ExternalMethods::RegisterInstallMethods() {
    RegisterMethod(L"install", &ExternalMethods::Install);
}

} // namespace stubframework
