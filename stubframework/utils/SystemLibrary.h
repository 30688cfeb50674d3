// Loading DLLs only from the system folder: the stub runs elevated from a Downloads folder
// where anyone can drop a DLL.
#pragma once
#include <string>
#include <windows.h>

namespace stubframework { namespace utils {

// Step one of every run: restrict the DLL search path to the system folder (where the system
// supports it), drop the current folder from it, and load "lpk.dll" by its full system path.
void HardenLibrarySearch();

// system folder + "\" + name; nullptr when the system folder is unknown.
std::wstring SystemFolderPath(const wchar_t* name);

// Loads a DLL from the system folder only. The caller owns the module.
HMODULE LoadSystemLibrary(const wchar_t* name);

// Looks up one export into a typed function pointer; false when the module (which may be
// nullptr) lacks it.
template <typename Fn>
bool LoadProc(HMODULE module, const char* name, Fn& fn) {
    fn = module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name))) : nullptr;
    return fn != nullptr;
}

}} // namespace stubframework::utils
