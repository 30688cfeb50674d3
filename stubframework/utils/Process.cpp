#include "stubframework/utils/Process.h"
#include "stubframework/utils/CommandLineArgs.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/SystemLibrary.h"

#include <shlwapi.h>

#include <vector>

namespace stubframework { namespace utils {

DWORD RunProcess(const std::wstring& folder, const std::wstring& fileName,
                 const std::wstring& commandText, bool wait) {
    const std::wstring application = folder + fileName;
    std::vector<wchar_t> commandLine(commandText.begin(), commandText.end());
    commandLine.push_back(L'\0');

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                          nullptr, folder.c_str(), &startup, &info)) {
        return 0;
    }
    ScopedHandle process(info.hProcess);
    ScopedHandle thread(info.hThread);
    if (wait) ::WaitForSingleObject(process.Get(), INFINITE);
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.Get(), &exitCode);
    return exitCode;
}

std::wstring ProgramOfCommandLine(const std::wstring& commandLine) {
    // An empty line would be read as this program's own name.
    if (commandLine.find_first_not_of(L" \t") == std::wstring::npos) return std::wstring();
    const ArgList tokens = SplitCommandLine(commandLine);
    if (tokens.empty() || tokens[0].empty()) return std::wstring();
    const std::wstring& program = tokens[0];
    if (program.find_first_of(L"\\/:") != std::wstring::npos) {
        // As the search would have it: "C:\\tools\\setup" means "setup.exe" when only that exists.
        if (!*::PathFindExtensionW(program.c_str()) && !PathExists(program)) return program + L".exe";
        return program;
    }
    if (program == L"." || program == L"..") return std::wstring();
    const std::wstring fileName = *::PathFindExtensionW(program.c_str()) ? program : program + L".exe";
    const std::wstring system = SystemFolderPath(fileName.c_str());
    if (!system.empty() && PathExists(system)) return system;
    wchar_t windows[MAX_PATH] = {};
    const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    const std::wstring inWindows = std::wstring(windows, length) + L"\\" + fileName;
    return PathExists(inWindows) ? inWindows : std::wstring();
}

namespace {

// A whole command line with the default environment and folder, nothing inherited.
bool CreateFromCommandLine(const std::wstring& commandLine, bool hidden, ScopedHandle& process) {
    const std::wstring application = ProgramOfCommandLine(commandLine);
    if (application.empty()) {
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    // CreateProcessW may write into the command line.
    std::vector<wchar_t> text(commandLine.begin(), commandLine.end());
    text.push_back(L'\0');

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (hidden) {
        startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
        startup.wShowWindow = SW_HIDE;
    }
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(application.c_str(), text.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info))
        return false;
    process.Reset(info.hProcess);
    ScopedHandle thread(info.hThread);
    return true;
}

} // namespace

bool StartCommandLine(const std::wstring& commandLine, bool hidden) {
    ScopedHandle process;
    return CreateFromCommandLine(commandLine, hidden, process);
}

bool RunCommandLineInSteps(const std::wstring& commandLine, DWORD stepMs, const std::function<void()>& onStep,
                           DWORD& exitCode) {
    ScopedHandle process;
    if (!CreateFromCommandLine(commandLine, false, process)) return false;
    while (::WaitForSingleObject(process.Get(), stepMs) == WAIT_TIMEOUT) {
        if (onStep) onStep();
    }
    exitCode = 0;
    ::GetExitCodeProcess(process.Get(), &exitCode);
    return true;
}

}} // namespace stubframework::utils
