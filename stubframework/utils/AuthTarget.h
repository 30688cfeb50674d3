// Names under which credentials are asked for and remembered: "host:port" of the proxy or of
// the server that asked. Pure text rules, no Win32.
#pragma once
#include <string>

namespace stubframework { namespace utils {

// The proxy a request of `scheme` ("http", "https") goes through, as "host:port", from the
// browser's proxy list: one "host[:port]" for every scheme, or "scheme=host[:port]" entries
// separated by ";" or blanks (an entry without "scheme=" serves every scheme). A leading
// "http://" is dropped; a missing port is 80. Empty when the list names none for the scheme.
std::wstring ProxyTargetFor(const std::wstring& proxyList, const std::wstring& scheme);

// "host:port" of an absolute http or https URL (user information dropped, default port filled
// in); empty when the URL has no host.
std::wstring UrlTarget(const std::wstring& url);

// The scheme of an absolute URL in lower case ("" without one).
std::wstring UrlScheme(const std::wstring& url);

}} // namespace stubframework::utils
