// One HTTP GET over asynchronous WinINet, streamed to an IHttpCallback.
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <string>

#include "downloader/Downloader.h"
#include "downloader/Object.h"
#include "downloader/Ref.h"
#include "stubframework/utils/InternetHandle.h"
#include "stubframework/utils/MallocBuffer.h"
#include "stubframework/utils/RequestCredentials.h"
#include "stubframework/utils/WinInetApi.h"

namespace downloader {

namespace {

using stubframework::utils::AllocateBuffer;
using stubframework::utils::MallocBuffer;
using stubframework::utils::ScopedInternetHandle;
using stubframework::utils::WinInetApi;
using stubframework::utils::RequestCredentials;

volatile LONG g_receiveTimeoutMs = 30000;
constexpr int kMaxRedirects = 10;
// One read asks for up to this much. Measured under Wine on loopback (best of 3, 256 MiB):
// 1 MiB reads beat 256 KiB ones by about a fifth and 64 KiB ones by about a third.
constexpr DWORD kReadSize = 1024 * 1024;
// Some WinINet waits until a read's buffer is full, and closes a request only after its pending
// read: a read asks for more than was announced only while reads come back this quickly, so a
// slow body keeps cancelling and progress prompt.
constexpr LONGLONG kQuickReadMs = 20;

// The performance counter's rate is fixed at boot.
LONGLONG CounterFrequency() {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER value;
        ::QueryPerformanceFrequency(&value);
        return value.QuadPart;
    }();
    return frequency;
}

// Redirects are followed here, not by WinINet: some implementations follow a redirect loop
// without end, and closing the request does not stop them.
constexpr DWORD kHttpFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION |
                             INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTO_REDIRECT;

class HttpTask : public ITask, public details::TaskLock<HttpTask, long> {
    friend class details::TaskLock<HttpTask, long>;
public:
    HttpTask(const wchar_t* url, const HttpRange& range, IHttpCallback* callback, ILogger* logger)
        : url_(url), range_(range), callback_(Ref<IHttpCallback>::Share(callback)),
          credentials_(url_), logger_(Ref<ILogger>::Share(logger)) {}

    void Start() override;
    void Cancel() override {
        logger_->Log(L"HttpTask::Cancel", L"Cancel");
        Finish(kCancelledHr);
    }

private:
    enum class Continuation { SendRequestComplete, DataAvailable, ReadComplete };

    void CloseInner() {
        if (request_) {
            request_.Reset();
        } else if (hopFailed_) {
            // No request is open that could report its closing.
            hopFailed_ = false;
            ReportAndRelease();
        }
    }

    HRESULT CreateSession();
    void SetTimeouts(HINTERNET handle);
    HRESULT Connect();
    void SendRequest();
    void OnSendRequestComplete();
    bool AnswerChallenge();
    bool Reissue();
    bool FollowRedirect();
    void ProcessHeader();
    std::string GetHeader(DWORD infoLevel);
    void QueryAvailable();
    bool ProcessData();
    bool HandOn();
    void ReportAndRelease();

    static void CALLBACK StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD length);
    void OnStatus(DWORD status, LPVOID info);

    std::wstring url_;
    HttpRange range_;
    Ref<IHttpCallback> callback_;    // until the report
    ScopedInternetHandle session_;
    ScopedInternetHandle connection_;
    ScopedInternetHandle request_;
    DWORD available_ = 0;
    // One read buffer for the whole request; a pending read fills it and read_ until the
    // request handle closes.
    MallocBuffer<uint8_t> buffer_;
    DWORD read_ = 0;
    DWORD ask_ = 0;               // 0: what is announced
    LARGE_INTEGER readStart_ = {};
    volatile Continuation continuation_ = Continuation::SendRequestComplete;
    int redirects_ = 0;
    bool hopFailed_ = false;
    RequestCredentials credentials_;    // for the proxy's (407) and the server's (401) challenges
    Ref<ILogger> logger_;
    const WinInetApi* api_ = stubframework::utils::GetWinInetApi();
};

void HttpTask::Start() {
    details::KeepAlive keepAlive(this);
    if (!StartCall()) return;
    logger_->Log(L"HttpTask::Start", L"Start %s (OFFSET:%lld,SIZE:%lld,ETAG:%S).", url_.c_str(), range_.offset,
                 range_.size, range_.etag.c_str());
    HRESULT hr = CreateSession();
    if (SUCCEEDED(hr)) {
        hr = Connect();
        if (FAILED(hr)) session_.Reset();
    }
    if (FAILED(hr)) {
        const Ref<IHttpCallback> callback = std::move(callback_);
        callback->OnComplete(hr);
        return;
    }
    AddRef();    // given up when WinINet reports the request handle closing
    SendRequest();
    EndCall();
}

HRESULT HttpTask::CreateSession() {
    const wchar_t* where = L"HttpTask::CreateSession";
    if (!api_) {
        logger_->Log(where, L"InternetOpenA failed: %u.", static_cast<unsigned>(ERROR_MOD_NOT_FOUND));
        return HResultFromWin32(ERROR_MOD_NOT_FOUND);
    }
    // The agent string's length is known only by asking: a short buffer is told the size it needs.
    DWORD size = 256;
    MallocBuffer<char> agent;
    HRESULT hr = E_OUTOFMEMORY;
    while (hr == E_OUTOFMEMORY) {
        agent = AllocateBuffer<char>(size);
        if (!agent) {
            logger_->Log(where, L"malloc(%u) failed.", static_cast<unsigned>(size));
            return E_OUTOFMEMORY;
        }
        hr = stubframework::utils::ObtainUserAgent(agent.get(), &size);
    }
    if (FAILED(hr)) {
        logger_->Log(where, L"ObtailUserAgentString failed: 0x%08X.", static_cast<unsigned>(hr));
        return hr;
    }
    session_.Reset(api_->InternetOpenA(agent.get(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC));
    if (!session_) {
        const DWORD error = ::GetLastError();
        logger_->Log(where, L"InternetOpenA failed: %u.", static_cast<unsigned>(error));
        return HResultFromWin32(error);
    }
    SetTimeouts(session_.Get());
    return S_OK;
}

void HttpTask::SetTimeouts(HINTERNET handle) {
    DWORD connectTimeout = 60000, sendTimeout = 30000;
    DWORD receiveTimeout = static_cast<DWORD>(::InterlockedCompareExchange(&g_receiveTimeoutMs, 0, 0));
    api_->InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connectTimeout, sizeof(DWORD));
    api_->InternetSetOptionW(handle, INTERNET_OPTION_SEND_TIMEOUT, &sendTimeout, sizeof(DWORD));
    api_->InternetSetOptionW(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveTimeout, sizeof(DWORD));
}

HRESULT HttpTask::Connect() {
    const wchar_t* where = L"HttpTask::Connect";
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = 1;
    parts.dwUserNameLength = 1;
    parts.dwPasswordLength = 1;
    parts.dwUrlPathLength = 1;
    parts.dwExtraInfoLength = 1;
    if (!api_->InternetCrackUrlW(url_.c_str(), 0, 0, &parts)) {
        const DWORD error = ::GetLastError();
        logger_->Log(where, L"InternetCrackUrlW failed: %u.", static_cast<unsigned>(error));
        return HResultFromWin32(error);
    }
    DWORD flags;
    if (parts.nScheme == INTERNET_SCHEME_HTTP) {
        flags = kHttpFlags;
    } else if (parts.nScheme == INTERNET_SCHEME_HTTPS) {
        flags = kHttpFlags | INTERNET_FLAG_SECURE;
    } else {
        return kUnsupportedSchemeHr;
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring user = parts.lpszUserName ? std::wstring(parts.lpszUserName, parts.dwUserNameLength) : L"";
    const std::wstring password =
        parts.lpszPassword ? std::wstring(parts.lpszPassword, parts.dwPasswordLength) : L"";
    // The path runs to the end of the URL, query included.
    std::wstring path = parts.lpszUrlPath ? std::wstring(parts.lpszUrlPath) : std::wstring(L"/");
    if (path.empty()) path = L"/";

    connection_.Reset(api_->InternetConnectW(session_.Get(), host.c_str(), parts.nPort,
                                             user.empty() ? nullptr : user.c_str(),
                                             password.empty() ? nullptr : password.c_str(), INTERNET_SERVICE_HTTP,
                                             0, 0));
    if (!connection_) {
        const DWORD error = ::GetLastError();
        logger_->Log(where, L"InternetConnectW failed: %u.", static_cast<unsigned>(error));
        return HResultFromWin32(error);
    }
    request_.Reset(api_->HttpOpenRequestW(connection_.Get(), nullptr, path.c_str(), nullptr, nullptr, nullptr,
                                          flags, reinterpret_cast<DWORD_PTR>(this)));
    if (!request_) {
        const DWORD error = ::GetLastError();
        logger_->Log(where, L"HttpOpenRequestW failed: %u.", static_cast<unsigned>(error));
        connection_.Reset();
        return HResultFromWin32(error);
    }
    // Not every WinINet hands the session's time-outs down to its requests: without them a
    // stalled body is waited for without end.
    SetTimeouts(request_.Get());
    credentials_.Apply(request_.Get());
    api_->InternetSetStatusCallbackA(request_.Get(), &HttpTask::StatusCallback);
    return S_OK;
}

void HttpTask::SendRequest() {
    if (range_.size != 0) {
        char header[64];
        std::snprintf(header, sizeof(header), "Range: bytes=%lld-%lld", static_cast<long long>(range_.offset),
                      static_cast<long long>(range_.offset + range_.size - 1));
        api_->HttpAddRequestHeadersA(request_.Get(), header, static_cast<DWORD>(-1),
                                     HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
        logger_->Log(L"HttpTask::SetRange", L"%S", header);
        if (!range_.etag.empty()) {
            const std::string ifRange = "If-Range: " + range_.etag;
            api_->HttpAddRequestHeadersA(request_.Get(), ifRange.c_str(), static_cast<DWORD>(-1),
                                         HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
            logger_->Log(L"HttpTask::SetIfRange", L"%S", ifRange.c_str());
        }
    }
    continuation_ = Continuation::SendRequestComplete;
    if (api_->HttpSendRequestA(request_.Get(), nullptr, 0, nullptr, 0)) {
        OnSendRequestComplete();
        return;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING) return;
    logger_->Log(L"HttpTask::SendRequest", L"HttpSendRequestA failed: %u.", static_cast<unsigned>(error));
    Finish(HResultFromWin32(error));
}

void HttpTask::OnSendRequestComplete() {
    if (AnswerChallenge() || FollowRedirect()) return;
    ProcessHeader();
    continuation_ = Continuation::DataAvailable;
    QueryAvailable();
}

// A 3xx answer with a Location: the answered request is retired and the same request goes to
// the new address. True when the answer is not to be reported.
bool HttpTask::FollowRedirect() {
    const wchar_t* where = L"HttpTask::Redirect";
    DWORD status = 0;
    DWORD length = sizeof(status);
    if (!api_->HttpQueryInfoA(request_.Get(), HTTP_QUERY_FLAG_NUMBER | HTTP_QUERY_STATUS_CODE, &status, &length,
                              nullptr) ||
        (status != 301 && status != 302 && status != 303 && status != 307 && status != 308)) {
        return false;
    }
    const std::string location = GetHeader(HTTP_QUERY_LOCATION);
    if (location.empty()) return false;    // the owner refuses the status itself
    if (++redirects_ > kMaxRedirects) {
        logger_->Log(where, L"Too many redirects.");
        Finish(HResultFromWin32(ERROR_HTTP_REDIRECT_FAILED));
        return true;
    }
    std::wstring relative(location.size(), L'\0');
    const int converted = ::MultiByteToWideChar(CP_UTF8, 0, location.data(), static_cast<int>(location.size()),
                                                &relative[0], static_cast<int>(relative.size()));
    relative.resize(converted > 0 ? static_cast<size_t>(converted) : 0);
    std::wstring target(INTERNET_MAX_URL_LENGTH + 1, L'\0');
    DWORD size = static_cast<DWORD>(target.size());
    if (relative.empty() || !api_->InternetCombineUrlW(url_.c_str(), relative.c_str(), &target[0], &size, 0)) {
        const DWORD error = relative.empty() ? ERROR_HTTP_INVALID_HEADER : ::GetLastError();
        logger_->Log(where, L"InternetCombineUrlW failed: %u.", static_cast<unsigned>(error));
        Finish(HResultFromWin32(error));
        return true;
    }
    target.resize(size);
    // Once on TLS, never off it: a redirect to plain http would hand the answer to the network.
    if (::_wcsnicmp(url_.c_str(), L"https:", 6) == 0 && ::_wcsnicmp(target.c_str(), L"https:", 6) != 0) {
        logger_->Log(where, L"Refused redirect from https to %s.", target.c_str());
        Finish(kRefusedRedirectHr);
        return true;
    }
    logger_->Log(where, L"%d to %s.", static_cast<int>(status), target.c_str());
    url_ = target;
    credentials_.Retarget(url_);
    return Reissue();
}

// The answered request is retired and the same request goes out again, to url_.
bool HttpTask::Reissue() {
    // The retired request must not report its closing to this task.
    DWORD_PTR none = 0;
    api_->InternetSetOptionW(request_.Get(), INTERNET_OPTION_CONTEXT_VALUE, &none, sizeof(none));
    request_.Reset();
    connection_.Reset();
    const HRESULT hr = Connect();
    if (FAILED(hr)) {
        hopFailed_ = true;
        Finish(hr);
        return true;
    }
    SendRequest();
    return true;
}

// A 407 from the proxy or a 401 from the server that the run has credentials for: the request
// goes out again on a new handle (a proxy tunnel for https is authenticated only when it is
// opened). True when the answer is not to be reported.
bool HttpTask::AnswerChallenge() {
    DWORD status = 0;
    DWORD length = sizeof(status);
    api_->HttpQueryInfoA(request_.Get(), HTTP_QUERY_FLAG_NUMBER | HTTP_QUERY_STATUS_CODE, &status, &length, nullptr);
    switch (credentials_.OnStatus(status)) {
    case RequestCredentials::SendAgain:
        if (Finished()) return true;    // cancelled while the user was asked
        logger_->Log(L"HttpTask::Authenticate", L"%d: sending again with credentials for %s.", static_cast<int>(status),
                     credentials_.ChallengeTarget().c_str());
        return Reissue();
    case RequestCredentials::Cancelled:
        Finish(stubframework::utils::kCredentialsCancelledHr);
        return true;
    default:
        return false;    // the owner judges the status
    }
}

std::string HttpTask::GetHeader(DWORD infoLevel) {
    DWORD size = 0;
    MallocBuffer<char> buffer;
    for (;;) {
        if (api_->HttpQueryInfoA(request_.Get(), infoLevel, buffer.get(), &size, nullptr)) {
            return buffer ? std::string(buffer.get(), size) : std::string();
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_HTTP_HEADER_NOT_FOUND) return std::string();
        if (error != ERROR_INSUFFICIENT_BUFFER) {
            logger_->Log(L"HttpTask::GetHeader", L"HttpQueryInfoA failed: %u", static_cast<unsigned>(error));
            return std::string();
        }
        buffer = AllocateBuffer<char>(size + 1);
        if (!buffer) {
            logger_->Log(L"HttpTask::GetHeader", L"malloc(%u) failed.", static_cast<unsigned>(size + 1));
            return std::string();
        }
    }
}

void HttpTask::ProcessHeader() {
    HttpHeader header;
    DWORD status = static_cast<DWORD>(-1);
    DWORD length = sizeof(status);
    if (!api_->HttpQueryInfoA(request_.Get(), HTTP_QUERY_FLAG_NUMBER | HTTP_QUERY_STATUS_CODE, &status, &length,
                              nullptr)) {
        logger_->Log(L"HttpTask::GetStatusCode", L"HttpQueryInfoA failed %u.", static_cast<unsigned>(::GetLastError()));
        status = static_cast<DWORD>(-1);
    }
    header.status = static_cast<int32_t>(status);
    header.etag = GetHeader(HTTP_QUERY_ETAG);

    const std::string range = GetHeader(HTTP_QUERY_CONTENT_RANGE);
    int64_t first = 0, last = 0, total = 0;
    if (range.empty()) {
        header.offset = 0, header.size = 0, header.total = -1;
    } else if (ParseContentRange(range, first, last, total)) {
        header.offset = first, header.size = last - first + 1, header.total = total;
    } else {
        logger_->Log(L"HttpTask::GetContentRange", L"Unknown content range %S.", range.c_str());
        header.offset = 0, header.size = 0, header.total = -1;
    }
    if (header.total < 0) {
        int64_t contentLength = -1;
        const std::string text = GetHeader(HTTP_QUERY_CONTENT_LENGTH);
        if (!text.empty() && !ParseContentLength(text, contentLength)) contentLength = -1;
        header.total = contentLength;
        if (contentLength > 0) header.size = contentLength;
    }
    logger_->Log(L"HttpTask::ProcessHeader", L"%d (OFFSET:%lld SIZE:%lld TOTAL:%lld ETAG:%S).", header.status,
                 header.offset, header.size, header.total, header.etag.c_str());
    callback_->OnHttpHeader(header);
}

void HttpTask::QueryAvailable() {
    for (;;) {
        if (Finished()) return;
        if (api_->InternetQueryDataAvailable(request_.Get(), &available_, 0, 0)) {
            if (!ProcessData()) return;
            continue;
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_IO_PENDING) return;
        logger_->Log(L"HttpTask::QueryAvailable", L"InternetQueryDataAvailable failed: %u.",
                     static_cast<unsigned>(error));
        Finish(HResultFromWin32(error));
        return;
    }
}

bool HttpTask::ProcessData() {
    const wchar_t* where = L"HttpTask::ProcessData";
    if (available_ == 0) {
        logger_->Log(where, L"Complete.");
        Finish(S_OK);
        return false;
    }
    if (!buffer_) {
        buffer_ = AllocateBuffer<uint8_t>(kReadSize);
        if (!buffer_) {
            logger_->Log(where, L"Buffer::SetSize(%u) failed.", static_cast<unsigned>(kReadSize));
            Finish(E_OUTOFMEMORY);
            return false;
        }
    }
    // Few large reads cost far less than many small ones: while reads come back quickly each
    // asks for twice the last, up to the buffer.
    const DWORD size = available_ > ask_ ? (available_ < kReadSize ? available_ : kReadSize) : ask_;
    read_ = 0;
    continuation_ = Continuation::ReadComplete;
    ::QueryPerformanceCounter(&readStart_);
    if (!api_->InternetReadFile(request_.Get(), buffer_.get(), size, &read_)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_IO_PENDING) return false;    // the status callback hands the bytes on
        continuation_ = Continuation::DataAvailable;
        logger_->Log(where, L"InternetReadFile failed: %u.", static_cast<unsigned>(error));
        Finish(HResultFromWin32(error));
        return false;
    }
    continuation_ = Continuation::DataAvailable;
    return HandOn();
}

bool HttpTask::HandOn() {
    if (read_ == 0) {
        // Announced bytes that cannot be read: asking again would loop.
        logger_->Log(L"HttpTask::ProcessData", L"InternetReadFile doesn't read all data.");
        Finish(kShortReadHr);
        return false;
    }
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    const bool quick = (now.QuadPart - readStart_.QuadPart) * 1000 <= kQuickReadMs * CounterFrequency();
    const DWORD grown = (read_ > ask_ ? read_ : ask_) * 2;
    ask_ = !quick ? 0 : grown < kReadSize ? grown : kReadSize;
    callback_->OnData(Buffer{buffer_.get(), read_});
    return !Finished();    // a cancelled request reads no further
}

void HttpTask::ReportAndRelease() {
    connection_.Reset();
    session_.Reset();
    {
        const Ref<IHttpCallback> callback = std::move(callback_);
        callback->OnComplete(Result());
    }
    Release();    // the reference taken when the request was sent
}

void CALLBACK HttpTask::StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
    if (context) reinterpret_cast<HttpTask*>(context)->OnStatus(status, info);
}

void HttpTask::OnStatus(DWORD status, LPVOID info) {
    const wchar_t* where = L"HttpTask::InternetStatusCallback";
    const char* text = static_cast<const char*>(info);
    switch (status) {
    case INTERNET_STATUS_RESOLVING_NAME:
        logger_->Log(where, L"INTERNET_STATUS_RESOLVING_NAME %S", text ? text : "");
        break;
    case INTERNET_STATUS_NAME_RESOLVED:
        logger_->Log(where, L"INTERNET_STATUS_NAME_RESOLVED %S", text ? text : "");
        break;
    case INTERNET_STATUS_CONNECTING_TO_SERVER:
        logger_->Log(where, L"INTERNET_STATUS_CONNECTING_TO_SERVER %S", text ? text : "");
        break;
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
        logger_->Log(where, L"INTERNET_STATUS_CONNECTED_TO_SERVER %S", text ? text : "");
        break;
    case INTERNET_STATUS_REDIRECT:
        logger_->Log(where, L"INTERNET_STATUS_REDIRECT %S", text ? text : "");
        break;
    case INTERNET_STATUS_INTERMEDIATE_RESPONSE:
        logger_->Log(where, L"INTERNET_STATUS_INTERMEDIATE_RESPONSE");
        break;
    case INTERNET_STATUS_REQUEST_COMPLETE: {
        const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
        if (result->dwResult) {
            // The pending operation holds the request open, so the task is alive here.
            details::KeepAlive keepAlive(this);
            if (BeginCall()) {
                if (continuation_ == Continuation::ReadComplete) {
                    continuation_ = Continuation::DataAvailable;
                    if (HandOn()) QueryAvailable();
                } else if (continuation_ == Continuation::DataAvailable) {
                    // Where the count of a pending query arrives differs between WinINet
                    // implementations; the data is buffered now, so asking again answers at once.
                    QueryAvailable();
                } else {
                    OnSendRequestComplete();
                }
                EndCall();
            }
        } else if (result->dwError != ERROR_INTERNET_OPERATION_CANCELLED) {
            logger_->Log(where, L"INTERNET_STATUS_REQUEST_COMPLETE failed: %u.",
                         static_cast<unsigned>(result->dwError));
            Finish(HResultFromWin32(result->dwError));
        }
        break;
    }
    case INTERNET_STATUS_HANDLE_CLOSING:
        ReportAndRelease();
        break;
    default:
        break;
    }
}

} // namespace

void SetReceiveTimeout(DWORD milliseconds) {
    ::InterlockedExchange(&g_receiveTimeoutMs, static_cast<LONG>(milliseconds));
}

ITask* CreateHttpTask(const wchar_t* url, const HttpRange& range, IHttpCallback* callback, ILogger* logger) {
    if (!url || !callback || !logger) return nullptr;
    return details::New<HttpTask>(url, range, callback, logger);
}

} // namespace downloader
