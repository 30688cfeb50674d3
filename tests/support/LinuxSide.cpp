#include "tests/support/LinuxSide.h"
#include "tests/support/ChildProcess.h"

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
    std::wstring wide(command.begin(), command.end());
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring start = std::wstring(system) + L"\\start.exe";
    DWORD exitCode = 1;
    return RunChild(start, L"start.exe /wait /unix /bin/sh -c \"" + wide + L"\"", ChildOptions(), 30000, exitCode) &&
           exitCode == 0;
}

} // namespace testsupport
