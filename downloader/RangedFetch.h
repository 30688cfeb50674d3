// What the two fetch tasks (a byte range into a file, a whole resource into memory) share: the
// callback they hand to their inner HttpTask, and the end of each request, which either asks
// again from where the data stopped or reports the task's result.
#pragma once
#include "downloader/Downloader.h"
#include "downloader/Object.h"
#include "downloader/Ref.h"

namespace downloader { namespace details {

// Forwards an inner HttpTask's reports to its owner.
template <typename Owner>
class HttpForwarder : public IHttpCallback, public OwnerLink<Owner> {
public:
    using OwnerLink<Owner>::OwnerLink;
    void OnComplete(long result) override {
        // A continuation that fails inside its Start reports on this thread and may end the owner.
        KeepAlive keep(this->owner_);
        this->owner_->OnComplete(result);
    }
    void OnHttpHeader(const HttpHeader& header) override { this->owner_->OnHttpHeader(header); }
    void OnData(const Buffer& buffer) override { this->owner_->OnData(buffer); }
};

// T supplies StartHttp() (fills http_), ShortOfGoal() (logs the shortfall itself), AddedNothing()
// (this request brought no byte closer), Report(result) (hands the result to its callback) and
// logger_, and names RangedFetch<T> and TaskLock<T, long> as friends.
template <typename T>
class RangedFetch : public TaskLock<T, long> {
protected:
    // After Start's own checks and its reference for the run: the first request, or the report.
    void FirstRequest(const wchar_t* where) {
        if (Self()->StartHttp()) {
            this->EndCall();
            return;
        }
        this->Finish(E_OUTOFMEMORY);
        CompleteSequence(where);
    }

    // The inner request ended with result.
    void EndOfRequest(long result, const wchar_t* where) {
        if (this->BeginCall()) {
            if (result >= 0 && Self()->ShortOfGoal()) {
                if (continuation_ && Self()->AddedNothing()) {
                    // The server ended a resumed request cleanly without a single new byte;
                    // asking again would loop forever.
                    Self()->logger_->Log(where, L"Continuation added no data.");
                    result = kInvalidServerAnswerHr;
                } else {
                    http_.Reset();
                    continuation_ = true;
                    if (Self()->StartHttp()) {
                        this->EndCall();
                        return;
                    }
                    result = E_OUTOFMEMORY;
                }
            }
            this->Finish(result);
            this->EndCall();
        }
        CompleteSequence(where);
    }

    void CloseInner() {
        if (http_) http_->Cancel();
    }

    Ref<ITask> http_;
    bool continuation_ = false;

private:
    void CompleteSequence(const wchar_t* where) {
        Self()->logger_->Log(where, L"Complete.");
        http_.Reset();
        Self()->Report(this->Result());
        Self()->Release();    // the run's reference, taken in Start
    }

    T* Self() { return static_cast<T*>(this); }
};

}} // namespace downloader::details
