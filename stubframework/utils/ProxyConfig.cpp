#include "stubframework/utils/ProxyConfig.h"
#include "stubframework/utils/AuthTarget.h"
#include "stubframework/utils/WinHttpApi.h"

namespace stubframework { namespace utils {

bool BrowserProxySettings::Query() {
    const WinHttpApi* api = GetWinHttpApi();
    if (!api) return false;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
    const bool ok = api->WinHttpGetIEProxyConfigForCurrentUser(&config) != FALSE;
    // Each string is in its holder before anything else happens.
    autoConfigUrl.Reset(config.lpszAutoConfigUrl);
    proxy.Reset(config.lpszProxy);
    bypass.Reset(config.lpszProxyBypass);
    return ok;
}

std::wstring ConfiguredProxyTarget(const std::wstring& url) {
    BrowserProxySettings settings;
    if (settings.Query() && settings.Proxy()) return ProxyTargetFor(settings.Proxy(), UrlScheme(url));
    const std::wstring proxy = WinInetProxyList();
    return proxy.empty() ? std::wstring() : ProxyTargetFor(proxy, UrlScheme(url));
}

}} // namespace stubframework::utils
