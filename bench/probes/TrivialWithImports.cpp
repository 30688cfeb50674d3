// Starts and ends at once, but loads the system DLLs that the stub imports: Wine's share of a
// stub process start is measured with this.
#include <windows.h>
#include <ole2.h>
#include <setupapi.h>
#include <shellapi.h>
#include <shlwapi.h>

// Taking the addresses keeps the imports without running anything.
static const void* volatile kImports[] = {
    reinterpret_cast<const void*>(&::RegCloseKey),        reinterpret_cast<const void*>(&::GetStockObject),
    reinterpret_cast<const void*>(&::CoInitialize),       reinterpret_cast<const void*>(&::SysFreeString),
    reinterpret_cast<const void*>(&::SetupDiDestroyDeviceInfoList), reinterpret_cast<const void*>(&::ShellExecuteW),
    reinterpret_cast<const void*>(&::PathCombineW),       reinterpret_cast<const void*>(&::MessageBoxW),
};

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return kImports[0] ? 0 : 1; }
