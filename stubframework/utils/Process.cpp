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

bool StartCommandLine(const std::wstring& commandLine, bool hidden) {
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
    ScopedHandle process(info.hProcess);
    ScopedHandle thread(info.hThread);
    return true;
}

}} // namespace stubframework::utils
