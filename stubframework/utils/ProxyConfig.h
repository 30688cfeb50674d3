// The proxy named by the user's browser settings, as WinHTTP reads them. This header needs no
// <winhttp.h>, so WinINet code can ask it too.
#pragma once
#include <string>

#include "stubframework/utils/Handle.h"

namespace stubframework { namespace utils {

// The settings' strings, each freed by its holder.
struct BrowserProxySettings {
    ScopedGlobalMemory autoConfigUrl;
    ScopedGlobalMemory proxy;
    ScopedGlobalMemory bypass;

    // False when the settings cannot be read (no WinHTTP, or the query fails).
    bool Query();
    const wchar_t* Proxy() const { return static_cast<const wchar_t*>(proxy.Get()); }
    const wchar_t* Bypass() const { return static_cast<const wchar_t*>(bypass.Get()); }
};

// The proxy list WinINet itself sends requests through; empty for a direct connection. WinINet
// reads the settings' plain values (ProxyEnable, ProxyServer), which a proxy set by policy or
// by hand may be the only ones of. Defined beside the WinINet table.
std::wstring WinInetProxyList();

// "host:port" of the proxy a request of that URL's scheme goes through (the settings WinHTTP
// reads, else the ones WinINet reads); empty when none is set.
std::wstring ConfiguredProxyTarget(const std::wstring& url);

}} // namespace stubframework::utils
