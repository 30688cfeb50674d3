#include "stubframework/core/TokenService.h"
#include "stubframework/core/ReportDocuments.h"
#include "stubframework/utils/InternetHandle.h"
#include "stubframework/utils/SystemLibrary.h"
#include "stubframework/utils/WinInetApi.h"

#include <vector>

namespace stubframework { namespace core {

namespace {
using utils::ScopedInternetHandle;
using InternetOpenUrlFn = decltype(&::InternetOpenUrlW);
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

bool PostBody(const utils::WinInetApi& api, const std::wstring& serviceUrl, const std::string& body,
              std::string& answer) {
    const std::string agent = BrowserUserAgent();
    ScopedInternetHandle session(
        api.InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) return false;

    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUserNameLength = parts.dwPasswordLength =
        parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!api.InternetCrackUrlW(serviceUrl.c_str(), 0, 0, &parts) || !parts.lpszHostName ||
        parts.dwHostNameLength == 0 || !parts.lpszUrlPath || parts.dwUrlPathLength == 0)
        return false;
    DWORD flags = 0;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags = INTERNET_FLAG_SECURE;
    else if (parts.nScheme != INTERNET_SCHEME_HTTP) return false;

    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring user = parts.lpszUserName ? std::wstring(parts.lpszUserName, parts.dwUserNameLength) : L"";
    const std::wstring password =
        parts.lpszPassword ? std::wstring(parts.lpszPassword, parts.dwPasswordLength) : L"";
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo) path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);

    ScopedInternetHandle connection(api.InternetConnectW(session.Get(), host.c_str(), parts.nPort,
                                                         user.empty() ? nullptr : user.c_str(),
                                                         password.empty() ? nullptr : password.c_str(),
                                                         INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) return false;
    ScopedInternetHandle request(
        api.HttpOpenRequestW(connection.Get(), L"POST", path.c_str(), nullptr, nullptr, nullptr, flags, 0));
    if (!request) return false;
    if (!api.HttpSendRequestA(request.Get(), nullptr, 0, const_cast<char*>(body.data()),
                              static_cast<DWORD>(body.size())))
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
    const InternetOpenUrlFn openUrl = WinInetFunction<InternetOpenUrlFn>("InternetOpenUrlW");
    if (!api || !openUrl) return false;
    ScopedInternetHandle session(api->InternetOpenA("ValidURL", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) return false;
    ScopedInternetHandle request(openUrl(session.Get(), address.c_str(), nullptr, 0,
                                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT, 0));
    if (!request) return false;
    DWORD status = 0, size = sizeof(status);
    if (!api->HttpQueryInfoA(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        return false;
    return status == 200;
}

bool IsInternetConnected() {
    static const ConnectedStateFn connected = WinInetFunction<ConnectedStateFn>("InternetGetConnectedState");
    DWORD flags = 0;
    return connected && connected(&flags, 0);
}

}} // namespace stubframework::core
