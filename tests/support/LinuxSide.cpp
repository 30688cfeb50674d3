#include "tests/support/LinuxSide.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"

#include <windows.h>

namespace testsupport {

std::string UnixPath(const std::wstring& path) {
    using WineGetUnixFileName = char*(__cdecl*)(const wchar_t*);
    const auto convert = reinterpret_cast<WineGetUnixFileName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!convert) return std::string();
    char* text = convert(path.c_str());
    if (!text) return std::string();
    std::string result = text;
    ::HeapFree(::GetProcessHeap(), 0, text);
    return result;
}

bool LinuxShell(const std::string& command) {
    // start.exe returns before a Linux program has ended: the command leaves its exit status in a
    // file of its own (renamed into place whole), and that is waited for.
    wchar_t temp[MAX_PATH] = {}, done[MAX_PATH] = {};
    if (!::GetTempPathW(MAX_PATH, temp) || !::GetTempFileNameW(temp, L"lx", 0, done)) return false;
    ::DeleteFileW(done);
    const std::string status = UnixPath(done);
    if (status.empty()) return false;
    const std::string script =
        "(" + command + "); echo $? > '" + status + ".part' && mv '" + status + ".part' '" + status + "'";
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring start = std::wstring(system) + L"\\start.exe";
    DWORD exitCode = 1;
    if (!RunChild(start, L"start.exe /wait /unix /bin/sh -c \"" + std::wstring(script.begin(), script.end()) + L"\"",
                  ChildOptions(), 30000, exitCode))
        return false;
    std::string text;
    for (int waited = 0; waited < 30000 && !ReadFileBytes(done, text); waited += 10) ::Sleep(10);
    ::DeleteFileW(done);
    return text == "0\n";
}

bool MakeLinuxLink(const std::wstring& target, const std::wstring& link) {
    std::string from = UnixPath(target), to = UnixPath(link);
    while (to.size() > 1 && to.back() == '/') to.pop_back();
    return !from.empty() && !to.empty() && LinuxShell("ln -s '" + from + "' '" + to + "'");
}

} // namespace testsupport
