#include "stubframework/utils/Registry.h"
#include "stubframework/utils/CommandLine.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/RegistryText.h"
#include "stubframework/utils/SystemLibrary.h"

#include <shlwapi.h>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <vector>

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
    root = ParseRegistryRoot(slash == std::wstring::npos ? keyPath : keyPath.substr(0, slash));
    subKey = (root && slash != std::wstring::npos) ? keyPath.substr(slash + 1) : keyPath;
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

std::wstring MachineTwinPath(const std::wstring& keyPath) {
    static const wchar_t kUserHive[] = L"HKEY_CURRENT_USER\\";
    const int hive = static_cast<int>(sizeof(kUserHive) / sizeof(wchar_t) - 1);
    if (keyPath.size() < static_cast<size_t>(hive) ||
        ::CompareStringOrdinal(keyPath.c_str(), hive, kUserHive, hive, TRUE) != CSTR_EQUAL)
        return keyPath;
    return L"HKEY_LOCAL_MACHINE\\" + keyPath.substr(hive);
}

bool ReadFrameworkValue(const std::wstring& keyPath, const std::wstring& valueName, std::wstring& value) {
    HKEY root = nullptr;
    std::wstring subKey;
    if (!SplitRegistryPath(keyPath, root, subKey)) return false;
    return ReadValueInView(root, subKey, valueName, KEY_WOW64_64KEY, value) ||
           ReadValueInView(root, subKey, valueName, KEY_WOW64_32KEY, value);
}

namespace {
REGSAM ViewFlag(bool use64BitView) { return use64BitView ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }

// Opens the key with full access in the chosen view, creating it when the open fails.
bool OpenOrCreateKey(const std::wstring& keyPath, bool use64BitView, ScopedRegKey& key) {
    HKEY root = nullptr;
    std::wstring subKey;
    if (!SplitRegistryPath(keyPath, root, subKey)) return false;
    const REGSAM access = KEY_ALL_ACCESS | ViewFlag(use64BitView);
    return ::RegOpenKeyExW(root, subKey.c_str(), 0, access, key.Receive()) == ERROR_SUCCESS ||
           ::RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, 0, access, nullptr, key.Receive(), nullptr) ==
               ERROR_SUCCESS;
}

bool SetTextValue(HKEY key, const std::wstring& valueName, const std::wstring& text, DWORD type) {
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key, valueName.c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()), bytes) ==
           ERROR_SUCCESS;
}
} // namespace

bool WriteFrameworkValue(const std::wstring& keyPath, const std::wstring& valueName,
                         const std::wstring& value, bool use64BitView) {
    ScopedRegKey key;
    return OpenOrCreateKey(keyPath, use64BitView, key) && SetTextValue(key.Get(), valueName, value, REG_SZ);
}

bool WriteRegistryValue(const std::wstring& keyPath, const std::wstring& valueName, const std::wstring& text,
                        DWORD type, bool use64BitView, std::wstring* error) {
    std::int32_t number = 0;
    if (type == REG_DWORD) {
        // Converted before the key is touched: a bad number writes nothing.
        const DecimalParse parsed = ParseDecimalPrefix(text, number);
        if (parsed != DecimalParse::Ok) {
            if (error)
                *error = parsed == DecimalParse::Invalid ? L"invalid stoi argument" : L"stoi argument out of range";
            return false;
        }
    }
    ScopedRegKey key;
    if (!OpenOrCreateKey(keyPath, use64BitView, key)) return false;
    if (type != REG_DWORD) return SetTextValue(key.Get(), valueName, text, type);
    const DWORD data = static_cast<DWORD>(number);
    return ::RegSetValueExW(key.Get(), valueName.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                            sizeof(data)) == ERROR_SUCCESS;
}

bool DeleteRegistryKey(const std::wstring& keyPath, bool use64BitView) {
    HKEY root = nullptr;
    std::wstring subKey;
    if (!SplitRegistryPath(keyPath, root, subKey)) return false;
    using DeleteKeyExFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
    const ScopedModule advapi(LoadSystemLibrary(L"advapi32.dll"));
    DeleteKeyExFn deleteKeyEx = nullptr;
    if (!LoadProc(advapi.Get(), "RegDeleteKeyExW", deleteKeyEx)) return false;
    const REGSAM access = KEY_ALL_ACCESS | (use64BitView ? KEY_WOW64_64KEY : KEY_WOW64_32KEY);
    return deleteKeyEx(root, subKey.c_str(), access, 0) == ERROR_SUCCESS;
}

bool DeleteRegistryValue(const std::wstring& keyPath, const std::wstring& valueName, bool use64BitView) {
    HKEY root = nullptr;
    std::wstring subKey;
    if (!SplitRegistryPath(keyPath, root, subKey)) return false;
    ScopedRegKey key;
    const REGSAM view = use64BitView ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    if (::RegOpenKeyExW(root, subKey.c_str(), 0, KEY_ALL_ACCESS | view, key.Receive()) != ERROR_SUCCESS)
        return false;
    return ::RegDeleteValueW(key.Get(), valueName.c_str()) == ERROR_SUCCESS;
}

void ReadRegistryValues(const std::wstring& keyPath, std::map<std::wstring, std::wstring>& values) {
    HKEY root = nullptr;
    std::wstring subKey;
    if (!SplitRegistryPath(keyPath, root, subKey)) return;
    ScopedRegKey key;
    if (::RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, key.Receive()) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; ++index) {
        wchar_t name[300];
        DWORD nameLength = 300;
        // A name longer than the buffer ends the walk, as the end of the list does.
        if (::RegEnumValueW(key.Get(), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        // 2000 bytes and room for a terminator the stored text may lack.
        wchar_t data[1000 + 1] = {};
        DWORD size = 2000;
        if (::SHGetValueW(key.Get(), nullptr, name, nullptr, data, &size) != ERROR_SUCCESS) continue;
        data[size / sizeof(wchar_t)] = L'\0';
        values.insert(std::make_pair(std::wstring(name, nameLength), std::wstring(data)));
    }
}

namespace {
struct TreeSearch {
    REGSAM view;
    const std::vector<std::wstring>& suffixes;
    const std::wstring& valueName;
    bool found;
    std::wstring match;

    void Visit(HKEY parent, const std::wstring& name, const std::wstring& rel) {
        if (found || suffixes.empty()) return;
        ScopedRegKey key;
        if (::RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ | view, key.Receive()) != ERROR_SUCCESS) return;
        if (::RegQueryValueExW(key.Get(), valueName.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
            // A key that holds the value ends this branch, matching or not.
            for (const std::wstring& suffix : suffixes) {
                if (RelativePathHasSuffix(rel, suffix)) {
                    found = true;
                    match = rel;
                    break;
                }
            }
            return;
        }
        DWORD subKeys = 0;
        if (::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return;
        for (DWORD index = 0; index < subKeys && !found; ++index) {
            wchar_t child[MAX_PATH];
            DWORD length = MAX_PATH;
            if (::RegEnumKeyExW(key.Get(), index, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                continue;
            const std::wstring childName(child, length);
            Visit(key.Get(), childName, rel + childName + L"\\");
        }
    }
};
} // namespace

bool SearchRegistryTree(bool use64BitView, const std::wstring& keyPath, const std::wstring& suffixList,
                        const std::wstring& valueName, std::wstring* matchPath) {
    const std::vector<std::wstring> suffixes = SplitSuffixList(suffixList);
    HKEY root = nullptr;
    std::wstring subKey;
    SplitRegistryPath(keyPath, root, subKey);
    if (!root) return false;
    TreeSearch search{ViewFlag(use64BitView), suffixes, valueName, false, std::wstring()};
    search.Visit(root, subKey, std::wstring());
    if (search.found && matchPath) *matchPath = search.match;
    return search.found;
}

}} // namespace stubframework::utils
