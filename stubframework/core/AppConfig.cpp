#include "stubframework/core/AppConfig.h"
#include "stubframework/core/StatusCodes.h"
#include "stubframework/utils/Registry.h"

#include <windows.h>
#include <cwchar>

namespace stubframework { namespace core {

namespace {
const wchar_t kProductName[] = L"Tandora";
const wchar_t kProductVersion[] = L"22.0.0";

std::wstring OsBits() {
    SYSTEM_INFO info = {};
    ::GetNativeSystemInfo(&info);
    const WORD arch = info.wProcessorArchitecture;
    return (arch == PROCESSOR_ARCHITECTURE_AMD64 || arch == PROCESSOR_ARCHITECTURE_IA64) ? L"64" : L"32";
}

// Whole decimal number, optionally signed; anything else is not a number.
bool ParseDecimal(const std::wstring& text, int& value) {
    if (text.empty()) return false;
    wchar_t* end = nullptr;
    const long number = std::wcstol(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != L'\0') return false;
    value = static_cast<int>(number);
    return true;
}
} // namespace

std::wstring AppConfig::DefaultFrameworkKeyPath() {
    return std::wstring(L"HKEY_CURRENT_USER\\SOFTWARE\\Zarvo\\stubframework\\") + kProductName + L"\\" +
           MajorVersion(kProductVersion);
}

AppConfig::AppConfig()
    : frameworkKeyPath_(DefaultFrameworkKeyPath()),
      productId_(kProductName),
      productVersion_(kProductVersion),
      channel_(L"test"),
      status_(StatusEnvironmentNotSupported),
      selfUpdateCode_(Unset) {
    properties_[L"osbits"] = OsBits();
    // The registry shows this run's status from the start, not a stale one of an earlier run.
    WriteIntValue(L"status", status_);
}

int AppConfig::Status() {
    if (status_ == Unset) status_ = ReadIntValue(L"status");
    return status_;
}

void AppConfig::SetStatus(int status) {
    status_ = status;
    WriteIntValue(L"status", status);
}

int AppConfig::SelfUpdateCode() {
    if (selfUpdateCode_ == Unset) selfUpdateCode_ = ReadIntValue(L"selfupdate_code");
    return selfUpdateCode_;
}

void AppConfig::SetSelfUpdateCode(int code) {
    selfUpdateCode_ = code;
    WriteIntValue(L"selfupdate_code", code);
}

std::wstring AppConfig::Property(const std::wstring& name) const {
    const auto it = properties_.find(name);
    return it == properties_.end() ? std::wstring() : it->second;
}

int AppConfig::ReadIntValue(const wchar_t* valueName) const {
    std::wstring text;
    int value = Unset;
    if (!utils::ReadFrameworkValue(frameworkKeyPath_, valueName, text) || !ParseDecimal(text, value))
        return Unset;
    return value;
}

void AppConfig::WriteIntValue(const wchar_t* valueName, int value) const {
    wchar_t text[16];
    std::swprintf(text, 16, L"%d", value);
    utils::WriteFrameworkValue(frameworkKeyPath_, valueName, text, false);
}

}} // namespace stubframework::core
