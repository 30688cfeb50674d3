// The registry rows of the method table: getDataFromReg, setDataToReg, deleteRegKey,
// searchRegKey and getBaseRegKey.
#include "stubframework/ExternalMethods.h"
#include "StubCore/StubApplication.h"
#include "stubframework/core/AppConfig.h"
#include "stubframework/core/StatusCodes.h"
#include "stubframework/utils/Registry.h"

namespace stubframework {

namespace {
const WORD kMethodGet = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

bool BoolArg(const DISPPARAMS* params, UINT index) { return V_BOOL(&params->rgvarg[index]) != VARIANT_FALSE; }
} // namespace

// getDataFromReg(key S, valueName S) -> S
HRESULT ExternalMethods::GetDataFromReg(WORD flags, DISPPARAMS* params, VARIANT* result) {
    WriteDebugLog(app_, L"EMGetDataFromReg");
    static const VARTYPE kTypes[] = {VT_BSTR, VT_BSTR};
    HRESULT hr = CheckArguments(flags, kMethodGet, params, kTypes);
    if (FAILED(hr) || !result) return hr;

    const std::wstring valueName = TextArg(params, 0);
    const std::wstring key = TextArg(params, 1);
    std::wstring value;
    if (!utils::ReadFrameworkValue(key, valueName, value)) value.clear();
    SetTextResult(result, value);
    WriteDebugLog(app_, L"EMGetDataFromReg args %s %s, Result %s", valueName.c_str(), key.c_str(), value.c_str());
    return S_OK;
}

// setDataToReg(key S, valueName S, data S, use64BitView B)
HRESULT ExternalMethods::SetDataToReg(WORD flags, DISPPARAMS* params, VARIANT*) {
    WriteDebugLog(app_, L"EMSetDataToReg");
    static const VARTYPE kTypes[] = {VT_BOOL, VT_BSTR, VT_BSTR, VT_BSTR};
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD, params, kTypes);
    if (FAILED(hr)) return hr;

    const std::wstring data = TextArg(params, 1);
    const std::wstring valueName = TextArg(params, 2);
    const std::wstring key = TextArg(params, 3);
    utils::WriteFrameworkValue(key, valueName, data, BoolArg(params, 0));   // the page is not told
    WriteDebugLog(app_, L"EMSetDataToReg %d, %s, %s, %s", static_cast<int>(V_BOOL(&params->rgvarg[0])),
                  data.c_str(), valueName.c_str(), key.c_str());
    return S_OK;
}

// deleteRegKey(key S, use64BitView B)
HRESULT ExternalMethods::DeleteRegKey(WORD flags, DISPPARAMS* params, VARIANT*) {
    WriteDebugLog(app_, L"EMDeleteRegKey");
    static const VARTYPE kTypes[] = {VT_BOOL, VT_BSTR};
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD, params, kTypes);
    if (FAILED(hr)) return hr;

    const std::wstring key = TextArg(params, 1);
    utils::DeleteRegistryKey(key, BoolArg(params, 0));
    WriteDebugLog(app_, L"EMDeleteRegKey %d, %s", static_cast<int>(V_BOOL(&params->rgvarg[0])), key.c_str());
    return S_OK;
}

// searchRegKey(use64BitView B, key S, suffixList S, valueName S) -> B
HRESULT ExternalMethods::SearchRegKey(WORD flags, DISPPARAMS* params, VARIANT* result) {
    WriteDebugLog(app_, L"EMSearchRegKey");
    static const VARTYPE kTypes[] = {VT_BSTR, VT_BSTR, VT_BSTR, VT_BOOL};
    HRESULT hr = CheckArguments(flags, kMethodGet, params, kTypes);
    if (FAILED(hr) || !result) return hr;

    const std::wstring valueName = TextArg(params, 0);
    const std::wstring suffixList = TextArg(params, 1);
    const std::wstring key = TextArg(params, 2);
    const bool use64BitView = BoolArg(params, 3);
    SetBoolResult(result, utils::SearchRegistryTree(use64BitView, key, suffixList, valueName));
    WriteDebugLog(app_, L"EMSearchRegKey %d %s %s %s", use64BitView ? 1 : 0, key.c_str(), suffixList.c_str(),
                  valueName.c_str());
    return S_OK;
}

// getBaseRegKey() -> S
HRESULT ExternalMethods::GetBaseRegKey(WORD flags, DISPPARAMS* params, VARIANT* result) {
    WriteDebugLog(app_, L"EMGetBaseRegKey");
    const HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 0);
    if (FAILED(hr) || !result) return hr;

    // From the product id and version as they are now, not the fixed ones of FrameworkKeyPath.
    core::AppConfig& config = app_->Config();
    const std::wstring path = L"HKEY_CURRENT_USER\\SOFTWARE\\Zarvo\\stubframework\\" + config.ProductId() + L"\\" +
                              core::MajorVersion(config.ProductVersion());
    SetTextResult(result, path);
    WriteDebugLog(app_, L"EMGetBaseRegKey %s", path.c_str());
    return S_OK;
}

void ExternalMethods::RegisterRegistryMethods() {
    RegisterMethod(L"deleteRegKey", &ExternalMethods::DeleteRegKey);
    RegisterMethod(L"setDataToReg", &ExternalMethods::SetDataToReg);
    RegisterMethod(L"searchRegKey", &ExternalMethods::SearchRegKey);
    RegisterMethod(L"getDataFromReg", &ExternalMethods::GetDataFromReg);
    RegisterMethod(L"getBaseRegKey", &ExternalMethods::GetBaseRegKey);
}

} // namespace stubframework
