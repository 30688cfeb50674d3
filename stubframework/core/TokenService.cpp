#include "stubframework/core/TokenService.h"
#include "stubframework/core/ReportDocuments.h"
#include "stubframework/utils/InternetHandle.h"
#include "stubframework/utils/RequestCredentials.h"
#include "stubframework/utils/SystemLibrary.h"
#include "stubframework/utils/WinInetApi.h"

#include <vector>

namespace stubframework { namespace core {

namespace {
using utils::ScopedInternetHandle;
using ConnectedStateFn = decltype(&::InternetGetConnectedState);

std::string BrowserUserAgent() {
    std::vector<char> buffer(256);
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD size = static_cast<DWORD>(buffer.size());
        const HRESULT hr = utils::ObtainUserAgent(buffer.data(), &size);
        if (SUCCEEDED(hr)) return std::string(buffer.data());
        if (hr != E_OUTOFMEMORY) break;
        buffer.resize(size > buffer.size() ? size + 1 : buffer.size() * 2);
    }
    return std::string();
}

// The module is loaded from the system folder by the shared table; the few extra entry points
// that only these operations need are looked up in it here.
template <typename Fn>
Fn WinInetFunction(const char* name) {
    if (!utils::GetWinInetApi()) return nullptr;
    Fn fn = nullptr;
    utils::LoadProc(::GetModuleHandleW(L"wininet.dll"), name, fn);
    return fn;
}

// A service or probe address, cracked; false for anything but http and https with a host and path.
struct RequestTarget {
    std::wstring host, user, password, path;
    INTERNET_PORT port = 0;
    DWORD flags = 0;
};

bool CrackTarget(const utils::WinInetApi& api, const std::wstring& url, RequestTarget& target) {
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUserNameLength = parts.dwPasswordLength =
        parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!api.InternetCrackUrlW(url.c_str(), 0, 0, &parts) || !parts.lpszHostName || parts.dwHostNameLength == 0 ||
        !parts.lpszUrlPath || parts.dwUrlPathLength == 0)
        return false;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS) target.flags = INTERNET_FLAG_SECURE;
    else if (parts.nScheme != INTERNET_SCHEME_HTTP) return false;
    target.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    if (parts.lpszUserName) target.user.assign(parts.lpszUserName, parts.dwUserNameLength);
    if (parts.lpszPassword) target.password.assign(parts.lpszPassword, parts.dwPasswordLength);
    target.path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo) target.path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    target.port = parts.nPort;
    return true;
}

// Sends verb with body to url and gives the answered request with its status, or false. A 407
// of the proxy or a 401 of the server is answered with the run's credentials (the user's own,
// remembered or asked for) on a new request handle, as the downloads answer theirs.
bool SendAnswered(const utils::WinInetApi& api, HINTERNET session, const std::wstring& url, const wchar_t* verb,
                  DWORD flags, const std::string& body, ScopedInternetHandle& connection, ScopedInternetHandle& request,
                  DWORD& status) {
    RequestTarget target;
    if (!CrackTarget(api, url, target)) return false;
    connection.Reset(api.InternetConnectW(session, target.host.c_str(), target.port,
                                          target.user.empty() ? nullptr : target.user.c_str(),
                                          target.password.empty() ? nullptr : target.password.c_str(),
                                          INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) return false;
    utils::RequestCredentials credentials(url);
    for (;;) {
        request.Reset(api.HttpOpenRequestW(connection.Get(), verb, target.path.c_str(), nullptr, nullptr, nullptr,
                                           flags | target.flags, 0));
        if (!request) return false;
        credentials.Apply(request.Get());
        if (!api.HttpSendRequestA(request.Get(), nullptr, 0, const_cast<char*>(body.data()),
                                  static_cast<DWORD>(body.size())))
            return false;
        DWORD size = sizeof(status);
        status = 0;
        if (!api.HttpQueryInfoA(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
            return false;
        switch (credentials.OnStatus(status)) {
        case utils::RequestCredentials::SendAgain: continue;
        case utils::RequestCredentials::Cancelled: return false;
        default: return true;
        }
    }
}

bool PostBody(const utils::WinInetApi& api, const std::wstring& serviceUrl, const std::string& body,
              std::string& answer) {
    const std::string agent = BrowserUserAgent();
    ScopedInternetHandle session(
        api.InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    ScopedInternetHandle connection, request;
    DWORD status = 0;
    if (!session || !SendAnswered(api, session.Get(), serviceUrl, L"POST", 0, body, connection, request, status))
        return false;

    std::vector<char> piece(65536);
    for (;;) {
        DWORD got = 0;
        if (!api.InternetReadFile(request.Get(), piece.data(), static_cast<DWORD>(piece.size()), &got)) return false;
        if (got == 0) return true;
        answer.append(piece.data(), got);
    }
}
} // namespace

bool Tokenize(const std::wstring& serviceUrl, std::wstring& address) {
    if (address.empty()) return false;
    const utils::WinInetApi* api = utils::GetWinInetApi();
    std::string answer;
    if (!api || !PostBody(*api, serviceUrl, ToUtf8(address), answer)) return false;
    const std::wstring tokenized = ExtractTokenizedUrl(FromUtf8(answer));
    if (tokenized.empty()) return false;
    address = tokenized;
    return true;
}

bool ProbeUrl(const std::wstring& address) {
    const utils::WinInetApi* api = utils::GetWinInetApi();
    if (!api) return false;
    ScopedInternetHandle session(api->InternetOpenA("ValidURL", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    ScopedInternetHandle connection, request;
    DWORD status = 0;
    return session &&
           SendAnswered(*api, session.Get(), address, L"GET", INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT,
                        std::string(), connection, request, status) &&
           status == 200;
}

bool IsInternetConnected() {
    static const ConnectedStateFn connected = WinInetFunction<ConnectedStateFn>("InternetGetConnectedState");
    DWORD flags = 0;
    return connected && connected(&flags, 0);
}

}} // namespace stubframework::core
