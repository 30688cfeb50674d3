#include "tests/support/ChildProcess.h"

#include <vector>

namespace testsupport {

using stubframework::utils::ScopedHandle;

namespace {
// The parent's environment with TMP and TEMP replaced.
std::vector<wchar_t> EnvironmentWithTemp(const std::wstring& temp) {
    std::vector<wchar_t> block;
    wchar_t* env = ::GetEnvironmentStringsW();
    for (const wchar_t* p = env; p && *p; p += wcslen(p) + 1) {
        const std::wstring entry(p);
        if (_wcsnicmp(entry.c_str(), L"TMP=", 4) == 0 || _wcsnicmp(entry.c_str(), L"TEMP=", 5) == 0) continue;
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back(L'\0');
    }
    if (env) ::FreeEnvironmentStringsW(env);
    for (const wchar_t* name : {L"TMP=", L"TEMP="}) {
        const std::wstring entry = name + temp;
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}
} // namespace

ScopedHandle StartChild(const std::wstring& program, const std::wstring& commandLine,
                        const ChildOptions& options) {
    std::vector<wchar_t> command(commandLine.begin(), commandLine.end());
    command.push_back(L'\0');
    std::vector<wchar_t> environment;
    if (!options.tempFolder.empty()) environment = EnvironmentWithTemp(options.tempFolder);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT | options.creationFlags,
                          environment.empty() ? nullptr : environment.data(),
                          options.currentFolder.empty() ? nullptr : options.currentFolder.c_str(), &startup,
                          &info)) {
        return ScopedHandle();
    }
    ScopedHandle thread(info.hThread);
    return ScopedHandle(info.hProcess);
}

bool WaitForExit(HANDLE process, DWORD timeoutMs, DWORD& exitCode) {
    if (!process || ::WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) return false;
    return ::GetExitCodeProcess(process, &exitCode) != FALSE;
}

bool RunChild(const std::wstring& program, const std::wstring& commandLine, const ChildOptions& options,
              DWORD timeoutMs, DWORD& exitCode) {
    ScopedHandle process = StartChild(program, commandLine, options);
    if (!process) return false;
    if (WaitForExit(process.Get(), timeoutMs, exitCode)) return true;
    ::TerminateProcess(process.Get(), 1);
    return false;
}

} // namespace testsupport
