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

// A real folder (no junction or symbolic link, none above it) whose owner is Administrators,
// SYSTEM or the installer service, or that the stub recorded as made by itself: a user could
// not have made it.
bool IsAdminOwnedFolder(const std::wstring& folder);

// As IsAdminOwnedFolder, and nobody else may change it: its descriptor grants no right to write,
// add, delete, rename or re-permission to anyone but those three (or the stub made it).
bool IsAdminOnlyFolder(const std::wstring& folder);

// commonRelative below the common application-data folder ("Zarvo\Tandora"), each level checked.
// When elevated: an admin-owned level whose descriptor lets others in gets the private descriptor
// again; any other (a user's folder, a link, a file) is renamed aside without being entered and
// made again privately, and the stub records the folder it made. Not elevated, a real folder
// will do. Returns the folder with a trailing backslash, empty on failure.
std::wstring PrepareCommonFolder(const std::wstring& commonRelative);

// The full path without "." and ".." parts or trailing backslashes; empty when it has none.
std::wstring NormalizedPath(const std::wstring& path);

// Drive roots, share roots and the system's own folders (Windows, system, program files, common
// application data, users and the current user's profile) and everything above them.
bool IsProtectedFolder(const std::wstring& folder);

}} // namespace stubframework::utils
