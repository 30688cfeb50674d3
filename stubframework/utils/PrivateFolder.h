// Folders the elevated stub makes for itself: unpredictable names, and when elevated a DACL that
// lets only Administrators and SYSTEM change them (the user may read). Also the checks that keep
// it from deleting or trusting what the user planted.
#pragma once
#include <string>
#include <windows.h>

#include "stubframework/utils/Handle.h"

namespace stubframework { namespace utils {

bool IsProcessElevated();

// 16 lower-case hex digits from the system's random source; empty when it fails.
std::wstring RandomName();

// The descriptor of a private folder: owner Administrators; protected DACL with full access for
// Administrators and SYSTEM and read/execute for userSid (none when userSid is empty), inherited
// by everything below. SDDL SID text. Null on failure.
ScopedLocalMemory PrivateFolderDescriptor(const std::wstring& userSid);
// The SID of the process's token user as SDDL text; empty on failure.
std::wstring ProcessUserSid();

// Creates folder (no trailing backslash needed) with the private descriptor when the process is
// elevated, else with the default security. False when it cannot be created or exists already.
bool CreatePrivateFolder(const std::wstring& folder);

// A real folder (no junction or symbolic link) whose owner is Administrators, SYSTEM or the
// installer service: a user could not have made it.
bool IsAdminOwnedFolder(const std::wstring& folder);

// commonRelative below the common application-data folder ("Zarvo\Tandora"), each level checked:
// one that exists but is not admin-owned is moved aside (a link is removed, never followed) and
// made again privately. Returns the folder with a trailing backslash, empty on failure.
std::wstring PrepareCommonFolder(const std::wstring& commonRelative);

// The full path without "." and ".." parts or trailing backslashes; empty when it has none.
std::wstring NormalizedPath(const std::wstring& path);

// Drive roots, share roots and the system's own folders (Windows, system, program files, common
// application data, users and the current user's profile) and everything above them.
bool IsProtectedFolder(const std::wstring& folder);

}} // namespace stubframework::utils
