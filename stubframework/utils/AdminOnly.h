// Whether only administrators can change a file or folder: what the elevated stub asks before it
// starts a program it did not put in place itself.
#pragma once
#include <string>
#include <windows.h>

namespace stubframework { namespace utils {

// Administrators, SYSTEM or the installer service.
bool IsAdministrationSid(PSID sid);

// The owner is Administrators, SYSTEM or the installer service, and no entry of the DACL lets
// anyone else write, add, delete, or change permissions or owner. Entries that only pass on to
// what is made below do not count; deny entries are not needed. No DACL at all lets everyone in.
bool DescriptorIsAdminOnly(PSECURITY_DESCRIPTOR descriptor);

// The same for what is at path, looked at as it is: a junction or symbolic link is not.
bool IsAdminOnlyPath(const std::wstring& path);

}} // namespace stubframework::utils
