#include "stubframework/core/InstallWorkflow.h"

#include <algorithm>
#include <vector>
#include <atomic>
#include <memory>
#include <shlwapi.h>
#include <wrl/client.h>

#include "StubCore/StubApplication.h"
#include "stubframework/ExternalMethods.h"
#include "stubframework/core/AppConfig.h"
#include "stubframework/core/CreatedFolders.h"
#include "stubframework/core/DownloadWorkflow.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/core/InstallText.h"
#include "stubframework/core/PackageCache.h"
#include "stubframework/core/PackageUnzip.h"
#include "stubframework/core/ResumeCopy.h"
#include "stubframework/core/ResumeManager.h"
#include "stubframework/core/VerifiedFile.h"
#include "stubframework/core/WorkerPrologue.h"
#include "stubframework/utils/CommandLineArgs.h"
#include "stubframework/utils/Ground.h"
#include "stubframework/utils/MsiApi.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/Process.h"

namespace stubframework { namespace core {

namespace {

using Microsoft::WRL::ComPtr;

constexpr DWORD kExecutableStepMs = 100;
constexpr DWORD kLogModeAll = 0x1FDF;

// Progress resets seen by the running Windows Installer session; one install at a time.
std::atomic<int> g_progressResets{0};

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

bool IsExtension(const std::wstring& path, const wchar_t* extension) {
    return ::lstrcmpiW(::PathFindExtensionW(path.c_str()), extension) == 0;
}

void AddReportFileOnce(StubApplication& app, const std::wstring& path) {
    const auto& files = app.Analytics().reportFiles();
    if (std::find(files.begin(), files.end(), path) == files.end()) app.Analytics().AddReportFile(path);
}

// An install that ends before any installer ran leaves its own reason for getLastInstallError:
// the code of an earlier package (1638 reads as "installed already") must not speak for it.
ResultCode EndedWithout(HtmlExternal& external, ResultCode result, DWORD reason) {
    external.SetLastInstallError(reason);
    return result;
}

// Every file the parameters name must lie on the ground (else Failure, logged). For a Windows
// Installer package the transforms they name are taken from the cache, verified and held, and
// come back with the install folder the page chose (property "installPath") in properties,
// quoted; a folder that cannot be quoted is refused.
ResultCode ResolveInstallParameters(StubApplication& app, const std::wstring& packagePath, bool windowsInstaller,
                                    std::wstring& parameters, std::wstring& properties,
                                    std::vector<utils::ScopedFileHandle>& held) {
    const InstallFileNames names = NamedInstallFiles(utils::SplitCommandLine(parameters), windowsInstaller);
    for (const std::wstring& path : names.paths) {
        if (!utils::IsInGround(path)) {
            WriteErrorLog(&app, L"Install parameter names a file outside the stub's own folders, refused: %s",
                          path.c_str());
            return Failure;
        }
    }
    if (!windowsInstaller) return NoError;
    std::wstring transforms;
    for (const std::wstring& entry : names.transforms) {
        std::wstring file = entry;
        if (entry[0] != L':') {
            // A bare name, as the installer list gives it, lies beside the package the page named.
            const std::wstring pagePath = ::PathIsRelativeW(entry.c_str()) ? utils::ParentFolder(packagePath) + entry : entry;
            utils::ScopedFileHandle transform;
            if (!OpenCachedFile(app, pagePath, file, transform)) return Md5Error;
            held.push_back(std::move(transform));
        }
        transforms += (transforms.empty() ? L"" : L";") + file;
    }
    if (!names.transforms.empty()) {
        RemoveProperty(parameters, L"TRANSFORMS");
        properties += QuotedProperty(L"TRANSFORMS", transforms);
    }
    const std::wstring folder = app.Bridge().GetProperty(L"installPath");
    if (!folder.empty()) {
        if (!IsQuotableFolder(folder)) {
            WriteErrorLog(&app, L"Install folder refused: %s", folder.c_str());
            return Failure;
        }
        properties += QuotedProperty(L"INSTALLDIR", folder);
    }
    return NoError;
}

} // namespace

std::wstring InstallLogFolder(StubApplication& app) { return app.LogFolder(); }

std::wstring CurrentUtcTimestamp() {
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    return LogTimestampText(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
}

INT WINAPI InstallMessageHandler(LPVOID context, UINT messageType, LPCWSTR message) {
    if (!context || !message || !*message) return 0;
    HtmlExternal& external = *static_cast<HtmlExternal*>(context);
    switch (messageType & 0xFF000000u) {
    case INSTALLMESSAGE_ERROR:
        external.SetProperty(L"errorHandled", L"true");
        ::MessageBoxW(nullptr, message, L"error", messageType & 0x00FFFFFFu);
        break;
    case INSTALLMESSAGE_PROGRESS: {
        MsiProgressFields fields;
        if (!ParseMsiProgress(message, fields)) break;
        MsiTicks ticks{external.InstallTotal(), external.InstallCurrent(), g_progressResets.load()};
        ApplyMsiProgress(fields, ticks);
        external.SetInstallTotal(ticks.total);
        external.SetInstallCurrent(ticks.current);
        g_progressResets.store(ticks.resets);
        break;
    }
    default:
        break;
    }
    return 0;
}

ResultCode InstallMsi(StubApplication& app, const std::wstring& packagePath, std::wstring parameters,
                      const std::wstring& logPath, const std::wstring& properties) {
    const utils::MsiApi* api = utils::GetMsiApi();
    if (!api) {
        WriteErrorLog(&app, L"InstallMsi %s, msi.dll not available", packagePath.c_str());
        return EndedWithout(app.Bridge(), Failure, ERROR_INSTALL_SERVICE_FAILURE);
    }
    return InstallMsi(app, *api, packagePath, std::move(parameters), logPath, properties);
}

ResultCode InstallMsi(StubApplication& app, const utils::MsiApi& api, const std::wstring& packagePath,
                      std::wstring parameters, const std::wstring& logPath, const std::wstring& properties) {
    HtmlExternal& external = app.Bridge();
    external.SetInstallCurrent(0);
    external.SetInstallTotal(1);
    g_progressResets.store(0);

    const utils::ArgList args = utils::SplitCommandLine(parameters);
    INSTALLUILEVEL level = INSTALLUILEVEL_DEFAULT;
    DWORD filter = 0;
    if (HasWholeArgument(args, L"/QN")) {
        RemoveSwitchToken(parameters, L"/qn");
        level = INSTALLUILEVEL_NONE;
        filter = INSTALLLOGMODE_PROGRESS;
    } else if (HasWholeArgument(args, L"/QF")) {
        RemoveSwitchToken(parameters, L"/qf");
        level = INSTALLUILEVEL_FULL;
        filter = INSTALLLOGMODE_TERMINATE;
    }
    const INSTALLUILEVEL previousLevel = api.MsiSetInternalUI(level, nullptr);
    const INSTALLUI_HANDLERW previousHandler = api.MsiSetExternalUIW(InstallMessageHandler, filter, &external);
    api.MsiEnableLogW(kLogModeAll, logPath.c_str(), INSTALLLOGATTRIBUTES_APPEND);
    // Logging is the stub's business: the installer gets only the property assignments.
    RemoveSwitchToken(parameters, L"/l");
    RemoveSwitchToken(parameters, L"$LOGFILE$");
    // Built by the stub after the switches went: a folder or path in them stays whole.
    parameters += properties;

    WriteDebugLog(&app, L"InstallMsi %s, parameter: %s", packagePath.c_str(), parameters.c_str());
    const UINT code = api.MsiInstallProductW(packagePath.c_str(), parameters.c_str());
    const ResultCode result = TransferInstallError(&app, code);
    WriteDebugLog(&app, L"InstallMsi %s, return %d", packagePath.c_str(), static_cast<int>(code));
    external.SetLastInstallError(code);
    external.SetInstallCurrent(external.InstallTotal());

    api.MsiSetInternalUI(previousLevel, nullptr);
    api.MsiSetExternalUIW(previousHandler, 0, nullptr);
    return result;
}

ResultCode InstallExecutable(StubApplication& app, const std::wstring& path, const std::wstring& parameters,
                             int64_t estimatedTime) {
    HtmlExternal& external = app.Bridge();
    if (estimatedTime > 0) {
        external.SetInstallCurrent(0);
        external.SetInstallTotal(static_cast<unsigned long>(estimatedTime * 10));
    }
    const std::wstring commandLine = Quoted(path) + L" " + parameters;
    DWORD exitCode = 0;
    const bool ran = utils::RunCommandLineInSteps(commandLine, kExecutableStepMs, [&external] {
        // One tick short of the end until the installer has really ended.
        const unsigned long current = external.InstallCurrent();
        if (current + 1 < external.InstallTotal()) external.SetInstallCurrent(current + 1);
    }, exitCode);
    if (!ran) {
        const DWORD error = ::GetLastError();
        WriteErrorLog(&app, L"Install %s, CreateProcessW failed", commandLine.c_str());
        return EndedWithout(external, Failure, error ? error : ERROR_FILE_NOT_FOUND);
    }
    external.SetInstallCurrent(external.InstallTotal());
    const ResultCode result = TransferInstallError(&app, exitCode);
    WriteDebugLog(&app, L"Install %s, return %d", commandLine.c_str(), static_cast<int>(exitCode));
    external.SetLastInstallError(exitCode);
    return result;
}

ResultCode InstallZip(StubApplication& app, const std::wstring& path, const std::wstring& parameters,
                      int64_t estimatedTime) {
    HtmlExternal& external = app.Bridge();
    std::wstring unzipFolder, setupFolder;
    bool unpacked = false;
    if (external.GetProperty(L"__Extract_In_Download__") == L"true") {
        unzipFolder = external.GetProperty(path + L"__ZIP_Unzip_Folder__");
        setupFolder = external.GetProperty(path + L"__ZIP_EXE_Path__");
        // A record cut short (a run ended between its two values, or the unpacking failed) names
        // no setup: unpack again rather than start "\setup.exe" from the root of the drive.
        // Only a folder this stub unpacked into on the ground: the properties can come from the
        // user's own record, and a folder elsewhere can be swapped before its setup runs.
        unpacked = !unzipFolder.empty() && !setupFolder.empty() && utils::IsInGround(unzipFolder) &&
                   IsWithinCreatedFolder(app.Config().FrameworkKeyPath(), unzipFolder, setupFolder) &&
                   utils::PathExists(setupFolder + L"\\setup.exe");
        if (!unpacked) unzipFolder.clear();
    }
    if (unpacked) {
        AtCheckUse(path);
    } else {
        // The unpacker reads the cache's verified copy through the handle that was checked.
        std::wstring cached;
        utils::ScopedFileHandle held;
        if (!OpenCachedFile(app, path, cached, held)) return EndedWithout(external, Md5Error, kRefusedPackageError);
        AtCheckUse(path);
        const ResultCode unzipped = UnzipPackage(app, path, held.Get(), unzipFolder, setupFolder);
        if (unzipped != NoError) {
            const DWORD error = external.LastExtractionError();
            return EndedWithout(external, unzipped,
                                error ? error : unzipped == FileNotExist ? ERROR_FILE_NOT_FOUND : ERROR_BAD_FORMAT);
        }
        // Unpacking filled the first tenth of the bar; the installer's estimate follows it.
        const unsigned long total = external.InstallTotal() + static_cast<unsigned long>(estimatedTime * 10);
        external.SetInstallTotal(total);
        external.SetInstallCurrent(static_cast<unsigned long>(total * 0.1));
    }
    const ResultCode result = InstallExecutable(app, setupFolder + L"\\setup.exe", parameters, 0);
    if (!unzipFolder.empty() && unzipFolder.size() < MAX_PATH)
        DeleteCreatedFolder(app.Config().FrameworkKeyPath(), unzipFolder);
    return result;
}

DWORD WINAPI InstallThreadFunc(void* parameter) {
    WorkerPrologue<InstallRequest> worker(parameter, L"InstallThreadFunc");
    if (!worker.Ready()) return 0;
    auto [request, app, callback] = worker.Parts();
    const std::wstring& packagePath = request->packagePath;
    std::wstring parameters = request->parameters;
    ComPtr<HtmlExternal> external(&app->Bridge());

    utils::CriticalSection lock;
    InstallProgressState state;
    InstallProgressContext context{external.Get(), callback.Get(), &state, packagePath, &lock};
    utils::ScopedHandle progressThread;
    ResultCode result = FileNotExist;

    const bool isMsi = IsExtension(packagePath, L".msi");
    const bool isZip = IsExtension(packagePath, L".zip");
    if (isMsi || isZip || IsExtension(packagePath, L".exe")) {
        const std::wstring folder = InstallLogFolder(*app);
        const std::wstring logPath = folder + L"log_" + CurrentUtcTimestamp() + L".txt";
        const std::wstring xmlPath = folder + L"log.txt.xml";
        // Judged before the stub fills in its own paths.
        std::wstring properties;
        std::vector<utils::ScopedFileHandle> held;
        result = ResolveInstallParameters(*app, packagePath, isMsi, parameters, properties, held);
        if (result != NoError)
            EndedWithout(*external.Get(), result, result == Md5Error ? kRefusedPackageError : ERROR_INVALID_PARAMETER);
        if (!isMsi) ReplaceFirst(parameters, L"$LOGFILE$", Quoted(logPath));
        ReplaceFirst(parameters, L"$STUBPATH$",
                     Quoted(StartedFile(app->Config().FrameworkKeyPath(), app->Switches().shortcut)));
        RecordInstallResume(app->Config(), app->Switches().resumeMode, parameters);

        if (result == NoError) {
            progressThread.Reset(::CreateThread(nullptr, 0, InstallProgressThreadFunc, &context, 0, nullptr));
            // The installer gets the cache's verified copy, held unwritable until it has run; a
            // run resumed after a reboot checks it again. A ZIP is checked where it is unpacked
            // (InstallZip): one unpacked on the ground by its checked download is not needed again.
            std::wstring cached;
            utils::ScopedFileHandle package;
            if (isZip) {
                result = InstallZip(*app, packagePath, parameters, request->estimatedTime);
            } else if (!OpenCachedFile(*app, packagePath, cached, package)) {
                result = EndedWithout(*external.Get(), Md5Error, kRefusedPackageError);
            } else {
                AtCheckUse(packagePath);
                result = isMsi ? InstallMsi(*app, cached, parameters, logPath, properties)
                               : InstallExecutable(*app, cached, parameters, request->estimatedTime);
            }
        }

        // Let the page see the bar full before the final report.
        while (result == NoError && progressThread) {
            {
                utils::ScopedLock hold(lock);
                if (state.status != Running) break;
            }
            ::Sleep(1);
        }
        AddReportFileOnce(*app, logPath);
        AddReportFileOnce(*app, xmlPath);
    } else {
        result = EndedWithout(*external.Get(), FileNotExist, ERROR_NOT_SUPPORTED);
    }

    if (result != NoError && result != Abort) {
        WriteErrorLog(app, L"Install fail, install path : %s, install result : %x", packagePath.c_str(),
                      static_cast<unsigned>(result));
    }
    {
        utils::ScopedLock hold(lock);
        state.status = result;
        external->SetInstallCurrent(0);
        external->SetInstallTotal(1);
        CallScriptFunction(callback.Get(), CallbackValues{static_cast<int>(state.current),
                                                          static_cast<int>(state.total), state.status});
    }
    // The shared records live on this stack: the progress thread must be gone first.
    if (progressThread) ::WaitForSingleObject(progressThread.Get(), INFINITE);
    return 0;
}

}} // namespace stubframework::core
