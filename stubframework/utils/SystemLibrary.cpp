#include "stubframework/utils/SystemLibrary.h"

namespace stubframework { namespace utils {

namespace {
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
} // namespace

std::wstring SystemFolderPath(const wchar_t* name) {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    return std::wstring(folder, length) + L"\\" + name;
}

void HardenLibrarySearch() {
    const std::wstring lpk = SystemFolderPath(L"lpk.dll");
    if (!lpk.empty()) ::LoadLibraryExW(lpk.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);

    // Windows 7 has this only with its loader update, hence the run-time lookup.
    SetDefaultDllDirectoriesFn setDefault = nullptr;
    if (LoadProc(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories", setDefault))
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    ::SetDllDirectoryW(L"");
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
    const std::wstring path = SystemFolderPath(name);
    if (path.empty()) return nullptr;
    return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}} // namespace stubframework::utils
