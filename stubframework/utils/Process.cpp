#include "stubframework/utils/Process.h"
#include "stubframework/utils/AdminOnly.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/PrivateFolder.h"
#include "stubframework/utils/SystemLibrary.h"

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

// The file system as the elevated stub must see it before it starts a program.
class SystemLookup final : public ProgramLookup {
public:
    bool IsFile(const std::wstring& path) const override {
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    }

    // The program and the folder that holds it: whoever may change either decides what runs.
    bool IsAdminOnly(const std::wstring& path) const override {
        // Without elevation the stub can change nothing the user could not.
        if (!IsProcessElevated()) return true;
        std::wstring folder = ParentFolder(path);
        if (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
        return !folder.empty() && IsAdminOnlyPath(path) && IsAdminOnlyFolder(folder);
    }

    std::wstring SystemProgram(const std::wstring& fileName) const override {
        const std::wstring system = SystemFolderPath(fileName.c_str());
        if (!system.empty() && PathExists(system)) return system;
        wchar_t windows[MAX_PATH] = {};
        const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return std::wstring();
        const std::wstring inWindows = std::wstring(windows, length) + L"\\" + fileName;
        return PathExists(inWindows) ? inWindows : std::wstring();
    }
};

// A whole command line with the default environment and folder, nothing inherited.
bool CreateFromCommandLine(const std::wstring& commandLine, bool hidden, ScopedHandle& process, bool* refused) {
    const ResolvedProgram program = ResolveCommandLine(commandLine);
    if (refused) *refused = program.refused;
    if (program.path.empty() || program.refused) {
        ::SetLastError(program.refused ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
        return false;
    }
    // CreateProcessW may write into the command line.
    std::vector<wchar_t> text(program.commandLine.begin(), program.commandLine.end());
    text.push_back(L'\0');

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (hidden) {
        startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
        startup.wShowWindow = SW_HIDE;
    }
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(program.path.c_str(), text.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info))
        return false;
    process.Reset(info.hProcess);
    ScopedHandle thread(info.hThread);
    return true;
}

} // namespace

ResolvedProgram ResolveCommandLine(const std::wstring& commandLine) {
    return ResolveProgram(commandLine, SystemLookup());
}

bool StartCommandLine(const std::wstring& commandLine, bool hidden, bool* refused) {
    ScopedHandle process;
    return CreateFromCommandLine(commandLine, hidden, process, refused);
}

bool RunCommandLineInSteps(const std::wstring& commandLine, DWORD stepMs, const std::function<void()>& onStep,
                           DWORD& exitCode) {
    ScopedHandle process;
    if (!CreateFromCommandLine(commandLine, false, process, nullptr)) return false;
    while (::WaitForSingleObject(process.Get(), stepMs) == WAIT_TIMEOUT) {
        if (onStep) onStep();
    }
    exitCode = 0;
    ::GetExitCodeProcess(process.Get(), &exitCode);
    return true;
}

}} // namespace stubframework::utils
