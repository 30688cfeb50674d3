#include "stubframework/core/ReportTransport.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/ProxyAuth.h"
#include "stubframework/utils/ProxyConfig.h"
#include "stubframework/utils/WinHttpApi.h"
#include "stubframework/utils/WinHttpHandle.h"

#include <cwchar>

namespace stubframework { namespace core {

const wchar_t ReportUserAgent[] = L"Kestrio Message Client/1.0";

namespace {
using utils::ScopedWinHttpHandle;

const DWORD kRequestFlags = WINHTTP_FLAG_SECURE | WINHTTP_FLAG_BYPASS_PROXY_CACHE;   // 0x800100
const wchar_t kContentType[] = L"Content-Type:application/xml";
// Own credentials, the run's, the stored ones and a few prompts for each of proxy and service.
const int kMaxSends = 2 * (3 + utils::kMaxCredentialPrompts);

ScopedWinHttpHandle OpenSession(const utils::WinHttpApi& api) {
    utils::BrowserProxySettings settings;
    const wchar_t* proxy = settings.Query() ? settings.Proxy() : nullptr;
    if (proxy && *proxy) {
        const wchar_t* bypass = settings.Bypass() ? settings.Bypass() : WINHTTP_NO_PROXY_BYPASS;
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
                                           WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           endpoint.secure ? kRequestFlags : WINHTTP_FLAG_BYPASS_PROXY_CACHE));
    return static_cast<bool>(r.request);
}

bool Send(const utils::WinHttpApi& api, const Request& r, const std::string& body, bool header) {
    const DWORD length = static_cast<DWORD>(body.size());
    void* data = body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data());
    return api.WinHttpSendRequest(r.request.Get(), header ? kContentType : WINHTTP_NO_ADDITIONAL_HEADERS,
                                  header ? static_cast<DWORD>(-1L) : 0, data, length, length, 0) != FALSE;
}

// The strongest scheme the other side offers.
DWORD PickScheme(DWORD supported) {
    for (const DWORD scheme : {WINHTTP_AUTH_SCHEME_NEGOTIATE, WINHTTP_AUTH_SCHEME_NTLM, WINHTTP_AUTH_SCHEME_DIGEST,
                               WINHTTP_AUTH_SCHEME_BASIC}) {
        if (supported & scheme) return scheme;
    }
    return 0;
}

// Sends the request and takes the answer, answering the proxy's (407) and the service's (401)
// challenges on the way: the logged-on user's own credentials where the scheme allows, then
// those of utils::AuthRound. True once an answer other than a challenge arrived.
bool Exchange(const utils::WinHttpApi& api, const ServiceEndpoint& endpoint, const Request& r,
              const std::string& body, bool header, bool mayPrompt) {
    HINTERNET request = r.request.Get();
    DWORD policy = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
    api.WinHttpSetOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &policy, sizeof(policy));
    const std::wstring proxyTarget = utils::ConfiguredProxyTarget(endpoint.secure ? L"https://" : L"http://");
    utils::AuthRound rounds[2] = {
        utils::AuthRound(endpoint.host + L":" + std::to_wstring(endpoint.port), false, mayPrompt),
        utils::AuthRound(proxyTarget, true, mayPrompt)};
    utils::Credentials credentials;
    if (!proxyTarget.empty() && rounds[1].Preset(credentials)) {
        api.WinHttpSetOption(request, WINHTTP_OPTION_PROXY_USERNAME, &credentials.user[0],
                             static_cast<DWORD>(credentials.user.size()));
        api.WinHttpSetOption(request, WINHTTP_OPTION_PROXY_PASSWORD, &credentials.password[0],
                             static_cast<DWORD>(credentials.password.size()));
    }
    bool ownTried[2] = {false, false};
    for (int sent = 0; sent < kMaxSends; ++sent) {
        if (!Send(api, r, body, header) || !api.WinHttpReceiveResponse(request, nullptr)) return false;
        DWORD status = 0, size = sizeof(status);
        if (!api.WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                     WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
            return false;
        const int which = status == HTTP_STATUS_PROXY_AUTH_REQ ? 1 : status == HTTP_STATUS_DENIED ? 0 : -1;
        if (which != 1) rounds[1].Accepted();    // the proxy let the request through
        if (which < 0) {
            rounds[0].Accepted();
            return true;
        }
        DWORD supported = 0, first = 0, target = 0;
        if (rounds[which].Target().empty() || !api.WinHttpQueryAuthSchemes(request, &supported, &first, &target))
            return false;
        const DWORD scheme = PickScheme(supported);
        const DWORD authTarget = which ? WINHTTP_AUTH_TARGET_PROXY : WINHTTP_AUTH_TARGET_SERVER;
        if (!scheme) return false;
        if (!ownTried[which] && (scheme == WINHTTP_AUTH_SCHEME_NEGOTIATE || scheme == WINHTTP_AUTH_SCHEME_NTLM)) {
            ownTried[which] = true;
            if (api.WinHttpSetCredentials(request, authTarget, scheme, nullptr, nullptr, nullptr)) continue;
        }
        if (!rounds[which].Next(credentials) ||
            !api.WinHttpSetCredentials(request, authTarget, scheme, credentials.user.c_str(),
                                       credentials.password.c_str(), nullptr))
            return false;
    }
    return false;
}
} // namespace

bool SendServiceRequest(const ServiceEndpoint& endpoint, const wchar_t* verb, const std::wstring& path,
                        const std::string& body, bool mayPrompt) {
    const utils::WinHttpApi* api = utils::GetWinHttpApi();
    if (!api) return false;
    Request r;
    return OpenRequest(*api, endpoint, verb, path, r) && Exchange(*api, endpoint, r, body, true, mayPrompt);
}

bool PostAndReadAnswer(const ServiceEndpoint& endpoint, const std::wstring& path, const std::string& body,
                       std::string& answer) {
    answer.clear();
    const utils::WinHttpApi* api = utils::GetWinHttpApi();
    if (!api) return false;
    Request r;
    if (!OpenRequest(*api, endpoint, L"POST", path, r) || !Exchange(*api, endpoint, r, body, !body.empty(), true))
        return false;
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
