#include "StubCore/StubMain.h"
#include "StubCore/StubApplication.h"
#include "stubframework/MyExternalMethods.h"
#include "stubframework/core/AppConfig.h"
#include "stubframework/core/ContentSignature.h"
#include "stubframework/core/VerifiedFile.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/core/ResumeCopy.h"
#include "stubframework/core/SelfUpdate.h"
#include "stubframework/core/StubUpdateRules.h"
#include "stubframework/utils/CommandLineArgs.h"
#include "stubframework/utils/FileHandles.h"
#include "stubframework/utils/Ground.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/Process.h"
#include "stubframework/utils/Registry.h"
#include "stubframework/utils/SystemLibrary.h"

#include <cwchar>
#include <memory>

namespace stubframework {

namespace {
const wchar_t kInstanceMutexName[] = L"ZarvoStubFramework";
const wchar_t kWindowClassName[] = L"HTMLUI";

DWORD ParseNumber(const wchar_t* text) { return static_cast<DWORD>(std::wcstoul(text, nullptr, 10)); }

// A ".local" file or folder next to the executable would redirect its DLL loading.
bool LocalRedirectionPresent() {
    std::wstring own;
    return utils::GetOwnModulePath(own) && utils::PathExists(own + L".local");
}

void ActivateRunningInstance() {
    const HWND window = ::FindWindowW(kWindowClassName, nullptr);
    if (!window) return;
    ::SetForegroundWindow(window);
    if (::IsIconic(window)) ::ShowWindow(window, SW_RESTORE);
}
} // namespace

void RunSelfReplacePass(const utils::StartupSwitches& switches) {
    std::wstring own;
    // The started file is held from the start of this pass and written through that handle: a
    // link put in its place or above it while the launcher ends redirects nothing. The handle
    // asks for no data access, so the launcher still running from the file does not stop it.
    utils::ScopedFileHandle started;
    if (switches.hasShortcut && utils::GetOwnModulePath(own)) {
        started.Reset(::CreateFileW(switches.shortcut.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        BY_HANDLE_FILE_INFORMATION info = {};
        if (started && (!::GetFileInformationByHandle(started.Get(), &info) ||
                        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
                        !utils::SamePath(utils::FinalPathOf(started.Get()), utils::LongPathOf(switches.shortcut))))
            started.Reset();
    }
    // This stub's own file, held too: the launcher removes its folder as it ends.
    utils::ScopedFileHandle self;
    if (started)
        self.Reset(::CreateFileW(own.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (started && self) {
        utils::ScopedHandle parent(::OpenProcess(SYNCHRONIZE, FALSE, ParseNumber(switches.parentProcessId.c_str())));
        if (parent) ::WaitForSingleObject(parent.Get(), INFINITE);
        // The started file is only ever overwritten, never deleted first: if the copy fails,
        // the user keeps the stub they started.
        // Shared for reading: whoever still reads the old file (a scanner, the shell) would
        // otherwise stop the write; a short wait covers a reader that holds it exclusively.
        utils::ScopedFileHandle target;
        for (int attempt = 0; attempt < 50; ++attempt) {
            target.Reset(::ReOpenFile(started.Get(), GENERIC_WRITE, FILE_SHARE_READ, 0));
            if (target || ::GetLastError() != ERROR_SHARING_VIOLATION) break;
            ::Sleep(100);
        }
        if (self && target) {
            LARGE_INTEGER size = {};
            // Written whole, then cut to the new length: a shorter new stub leaves no old tail.
            if (utils::CopyHandleToHandle(self.Get(), target.Get()) && ::GetFileSizeEx(self.Get(), &size) &&
                ::SetFilePointerEx(target.Get(), size, nullptr, FILE_BEGIN))
                ::SetEndOfFile(target.Get());
        }
    }
    ::ExitProcess(ParseNumber(switches.newVersionExitCode.c_str()));
}

int RunLauncherPass() {
    std::wstring own, folder;
    if (!utils::GetOwnModulePath(own)) return 0;
    // Held from the start without write or delete sharing: the file checked at the elevation
    // prompt is the file copied, and nobody swaps it in between.
    utils::ScopedFileHandle self(::CreateFileW(own.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!self || !utils::CreateGroundFolder(folder)) return 0;
    utils::SweepStaleGroundFolders();
    const std::wstring name = utils::FileNameOf(own);
    if (utils::CopyOpenFile(self.Get(), folder + name)) {
        // Started while held without write sharing: the copy run is the copy made.
        utils::ScopedFileHandle copy(::CreateFileW((folder + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        const std::wstring passedOn = utils::ArgumentsAfterProgram(utils::GetRawCommandLine());
        // Only a newer stub that this run's UI fetched and verified is handed over to: a request
        // an earlier run left behind must not make the UI end with the self-update code.
        const std::wstring keyPath = core::AppConfig::DefaultFrameworkKeyPath();
        core::ClearSelfUpdateValues(keyPath);
        const DWORD exitCode =
            utils::RunProcess(folder, name, utils::BuildStubCommand(passedOn, L" run=1", own), true);

        std::wstring newStub;
        bool takeOver = false;
        utils::ScopedFileHandle held;    // the checked stub stays unwritable until it has run
        if (exitCode == static_cast<DWORD>(core::SelfUpdateExitCode)) {
            // The name comes from the user's hive: a bare file name, in this private folder only.
            takeOver = utils::ReadFrameworkValue(keyPath, L"update_stub_name", newStub) && !newStub.empty() &&
                       utils::FileNameOf(newStub) == newStub && newStub != L".." &&
                       !utils::EqualsNoCase(newStub, name) && utils::PathExists(folder + newStub) &&
                       core::OpenVerifiedFile(nullptr, folder + newStub, held) &&
                       core::IsNewerStub(folder + newStub, folder + name);
            // Taken over once: neither the newer stub's runs nor any later start act on it again.
            core::ClearSelfUpdateValues(keyPath);
        }
        if (takeOver) {
            const std::wstring command = utils::BuildStubCommand(passedOn, L" run=1 update=0", own);
            const DWORD newExitCode = utils::RunProcess(folder, newStub, command, true);
            wchar_t handOver[96];
            std::swprintf(handOver, 96, L" newVersionExitCode=%lu parentProcessID=%lu",
                          static_cast<unsigned long>(newExitCode),
                          static_cast<unsigned long>(::GetCurrentProcessId()));
            utils::RunProcess(folder, newStub, command + handOver, false);
        }
    }
    utils::DeleteFolderTree(folder);
    self.Reset();
    core::RemoveResumeCopy(own);
    return 0;
}

int RunUiInstance(const utils::StartupSwitches& switches, const UiHost& host) {
    utils::ScopedHandle mutex(::CreateMutexW(nullptr, FALSE, kInstanceMutexName));
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ActivateRunningInstance();
        return 0;
    }
    std::unique_ptr<StubApplication> app(new StubApplication(std::move(mutex), switches));
    app->Log().Debug(L"Command line: %s", utils::GetRawCommandLine().c_str());
    app->Log().Debug(L"Publisher keys: %s", core::PublisherKeyIds().c_str());
    // The method table outlives the application object: the bridge points into it to the end.
    std::unique_ptr<ExternalMethods> methods(host.makeMethods ? host.makeMethods(app.get())
                                                              : new myexternalmethods::MyExternalMethods(app.get()));
    app->Bridge().AttachMethodTable(methods.get());
    if (host.runWindow) app->SetWindowRunner(host.runWindow);
    const int exitCode = app->RunHtmlUi();
    if (!app->WorkersEnded()) {
        // A worker that would not stop may still use the application and the method table:
        // neither is destroyed under it; the process ends with the worker.
        ::ExitProcess(static_cast<UINT>(exitCode));
    }
    app.reset();

    if (exitCode == core::SelfUpdateExitCode) ::ExitProcess(core::SelfUpdateExitCode);
    return exitCode;
}

int StubMain(const UiHost& host) {
    utils::HardenLibrarySearch();
    if (LocalRedirectionPresent()) ::ExitProcess(1);

    const utils::StartupSwitches switches =
        utils::ParseStartupSwitches(utils::GetCommandLineArgs(), utils::GetRawCommandLine());
    if (!switches.newVersionExitCode.empty() && !switches.parentProcessId.empty()) {
        RunSelfReplacePass(switches);
    }
    return switches.uiInstance ? RunUiInstance(switches, host) : RunLauncherPass();
}

} // namespace stubframework
