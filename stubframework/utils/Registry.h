// Registry access by key paths that begin with a hive name ("HKEY_CURRENT_USER\SOFTWARE\...").
// Every operation names its registry view; see each function.
#pragma once
#include <map>
#include <string>
#include <windows.h>

namespace stubframework { namespace utils {

// "HKEY_LOCAL_MACHINE"/"HKLM", "HKEY_CURRENT_USER"/"HKCU", "HKEY_CURRENT_CONFIG"/"HKCC",
// "HKEY_USERS"/"HKU", "HKEY_CLASSES_ROOT"/"HKCR", "HKEY_DTN_DATA"/"HKDD", any case.
// Anything else (HKEY_DYN_DATA included) gives nullptr.
HKEY ParseRegistryRoot(const std::wstring& hiveName);

// Splits "HIVE\sub\key" at its first backslash into the hive and the sub key. A path without
// a backslash is taken whole as the hive name and stays whole as the sub key; an unknown hive
// gives nullptr and leaves the whole path as the sub key. False when the hive is unknown.
bool SplitRegistryPath(const std::wstring& keyPath, HKEY& root, std::wstring& subKey);

// The same key path in HKEY_LOCAL_MACHINE, where a user cannot write: "HKEY_CURRENT_USER\X"
// (any case) becomes "HKEY_LOCAL_MACHINE\X"; other paths are returned as they are.
std::wstring MachineTwinPath(const std::wstring& keyPath);

// Reads a value, 64-bit view first, then 32-bit. A REG_DWORD comes back as decimal text;
// values longer than 512 bytes count as missing.
bool ReadFrameworkValue(const std::wstring& keyPath, const std::wstring& valueName, std::wstring& value);

// Writes a REG_SZ, creating the key when needed, in the 64-bit view when use64BitView is set,
// else in the 32-bit view.
bool WriteFrameworkValue(const std::wstring& keyPath, const std::wstring& valueName,
                         const std::wstring& value, bool use64BitView);

// Deletes a key that has no subkeys, in the 64-bit view when use64BitView is set, else in the
// 32-bit view. RegDeleteKeyExW is looked up at run time: systems without it fail.
bool DeleteRegistryKey(const std::wstring& keyPath, bool use64BitView);

// Adds every value of the key (32-bit view) to values as name -> text; names already there keep
// their entry. A key that cannot be opened adds nothing.
void ReadRegistryValues(const std::wstring& keyPath, std::map<std::wstring, std::wstring>& values);

// As WriteFrameworkValue with the given type. REG_DWORD takes signed decimal text (leading
// blanks, an optional sign, digits; what follows is ignored) stored as 4 bytes; text that does
// not begin with a number or leaves the 32-bit range is not written, and *error (when given)
// says why: "invalid stoi argument" or "stoi argument out of range". Other types store the
// text with its terminator.
bool WriteRegistryValue(const std::wstring& keyPath, const std::wstring& valueName, const std::wstring& text,
                        DWORD type, bool use64BitView, std::wstring* error = nullptr);

// Deletes one value, in the 64-bit view unless use64BitView is cleared.
bool DeleteRegistryValue(const std::wstring& keyPath, const std::wstring& valueName, bool use64BitView = true);

// Walks the tree below keyPath in the chosen view looking for a key that holds valueName and
// whose path relative to keyPath ends with one of the ";"-separated suffixes (any case). Keys
// that hold the value are not descended into. *matchPath gets the match's relative path
// ("16.0\Word\InstallRoot\").
bool SearchRegistryTree(bool use64BitView, const std::wstring& keyPath, const std::wstring& suffixList,
                        const std::wstring& valueName, std::wstring* matchPath = nullptr);

}} // namespace stubframework::utils
