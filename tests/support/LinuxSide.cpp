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
    // The Unix process is not waited for by the Windows side: it leaves a marker when done.
    wchar_t temp[MAX_PATH] = {}, marker[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    if (!::GetTempFileNameW(temp, L"lx", 0, marker)) return false;
    ::DeleteFileW(marker);
    const std::string markerPath = UnixPath(marker);
    if (markerPath.empty()) return false;
    const std::string full = "(" + command + ") && touch '" + markerPath + "'";
    const std::wstring wide(full.begin(), full.end());
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    DWORD exitCode = 1;
    if (!RunChild(std::wstring(system) + L"\\start.exe", L"start.exe /wait /unix /bin/sh -c \"" + wide + L"\"",
                  ChildOptions(), 30000, exitCode))
        return false;
    for (int waited = 0; waited < 1000; ++waited) {
        if (::GetFileAttributesW(marker) != INVALID_FILE_ATTRIBUTES) {
            ::DeleteFileW(marker);
            return true;
        }
        ::Sleep(10);
    }
    return false;
}

bool MakeLinuxLink(const std::wstring& target, const std::wstring& link) {
    std::string from = UnixPath(target), to = UnixPath(link);
    while (to.size() > 1 && to.back() == '/') to.pop_back();
    return !from.empty() && !to.empty() && LinuxShell("ln -s '" + from + "' '" + to + "'");
}

} // namespace testsupport
