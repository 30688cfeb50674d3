#include "stubframework/utils/WinInetApi.h"

#include <cstring>

#include "stubframework/utils/InternetHandle.h"
#include "stubframework/utils/SystemLibrary.h"

namespace stubframework { namespace utils {

namespace {

template <typename Fn>
bool Load(HMODULE module, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    return fn != nullptr;
}

struct LoadedWinInet {
    WinInetApi api = {};
    bool ok = false;
    LoadedWinInet() {
        const HMODULE m = LoadSystemLibrary(L"wininet.dll");
        if (!m) return;
        ok = Load(m, "InternetOpenA", api.InternetOpenA) && Load(m, "InternetSetOptionW", api.InternetSetOptionW) &&
             Load(m, "InternetCrackUrlW", api.InternetCrackUrlW) && Load(m, "InternetConnectW", api.InternetConnectW) &&
             Load(m, "HttpOpenRequestW", api.HttpOpenRequestW) &&
             Load(m, "InternetSetStatusCallbackA", api.InternetSetStatusCallbackA) &&
             Load(m, "HttpAddRequestHeadersA", api.HttpAddRequestHeadersA) &&
             Load(m, "HttpSendRequestA", api.HttpSendRequestA) && Load(m, "HttpQueryInfoA", api.HttpQueryInfoA) &&
             Load(m, "InternetQueryDataAvailable", api.InternetQueryDataAvailable) &&
             Load(m, "InternetReadFile", api.InternetReadFile) &&
             Load(m, "InternetCloseHandle", api.InternetCloseHandle);
    }
};

using ObtainUserAgentStringFn = HRESULT(WINAPI*)(DWORD, LPSTR, DWORD*);

} // namespace

const WinInetApi* GetWinInetApi() {
    static const LoadedWinInet loaded;
    return loaded.ok ? &loaded.api : nullptr;
}

void CloseInternetHandle(void* handle) noexcept {
    const WinInetApi* api = GetWinInetApi();
    if (api && handle) api->InternetCloseHandle(handle);
}

HRESULT ObtainUserAgent(char* buffer, DWORD* size) {
    static const ObtainUserAgentStringFn obtain = [] {
        const HMODULE m = LoadSystemLibrary(L"urlmon.dll");
        ObtainUserAgentStringFn fn = nullptr;
        if (m) Load(m, "ObtainUserAgentString", fn);
        return fn;
    }();
    if (obtain) return obtain(0, buffer, size);
    // Without urlmon we still need some agent; servers only log it.
    static const char kFallback[] = "Mozilla/4.0 (compatible; Windows NT)";
    if (!size) return E_INVALIDARG;
    if (!buffer || *size < sizeof(kFallback)) {
        *size = sizeof(kFallback);
        return E_OUTOFMEMORY;
    }
    std::memcpy(buffer, kFallback, sizeof(kFallback));
    *size = sizeof(kFallback);
    return S_OK;
}

}} // namespace stubframework::utils
