// The folders this stub made for unpacked packages. The list lives in the machine's part of the
// registry, where the user cannot add to it: a folder named by the user's own resume record or by
// a page is deleted, or has its "setup.exe" run, only when it is on this list.
#pragma once
#include <string>

namespace stubframework { namespace core {

// The machine's twin of a framework key ("HKEY_CURRENT_USER\SOFTWARE\..." becomes
// "HKEY_LOCAL_MACHINE\SOFTWARE\..."): what lives there only administrators can change.
std::wstring MachineKeyOf(const std::wstring& frameworkKeyPath);

// The list's key for a framework key ("HKEY_CURRENT_USER\SOFTWARE\..." becomes
// "HKEY_LOCAL_MACHINE\SOFTWARE\...\CreatedFolders").
std::wstring CreatedFoldersKey(const std::wstring& frameworkKeyPath);

void RememberCreatedFolder(const std::wstring& frameworkKeyPath, const std::wstring& folder);
void ForgetCreatedFolder(const std::wstring& frameworkKeyPath, const std::wstring& folder);
bool IsCreatedFolder(const std::wstring& frameworkKeyPath, const std::wstring& folder);

// inner is the created folder itself or a folder below it ("..", links to elsewhere and other
// drives excluded by normalising first).
bool IsWithinCreatedFolder(const std::wstring& frameworkKeyPath, const std::wstring& created,
                           const std::wstring& inner);

// Deletes a created folder and takes it off the list; anything else is left alone (false).
bool DeleteCreatedFolder(const std::wstring& frameworkKeyPath, const std::wstring& folder);

}} // namespace stubframework::core
