// Registry access by key paths that begin with a hive name ("HKEY_CURRENT_USER\SOFTWARE\...").
#pragma once
#include <string>
#include <windows.h>

namespace stubframework { namespace utils {

// "HKEY_LOCAL_MACHINE"/"HKLM", "HKEY_CURRENT_USER"/"HKCU", "HKEY_CURRENT_CONFIG"/"HKCC",
// "HKEY_USERS"/"HKU", "HKEY_CLASSES_ROOT"/"HKCR", "HKEY_DTN_DATA"/"HKDD", any case.
// Anything else gives nullptr.
HKEY ParseRegistryRoot(const std::wstring& hiveName);

// Splits "HIVE\sub\key" at its first backslash. False when the hive is unknown.
bool SplitRegistryPath(const std::wstring& keyPath, HKEY& root, std::wstring& subKey);

// Reads a value, 64-bit view first, then 32-bit. A REG_DWORD comes back as decimal text;
// values longer than 512 bytes count as missing.
bool ReadFrameworkValue(const std::wstring& keyPath, const std::wstring& valueName, std::wstring& value);

// Writes a REG_SZ, creating the key when needed, in the 64-bit view when use64BitView is set,
// else in the 32-bit view.
bool WriteFrameworkValue(const std::wstring& keyPath, const std::wstring& valueName,
                         const std::wstring& value, bool use64BitView);

}} // namespace stubframework::utils
