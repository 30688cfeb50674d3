// Windows Installer functions loaded at run time from the system folder: msi.dll is not a
// KnownDLL, so it must never appear in the import table of the elevated stub.
#pragma once
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "stubframework/utils/Handle.h"

namespace stubframework { namespace utils {

struct MsiApi {
    decltype(&::MsiOpenDatabaseW) MsiOpenDatabaseW;
    decltype(&::MsiDatabaseOpenViewW) MsiDatabaseOpenViewW;
    decltype(&::MsiViewExecute) MsiViewExecute;
    decltype(&::MsiViewFetch) MsiViewFetch;
    decltype(&::MsiRecordGetStringW) MsiRecordGetStringW;
    decltype(&::MsiCloseHandle) MsiCloseHandle;
    decltype(&::MsiSetInternalUI) MsiSetInternalUI;
    decltype(&::MsiSetExternalUIW) MsiSetExternalUIW;
    decltype(&::MsiEnableLogW) MsiEnableLogW;
    decltype(&::MsiInstallProductW) MsiInstallProductW;
};

// The loaded table, or null when msi.dll or one of its functions is missing. The library stays
// loaded for the life of the process.
const MsiApi* GetMsiApi();

struct MsiHandleTraits {
    using Type = MSIHANDLE;
    static Type Invalid() noexcept { return 0; }
    static void Close(Type h) noexcept {
        if (const MsiApi* api = GetMsiApi()) api->MsiCloseHandle(h);
    }
};
using ScopedMsiHandle = UniqueHandle<MsiHandleTraits>;

}} // namespace stubframework::utils
