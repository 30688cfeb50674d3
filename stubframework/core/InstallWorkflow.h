// The worker behind the page's "install": runs one package (Windows Installer package,
// executable, or ZIP archive holding a "setup.exe"), reports progress through the install
// progress thread and ends with one final callback.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>

#include "stubframework/StubFramework.h"
#include "stubframework/core/InstallProgress.h"
#include "stubframework/core/ScriptCallback.h"

namespace stubframework {

class ExternalMethods;
class StubApplication;

namespace utils { struct MsiApi; }

namespace core {

// Handed from the "install" row to its worker, which frees it.
struct InstallRequest {
    ExternalMethods* owner = nullptr;
    int64_t estimatedTime = 0;     // seconds the installer is expected to run
    std::wstring parameters;
    std::wstring packagePath;
    MarshalledCallback callback;
};

// getLastInstallError after a package whose signature does not hold: no installer ran
// (ERROR_INVALID_IMAGE_HASH, which not every SDK header names).
constexpr DWORD kRefusedPackageError = 577;

// Thread entry of one install; owns the InstallRequest.
DWORD WINAPI InstallThreadFunc(void* request);

// This run's log folder on the ground: install and maintenance logs are written there and copied
// to the user's "<id>_log" folder at the end of the run. Empty when there is none.
std::wstring InstallLogFolder(StubApplication& app);
// The current UTC second as 14 digits, for log file names.
std::wstring CurrentUtcTimestamp();

// Windows Installer package with the UI level and message filter the parameters ask for,
// verbose logging into logPath; the switches the stub interprets never reach the installer.
// properties (assignments the stub built, " NAME=\"value\"") follow the parameters untouched.
ResultCode InstallMsi(StubApplication& app, const std::wstring& packagePath, std::wstring parameters,
                      const std::wstring& logPath, const std::wstring& properties = std::wstring());
ResultCode InstallMsi(StubApplication& app, const utils::MsiApi& api, const std::wstring& packagePath,
                      std::wstring parameters, const std::wstring& logPath,
                      const std::wstring& properties = std::wstring());

// Runs the executable with a time-based estimate: estimatedTime > 0 restarts the bar at
// estimatedTime x 10 ticks of 100 ms; 0 keeps the totals as they are.
ResultCode InstallExecutable(StubApplication& app, const std::wstring& path, const std::wstring& parameters,
                             int64_t estimatedTime);

// Runs the "setup.exe" of the archive the page named: from the folder the download unpacked it
// to when that is one the stub made on the ground, else unpacked again from the cache's verified
// copy. The unpacked folder is removed afterwards.
ResultCode InstallZip(StubApplication& app, const std::wstring& path, const std::wstring& parameters,
                      int64_t estimatedTime);


// The handler Windows Installer calls with the messages of the install's filter. Context is
// the bridge (HtmlExternal).
INT WINAPI InstallMessageHandler(LPVOID context, UINT messageType, LPCWSTR message);

}} // namespace stubframework::core
