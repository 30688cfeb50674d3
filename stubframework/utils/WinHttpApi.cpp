#include "stubframework/utils/WinHttpApi.h"
#include "stubframework/utils/SystemLibrary.h"
#include "stubframework/utils/WinHttpHandle.h"

namespace stubframework { namespace utils {

namespace {
template <typename Fn>
bool Load(HMODULE module, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    return fn != nullptr;
}

struct LoadedWinHttp {
    WinHttpApi api = {};
    bool ok = false;
    LoadedWinHttp() {
        // Stays loaded for the process: handles may be closed during shutdown.
        const HMODULE m = LoadSystemLibrary(L"winhttp.dll");
        if (!m) return;
        ok = Load(m, "WinHttpGetIEProxyConfigForCurrentUser", api.WinHttpGetIEProxyConfigForCurrentUser) &&
             Load(m, "WinHttpOpen", api.WinHttpOpen) && Load(m, "WinHttpConnect", api.WinHttpConnect) &&
             Load(m, "WinHttpOpenRequest", api.WinHttpOpenRequest) &&
             Load(m, "WinHttpSendRequest", api.WinHttpSendRequest) &&
             Load(m, "WinHttpReceiveResponse", api.WinHttpReceiveResponse) &&
             Load(m, "WinHttpReadData", api.WinHttpReadData) &&
             Load(m, "WinHttpCloseHandle", api.WinHttpCloseHandle);
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
