#include "stubframework/core/ReportTransport.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/WinHttpApi.h"
#include "stubframework/utils/WinHttpHandle.h"

#include <cwchar>

namespace stubframework { namespace core {

const wchar_t ReportUserAgent[] = L"Kestrio Message Client/1.0";

namespace {
using utils::ScopedWinHttpHandle;

const DWORD kRequestFlags = WINHTTP_FLAG_SECURE | WINHTTP_FLAG_BYPASS_PROXY_CACHE;   // 0x800100
const wchar_t kContentType[] = L"Content-Type:application/xml";

// The user's proxy settings. The query hands out strings the caller frees with GlobalFree: each
// is in its holder before anything else happens.
struct ProxySettings {
    utils::ScopedGlobalMemory autoConfigUrl;
    utils::ScopedGlobalMemory proxy;
    utils::ScopedGlobalMemory bypass;

    bool Query(const utils::WinHttpApi& api) {
        WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
        const bool ok = api.WinHttpGetIEProxyConfigForCurrentUser(&config) != FALSE;
        autoConfigUrl.Reset(config.lpszAutoConfigUrl);
        proxy.Reset(config.lpszProxy);
        bypass.Reset(config.lpszProxyBypass);
        return ok;
    }
    static const wchar_t* Text(const utils::ScopedGlobalMemory& text) {
        return static_cast<const wchar_t*>(text.Get());
    }
};

ScopedWinHttpHandle OpenSession(const utils::WinHttpApi& api) {
    ProxySettings settings;
    const wchar_t* proxy = settings.Query(api) ? ProxySettings::Text(settings.proxy) : nullptr;
    if (proxy && *proxy) {
        const wchar_t* bypass = settings.bypass ? ProxySettings::Text(settings.bypass) : WINHTTP_NO_PROXY_BYPASS;
        return ScopedWinHttpHandle(api.WinHttpOpen(ReportUserAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy, bypass, 0));
    }
    return ScopedWinHttpHandle(
        api.WinHttpOpen(ReportUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
}

// Root, connection and request, closed in reverse order of opening.
struct Request {
    ScopedWinHttpHandle session;
    ScopedWinHttpHandle connection;
    ScopedWinHttpHandle request;
};

bool OpenRequest(const utils::WinHttpApi& api, const ServiceEndpoint& endpoint, const wchar_t* verb,
                 const std::wstring& path, Request& r) {
    r.session = OpenSession(api);
    if (!r.session) return false;
    r.connection.Reset(api.WinHttpConnect(r.session.Get(), endpoint.host.c_str(), endpoint.port, 0));
    if (!r.connection) return false;
    r.request.Reset(api.WinHttpOpenRequest(r.connection.Get(), verb, path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, kRequestFlags));
    return static_cast<bool>(r.request);
}

bool Send(const utils::WinHttpApi& api, const Request& r, const std::string& body, bool header) {
    const DWORD length = static_cast<DWORD>(body.size());
    void* data = body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data());
    return api.WinHttpSendRequest(r.request.Get(), header ? kContentType : WINHTTP_NO_ADDITIONAL_HEADERS,
                                  header ? static_cast<DWORD>(-1L) : 0, data, length, length, 0) != FALSE;
}
} // namespace

bool SendServiceRequest(const ServiceEndpoint& endpoint, const wchar_t* verb, const std::wstring& path,
                        const std::string& body) {
    const utils::WinHttpApi* api = utils::GetWinHttpApi();
    if (!api) return false;
    Request r;
    return OpenRequest(*api, endpoint, verb, path, r) && Send(*api, r, body, true);
}

bool PostAndReadAnswer(const ServiceEndpoint& endpoint, const std::wstring& path, const std::string& body,
                       std::string& answer) {
    answer.clear();
    const utils::WinHttpApi* api = utils::GetWinHttpApi();
    if (!api) return false;
    Request r;
    if (!OpenRequest(*api, endpoint, L"POST", path, r) || !Send(*api, r, body, !body.empty()) ||
        !api->WinHttpReceiveResponse(r.request.Get(), nullptr)) {
        return false;
    }
    char piece[256];
    for (;;) {
        DWORD got = 0;
        if (!api->WinHttpReadData(r.request.Get(), piece, sizeof(piece), &got)) {
            answer.clear();
            return false;
        }
        if (got == 0) return true;
        answer.append(piece, got);
    }
}

}} // namespace stubframework::core
