// The method rows of the resume after a reboot and of the launch-on-exit programs:
// runAfterReboot, undoRunAfterReboot, startRegApps.
#include "stubframework/ExternalMethods.h"
#include "StubCore/StubApplication.h"
#include "stubframework/core/AppConfig.h"
#include "stubframework/core/MaintenanceRules.h"
#include "stubframework/core/ResumeCopy.h"
#include "stubframework/core/ResumeManager.h"
#include "stubframework/core/StatusCodes.h"
#include "stubframework/utils/CommandLineArgs.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/Process.h"
#include "stubframework/utils/Registry.h"

#include <shellapi.h>
#include <vector>

namespace stubframework {

namespace {
const wchar_t kRunOnceKey[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const VARTYPE kOneText[] = {VT_BSTR};

// "Tandora_22": from the product id and version as they are now.
std::wstring RunOnceValueName(core::AppConfig& config) {
    return config.ProductId() + L"_" + core::MajorVersion(config.ProductVersion());
}

// The data of the values whose name starts with "regApp", in the key's own order.
std::vector<std::wstring> CollectRegApps(const std::wstring& subKey) {
    std::vector<std::wstring> commands;
    utils::ScopedRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, key.Receive()) !=
        ERROR_SUCCESS)
        return commands;
    for (DWORD index = 0;; ++index) {
        wchar_t name[50];
        DWORD nameLength = 50;
        // 2000 bytes and room for a terminator the stored text may lack.
        wchar_t data[1000 + 1] = {};
        DWORD size = 2000;
        DWORD type = 0;
        const LONG status = ::RegEnumValueW(key.Get(), index, name, &nameLength, nullptr, &type,
                                            reinterpret_cast<BYTE*>(data), &size);
        if (status == ERROR_NO_MORE_ITEMS) break;
        // A longer name or data is not one of ours; the walk goes on.
        if (status != ERROR_SUCCESS) continue;
        if (std::wstring(name, nameLength).compare(0, 6, L"regApp") != 0) continue;
        if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
        data[size / sizeof(wchar_t)] = L'\0';
        commands.push_back(data);
    }
    return commands;
}

// The copy an earlier request made is not needed once its entry is replaced or withdrawn.
void RemovePreviousResumeCopy(const std::wstring& valueName) {
    std::wstring command;
    if (!utils::ReadFrameworkValue(kRunOnceKey, valueName, command)) return;
    const utils::ArgList tokens = utils::SplitCommandLine(command);
    if (!tokens.empty()) core::RemoveResumeCopy(tokens[0]);
}

// The program as the command line names it, with the arguments as written: a quoted argument
// with blanks stays one argument.
bool StartElevated(StubApplication* app, const std::wstring& commandLine) {
    const utils::ResolvedProgram program = utils::ResolveCommandLine(commandLine);
    if (program.refused)
        WriteErrorLog(app, L"EMStartRegApps: %s refused: a user can change its program", commandLine.c_str());
    if (program.path.empty() || program.refused) return false;
    const size_t first = program.arguments.find_first_not_of(L" \t");
    const wchar_t* parameters = program.arguments.c_str() + (first == std::wstring::npos ? 0 : first);
    const HINSTANCE started = ::ShellExecuteW(nullptr, L"runas", program.path.c_str(), parameters, nullptr, SW_SHOW);
    return reinterpret_cast<INT_PTR>(started) > 32;
}
} // namespace

HRESULT ExternalMethods::RunAfterReboot(WORD flags, DISPPARAMS* params, VARIANT*) {
    WriteDebugLog(app_, L"EMRunAfterReboot");
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD, params, kOneText);
    if (FAILED(hr)) return hr;
    const std::wstring mode = TextArg(params, 0);
    const std::wstring& keyPath = app_->Config().FrameworkKeyPath();
    const std::wstring& shortcut = app_->Switches().shortcut;
    const std::wstring valueName = RunOnceValueName(app_->Config());
    // The entry starts a copy only administrators can change, never the file in the user's folder.
    RemovePreviousResumeCopy(valueName);
    core::NoteStartedFile(keyPath, shortcut);
    std::wstring copy, started;
    if (core::MakeResumeCopy(copy)) {
        started = copy;
    } else {
        WriteErrorLog(app_, L"EMRunAfterReboot copy of the stub failed: %u", static_cast<unsigned>(::GetLastError()));
        // Then the run resumes from the file the user started, as it did before there were copies.
        started = core::StartedFile(keyPath, shortcut);
        if (!utils::PathExists(started)) started.clear();
    }
    // A resume is never dropped silently: without an entry the page gets a failure.
    if (started.empty() ||
        !utils::WriteFrameworkValue(kRunOnceKey, valueName, core::RunOnceCommand(started, mode), true)) {
        WriteErrorLog(app_, L"EMRunAfterReboot no run-once entry");
        core::RemoveResumeCopy(copy);
        return E_FAIL;
    }
    WriteDebugLog(app_, L"EMRunAfterReboot %s", mode.c_str());
    return S_OK;
}

HRESULT ExternalMethods::UndoRunAfterReboot(WORD flags, DISPPARAMS* params, VARIANT*) {
    WriteDebugLog(app_, L"EMUndoRunAfterReboot");
    const HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 0);
    if (FAILED(hr)) return hr;
    RemovePreviousResumeCopy(RunOnceValueName(app_->Config()));
    utils::DeleteRegistryValue(kRunOnceKey, RunOnceValueName(app_->Config()));
    return S_OK;
}

HRESULT ExternalMethods::StartRegApps(WORD flags, DISPPARAMS* params, VARIANT*) {
    WriteDebugLog(app_, L"EMStartRegApps");
    const HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 0);
    if (FAILED(hr)) return hr;
    const core::ResumeManager record(app_->Switches().resumeMode != 0, app_->Config());
    if (!record.Loaded()) return S_OK;
    if (!record.HasMachineCopy()) {
        // The user's record alone could name any key below HKEY_LOCAL_MACHINE.
        WriteErrorLog(app_, L"EMStartRegApps: resume record not written by the stub, nothing started or deleted");
        return S_OK;
    }
    const std::wstring parent = core::LaunchOnExitParent(record.LaunchOnExit(), record.Guid());
    if (parent.empty()) return S_OK;

    const std::vector<std::wstring> commands = CollectRegApps(L"Software\\" + record.LaunchOnExit());
    // The entries are used up: they must not run again at the next finish.
    utils::ScopedRegKey parentKey;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, parent.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                        parentKey.Receive()) == ERROR_SUCCESS)
        ::RegDeleteTreeW(parentKey.Get(), record.Guid().c_str());
    for (const std::wstring& command : commands) {
        const bool started = StartElevated(app_, command);
        WriteDebugLog(app_, L"EMStartRegApps: %s with result %s", command.c_str(), started ? L"success" : L"failed");
    }
    return S_OK;
}

void ExternalMethods::RegisterResumeMethods() {
    RegisterMethod(L"runAfterReboot", &ExternalMethods::RunAfterReboot);
    RegisterMethod(L"undoRunAfterReboot", &ExternalMethods::UndoRunAfterReboot);
    RegisterMethod(L"startRegApps", &ExternalMethods::StartRegApps);
}

} // namespace stubframework
