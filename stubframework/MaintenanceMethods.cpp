// The method rows of the installed product's maintenance: setUninstallRegistryFromStub,
// isUninstallModeLaunch, removeProgram, repairProgram, verifyFileInSpecialDirectory,
// cancelVerifyThread.
#include "stubframework/ExternalMethods.h"
#include "StubCore/StubApplication.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/core/MaintenanceRules.h"
#include "stubframework/core/MaintenanceWorkflow.h"
#include "stubframework/utils/Registry.h"

#include <memory>

namespace stubframework {

namespace {
const wchar_t kUninstallKey[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
} // namespace

HRESULT ExternalMethods::SetUninstallRegistryFromStub(WORD flags, DISPPARAMS* params, VARIANT*) {
    WriteDebugLog(app_, L"SetUninstallRegistryFromStub");
    // rgvarg order: is64Bit, productCode.
    static const VARTYPE kTypes[] = {VT_BOOL, VT_BSTR};
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD, params, kTypes);
    if (FAILED(hr)) return hr;
    core::WriteUninstallEntry(*app_, TextArg(params, 1), V_BOOL(&params->rgvarg[0]) == VARIANT_TRUE);
    WriteDebugLog(app_, L"SetUninstallRegistryFromStub result: success");
    return S_OK;
}

HRESULT ExternalMethods::IsUninstallModeLaunch(WORD flags, DISPPARAMS* params, VARIANT* result) {
    WriteDebugLog(app_, L"EMIsUninstallModeLaunch");
    const HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 0);
    if (FAILED(hr)) return hr;
    // The start-up read the mode off the command line. A call made as a statement (no result
    // slot) still sets the properties the maintenance page reads.
    const std::wstring& option = app_->Switches().maintenanceMode;
    if (!option.empty()) {
        app_->Bridge().SetProperty(L"uninstallMode", option);
        app_->Bridge().SetProperty(L"defaultOption", option);
    }
    if (result) SetBoolResult(result, !option.empty());
    WriteDebugLog(app_, L"EMIsUninstallModeLaunch result: %s", option.empty() ? L"false" : L"true");
    return S_OK;
}

HRESULT ExternalMethods::StartMaintenance(const wchar_t* method, std::wstring commandLine, std::wstring logPath,
                                          IDispatch* callback) {
    auto request = std::make_unique<core::MaintenanceRequest>();
    request->commandLine = std::move(commandLine);
    request->logPath = std::move(logPath);
    return StartWorker(method, core::UninstallThreadFunc, request, callback);
}

HRESULT ExternalMethods::RemoveProgram(WORD flags, DISPPARAMS* params, VARIANT*) {
    WriteDebugLog(app_, L"EMRemoveProgram");
    // rgvarg order: callback, productCode, msiexecOnly, name.
    static const VARTYPE kTypes[] = {VT_DISPATCH, VT_BSTR, VT_BOOL, VT_BSTR};
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD, params, kTypes);
    if (FAILED(hr)) return hr;

    const std::wstring code = core::BracedProductCode(TextArg(params, 1));
    const std::wstring logPath = core::MaintenanceLogPath(*app_, L"remove_", TextArg(params, 3));
    std::wstring commandLine = core::MsiexecRemoveCommand(code, logPath);
    if (V_BOOL(&params->rgvarg[2]) == VARIANT_FALSE) {
        // A product with an uninstaller of its own is removed by that one.
        std::wstring registered;
        utils::ReadFrameworkValue(kUninstallKey + code, L"UninstallString", registered);
        if (!registered.empty() && registered.find(L"MsiExec.exe") == std::wstring::npos) {
            WriteDebugLog(app_, L"EMRemoveProgram  uninstallstring : %s", registered.c_str());
            commandLine = core::RegisteredRemoveCommand(registered, logPath);
        }
    }
    return StartMaintenance(L"EMRemoveProgram", commandLine, logPath, V_DISPATCH(&params->rgvarg[0]));
}

HRESULT ExternalMethods::RepairProgram(WORD flags, DISPPARAMS* params, VARIANT*) {
    WriteDebugLog(app_, L"ZSRepairProgram");
    // rgvarg order: callback, productCode, name.
    static const VARTYPE kTypes[] = {VT_DISPATCH, VT_BSTR, VT_BSTR};
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD, params, kTypes);
    if (FAILED(hr)) return hr;
    const std::wstring code = core::BracedProductCode(TextArg(params, 1));
    const std::wstring logPath = core::MaintenanceLogPath(*app_, L"repair_", TextArg(params, 2));
    return StartMaintenance(L"ZSRepairProgram", core::MsiexecRepairCommand(code, logPath), logPath,
                            V_DISPATCH(&params->rgvarg[0]));
}

HRESULT ExternalMethods::VerifyFileInSpecialDirectory(WORD flags, DISPPARAMS* params, VARIANT*) {
    WriteDebugLog(app_, L"EMVerifyFileInSpecialDirectory");
    // rgvarg order: callback, relativePath, searchRoot.
    static const VARTYPE kTypes[] = {VT_DISPATCH, VT_BSTR, VT_BSTR};
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD, params, kTypes);
    if (FAILED(hr)) return hr;

    auto request = std::make_unique<core::VerifyRequest>();
    request->searchRoot = TextArg(params, 2);
    request->relativePath = TextArg(params, 1);
    // Raised before the worker exists, so a cancel that follows at once is never lost.
    core::SetVerifyRunning(true);
    return StartWorker(L"EMVerifyFileInSpecialDirectory", core::VerifyThreadFunc, request,
                       V_DISPATCH(&params->rgvarg[0]));
}

HRESULT ExternalMethods::CancelVerifyThread(WORD flags, DISPPARAMS* params, VARIANT*) {
    const HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 0);
    if (FAILED(hr)) return hr;
    core::SetVerifyRunning(false);
    WriteDebugLog(app_, L"EMCancelVerifyThread Finish");
    return S_OK;
}

void ExternalMethods::RegisterMaintenanceMethods() {
    RegisterMethod(L"setUninstallRegistryFromStub", &ExternalMethods::SetUninstallRegistryFromStub);
    RegisterMethod(L"isUninstallModeLaunch", &ExternalMethods::IsUninstallModeLaunch);
    RegisterMethod(L"removeProgram", &ExternalMethods::RemoveProgram);
    RegisterMethod(L"repairProgram", &ExternalMethods::RepairProgram);
    RegisterMethod(L"verifyFileInSpecialDirectory", &ExternalMethods::VerifyFileInSpecialDirectory);
    RegisterMethod(L"cancelVerifyThread", &ExternalMethods::CancelVerifyThread);
}

} // namespace stubframework
