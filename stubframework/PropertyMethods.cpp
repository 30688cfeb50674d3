// The method rows of the shared property map and of the settings the pages choose: getProperty,
// setProperty, getResourceLocation, setLang, setChannel, setInstallStatus, getResumeMode,
// getLastInstallError; and the properties a resumed run gets back from its record.
#include "stubframework/ExternalMethods.h"
#include "StubCore/StubApplication.h"
#include "stubframework/core/AppConfig.h"
#include "stubframework/core/CreatedFolders.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/utils/Registry.h"

#include <cwchar>
#include <map>

namespace stubframework {

namespace {
const VARTYPE kOneText[] = {VT_BSTR};
const VARTYPE kTwoTexts[] = {VT_BSTR, VT_BSTR};
const VARTYPE kOneNumber[] = {VT_I4};

// The statuses the pages may report: not started, completed, error, cancelled, environment not
// met, downloaded, stub failed.
constexpr LONG kLastInstallStatus = 6;
const wchar_t kUnzipSuffix[] = L"__ZIP_Unzip_Folder__";
const wchar_t kSetupSuffix[] = L"__ZIP_EXE_Path__";

bool EndsWith(const std::wstring& text, const wchar_t* suffix) {
    const size_t length = std::wcslen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}
} // namespace

void ExternalMethods::RestoreResumeProperties() {
    if (!app_) return;
    const std::wstring key = app_->Config().FrameworkKeyPath() + L"\\ResumeRecord\\ExtractFolders";
    if (app_->Switches().resumeMode != 0) {
        std::map<std::wstring, std::wstring> folders;
        utils::ReadRegistryValues(key, folders);
        WriteDebugLog(app_, L"Reset properties for Resume Mode");
        // The bridge is not attached yet: the map is written directly, under its lock.
        utils::ScopedLock lock(lock_);
        const std::wstring& framework = app_->Config().FrameworkKeyPath();
        for (const auto& entry : folders) {
            // The record is in the user's hive: a folder counts only when this stub made it, and
            // the setup folder only inside the package's own unpacked folder.
            const std::wstring& name = entry.first;
            bool honoured = false;
            if (EndsWith(name, kUnzipSuffix)) {
                honoured = core::IsWithinCreatedFolder(framework, entry.second, entry.second);
            } else if (EndsWith(name, kSetupSuffix)) {
                const auto unzip = folders.find(name.substr(0, name.size() - std::wcslen(kSetupSuffix)) + kUnzipSuffix);
                honoured = unzip != folders.end() && core::IsWithinCreatedFolder(framework, unzip->second, entry.second);
            }
            if (!honoured) {
                WriteErrorLog(app_, L"Resume folder not made by this stub, ignored: %s:%s", name.c_str(),
                              entry.second.c_str());
                continue;
            }
            WriteDebugLog(app_, L"%s:%s", name.c_str(), entry.second.c_str());
            app_->Config().SetProperty(name, entry.second);
        }
    }
    // A later run that is not resumed must not find this run's folders again.
    utils::DeleteRegistryKey(key, false);
}

HRESULT ExternalMethods::GetPageProperty(WORD flags, DISPPARAMS* params, VARIANT* result) {
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD | DISPATCH_PROPERTYGET, params, kOneText);
    if (FAILED(hr) || !result) return hr;
    SetTextResult(result, app_->Bridge().GetProperty(TextArg(params, 0)));
    return S_OK;
}

HRESULT ExternalMethods::SetPageProperty(WORD flags, DISPPARAMS* params, VARIANT*) {
    WriteDebugLog(app_, L"EMSetProperty");
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD, params, kTwoTexts);
    if (FAILED(hr)) return hr;
    const std::wstring name = TextArg(params, 1);
    const std::wstring value = TextArg(params, 0);
    app_->Bridge().SetProperty(name, value);
    WriteDebugLog(app_, L"EMSetProperty %s, %s", name.c_str(), value.c_str());
    return S_OK;
}

HRESULT ExternalMethods::GetResourceLocation(WORD flags, DISPPARAMS* params, VARIANT* result) {
    const HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 0);
    if (FAILED(hr) || !result) return hr;
    SetTextResult(result, app_->Bridge().GetProperty(L"resourceLocation"));
    return S_OK;
}

HRESULT ExternalMethods::SetLang(WORD flags, DISPPARAMS* params, VARIANT*) {
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD, params, kOneNumber);
    if (FAILED(hr)) return hr;
    // It writes "lang" into the shared map itself.
    utils::ScopedLock lock(lock_);
    app_->Config().SetInstallLanguage(V_I4(&params->rgvarg[0]));
    return S_OK;
}

HRESULT ExternalMethods::SetChannel(WORD flags, DISPPARAMS* params, VARIANT*) {
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD, params, kOneText);
    if (FAILED(hr)) return hr;
    const std::wstring channel = TextArg(params, 0);
    WriteDebugLog(app_, L"EMSetChannel: %s", channel.c_str());
    app_->Config().SetChannel(channel);
    return S_OK;
}

HRESULT ExternalMethods::SetInstallStatus(WORD flags, DISPPARAMS* params, VARIANT*) {
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD, params, kOneNumber);
    if (FAILED(hr)) return hr;
    const LONG status = V_I4(&params->rgvarg[0]);
    if (status < 0 || status > kLastInstallStatus) return STG_E_INVALIDPARAMETER;
    WriteDebugLog(app_, L"EMSetInstallStatus: %d", static_cast<int>(status));
    app_->Config().SetStatus(static_cast<int>(status));
    return S_OK;
}

HRESULT ExternalMethods::GetResumeMode(WORD flags, DISPPARAMS* params, VARIANT* result) {
    const HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 0);
    if (FAILED(hr) || !result) return hr;
    SetNumberResult(result, app_->Switches().resumeMode);
    return S_OK;
}

HRESULT ExternalMethods::GetLastInstallError(WORD flags, DISPPARAMS* params, VARIANT* result) {
    WriteDebugLog(app_, L"EMGetLastInstallError");
    const HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 0);
    if (FAILED(hr) || !result) return hr;
    const DWORD code = app_->Bridge().LastInstallError();
    SetUnsignedResult(result, code);
    WriteDebugLog(app_, L"EMGetLastInstallError ErrorCode: %ld", static_cast<long>(code));
    return S_OK;
}

void ExternalMethods::RegisterPropertyMethods() {
    RegisterMethod(L"setProperty", &ExternalMethods::SetPageProperty);
    RegisterMethod(L"setLang", &ExternalMethods::SetLang);
    RegisterMethod(L"setInstallStatus", &ExternalMethods::SetInstallStatus);
    RegisterMethod(L"setChannel", &ExternalMethods::SetChannel);
    RegisterMethod(L"getProperty", &ExternalMethods::GetPageProperty);
    RegisterMethod(L"getResumeMode", &ExternalMethods::GetResumeMode);
    RegisterMethod(L"getResourceLocation", &ExternalMethods::GetResourceLocation);
    RegisterMethod(L"getLastInstallError", &ExternalMethods::GetLastInstallError);
}

} // namespace stubframework
