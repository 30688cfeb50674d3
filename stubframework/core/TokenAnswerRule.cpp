#include "stubframework/core/TokenAnswerRule.h"

#include <cwctype>

namespace stubframework { namespace core {

namespace {

struct Origin {
    std::wstring scheme;    // "http" or "https"
    std::wstring host;      // lower case; "[...]" kept for IPv6
    std::wstring port;      // decimal, the scheme's default filled in
};

bool Refuse(std::wstring& reason, const std::wstring& text) {
    reason = text;
    return false;
}

std::wstring DefaultPort(const std::wstring& scheme) { return scheme == L"https" ? L"443" : L"80"; }

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

bool AllDigits(const std::wstring& text) {
    if (text.empty() || text.size() > 5) return false;
    for (wchar_t c : text)
        if (c < L'0' || c > L'9') return false;
    return true;
}

// Where an http(s) URL's bytes come from; false with reason for anything else.
bool OriginOf(const std::wstring& url, Origin& origin, std::wstring& reason) {
    for (wchar_t c : url) {
        if (c <= 0x20 || c == 0x7F) return Refuse(reason, L"it holds a blank or a control character");
        if (c == L'\\') return Refuse(reason, L"it holds a backslash");
    }
    const size_t colon = url.find(L"://");
    if (colon == std::wstring::npos) return Refuse(reason, L"it is no http or https URL");
    origin.scheme = Lower(url.substr(0, colon));
    if (origin.scheme != L"http" && origin.scheme != L"https") return Refuse(reason, L"it is no http or https URL");
    const size_t start = colon + 3;
    const size_t stop = url.find_first_of(L"/?#", start);
    const std::wstring authority = url.substr(start, stop == std::wstring::npos ? std::wstring::npos : stop - start);
    if (authority.find(L'@') != std::wstring::npos) return Refuse(reason, L"it names a user");
    size_t portColon = std::wstring::npos;
    if (!authority.empty() && authority[0] == L'[') {
        const size_t close = authority.find(L']');
        if (close == std::wstring::npos) return Refuse(reason, L"its host is malformed");
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != L':') return Refuse(reason, L"its host is malformed");
            portColon = close + 1;
        }
    } else {
        portColon = authority.find(L':');
    }
    origin.host = Lower(authority.substr(0, portColon));
    if (origin.host.empty()) return Refuse(reason, L"it names no host");
    origin.port = portColon == std::wstring::npos ? std::wstring() : authority.substr(portColon + 1);
    if (origin.port.empty()) origin.port = DefaultPort(origin.scheme);
    if (!AllDigits(origin.port)) return Refuse(reason, L"its port is not a number");
    while (origin.port.size() > 1 && origin.port[0] == L'0') origin.port.erase(0, 1);
    return true;
}

bool NamedPublisherHost(const Origin& origin, const std::vector<std::wstring>& hosts) {
    for (const std::wstring& entry : hosts) {
        if (entry == origin.host + L":" + origin.port) return true;
        if (entry == origin.host && origin.port == DefaultPort(origin.scheme)) return true;
    }
    return false;
}

} // namespace

std::vector<std::wstring> SplitHostList(const std::wstring& list) {
    std::vector<std::wstring> hosts;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t end = list.find_first_of(L";,", start);
        std::wstring entry = list.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        const size_t first = entry.find_first_not_of(L" \t");
        const size_t last = entry.find_last_not_of(L" \t");
        if (first != std::wstring::npos) hosts.push_back(Lower(entry.substr(first, last - first + 1)));
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    return hosts;
}

bool TokenAnswerAllowed(const std::wstring& address, const std::wstring& answer,
                        const std::vector<std::wstring>& publisherHosts, std::wstring& reason) {
    Origin from, to;
    std::wstring why;
    if (!OriginOf(address, from, why)) return Refuse(reason, L"the address itself is refused: " + why);
    if (!OriginOf(answer, to, why)) return Refuse(reason, L"the answer is refused: " + why);
    if (from.scheme == L"https" && to.scheme == L"http") return Refuse(reason, L"https would become http");
    // http raised to https on the same host moves from one default port to the other.
    const bool defaults = from.port == DefaultPort(from.scheme) && to.port == DefaultPort(to.scheme);
    if (to.host == from.host && (to.port == from.port || defaults)) return true;
    if (NamedPublisherHost(to, publisherHosts)) return true;
    reason = L"it moves the download from " + from.host + L":" + from.port + L" to " + to.host + L":" + to.port;
    return false;
}

}} // namespace stubframework::core
