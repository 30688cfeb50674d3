#include "stubframework/utils/WinHttpApi.h"
#include "stubframework/utils/SystemLibrary.h"
#include "stubframework/utils/WinHttpHandle.h"

namespace stubframework { namespace utils {

namespace {

struct LoadedWinHttp {
    WinHttpApi api = {};
    bool ok = false;
    LoadedWinHttp() {
        // Stays loaded for the process: handles may be closed during shutdown.
        const HMODULE m = LoadSystemLibrary(L"winhttp.dll");
        if (!m) return;
        ok = LoadProc(m, "WinHttpGetIEProxyConfigForCurrentUser", api.WinHttpGetIEProxyConfigForCurrentUser) &&
             LoadProc(m, "WinHttpOpen", api.WinHttpOpen) && LoadProc(m, "WinHttpConnect", api.WinHttpConnect) &&
             LoadProc(m, "WinHttpOpenRequest", api.WinHttpOpenRequest) &&
             LoadProc(m, "WinHttpSendRequest", api.WinHttpSendRequest) &&
             LoadProc(m, "WinHttpReceiveResponse", api.WinHttpReceiveResponse) &&
             LoadProc(m, "WinHttpReadData", api.WinHttpReadData) &&
             LoadProc(m, "WinHttpCloseHandle", api.WinHttpCloseHandle) &&
             LoadProc(m, "WinHttpQueryHeaders", api.WinHttpQueryHeaders) &&
             LoadProc(m, "WinHttpQueryAuthSchemes", api.WinHttpQueryAuthSchemes) &&
             LoadProc(m, "WinHttpSetCredentials", api.WinHttpSetCredentials) &&
             LoadProc(m, "WinHttpSetOption", api.WinHttpSetOption);
    }
};
} // namespace

const WinHttpApi* GetWinHttpApi() {
    static const LoadedWinHttp loaded;
    return loaded.ok ? &loaded.api : nullptr;
}

void CloseWinHttpHandle(void* handle) noexcept {
    const WinHttpApi* api = GetWinHttpApi();
    if (api && handle) api->WinHttpCloseHandle(handle);
}

}} // namespace stubframework::utils
