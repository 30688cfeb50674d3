// Helper of the DLL-planting tests, started from a folder full of planted DLLs.
//   load NAME...     loads each name the unsafe way (bare name, default search order);
//   harden NAME...   the same after the stub's own start-up hardening;
//   loaders NAME...  the stub's run-time loaders after the hardening, as the stub runs them.
// Exit codes of "loaders": 0 all loaders got the real system functions; kAlreadyLoaded plus the
// name's index when a name was in the process before any of our code ran (the check would prove
// nothing for it); else kLoaderFailed plus the bit of every failed loader.
#include "stubframework/utils/FileVersion.h"
#include "stubframework/utils/MsiApi.h"
#include "stubframework/utils/Registry.h"
#include "stubframework/utils/SystemLibrary.h"
#include "stubframework/utils/WinInetApi.h"

#include <cwchar>
#include <windows.h>

using namespace stubframework::utils;

// In its own file: <wininet.h> and <winhttp.h> do not mix.
bool WinHttpLoads();

namespace {
const int kAlreadyLoaded = 1000;
const int kLoaderFailed = 2000;

// Index of the first name already in the process, or -1.
int FirstAlreadyLoaded(int argc, wchar_t** argv) {
    for (int i = 2; i < argc; ++i)
        if (::GetModuleHandleW(argv[i])) return i - 2;
    return -1;
}

void LoadEach(int argc, wchar_t** argv) {
    for (int i = 2; i < argc; ++i) ::LoadLibraryW(argv[i]);
}

int RunLoaders() {
    int failed = 0;
    if (!GetWinInetApi()) failed |= 1;
    if (!GetUrlMonApi()) failed |= 2;
    char agent[512];
    DWORD agentSize = sizeof(agent);
    if (FAILED(ObtainUserAgent(agent, &agentSize))) failed |= 2;
    if (!WinHttpLoads()) failed |= 4;
    if (!GetMsiApi()) failed |= 8;
    if (ExeFileVersion(SystemFolderPath(L"kernel32.dll")).empty()) failed |= 16;
    // RegDeleteKeyExW comes from a run-time lookup; a missing key is its ordinary answer.
    DeleteRegistryKey(L"HKEY_CURRENT_USER\\SOFTWARE\\Zarvo\\stubframework\\PlantingProbe\\none", false);
    return failed ? kLoaderFailed | failed : 0;
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 1;
    const std::wstring mode = argv[1];
    if (mode == L"load") {
        LoadEach(argc, argv);
        return 0;
    }
    if (mode == L"harden") {
        HardenLibrarySearch();
        LoadEach(argc, argv);
        return 0;
    }
    if (mode == L"loaders") {
        const int early = FirstAlreadyLoaded(argc, argv);
        if (early >= 0) return kAlreadyLoaded + early;
        HardenLibrarySearch();
        return RunLoaders();
    }
    return 1;
}
