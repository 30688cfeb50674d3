#include "stubframework/utils/RequestCredentials.h"
#include "stubframework/utils/AuthTarget.h"
#include "stubframework/utils/ProxyConfig.h"
#include "stubframework/utils/WinInetApi.h"

#include <objbase.h>
#include <cstring>

namespace stubframework { namespace utils {

RequestCredentials::RequestCredentials(const std::wstring& url)
    : proxyRound_(ConfiguredProxyTarget(url), true, true), serverRound_(UrlTarget(url), false, true) {
    proxyRound_.Preset(proxy_);
}

RequestCredentials::~RequestCredentials() = default;

void RequestCredentials::Retarget(const std::wstring& url) {
    const std::wstring server = UrlTarget(url);
    if (server != serverRound_.Target()) {
        serverRound_ = AuthRound(server, false, true);
        server_.Clear();
    }
    const std::wstring proxy = ConfiguredProxyTarget(url);
    if (proxy != proxyRound_.Target()) {
        proxyRound_ = AuthRound(proxy, true, true);
        proxy_.Clear();
        proxyRound_.Preset(proxy_);
    }
}

RequestCredentials::Outcome RequestCredentials::OnStatus(unsigned long status) {
    const bool proxy = status == HTTP_STATUS_PROXY_AUTH_REQ;
    if (!proxy) proxyRound_.Accepted();    // the proxy let the request through
    if (!proxy && status != HTTP_STATUS_DENIED) {
        serverRound_.Accepted();
        return NoChallenge;
    }
    return Challenge(proxy);
}

RequestCredentials::Outcome RequestCredentials::Challenge(bool proxy) {
    AuthRound& round = proxy ? proxyRound_ : serverRound_;
    Credentials& credentials = proxy ? proxy_ : server_;
    challenge_ = round.Target();
    if (!challenge_.empty() && round.Next(credentials)) return SendAgain;
    credentials.Clear();
    return round.Cancelled() ? Cancelled : GiveUp;
}

long RequestCredentials::AnswerMoniker(bool proxy, wchar_t** user, wchar_t** password, bool& cancelled) {
    *user = *password = nullptr;
    const Outcome outcome = Challenge(proxy);
    cancelled = outcome == Cancelled;
    if (outcome != SendAgain) return E_ACCESSDENIED;
    const Credentials& current = Current(proxy);
    for (wchar_t** out : {user, password}) {
        const std::wstring& text = out == user ? current.user : current.password;
        const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
        *out = static_cast<wchar_t*>(::CoTaskMemAlloc(bytes));
        if (*out) std::memcpy(*out, text.c_str(), bytes);
    }
    if (*user && *password) return S_OK;
    ::CoTaskMemFree(*user);
    ::CoTaskMemFree(*password);
    *user = *password = nullptr;
    return E_OUTOFMEMORY;
}

void RequestCredentials::Apply(void* request) const {
    const WinInetApi* api = GetWinInetApi();
    if (!api) return;
    const auto set = [api, request](DWORD option, const std::wstring& text) {
        api->InternetSetOptionW(request, option, const_cast<wchar_t*>(text.c_str()),
                                static_cast<DWORD>(text.size() + 1));
    };
    if (!proxy_.user.empty()) {
        set(INTERNET_OPTION_PROXY_USERNAME, proxy_.user);
        set(INTERNET_OPTION_PROXY_PASSWORD, proxy_.password);
    }
    if (!server_.user.empty()) {
        set(INTERNET_OPTION_USERNAME, server_.user);
        set(INTERNET_OPTION_PASSWORD, server_.password);
    }
}

}} // namespace stubframework::utils
