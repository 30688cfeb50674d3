#include "stubframework/utils/Registry.h"
#include "stubframework/utils/CommandLine.h"
#include "stubframework/utils/Handle.h"

#include <cstring>
#include <cwchar>

namespace stubframework { namespace utils {

HKEY ParseRegistryRoot(const std::wstring& hiveName) {
    static const struct { const wchar_t* longName; const wchar_t* shortName; HKEY root; } kHives[] = {
        {L"HKEY_LOCAL_MACHINE", L"HKLM", HKEY_LOCAL_MACHINE},
        {L"HKEY_CURRENT_USER", L"HKCU", HKEY_CURRENT_USER},
        {L"HKEY_CURRENT_CONFIG", L"HKCC", HKEY_CURRENT_CONFIG},
        {L"HKEY_USERS", L"HKU", HKEY_USERS},
        {L"HKEY_CLASSES_ROOT", L"HKCR", HKEY_CLASSES_ROOT},
        {L"HKEY_DTN_DATA", L"HKDD", HKEY_DYN_DATA},
    };
    for (const auto& hive : kHives) {
        if (EqualsNoCase(hiveName, hive.longName) || EqualsNoCase(hiveName, hive.shortName))
            return hive.root;
    }
    return nullptr;
}

bool SplitRegistryPath(const std::wstring& keyPath, HKEY& root, std::wstring& subKey) {
    const size_t slash = keyPath.find(L'\\');
    root = ParseRegistryRoot(keyPath.substr(0, slash));
    subKey = (slash == std::wstring::npos) ? std::wstring() : keyPath.substr(slash + 1);
    return root != nullptr;
}

namespace {
bool ReadValueInView(HKEY root, const std::wstring& subKey, const std::wstring& valueName,
                     REGSAM view, std::wstring& value) {
    ScopedRegKey key;
    if (::RegOpenKeyExW(root, subKey.c_str(), 0, KEY_QUERY_VALUE | view, key.Receive()) != ERROR_SUCCESS)
        return false;
    // 512 bytes and room for a terminator the stored text may lack.
    wchar_t buffer[256 + 1] = {};
    DWORD type = 0;
    DWORD size = 512;
    if (::RegQueryValueExW(key.Get(), valueName.c_str(), nullptr, &type,
                           reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
        return false;
    if (type == REG_DWORD && size >= sizeof(DWORD)) {
        DWORD number = 0;
        std::memcpy(&number, buffer, sizeof(number));
        wchar_t text[16];
        std::swprintf(text, 16, L"%d", static_cast<int>(number));
        value = text;
    } else {
        buffer[size / sizeof(wchar_t)] = L'\0';
        value = buffer;
    }
    return true;
}
} // namespace

bool ReadFrameworkValue(const std::wstring& keyPath, const std::wstring& valueName, std::wstring& value) {
    HKEY root = nullptr;
    std::wstring subKey;
    if (!SplitRegistryPath(keyPath, root, subKey)) return false;
    return ReadValueInView(root, subKey, valueName, KEY_WOW64_64KEY, value) ||
           ReadValueInView(root, subKey, valueName, KEY_WOW64_32KEY, value);
}

bool WriteFrameworkValue(const std::wstring& keyPath, const std::wstring& valueName,
                         const std::wstring& value, bool use64BitView) {
    HKEY root = nullptr;
    std::wstring subKey;
    if (!SplitRegistryPath(keyPath, root, subKey)) return false;
    const REGSAM access = KEY_ALL_ACCESS | (use64BitView ? KEY_WOW64_64KEY : KEY_WOW64_32KEY);
    ScopedRegKey key;
    if (::RegOpenKeyExW(root, subKey.c_str(), 0, access, key.Receive()) != ERROR_SUCCESS &&
        ::RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, 0, access, nullptr, key.Receive(),
                          nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key.Get(), valueName.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(value.c_str()), bytes) == ERROR_SUCCESS;
}

}} // namespace stubframework::utils
