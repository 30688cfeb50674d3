// Fetches a whole resource into one buffer sized by the first 200 answer.
#include <windows.h>

#include <cstring>
#include <string>

#include "downloader/Downloader.h"
#include "downloader/Object.h"
#include "downloader/RangedFetch.h"
#include "downloader/Ref.h"
#include "stubframework/utils/MallocBuffer.h"

namespace downloader {

namespace {

using stubframework::utils::AllocateBuffer;
using stubframework::utils::MallocBuffer;

class HttpToMemTask;
using HttpToMemHttpCallback = details::HttpForwarder<HttpToMemTask>;

class HttpToMemTask : public ITask, public details::RangedFetch<HttpToMemTask> {
    friend class details::TaskLock<HttpToMemTask, long>;
    friend class details::RangedFetch<HttpToMemTask>;
public:
    HttpToMemTask(const wchar_t* url, ITaskCallback<HttpToMemResult&&>* callback, ILogger* logger, uint32_t maxSize)
        : url_(url), callback_(Ref<ITaskCallback<HttpToMemResult&&>>::Share(callback)),
          httpCallback_(details::New<HttpToMemHttpCallback>(this)), maxSize_(maxSize),
          logger_(Ref<ILogger>::Share(logger)) {}

    void Start() override;
    void Cancel() override {
        logger_->Log(L"HttpToMemTask::Cancel", L"Cancel.");
        Finish(kCancelledHr);
    }

    void OnHttpHeader(const HttpHeader& header);
    void OnData(const Buffer& buffer);
    void OnComplete(long result) { EndOfRequest(result, L"HttpToMemTask::OnComplete"); }

private:
    bool StartHttp();
    int64_t Missing() const { return static_cast<int64_t>(bufferSize_) - position_; }
    bool ShortOfGoal() {
        if (Missing() == 0) return false;
        logger_->Log(L"HttpToMemTask::OnComplete", L"Data not complete %lld/%Iu.", position_,
                     static_cast<size_t>(bufferSize_));
        return true;
    }
    // A resumed request that got us no closer would be asked again forever.
    bool AddedNothing() const { return Missing() >= missingAtRequestStart_; }
    void Report(long result) {
        const Ref<ITaskCallback<HttpToMemResult&&>> callback = std::move(callback_);
        callback->OnComplete(HttpToMemResult{result, buffer_.get(), bufferSize_, status_});
    }
    void OnHttpStatusOK(int64_t total, const std::string& etag);
    void OnHttpStatusPartialContent(int64_t offset, int64_t size, int64_t total);

    std::wstring url_;
    Ref<ITaskCallback<HttpToMemResult&&>> callback_;    // until the report
    const Ref<IHttpCallback> httpCallback_;
    std::string etag_;
    int64_t position_ = 0;
    MallocBuffer<uint8_t> buffer_;
    uint32_t bufferSize_ = 0;
    int64_t missingAtRequestStart_ = 0;
    const uint32_t maxSize_;
    int32_t status_ = -1;
    Ref<ILogger> logger_;
};

void HttpToMemTask::Start() {
    details::KeepAlive keepAlive(this);
    if (!StartCall()) return;
    logger_->Log(L"HttpToMemTask::Start", L"Start download %s to memory.", url_.c_str());
    AddRef();
    FirstRequest(L"HttpToMemTask::OnComplete");
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
    ITask* http = httpCallback_ ? CreateHttpTask(url_.c_str(), range, httpCallback_.Get(), logger_.Get()) : nullptr;
    if (!http) {
        logger_->Log(L"HttpToMemTask::StartHttp", L"Create HttpTask failed.");
        return false;
    }
    missingAtRequestStart_ = Missing();
    http_.Reset(http);
    http->Start();
    return true;
}

void HttpToMemTask::OnHttpHeader(const HttpHeader& header) {
    status_ = header.status;
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
    if (total > maxSize_ && maxSize_ < kNoSizeLimit) {
        // Refused before a byte of it is read: the announced length is all it takes.
        logger_->Log(where, L"Content length %lld over the limit %u.", total, static_cast<unsigned>(maxSize_));
        Finish(kTooLargeHr);
        return;
    }
    if (total >= 0x7FFFFFFF) {
        logger_->Log(where, L"Buffer::SetSize(%lld) failed.", total);
        Finish(E_OUTOFMEMORY);
        return;
    }
    if (!buffer_ || total != bufferSize_) {
        buffer_.reset();
        // One spare byte so that an empty resource still gets a buffer of its own.
        buffer_ = AllocateBuffer<uint8_t>(static_cast<size_t>(total) + 1);
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
    std::memcpy(buffer_.get() + position_, buffer.data, buffer.size);
    position_ += buffer.size;
}

} // namespace

ITask* CreateHttpToMemTask(const wchar_t* url, ITaskCallback<HttpToMemResult&&>* callback, ILogger* logger,
                           uint32_t maxSize) {
    if (!url || !callback || !logger) return nullptr;
    return details::New<HttpToMemTask>(url, callback, logger, maxSize);
}

} // namespace downloader
