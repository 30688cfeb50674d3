#include "stubframework/utils/WinInetApi.h"
#include "stubframework/utils/ProxyConfig.h"

#include <cstring>

#include "stubframework/utils/InternetHandle.h"
#include "stubframework/utils/SystemLibrary.h"

namespace stubframework { namespace utils {

namespace {


struct LoadedWinInet {
    WinInetApi api = {};
    bool ok = false;
    LoadedWinInet() {
        const HMODULE m = LoadSystemLibrary(L"wininet.dll");
        if (!m) return;
        ok = LoadProc(m, "InternetOpenA", api.InternetOpenA) && LoadProc(m, "InternetSetOptionW", api.InternetSetOptionW) &&
             LoadProc(m, "InternetCrackUrlW", api.InternetCrackUrlW) && LoadProc(m, "InternetConnectW", api.InternetConnectW) &&
             LoadProc(m, "HttpOpenRequestW", api.HttpOpenRequestW) &&
             LoadProc(m, "InternetSetStatusCallbackA", api.InternetSetStatusCallbackA) &&
             LoadProc(m, "HttpAddRequestHeadersA", api.HttpAddRequestHeadersA) &&
             LoadProc(m, "HttpSendRequestA", api.HttpSendRequestA) && LoadProc(m, "HttpQueryInfoA", api.HttpQueryInfoA) &&
             LoadProc(m, "InternetQueryDataAvailable", api.InternetQueryDataAvailable) &&
             LoadProc(m, "InternetReadFile", api.InternetReadFile) &&
             LoadProc(m, "InternetCloseHandle", api.InternetCloseHandle) &&
             LoadProc(m, "DeleteUrlCacheEntryW", api.DeleteUrlCacheEntryW) &&
             LoadProc(m, "InternetCheckConnectionW", api.InternetCheckConnectionW) &&
             LoadProc(m, "InternetCombineUrlW", api.InternetCombineUrlW) &&
             LoadProc(m, "InternetQueryOptionW", api.InternetQueryOptionW);
    }
};

using ObtainUserAgentStringFn = HRESULT(WINAPI*)(DWORD, LPSTR, DWORD*);

struct LoadedUrlMon {
    UrlMonApi api = {};
    ObtainUserAgentStringFn obtainUserAgent = nullptr;
    bool ok = false;
    LoadedUrlMon() {
        const HMODULE m = LoadSystemLibrary(L"urlmon.dll");
        if (!m) return;
        LoadProc(m, "ObtainUserAgentString", obtainUserAgent);
        ok = LoadProc(m, "CreateURLMonikerEx", api.CreateURLMonikerEx) &&
             LoadProc(m, "CreateAsyncBindCtx", api.CreateAsyncBindCtx);
    }
};

const LoadedUrlMon& UrlMon() {
    static const LoadedUrlMon loaded;
    return loaded;
}

} // namespace

const UrlMonApi* GetUrlMonApi() { return UrlMon().ok ? &UrlMon().api : nullptr; }

const WinInetApi* GetWinInetApi() {
    static const LoadedWinInet loaded;
    return loaded.ok ? &loaded.api : nullptr;
}

void CloseInternetHandle(void* handle) noexcept {
    const WinInetApi* api = GetWinInetApi();
    if (api && handle) api->InternetCloseHandle(handle);
}

HRESULT ObtainUserAgent(char* buffer, DWORD* size) {
    const ObtainUserAgentStringFn obtain = UrlMon().obtainUserAgent;
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

std::wstring WinInetProxyList() {
    const WinInetApi* api = GetWinInetApi();
    if (!api) return std::wstring();
    alignas(INTERNET_PROXY_INFO) unsigned char buffer[4096] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    if (!api->InternetQueryOptionW(nullptr, INTERNET_OPTION_PROXY, buffer, &size)) return std::wstring();
    const auto* info = reinterpret_cast<const INTERNET_PROXY_INFO*>(buffer);
    if (info->dwAccessType != INTERNET_OPEN_TYPE_PROXY || !info->lpszProxy) return std::wstring();
    return reinterpret_cast<const wchar_t*>(info->lpszProxy);
}

}} // namespace stubframework::utils
