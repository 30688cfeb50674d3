// Text rules of the resume record and of the maintenance commands. Pure text: no <windows.h>.
#pragma once
#include <string>

namespace stubframework { namespace core {

// Fills "$GUID$" in the value of "LAUNCHONEXIT=" inside parameters. The value runs to the first
// blank, or past the closing quote when it begins with one, so the arguments after it stay
// their own. launchOnExit gets the filled value without its enclosing quotes (it names a
// registry path). False, with nothing changed, when there is no "LAUNCHONEXIT=".
bool FillLaunchOnExit(std::wstring& parameters, const std::wstring& guid, std::wstring& launchOnExit);

// 36 characters in the 8-4-4-4-12 form of hexadecimal digits (either case) and hyphens: the
// only text the stub takes as a GUID when it names a registry key with it.
bool IsGuidText(const std::wstring& text);

// The key below HKEY_LOCAL_MACHINE whose subkey named by guid the launch-on-exit programs live
// in: "Software\" + launchOnExit up to the character before the guid; "Software\" when the
// guid does not occur. Empty when guid is empty: there is no subkey to name.
std::wstring LaunchOnExitParent(const std::wstring& launchOnExit, const std::wstring& guid);

// The run-once data that starts the stub again: the quoted stub path, " RESUME=" and the mode.
std::wstring RunOnceCommand(const std::wstring& stubPath, const std::wstring& mode);

// A command line that starts the stub at stubPath: the path quoted (it may hold blanks), then
// arguments as given (" /uninstall ", " RESUME=INSTALLING").
std::wstring StubCommandLine(const std::wstring& stubPath, const std::wstring& arguments);

// A product code without "{" gets braces; one that has it is used as it is.
std::wstring BracedProductCode(const std::wstring& productCode);

// The uninstall and repair command lines, logging to logPath.
std::wstring MsiexecRemoveCommand(const std::wstring& productCode, const std::wstring& logPath);
std::wstring MsiexecRepairCommand(const std::wstring& productCode, const std::wstring& logPath);
// The product's own registered uninstall command with the silent switches appended directly.
std::wstring RegisteredRemoveCommand(const std::wstring& uninstallString, const std::wstring& logPath);

}} // namespace stubframework::core
