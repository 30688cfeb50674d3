#include "stubframework/core/PullDownload.h"
#include "downloader/Downloader.h"
#include "stubframework/core/WholeFileFetch.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/RequestCredentials.h"
#include "stubframework/utils/WinInetApi.h"

#include <new>
#include <wininet.h>
#include <utility>
#include <vector>
#include <wrl/client.h>

namespace stubframework { namespace core {

namespace {

using Microsoft::WRL::ComPtr;

HRESULT LastErrorResult() {
    const DWORD error = ::GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// The bind-status callback of one pulled download: writes what arrives to the file and keeps
// the binding's result. Its count is interlocked: urlmon calls from the thread that pumps.
// It answers the moniker's questions for credentials (IAuthenticateEx, as a service).
class BSCHolder final : public IBindStatusCallback, public IServiceProvider, public IAuthenticateEx {
public:
    BSCHolder(utils::ScopedFileHandle file, IBindStatusCallback* inner, const wchar_t* url)
        : file_(std::move(file)), inner_(inner), secure_(::_wcsnicmp(url, L"https:", 6) == 0), credentials_(url) {}

    // True when the answer was a challenge that the moniker never asked credentials for (some
    // implementations do not): the download is then fetched over a WinINet request instead.
    bool ChallengeUnanswered() const { return challengeUnanswered_; }
    HANDLE File() const { return file_.Get(); }
    IBindStatusCallback* Inner() const { return inner_.Get(); }

    HRESULT Result() const { return result_; }
    LONG References() const { return references_; }
    // Ends a binding nobody waits for any more.
    void Abort() {
        // The stop report may drop binding_ while Abort runs.
        const ComPtr<IBinding> binding = binding_;
        if (binding) binding->Abort();
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IBindStatusCallback) {
            *object = static_cast<IBindStatusCallback*>(this);
        } else if (riid == IID_IServiceProvider) {
            *object = static_cast<IServiceProvider*>(this);
        } else if (riid == IID_IAuthenticate || riid == IID_IAuthenticateEx) {
            *object = static_cast<IAuthenticateEx*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP QueryService(REFGUID service, REFIID riid, void** object) override {
        if (service == IID_IAuthenticate || service == IID_IAuthenticateEx) return QueryInterface(riid, object);
        if (object) *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP Authenticate(HWND* window, LPWSTR* user, LPWSTR* password) override {
        return AuthenticateEx(window, user, password, nullptr);
    }
    // The moniker asks after each challenge; refusing ends the binding with the challenge.
    STDMETHODIMP AuthenticateEx(HWND* window, LPWSTR* user, LPWSTR* password, AUTHENTICATEINFO* info) override {
        if (!window || !user || !password) return E_INVALIDARG;
        *window = nullptr;
        asked_ = true;
        bool cancelled = false;
        const HRESULT hr = credentials_.AnswerMoniker(
            info ? (info->dwFlags & AUTHENTICATEF_PROXY) != 0 : credentials_.HasProxy(), user, password, cancelled);
        if (cancelled) httpFailure_ = utils::kCredentialsCancelledHr;
        return hr;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&references_)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG count = ::InterlockedDecrement(&references_);
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

    STDMETHODIMP OnStartBinding(DWORD reserved, IBinding* binding) override {
        binding_ = binding;
        return inner_ ? inner_->OnStartBinding(reserved, binding) : E_NOTIMPL;
    }
    STDMETHODIMP GetPriority(LONG* priority) override {
        return inner_ ? inner_->GetPriority(priority) : E_NOTIMPL;
    }
    STDMETHODIMP OnLowResource(DWORD reserved) override {
        return inner_ ? inner_->OnLowResource(reserved) : E_NOTIMPL;
    }
    STDMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR text) override {
        // Once on TLS, never off it: a redirect to plain http would hand the answer to the network.
        if (statusCode == BINDSTATUS_REDIRECTING && secure_ && (!text || ::_wcsnicmp(text, L"https:", 6) != 0)) {
            httpFailure_ = downloader::kRefusedRedirectHr;
            Abort();
            return E_ABORT;
        }
        if (statusCode == BINDSTATUS_BEGINDOWNLOADDATA && FAILED(CheckHttpStatus())) {
            Abort();
            return E_ABORT;
        }
        if (statusCode == BINDSTATUS_BEGINDOWNLOADDATA && progressMax != 0) {
            // One allocation for the whole file instead of growing it piece by piece.
            LARGE_INTEGER size, start = {};
            size.QuadPart = progressMax;
            if (::SetFilePointerEx(file_.Get(), size, nullptr, FILE_BEGIN)) ::SetEndOfFile(file_.Get());
            ::SetFilePointerEx(file_.Get(), start, nullptr, FILE_BEGIN);
        }
        const HRESULT hr = inner_ ? inner_->OnProgress(progress, progressMax, statusCode, text) : S_OK;
        // Not every implementation stops a binding whose callback answers E_ABORT.
        if (hr == E_ABORT) Abort();
        return hr;
    }
    STDMETHODIMP OnStopBinding(HRESULT hr, LPCWSTR error) override {
        if (FAILED(httpFailure_)) hr = httpFailure_;
        else if (SUCCEEDED(hr)) hr = CheckHttpStatus();
        LARGE_INTEGER zero = {}, position = {}, size = {};
        ::SetFilePointerEx(file_.Get(), zero, &position, FILE_CURRENT);
        if (FAILED(hr)) {
            ::SetEndOfFile(file_.Get());
        } else if (!::GetFileSizeEx(file_.Get(), &size) || size.QuadPart != position.QuadPart) {
            hr = S_FALSE;   // fewer bytes than announced
            ::SetEndOfFile(file_.Get());
        }
        if (!writeFailed_) result_ = hr;
        binding_.Reset();
        if (inner_) inner_->OnStopBinding(hr, error);
        return S_OK;
    }
    STDMETHODIMP GetBindInfo(DWORD* flags, BINDINFO* info) override {
        if (inner_) inner_->GetBindInfo(flags, info);
        // The file is all we keep: a copy of each package in the browser cache would double
        // the disk writes and the space a download needs.
        if (flags) *flags |= BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_PULLDATA | BINDF_NOWRITECACHE;
        return S_OK;
    }
    STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM* medium) override {
        if (!medium || medium->tymed != TYMED_ISTREAM || !medium->pstm) return S_OK;
        // Fewer, larger reads: each one crosses the moniker stream's locks and copies.
        if (piece_.empty()) piece_.resize(64 * 1024);
        char* const piece = piece_.data();
        for (;;) {
            ULONG got = 0;
            const HRESULT hr = medium->pstm->Read(piece, static_cast<ULONG>(piece_.size()), &got);
            if (FAILED(hr) && hr != E_PENDING) return hr;
            if (got > 0) {
                DWORD written = 0;
                if (!::WriteFile(file_.Get(), piece, got, &written, nullptr) || written != got) {
                    writeFailed_ = true;
                    // A short write without an error code means the volume is full.
                    const DWORD error = ::GetLastError();
                    result_ = HRESULT_FROM_WIN32(error ? error : ERROR_DISK_FULL);
                    Abort();
                    return E_ABORT;
                }
            }
            // S_OK without bytes would never end the loop.
            if (hr != S_OK || got == 0) return S_OK;
        }
    }
    STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }

private:
    ~BSCHolder() = default;

    // Some URL-moniker implementations hand over an error page as the file; the page's status
    // must not pass for the file's content.
    HRESULT CheckHttpStatus() {
        if (statusChecked_ || !binding_) return httpFailure_;
        statusChecked_ = true;
        ComPtr<IWinInetHttpInfo> info;
        if (FAILED(binding_.As(&info))) return httpFailure_;
        DWORD status = 0, size = sizeof(status), flags = 0;
        if (FAILED(info->QueryInfo(HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, &flags, nullptr)))
            return httpFailure_;
        // The moniker answered what it could; what it passed on is judged here.
        if ((status == HTTP_STATUS_PROXY_AUTH_REQ || status == HTTP_STATUS_DENIED) && !asked_ &&
            SUCCEEDED(httpFailure_))
            challengeUnanswered_ = true;
        else if (status != HTTP_STATUS_PROXY_AUTH_REQ && status != HTTP_STATUS_DENIED)
            credentials_.OnStatus(status);
        if (status == HTTP_STATUS_NOT_FOUND || status == HTTP_STATUS_GONE) httpFailure_ = INET_E_OBJECT_NOT_FOUND;
        else if (status >= 400 && SUCCEEDED(httpFailure_)) httpFailure_ = INET_E_DOWNLOAD_FAILURE;
        return httpFailure_;
    }

    volatile LONG references_ = 1;
    volatile HRESULT result_ = E_PENDING;
    bool writeFailed_ = false;
    bool statusChecked_ = false;
    HRESULT httpFailure_ = S_OK;
    utils::ScopedFileHandle file_;
    ComPtr<IBindStatusCallback> inner_;
    ComPtr<IBinding> binding_;
    std::vector<char> piece_;   // one buffer for the whole binding
    bool secure_;
    bool asked_ = false;
    bool challengeUnanswered_ = false;
    utils::RequestCredentials credentials_;
};

// What the system's pull-stream helper does, which not every urlmon implements.
HRESULT StartBinding(const utils::UrlMonApi& api, const wchar_t* url, BSCHolder* holder) {
    ComPtr<IMoniker> moniker;
    HRESULT hr = api.CreateURLMonikerEx(nullptr, url, moniker.GetAddressOf(), URL_MK_UNIFORM);
    if (FAILED(hr)) return hr;
    ComPtr<IBindCtx> context;
    hr = api.CreateAsyncBindCtx(0, holder, nullptr, context.GetAddressOf());
    if (FAILED(hr)) return hr;
    ComPtr<IStream> stream;
    hr = moniker->BindToStorage(context.Get(), nullptr, IID_IStream, reinterpret_cast<void**>(stream.GetAddressOf()));
    return FAILED(hr) ? hr : S_OK;
}

// Dispatches what is queued, except a quit, which belongs to the caller's own loop.
void PumpPending() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, WM_QUIT - 1, PM_REMOVE) ||
           ::PeekMessageW(&message, nullptr, WM_QUIT + 1, 0xFFFFFFFF, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

} // namespace

HRESULT PullDownloadToFile(const wchar_t* url, const wchar_t* path, IBindStatusCallback* inner) {
    utils::ScopedFileHandle file(
        ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return LastErrorResult();
    const utils::UrlMonApi* api = utils::GetUrlMonApi();
    if (!api) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    // Adopts the object's first reference: this ComPtr's Attach would take a second one.
    ComPtr<BSCHolder> holder;
    *holder.GetAddressOf() = new (std::nothrow) BSCHolder(std::move(file), inner, url);
    if (!holder) return E_OUTOFMEMORY;

    HRESULT hr = StartBinding(*api, url, holder.Get());
    if (SUCCEEDED(hr)) {
        while (holder->Result() == E_PENDING) {
            MSG message;
            const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
            if (got == 0 || got == -1) {
                if (got == 0) ::PostQuitMessage(static_cast<int>(message.wParam));
                holder->Abort();
                break;
            }
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        hr = holder->Result() == E_PENDING ? E_ABORT : holder->Result();
    }
    // The binding lets go of the holder from its own notifications, which need this thread's
    // messages; after a quit nobody else pumps them.
    while (holder->References() > 1) {
        PumpPending();
        ::Sleep(1);
    }
    if (holder->ChallengeUnanswered()) hr = FetchWholeFile(url, holder->File(), holder->Inner());
    return hr;
}

STDMETHODIMP DownloadCallback::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IBindStatusCallback) {
        *object = static_cast<IBindStatusCallback*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP DownloadCallback::OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR) {
    switch (statusCode) {
    case BINDSTATUS_BEGINDOWNLOADDATA:
        external_->SetDownloadTotal(progressMax);
        if (external_->SizeProbe()) return E_ABORT;   // the size is all the probe wants
        break;
    case BINDSTATUS_DOWNLOADINGDATA:
    case BINDSTATUS_ENDDOWNLOADDATA:
        // An empty end report is no data: retrying such answers must not go on for ever.
        if (progress > 0) receivedData_ = true;
        external_->SetDownloadCurrent(progress);
        break;
    default:
        break;
    }
    return external_->Stop() ? E_ABORT : S_OK;
}

}} // namespace stubframework::core
