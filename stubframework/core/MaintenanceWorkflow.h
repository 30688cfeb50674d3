// The workers behind the maintenance rows: msiexec runs for remove and repair, and the search
// of a folder tree for a package file. Each calls the page's callback once with a ResultCode.
#pragma once
#include <windows.h>
#include <string>

#include "stubframework/StubFramework.h"
#include "stubframework/core/ScriptCallback.h"

namespace stubframework {

class ExternalMethods;
class StubApplication;

namespace core {

// Handed from removeProgram / repairProgram to UninstallThreadFunc, which frees it.
struct MaintenanceRequest {
    ExternalMethods* owner = nullptr;
    std::wstring commandLine;
    std::wstring logPath;
    MarshalledCallback callback;
};

// Handed from verifyFileInSpecialDirectory to VerifyThreadFunc, which frees it.
struct VerifyRequest {
    ExternalMethods* owner = nullptr;
    std::wstring searchRoot;
    std::wstring relativePath;
    MarshalledCallback callback;
};

DWORD WINAPI UninstallThreadFunc(void* request);
DWORD WINAPI VerifyThreadFunc(void* request);

// prefix + name + "_" + the UTC time as 14 digits + ".log" in the install log folder.
std::wstring MaintenanceLogPath(StubApplication& app, const wchar_t* prefix, const std::wstring& name);

// Runs the command line and ticks "installCurrent" every 200 ms while it runs; the exit code
// becomes the last install error and is mapped by TransferInstallError. Failure when the
// process cannot start.
ResultCode RunMaintenanceCommand(StubApplication& app, const std::wstring& commandLine);

// The verify-running flag that cancelVerifyThread clears. One for the process: only one
// verify at a time is meaningful.
void SetVerifyRunning(bool running);
bool VerifyRunning();

// Depth-first, in listing order, for a file named like relativePath's last part whose full
// path contains relativePath; commonDirectory is that path without relativePath. Stops early
// once the verify-running flag is cleared.
bool FindCommonDirectory(const std::wstring& searchRoot, const std::wstring& relativePath,
                         std::wstring& commonDirectory);

// Copies the running stub into a new private folder below the product's common application-data
// folder and points the product's uninstall entry at the copy (quoted) with "/uninstall" and
// "/modify". Failures are logged; the page is not told.
void WriteUninstallEntry(StubApplication& app, const std::wstring& productCode, bool is64Bit);

}} // namespace stubframework::core
