// Writes a byte range of a URL into an open file, checking every answer against the request.
#include <windows.h>

#include <string>

#include "downloader/Downloader.h"
#include "downloader/Object.h"
#include "downloader/RangedFetch.h"
#include "downloader/Ref.h"

namespace downloader {

namespace {


class HttpToFileTask : public ITask, public details::RangedFetch<HttpToFileTask> {
    friend class details::TaskLock<HttpToFileTask, long>;
    friend class details::RangedFetch<HttpToFileTask>;
public:
    HttpToFileTask(const wchar_t* url, HANDLE file, int64_t offset, int64_t size, IHttpToFileCallback* callback,
                   ILogger* logger)
        : url_(url), file_(file), offset_(offset), remaining_(size),
          callback_(Ref<IHttpToFileCallback>::Share(callback)), logger_(Ref<ILogger>::Share(logger)) {}

    void Start() override;
    void Cancel() override {
        logger_->Log(L"HttpToFileTask::Cancel", L"Cancel.");
        Finish(kCancelledHr);
    }

    void OnHttpHeader(const HttpHeader& header);
    void OnData(const Buffer& buffer);
    void OnComplete(long result) { EndOfRequest(result, L"HttpToFileTask::OnComplete"); }

private:
    bool StartHttp();
    bool ShortOfGoal() {
        if (remaining_ == 0) return false;
        logger_->Log(L"HttpToFileTask::OnComplete", L"Data not complete %lld needed.", remaining_);
        return true;
    }
    bool AddedNothing() const { return remaining_ == remainingAtRequestStart_; }
    void Report(long result) {
        const Ref<IHttpToFileCallback> callback = std::move(callback_);
        callback->OnComplete(result);
    }
    void OnHttpStatusOK(int64_t total, const std::string& etag);
    void OnHttpStatusPartialContent(int64_t offset, int64_t size, int64_t total);

    std::wstring url_;
    HANDLE file_;
    int64_t offset_;
    int64_t remaining_;
    Ref<IHttpToFileCallback> callback_;    // until the report
    std::string etag_;
    int64_t remainingAtRequestStart_ = 0;
    // Set when the current answer failed a check: its bytes belong elsewhere in the resource.
    bool answerRejected_ = false;
    Ref<ILogger> logger_;
};

void HttpToFileTask::Start() {
    details::KeepAlive keepAlive(this);
    if (!StartCall()) return;
    logger_->Log(L"HttpToFileTask::Start", L"Start download %s (OFFSET:%lld SIZE:%lld) to file.", url_.c_str(),
                 offset_, remaining_);
    AddRef();
    FirstRequest(L"HttpToFileTask::OnComplete");
}

bool HttpToFileTask::StartHttp() {
    const Ref<IHttpCallback> callback(details::New<details::HttpForwarder<HttpToFileTask>>(this));
    if (!callback) {
        logger_->Log(L"HttpToFileTask::StartHttp", L"Create HttpCallback failed.");
        return false;
    }
    HttpRange range;
    range.offset = offset_;
    range.size = remaining_;
    range.etag = etag_;
    ITask* http = CreateHttpTask(url_.c_str(), range, callback.Get(), logger_.Get());
    if (!http) {
        logger_->Log(L"HttpToFileTask::StartHttp", L"Create HttpTask failed.");
        return false;
    }
    remainingAtRequestStart_ = remaining_;
    answerRejected_ = false;
    http_.Reset(http);
    http->Start();
    return true;
}

void HttpToFileTask::OnHttpHeader(const HttpHeader& header) {
    if (header.status == 200) {
        OnHttpStatusOK(header.total, header.etag);
    } else if (header.status == 206) {
        OnHttpStatusPartialContent(header.offset, header.size, header.total);
    } else {
        logger_->Log(L"HttpToFileTask::OnHttpHeader", L"Unexpected HTTP status code %d.", header.status);
        answerRejected_ = true;
        Finish(kInvalidServerAnswerHr);
    }
}

void HttpToFileTask::OnHttpStatusOK(int64_t total, const std::string& etag) {
    if (offset_ == 0 && total == remaining_) {
        etag_ = etag;
        return;
    }
    logger_->Log(L"HttpToFileTask::OnHttpStatusOK", L"Unexpected content length %lld/(OFFSET:%lld SIZE:%lld).", total,
                 offset_, remaining_);
    answerRejected_ = true;
    Finish(kInvalidServerAnswerHr);
}

void HttpToFileTask::OnHttpStatusPartialContent(int64_t offset, int64_t size, int64_t total) {
    if (offset == offset_ && size == remaining_) return;
    logger_->Log(L"HttpToFileTask::OnHttpStatusPartialContent",
                 L"Unexpected content range (OFFSET:%lld SIZE:%lld TOTAL:%lld)/(OFFSET:%lld SIZE:%lld).", offset, size,
                 total, offset_, remaining_);
    answerRejected_ = true;
    Finish(kInvalidServerAnswerHr);
}

void HttpToFileTask::OnData(const Buffer& buffer) {
    // Bytes of a refused answer would land at the wrong place in the file.
    if (answerRejected_) return;
    const int64_t count = buffer.size;
    if (count > remaining_) {
        logger_->Log(L"HttpToFileTask::OnData", L"Data large than expected %lld", count - remaining_);
        Finish(kInvalidServerAnswerHr);
        return;
    }
    DWORD written = 0;
    if (!::WriteFile(file_, buffer.data, buffer.size, &written, nullptr) || written < buffer.size) {
        // A short write without an error code means the volume is full.
        DWORD error = ::GetLastError();
        if (error == ERROR_SUCCESS) error = ERROR_DISK_FULL;
        logger_->Log(L"HttpToFileTask::OnData", L"WriteFile failed %u.", static_cast<unsigned>(error));
        Finish(HResultFromWin32(error));
    }
    callback_->OnProgress(offset_, written);
    offset_ += written;
    remaining_ -= written;
}

} // namespace

ITask* CreateHttpToFileTask(const wchar_t* url, HANDLE file, int64_t offset, int64_t size,
                            IHttpToFileCallback* callback, ILogger* logger) {
    if (!url || !callback || !logger) return nullptr;
    return details::New<HttpToFileTask>(url, file, offset, size, callback, logger);
}

} // namespace downloader
