#include "stubframework/utils/Process.h"
#include "stubframework/utils/Handle.h"

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

namespace {

// A whole command line with the default environment and folder, nothing inherited.
bool CreateFromCommandLine(const std::wstring& commandLine, bool hidden, ScopedHandle& process) {
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
    if (!::CreateProcessW(nullptr, text.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
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
