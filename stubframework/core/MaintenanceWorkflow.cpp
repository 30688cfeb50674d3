#include "stubframework/core/MaintenanceWorkflow.h"

#include <atomic>
#include <memory>
#include <shlobj.h>
#include <wrl/client.h>

#include "StubCore/StubApplication.h"
#include "stubframework/ExternalMethods.h"
#include "stubframework/core/DownloadWorkflow.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/core/InstallWorkflow.h"
#include "stubframework/core/MaintenanceRules.h"
#include "stubframework/core/StubCopy.h"
#include "stubframework/core/WorkerPrologue.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/PrivateFolder.h"
#include "stubframework/utils/Process.h"
#include "stubframework/utils/Registry.h"

namespace stubframework { namespace core {

namespace {

using Microsoft::WRL::ComPtr;

constexpr unsigned long kMaintenanceTicks = 150;
constexpr DWORD kMaintenanceTickMs = 200;

std::atomic<bool> verifyRunning{false};

bool SearchFolder(const std::wstring& folder, const std::wstring& relativePath, const std::wstring& target,
                  std::wstring& commonDirectory) {
    WIN32_FIND_DATAW entry;
    utils::ScopedFindHandle find(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!find.IsValid()) return false;
    do {
        const std::wstring name = entry.cFileName;
        const std::wstring full = folder + L"\\" + name;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            const size_t at = full.find(relativePath);
            if (name == target && at != std::wstring::npos) {
                commonDirectory = full;
                commonDirectory.erase(at, relativePath.size());
                return true;
            }
        } else if (name != L"." && name != L"..") {
            if (SearchFolder(full, relativePath, target, commonDirectory)) return true;
        }
    } while (verifyRunning.load() && ::FindNextFileW(find.Get(), &entry));
    return false;
}

} // namespace

std::wstring MaintenanceLogPath(StubApplication& app, const wchar_t* prefix, const std::wstring& name) {
    return InstallLogFolder(app) + prefix + name + L"_" + CurrentUtcTimestamp() + L".log";
}

ResultCode RunMaintenanceCommand(StubApplication& app, const std::wstring& commandLine) {
    HtmlExternal& external = app.Bridge();
    external.SetInstallCurrent(0);
    external.SetInstallTotal(kMaintenanceTicks);

    DWORD exitCode = 0;
    const bool ran = utils::RunCommandLineInSteps(commandLine, kMaintenanceTickMs, [&external] {
        const unsigned long current = external.InstallCurrent();
        if (current < external.InstallTotal()) external.SetInstallCurrent(current + 1);
    }, exitCode);
    if (!ran) {
        WriteDebugLog(&app, L"Uninstall %s, CreateProcessW failed", commandLine.c_str());
        return Failure;
    }
    external.SetInstallCurrent(external.InstallTotal());
    const ResultCode result = TransferInstallError(&app, exitCode);
    WriteDebugLog(&app, L"Uninstall %s, return %d, error handler %d", commandLine.c_str(), static_cast<int>(exitCode),
                  static_cast<int>(result));
    external.SetLastInstallError(exitCode);
    return result;
}

DWORD WINAPI UninstallThreadFunc(void* parameter) {
    WorkerPrologue<MaintenanceRequest> worker(parameter, L"UninstallThreadFunc");
    if (!worker.Ready()) return 0;
    auto [request, app, callback] = worker.Parts();
    const ResultCode result = RunMaintenanceCommand(*app, request->commandLine);
    // Listed before the page hears the result: it may end the run, and the report, right away.
    app->Analytics().AddReportFile(request->logPath);
    CallScriptFunction(callback.Get(), static_cast<int>(result));
    callback.Reset();
    WriteErrorLog(app, L"UninstallThreadFunc result: %x", static_cast<unsigned>(result));
    return 0;
}

void SetVerifyRunning(bool running) { verifyRunning.store(running); }
bool VerifyRunning() { return verifyRunning.load(); }

bool FindCommonDirectory(const std::wstring& searchRoot, const std::wstring& relativePath,
                         std::wstring& commonDirectory) {
    commonDirectory.clear();
    // An empty relative path would match the first file of all.
    if (relativePath.empty()) return false;
    return SearchFolder(searchRoot, relativePath, utils::FileNameOf(relativePath), commonDirectory);
}

DWORD WINAPI VerifyThreadFunc(void* parameter) {
    WorkerPrologue<VerifyRequest> worker(parameter, L"VerifyThreadFunc");
    if (!worker.Ready()) return 0;
    auto [request, app, callback] = worker.Parts();
    std::wstring common;
    const bool found = FindCommonDirectory(request->searchRoot, request->relativePath, common);
    app->Bridge().SetProperty(L"PackagePath", common);
    WriteDebugLog(app, L"VerifyThreadFunc parameters: %s - %s", request->searchRoot.c_str(),
                  request->relativePath.c_str());
    // Read once: the cancel decides the result even when the file was found.
    const bool running = VerifyRunning();
    WriteDebugLog(app, L"VerifyThreadFunc %d - %d ; common directory: %s", found ? 1 : 0, running ? 1 : 0,
                  common.c_str());
    const ResultCode result = !running ? Cancelled : found ? NoError : Failure;
    CallScriptFunction(callback.Get(), static_cast<int>(result));
    return 0;
}

void WriteUninstallEntry(StubApplication& app, const std::wstring& productCode, bool is64Bit) {
    // The entry runs this copy elevated: a folder a user made (or linked) first is not used.
    const std::wstring root = utils::PrepareCommonFolder(L"Zarvo\\" + app.Config().ProductId());
    if (root.empty()) {
        WriteErrorLog(&app, L"SetUninstallRegistryFromStub no private folder for the copy");
        return;
    }
    // A new copy in a folder of its own: a file already there, or the copy a maintenance run is
    // running from, is never written over. Earlier copies are left as they are.
    std::wstring copyPath;
    if (!CopyStubIntoNewFolder(root, copyPath)) {
        // With no copy the entry would start nothing: keep the product's own entry then.
        WriteErrorLog(&app, L"SetUninstallRegistryFromStub copy below %s failed: %u", root.c_str(),
                      static_cast<unsigned>(::GetLastError()));
        return;
    }
    const std::wstring key = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
                             BracedProductCode(productCode);
    utils::WriteRegistryValue(key, L"UninstallString", StubCommandLine(copyPath, L" /uninstall "), REG_EXPAND_SZ,
                              is64Bit);
    utils::WriteRegistryValue(key, L"ModifyPath", StubCommandLine(copyPath, L" /modify "), REG_EXPAND_SZ, is64Bit);
    utils::WriteRegistryValue(key, L"WindowsInstaller", L"0", REG_DWORD, is64Bit);
    utils::WriteRegistryValue(key, L"DisplayIcon", copyPath, REG_SZ, is64Bit);
}

}} // namespace stubframework::core
