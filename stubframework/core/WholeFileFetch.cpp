#include "stubframework/core/WholeFileFetch.h"
#include "downloader/Downloader.h"
#include "downloader/Object.h"
#include "downloader/Ref.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/ProxyAuth.h"

#include <wininet.h>

namespace stubframework { namespace core {

namespace {

// The whole file over one WinINet request, which answers the proxy's and the server's
// challenges itself; the inner callback hears the same notifications as from a binding.
class WholeFileFetch : public downloader::IHttpCallback {
public:
    WholeFileFetch(HANDLE file, IBindStatusCallback* inner, HANDLE done) : file_(file), inner_(inner), done_(done) {}
    void SetTask(downloader::ITask* task) { task_ = task; }
    HRESULT Result() const { return result_; }

    void OnHttpHeader(const downloader::HttpHeader& header) override {
        status_ = header.status;
        total_ = header.total > 0 ? header.total : 0;
        if (status_ != HTTP_STATUS_OK) return;
        if (total_ > 0) {
            LARGE_INTEGER size, start = {};
            size.QuadPart = total_;
            if (::SetFilePointerEx(file_, size, nullptr, FILE_BEGIN)) ::SetEndOfFile(file_);
            ::SetFilePointerEx(file_, start, nullptr, FILE_BEGIN);
        }
        Notify(BINDSTATUS_BEGINDOWNLOADDATA);
    }
    void OnData(const downloader::Buffer& buffer) override {
        if (status_ != HTTP_STATUS_OK || stopped_) return;
        DWORD written = 0;
        if (!::WriteFile(file_, buffer.data, buffer.size, &written, nullptr) || written != buffer.size) {
            const DWORD error = ::GetLastError();
            writeFailure_ = HRESULT_FROM_WIN32(error ? error : ERROR_DISK_FULL);
            Stop();
            return;
        }
        received_ += written;
        Notify(BINDSTATUS_DOWNLOADINGDATA);
    }
    void OnComplete(long hr) override {
        if (FAILED(writeFailure_)) hr = writeFailure_;
        else if (stopped_) hr = E_ABORT;
        else if (hr == downloader::kCancelledHr) hr = E_ABORT;
        else if (hr == utils::kCredentialsCancelledHr) hr = utils::kCredentialsCancelledHr;
        else if (FAILED(hr)) hr = INET_E_DOWNLOAD_FAILURE;
        else if (status_ == HTTP_STATUS_NOT_FOUND || status_ == HTTP_STATUS_GONE) hr = INET_E_OBJECT_NOT_FOUND;
        else if (status_ != HTTP_STATUS_OK) hr = INET_E_DOWNLOAD_FAILURE;
        else if (total_ > 0 && received_ != total_) hr = S_FALSE;    // fewer bytes than announced
        if (hr == S_OK) Notify(BINDSTATUS_ENDDOWNLOADDATA);
        if (hr != S_OK) ::SetEndOfFile(file_);
        result_ = hr;
        ::SetEvent(done_);
    }

private:
    void Notify(ULONG code) {
        if (inner_ && inner_->OnProgress(static_cast<ULONG>(received_), static_cast<ULONG>(total_), code, nullptr) ==
                          E_ABORT)
            Stop();
    }
    void Stop() {
        stopped_ = true;
        if (task_) task_->Cancel();
    }

    HANDLE file_;
    IBindStatusCallback* inner_;
    HANDLE done_;
    downloader::ITask* task_ = nullptr;
    volatile bool stopped_ = false;
    int32_t status_ = -1;
    int64_t total_ = 0;
    int64_t received_ = 0;
    HRESULT writeFailure_ = S_OK;
    HRESULT result_ = E_PENDING;
};

} // namespace

HRESULT FetchWholeFile(const wchar_t* url, HANDLE file, IBindStatusCallback* inner) {
    LARGE_INTEGER start = {};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) || !::SetEndOfFile(file))
        return HRESULT_FROM_WIN32(::GetLastError());
    utils::ScopedHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const downloader::Ref<downloader::ILogger> logger(downloader::CreateNullLogger());
    const downloader::Ref<downloader::details::Object<WholeFileFetch>> fetch(
        done && logger ? downloader::details::New<WholeFileFetch>(file, inner, done.Get())
                       : nullptr);
    const downloader::Ref<downloader::ITask> task(
        fetch ? downloader::CreateHttpTask(url, downloader::HttpRange(), fetch.Get(), logger.Get()) : nullptr);
    if (!task) return E_OUTOFMEMORY;
    fetch->SetTask(task.Get());
    task->Start();
    // This thread's messages go on: the page's calls may need them while the user is asked.
    const HANDLE event = done.Get();
    while (::MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, WM_QUIT - 1, PM_REMOVE) ||
               ::PeekMessageW(&message, nullptr, WM_QUIT + 1, 0xFFFFFFFF, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    fetch->SetTask(nullptr);
    return fetch->Result();
}


}} // namespace stubframework::core
