#include "stubframework/utils/AuthTarget.h"

#include <cwctype>

namespace stubframework { namespace utils {

namespace {

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// "host[:port]" with any scheme prefix and path dropped and the port filled in.
std::wstring HostPort(std::wstring server, const wchar_t* defaultPort) {
    const size_t scheme = server.find(L"://");
    if (scheme != std::wstring::npos) server.erase(0, scheme + 3);
    server = server.substr(0, server.find_first_of(L"/?#"));
    const size_t at = server.rfind(L'@');
    if (at != std::wstring::npos) server.erase(0, at + 1);
    if (server.empty()) return std::wstring();
    // An IPv6 literal keeps its brackets; its colons are not the port's.
    const size_t close = server[0] == L'[' ? server.find(L']') : 0;
    if (close == std::wstring::npos) return std::wstring();
    const size_t colon = server.find(L':', close);
    if (colon == std::wstring::npos) return Lower(server) + L":" + defaultPort;
    if (colon == 0 || colon + 1 == server.size()) return std::wstring();
    return Lower(server);
}

} // namespace

std::wstring ProxyTargetFor(const std::wstring& proxyList, const std::wstring& scheme) {
    const std::wstring wanted = Lower(scheme);
    std::wstring any;
    size_t start = 0;
    while (start < proxyList.size()) {
        size_t end = proxyList.find_first_of(L"; \t", start);
        if (end == std::wstring::npos) end = proxyList.size();
        const std::wstring entry = proxyList.substr(start, end - start);
        start = end + 1;
        if (entry.empty()) continue;
        const size_t equals = entry.find(L'=');
        if (equals == std::wstring::npos) {
            if (any.empty()) any = HostPort(entry, L"80");
        } else if (Lower(entry.substr(0, equals)) == wanted) {
            return HostPort(entry.substr(equals + 1), L"80");
        }
    }
    return any;
}

std::wstring UrlScheme(const std::wstring& url) {
    const size_t colon = url.find(L"://");
    return colon == std::wstring::npos ? std::wstring() : Lower(url.substr(0, colon));
}

std::wstring UrlTarget(const std::wstring& url) {
    const std::wstring scheme = UrlScheme(url);
    if (scheme != L"http" && scheme != L"https") return std::wstring();
    return HostPort(url, scheme == L"https" ? L"443" : L"80");
}

}} // namespace stubframework::utils
