// What the pages ask of the shell: a folder picker, launches as the desktop user, a restart.
#pragma once
#include <string>
#include <windows.h>

namespace stubframework { namespace utils {

// The folder the user picks, owned by owner; initialPath unchanged when the user cancels or
// no folder can be had. Needs COM on the calling thread.
std::wstring BrowseForFolder(const std::wstring& initialPath, HWND owner);

// Opens file with arguments through the desktop's shell, so it runs as the logged-on user and
// not elevated like the stub. Without a desktop shell nothing is opened: the lookup's failure
// comes back and *noDesktopShell (when given) is set.
HRESULT LaunchAsDesktopUser(const std::wstring& file, const std::wstring& arguments,
                            bool* noDesktopShell = nullptr);

// Enables SeShutdownPrivilege in the process token.
bool EnableShutdownPrivilege();

using ExitWindowsFunction = BOOL(WINAPI*)(UINT flags, DWORD reason);
// Enables the privilege, then asks exitWindows for a forced reboot; false when either fails.
bool RestartWindows(ExitWindowsFunction exitWindows = ::ExitWindowsEx);

}} // namespace stubframework::utils
