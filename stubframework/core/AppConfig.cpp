#include "stubframework/core/AppConfig.h"
#include "stubframework/core/LanguageTable.h"
#include "stubframework/core/ReportDocuments.h"
#include "stubframework/core/StatusCodes.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/MachineIdentity.h"
#include "stubframework/utils/Registry.h"

#include <windows.h>
#include <objbase.h>
#include <cwchar>

namespace stubframework { namespace core {

namespace {
const wchar_t kProductName[] = L"Tandora";
const wchar_t kProductVersion[] = L"22.0.0";
const int kEnglish = 1;

bool Is64BitSystem() {
    SYSTEM_INFO info = {};
    ::GetNativeSystemInfo(&info);
    const WORD arch = info.wProcessorArchitecture;
    return arch == PROCESSOR_ARCHITECTURE_AMD64 || arch == PROCESSOR_ARCHITECTURE_IA64;
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

std::wstring NewRequestToken() {
    GUID guid;
    if (FAILED(::CoCreateGuid(&guid))) return L"XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";
    wchar_t text[40] = {};
    if (::StringFromGUID2(guid, text, 40) != 39) return L"XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";
    return std::wstring(text + 1, 36);   // without the braces; already upper case
}

std::wstring UserCountry() {
    return std::to_wstring(static_cast<long>(::GetUserGeoID(GEOCLASS_NATION)));
}

// GetVersionExW reports the real version up to 10.0 thanks to the manifest's supportedOS list.
std::wstring SystemOsName() {
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    const BOOL ok = ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info));
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    if (!ok) return L"Other";
    SYSTEM_INFO system = {};
    ::GetNativeSystemInfo(&system);
    return OsNameFor(info.dwMajorVersion, info.dwMinorVersion, info.wProductType == VER_NT_WORKSTATION,
                     system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64);
}

bool ReadDefaultValue(HKEY root, const wchar_t* subKey, std::wstring& value) {
    utils::ScopedRegKey key;
    if (::RegOpenKeyExW(root, subKey, 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS) return false;
    wchar_t buffer[256 + 1] = {};
    DWORD size = 256 * sizeof(wchar_t), type = 0;
    if (::RegQueryValueExW(key.Get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return false;
    }
    value.assign(buffer, size / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0') value.pop_back();
    return !value.empty();
}

std::wstring DefaultBrowserName() {
    std::wstring name;
    if (ReadDefaultValue(HKEY_CURRENT_USER, L"Software\\Clients\\StartMenuInternet", name) ||
        ReadDefaultValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Clients\\StartMenuInternet", name)) {
        return name;
    }
    return L"Other";
}
} // namespace

std::wstring AppConfig::ProductName() { return kProductName; }

std::wstring AppConfig::DefaultFrameworkKeyPath() {
    return std::wstring(L"HKEY_CURRENT_USER\\SOFTWARE\\Zarvo\\stubframework\\") + kProductName + L"\\" +
           MajorVersion(kProductVersion);
}

AppConfig::AppConfig()
    : frameworkKeyPath_(DefaultFrameworkKeyPath()),
      requestToken_(NewRequestToken()),
      country_(UserCountry()),
      productId_(kProductName),
      productVersion_(kProductVersion),
      channel_(L"test"),
      status_(StatusEnvironmentNotSupported),
      selfUpdateCode_(Unset),
      osName_(SystemOsName()),
      uiLanguage_(LanguageIdFromWindowsId(::GetUserDefaultUILanguage())),
      architecture_(Is64BitSystem() ? L"x64" : L"x86"),
      defaultBrowser_(DefaultBrowserName()),
      clientVersion_(L"1.0") {
    properties_[L"osbits"] = Is64BitSystem() ? L"64" : L"32";
    SetInstallLanguage(kEnglish);
    // The registry shows this run's status from the start, not a stale one of an earlier run.
    WriteIntValue(L"status", status_);
}

std::wstring AppConfig::ProductId() { return TextField(productId_, L"product_id"); }
std::wstring AppConfig::ProductVersion() { return TextField(productVersion_, L"production_version"); }
std::wstring AppConfig::Channel() { return TextField(channel_, L"channel"); }
std::wstring AppConfig::InstallLanguage() { return TextField(installLanguage_, L"install_language"); }
std::wstring AppConfig::ClientVersion() { return TextField(clientVersion_, L"client_version"); }

void AppConfig::SetChannel(const std::wstring& channel) {
    channel_ = channel;
    WriteValue(L"channel", channel);
}

void AppConfig::SetInstallLanguage(int languageId) {
    const LanguageEntry* language = FindLanguage(languageId);
    if (!language) return;   // the pages only pass ids from the table
    installLanguage_ = language->name;
    properties_[L"lang"] = language->code;
    WriteValue(L"install_language", installLanguage_);
}

std::wstring AppConfig::UiLanguageName() const {
    const LanguageEntry* language = FindLanguage(uiLanguage_);
    return language ? language->name : std::wstring();
}

std::wstring AppConfig::MachineId() {
    if (machineId_.empty()) machineId_ = utils::GetMachineIdentity();
    return machineId_;
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

std::wstring AppConfig::TextField(std::wstring& field, const wchar_t* valueName) const {
    if (field.empty()) {
        std::wstring stored;
        if (utils::ReadFrameworkValue(frameworkKeyPath_, valueName, stored)) field = stored;
    }
    return field;
}

int AppConfig::ReadIntValue(const wchar_t* valueName) const {
    std::wstring text;
    int value = Unset;
    if (!utils::ReadFrameworkValue(frameworkKeyPath_, valueName, text) || !ParseDecimal(text, value))
        return Unset;
    return value;
}

void AppConfig::WriteValue(const wchar_t* valueName, const std::wstring& text) const {
    utils::WriteFrameworkValue(frameworkKeyPath_, valueName, text, false);
}

void AppConfig::WriteIntValue(const wchar_t* valueName, int value) const {
    WriteValue(valueName, std::to_wstring(value));
}

}} // namespace stubframework::core
