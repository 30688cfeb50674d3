#include "stubframework/utils/MsiApi.h"
#include "stubframework/utils/SystemLibrary.h"

namespace stubframework { namespace utils {

namespace {
struct LoadedMsi {
    MsiApi api = {};
    bool ok = false;
    LoadedMsi() {
        const HMODULE m = LoadSystemLibrary(L"msi.dll");
        if (!m) return;
        ok = LoadProc(m, "MsiOpenDatabaseW", api.MsiOpenDatabaseW) &&
             LoadProc(m, "MsiDatabaseOpenViewW", api.MsiDatabaseOpenViewW) &&
             LoadProc(m, "MsiViewExecute", api.MsiViewExecute) && LoadProc(m, "MsiViewFetch", api.MsiViewFetch) &&
             LoadProc(m, "MsiRecordGetStringW", api.MsiRecordGetStringW) &&
             LoadProc(m, "MsiCloseHandle", api.MsiCloseHandle) &&
             LoadProc(m, "MsiSetInternalUI", api.MsiSetInternalUI) &&
             LoadProc(m, "MsiSetExternalUIW", api.MsiSetExternalUIW) &&
             LoadProc(m, "MsiEnableLogW", api.MsiEnableLogW) &&
             LoadProc(m, "MsiInstallProductW", api.MsiInstallProductW);
    }
};
} // namespace

const MsiApi* GetMsiApi() {
    static const LoadedMsi loaded;
    return loaded.ok ? &loaded.api : nullptr;
}

}} // namespace stubframework::utils
