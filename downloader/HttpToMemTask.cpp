// Fetches a whole resource into one buffer sized by the first 200 answer.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "downloader/Downloader.h"
#include "downloader/Object.h"

namespace downloader {

namespace {

using details::Object;

class HttpToMemTask;

class HttpToMemHttpCallback : public IHttpCallback, public details::OwnerLink<HttpToMemTask> {
public:
    using OwnerLink::OwnerLink;
    void OnComplete(long result) override;
    void OnHttpHeader(const HttpHeader& header) override;
    void OnData(const Buffer& buffer) override;
};

class HttpToMemTask : public ITask, public details::TaskLock<HttpToMemTask, long> {
    friend class details::TaskLock<HttpToMemTask, long>;
public:
    HttpToMemTask(const wchar_t* url, ITaskCallback<HttpToMemResult&&>* callback, ILogger* logger)
        : url_(url), callback_(callback), httpCallback_(details::New<HttpToMemHttpCallback>(this)), logger_(logger) {
        callback_->AddRef();
        logger_->AddRef();
    }
    ~HttpToMemTask() {
        if (callback_) callback_->Release();    // never started
        if (http_) http_->Release();
        if (httpCallback_) httpCallback_->Release();
        std::free(buffer_);
        logger_->Release();
    }

    void Start() override;
    void Cancel() override {
        logger_->Log(L"HttpToMemTask::Cancel", L"Cancel.");
        Finish(kCancelledHr);
    }

    void OnHttpHeader(const HttpHeader& header);
    void OnData(const Buffer& buffer);
    void OnComplete(long result);

private:
    void CloseInner() {
        if (http_) http_->Cancel();
    }
    bool StartHttp();
    void OnHttpStatusOK(int64_t total, const std::string& etag);
    void OnHttpStatusPartialContent(int64_t offset, int64_t size, int64_t total);
    void CompleteSequence();

    std::wstring url_;
    ITaskCallback<HttpToMemResult&&>* callback_;
    Object<HttpToMemHttpCallback>* httpCallback_;
    ITask* http_ = nullptr;
    std::string etag_;
    int64_t position_ = 0;
    uint8_t* buffer_ = nullptr;
    uint32_t bufferSize_ = 0;
    int64_t missingAtRequestStart_ = 0;
    bool continuation_ = false;
    ILogger* logger_;
};

void HttpToMemHttpCallback::OnComplete(long result) {
    owner_->AddRef();
    owner_->OnComplete(result);
    owner_->Release();
}
void HttpToMemHttpCallback::OnHttpHeader(const HttpHeader& header) { owner_->OnHttpHeader(header); }
void HttpToMemHttpCallback::OnData(const Buffer& buffer) { owner_->OnData(buffer); }

void HttpToMemTask::Start() {
    details::KeepAlive keepAlive(this);
    if (!StartCall()) return;
    logger_->Log(L"HttpToMemTask::Start", L"Start download %s to memory.", url_.c_str());
    AddRef();
    if (StartHttp()) {
        EndCall();
        return;
    }
    Finish(E_OUTOFMEMORY);
    CompleteSequence();
}

bool HttpToMemTask::StartHttp() {
    HttpRange range;
    if (buffer_) {
        // Asks past the end on purpose: servers answer with the rest up to the last byte.
        range.offset = position_;
        range.size = bufferSize_;
        range.etag = etag_;
    }
    SetResult(0);
    ITask* http = httpCallback_ ? CreateHttpTask(url_.c_str(), range, httpCallback_, logger_) : nullptr;
    if (!http) {
        logger_->Log(L"HttpToMemTask::StartHttp", L"Create HttpTask failed.");
        return false;
    }
    missingAtRequestStart_ = static_cast<int64_t>(bufferSize_) - position_;
    http_ = http;
    http->Start();
    return true;
}

void HttpToMemTask::OnHttpHeader(const HttpHeader& header) {
    if (header.status == 200) {
        OnHttpStatusOK(header.total, header.etag);
    } else if (header.status == 206) {
        OnHttpStatusPartialContent(header.offset, header.size, header.total);
    } else {
        logger_->Log(L"HttpToMemTask::OnHttpHeader", L"Unexpected HTTP status code %d.", header.status);
        Finish(kInvalidServerAnswerHr);
    }
}

void HttpToMemTask::OnHttpStatusOK(int64_t total, const std::string& etag) {
    const wchar_t* where = L"HttpToMemTask::OnHttpStatusOK";
    if (total < 0) {
        logger_->Log(where, L"Unexpected content length %lld.", total);
        Finish(kInvalidServerAnswerHr);
        return;
    }
    if (total >= 0x7FFFFFFF) {
        logger_->Log(where, L"Buffer::SetSize(%lld) failed.", total);
        Finish(E_OUTOFMEMORY);
        return;
    }
    if (!buffer_ || total != bufferSize_) {
        std::free(buffer_);
        // One spare byte so that an empty resource still gets a buffer of its own.
        buffer_ = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(total) + 1));
        if (!buffer_) {
            bufferSize_ = 0;
            logger_->Log(where, L"Buffer::SetSize(%lld) failed.", total);
            Finish(E_OUTOFMEMORY);
            return;
        }
        bufferSize_ = static_cast<uint32_t>(total);
    }
    etag_ = etag;
    position_ = 0;
}

void HttpToMemTask::OnHttpStatusPartialContent(int64_t offset, int64_t size, int64_t total) {
    if (buffer_ && total == bufferSize_ && offset == position_ && offset + size == total) return;
    logger_->Log(L"HttpToMemTask::OnHttpStatusPartialContent",
                 L"Unexpected content range (OFFSET:%lld SIZE:%lld TOTAL:%lld)/(POS:%lld SIZE:%Iu).", offset, size,
                 total, position_, static_cast<size_t>(bufferSize_));
    Finish(kInvalidServerAnswerHr);
}

void HttpToMemTask::OnData(const Buffer& buffer) {
    if (!buffer_ || position_ + buffer.size > bufferSize_) {
        logger_->Log(L"HttpToMemTask::OnData", L"Data large than expected %lld/%Iu.", position_ + buffer.size,
                     static_cast<size_t>(bufferSize_));
        Finish(kInvalidServerAnswerHr);
        return;
    }
    std::memcpy(buffer_ + position_, buffer.data, buffer.size);
    position_ += buffer.size;
}

void HttpToMemTask::OnComplete(long result) {
    if (BeginCall()) {
        const int64_t missing = static_cast<int64_t>(bufferSize_) - position_;
        if (result >= 0 && missing != 0) {
            logger_->Log(L"HttpToMemTask::OnComplete", L"Data not complete %lld/%Iu.", position_,
                         static_cast<size_t>(bufferSize_));
            if (continuation_ && missing >= missingAtRequestStart_) {
                // A resumed request that got us no closer would be asked again forever.
                logger_->Log(L"HttpToMemTask::OnComplete", L"Continuation added no data.");
                result = kInvalidServerAnswerHr;
            } else {
                http_->Release();
                http_ = nullptr;
                continuation_ = true;
                if (StartHttp()) {
                    EndCall();
                    return;
                }
                result = E_OUTOFMEMORY;
            }
        }
        Finish(result);
        EndCall();
    }
    CompleteSequence();
}

void HttpToMemTask::CompleteSequence() {
    logger_->Log(L"HttpToMemTask::OnComplete", L"Complete.");
    if (http_) {
        http_->Release();
        http_ = nullptr;
    }
    ITaskCallback<HttpToMemResult&&>* callback = callback_;
    callback_ = nullptr;
    callback->OnComplete(HttpToMemResult{Result(), buffer_, bufferSize_});
    callback->Release();
    Release();
}

} // namespace

ITask* CreateHttpToMemTask(const wchar_t* url, ITaskCallback<HttpToMemResult&&>* callback, ILogger* logger) {
    if (!url || !callback || !logger) return nullptr;
    Object<HttpToMemTask>* task = details::New<HttpToMemTask>(url, callback, logger);
    return task;
}

} // namespace downloader
