// Resumable, block-verified download of one package: metadata, verify, download, verify again.
#include <windows.h>

#include <algorithm>
#include <string>

#include "downloader/Downloader.h"
#include "downloader/HashTask.h"
#include "downloader/Object.h"
#include "downloader/Ref.h"

namespace downloader {

namespace {

using stubframework::utils::ScopedFileHandle;

constexpr uint32_t kNoBlock = 0xFFFFFFFFu;

class DownloadSimpleTask;

class DownloadMetaCallback : public ITaskCallback<HttpToMemResult&&>, public details::OwnerLink<DownloadSimpleTask> {
public:
    using OwnerLink::OwnerLink;
    void OnComplete(HttpToMemResult&& result) override;
};

class HashCallback : public IHashCallback, public details::OwnerLink<DownloadSimpleTask> {
public:
    using OwnerLink::OwnerLink;
    void OnHash(const BlockHash& digest) override;
    void OnComplete(HashResult result) override;
};

// The hash task that trails the transfer.
class TrailCallback : public IHashCallback, public details::OwnerLink<DownloadSimpleTask> {
public:
    using OwnerLink::OwnerLink;
    void OnHash(const BlockHash& digest) override;
    void OnComplete(HashResult result) override;
};

class DownloadFileCallback : public IHttpToFileCallback, public details::OwnerLink<DownloadSimpleTask> {
public:
    using OwnerLink::OwnerLink;
    void OnProgress(int64_t offset, int64_t count) override;
    void OnComplete(long result) override;
};

class DownloadSimpleTask : public ITask, public details::TaskLock<DownloadSimpleTask, long> {
    friend class details::TaskLock<DownloadSimpleTask, long>;
public:
    DownloadSimpleTask(const wchar_t* url, const wchar_t* metaUrl, const wchar_t* path, IDownloadCallback* callback,
                       ILogger* logger, MetaCheck check, bool askAgain)
        : url_(url), metaUrl_(metaUrl), path_(path), callback_(Ref<IDownloadCallback>::Share(callback)),
          check_(std::move(check)), askAgain_(askAgain), logger_(Ref<ILogger>::Share(logger)) {}

    void Start() override;
    void Cancel() override {
        logger_->Log(L"DownloadSimpleTask::Cancel", L"Cancel.");
        Finish(E_ABORT);
    }

    void OnMetaComplete(HttpToMemResult&& result);
    void OnHash(const BlockHash& digest);
    void OnHashComplete(HashResult result);
    void OnTrailComplete(HashResult result);
    void OnFileProgress(int64_t offset, int64_t count);
    void OnDownloadComplete(long result);

private:
    void CloseInner() {
        if (inner_) inner_->Cancel();
        if (trail_) trail_->Cancel();
    }
    bool StartMeta();
    bool PrepareStart();
    bool StartHash();
    bool StartDownload();
    Ref<details::ITrailingHashTask> CreateTrail(int64_t offset);
    void TransferPartEnded();
    bool AfterHash(const wchar_t* where);
    void DecideAfterHash(long failure, bool hashFailed);
    void ReleaseInner() {
        inner_.Reset();
        trail_.Reset();
        reader_.Reset();
    }
    void Report();

    std::wstring url_;
    std::wstring metaUrl_;
    std::wstring path_;
    Ref<IDownloadCallback> callback_;    // until the report
    MetaCheck check_;
    bool askAgain_;
    Ref<ITask> inner_;
    // While a transfer runs: the hash task that verifies each block once it is written, reading
    // through its own handle, and how many of the two have not ended yet.
    Ref<details::ITrailingHashTask> trail_;
    ScopedFileHandle reader_;
    volatile LONG running_ = 0;
    long transferResult_ = S_OK;
    HashResult trailResult_ = HashDone;
    volatile LONG stoppedAtBadBlock_ = 0;
    DownloadMetaSimple meta_;
    ScopedFileHandle file_;
    uint32_t block_ = 0;
    int64_t progress_ = 0;
    int64_t total_ = 0;
    // The bad block the last verify pass stopped at, and whether a download has run since.
    uint32_t lastBadBlock_ = kNoBlock;
    bool downloadedSinceVerify_ = false;
    Ref<ILogger> logger_;
};

void DownloadMetaCallback::OnComplete(HttpToMemResult&& result) {
    details::KeepAlive keepAlive(owner_);
    owner_->OnMetaComplete(std::move(result));
}
void HashCallback::OnHash(const BlockHash& digest) { owner_->OnHash(digest); }
void HashCallback::OnComplete(HashResult result) {
    details::KeepAlive keepAlive(owner_);
    owner_->OnHashComplete(result);
}
void TrailCallback::OnHash(const BlockHash& digest) { owner_->OnHash(digest); }
void TrailCallback::OnComplete(HashResult result) {
    details::KeepAlive keepAlive(owner_);
    owner_->OnTrailComplete(result);
}
void DownloadFileCallback::OnProgress(int64_t offset, int64_t count) { owner_->OnFileProgress(offset, count); }
void DownloadFileCallback::OnComplete(long result) {
    details::KeepAlive keepAlive(owner_);
    owner_->OnDownloadComplete(result);
}

void DownloadSimpleTask::Start() {
    details::KeepAlive keepAlive(this);
    if (!StartCall()) return;
    logger_->Log(L"DownloadSimpleTask::Start", L"Start download %s to %s.", url_.c_str(), path_.c_str());
    AddRef();
    if (StartMeta()) {
        EndCall();
        return;
    }
    Finish(E_OUTOFMEMORY);
    Report();
}

bool DownloadSimpleTask::StartMeta() {
    const Ref<ITaskCallback<HttpToMemResult&&>> callback(details::New<DownloadMetaCallback>(this));
    if (!callback) {
        logger_->Log(L"DownloadSimpleTask::StartMeta", L"Create DownloadMetaCallback failed.");
        return false;
    }
    ITask* task = CreateHttpToMemTask(metaUrl_.c_str(), callback.Get(), logger_.Get());
    if (!task) {
        logger_->Log(L"DownloadSimpleTask::StartMeta", L"Create HttpToMemTask failed.");
        return false;
    }
    inner_.Reset(task);
    task->Start();
    return true;
}

void DownloadSimpleTask::OnMetaComplete(HttpToMemResult&& result) {
    if (BeginCall()) {
        const long accepted = result.result >= 0 && check_ ? check_(result.data, result.size) : S_OK;
        if (result.result < 0) {
            Finish(result.result);
        } else if (accepted < 0) {
            logger_->Log(L"DownloadSimple::OnMetaComplete", L"Metadata refused %x.", static_cast<unsigned>(accepted));
            Finish(accepted);
        } else if (!CreateDownloadMetaSimple(result.data, result.size, &meta_)) {
            logger_->Log(L"DownloadSimple::OnMetaComplete", L"CreateDownloadMetaSimple failed.");
            Finish(E_FAIL);
        } else {
            total_ = meta_.fileSize;
            progress_ = 0;
            callback_->OnProgress(0, total_);
            if (PrepareStart()) {
                ReleaseInner();
                if (StartHash()) {
                    EndCall();
                    return;
                }
            }
        }
        EndCall();
    }
    Report();
}

bool DownloadSimpleTask::PrepareStart() {
    const wchar_t* where = L"DownloadSimpleTask::PrepareStart";
    // Read sharing lets the hash task that trails a transfer open its own handle.
    file_.Reset(::CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) {
        const DWORD error = ::GetLastError();
        logger_->Log(where, L"CreateFileW failed %u.", static_cast<unsigned>(error));
        Finish(HResultFromWin32(error));
        return false;
    }
    // The file gets its published size once, extended or cut, before anything is written.
    LARGE_INTEGER size;
    size.QuadPart = total_;
    if (!::SetFilePointerEx(file_.Get(), size, nullptr, FILE_BEGIN)) {
        const DWORD error = ::GetLastError();
        logger_->Log(where, L"SetFilePointerEx failed %u.", static_cast<unsigned>(error));
        Finish(HResultFromWin32(error));
        file_.Reset();
        return false;
    }
    if (!::SetEndOfFile(file_.Get())) {
        const DWORD error = ::GetLastError();
        logger_->Log(where, L"SetEndOfFile failed %u.", static_cast<unsigned>(error));
        Finish(HResultFromWin32(error));
        file_.Reset();
        return false;
    }
    block_ = 0;
    return true;
}

bool DownloadSimpleTask::StartHash() {
    const wchar_t* where = L"DownloadSimpleTask::StartHash";
    LARGE_INTEGER position;
    position.QuadPart = static_cast<int64_t>(block_) * kBlockSize;
    if (!::SetFilePointerEx(file_.Get(), position, nullptr, FILE_BEGIN)) {
        const DWORD error = ::GetLastError();
        logger_->Log(where, L"SetFilePointerEx failed %u.", static_cast<unsigned>(error));
        Finish(HResultFromWin32(error));
        return false;
    }
    const Ref<IHashCallback> callback(details::New<HashCallback>(this));
    if (!callback) {
        logger_->Log(where, L"Create HashCallback failed.");
        Finish(E_OUTOFMEMORY);
        return false;
    }
    ITask* task = CreateHashTask(file_.Get(), callback.Get());
    if (!task) {
        logger_->Log(where, L"Create HashTask failed.");
        Finish(E_OUTOFMEMORY);
        return false;
    }
    inner_.Reset(task);
    logger_->Log(where, L"Start hash from block %Iu.", static_cast<size_t>(block_));
    task->Start();
    return true;
}

void DownloadSimpleTask::OnHash(const BlockHash& digest) {
    const size_t blocks = meta_.hashes.size();
    if (block_ >= blocks) {
        logger_->Log(L"DownloadSimpleTask::OnHash", L"Unexpected hash data %Iu/%Iu.", static_cast<size_t>(block_),
                     blocks);
        Finish(E_FAIL);
        return;
    }
    if (digest != meta_.hashes[block_]) {
        logger_->Log(L"DownloadSimpleTask::OnHash", L"Hash mismatch found for block %Iu.", static_cast<size_t>(block_));
        if (trail_) {
            // Bytes after a wrong block are not worth fetching: the transfer ends here.
            ::InterlockedExchange(&stoppedAtBadBlock_, 1);
            trail_->Cancel();
        }
        inner_->Cancel();
        return;
    }
    ++block_;
    // While a transfer runs, progress counts the bytes written; the hash trails them.
    if (trail_) return;
    const int64_t verified = std::min(static_cast<int64_t>(block_) * kBlockSize, total_);
    if (verified > progress_) progress_ = verified;
    callback_->OnProgress(progress_, total_);
}

void DownloadSimpleTask::OnHashComplete(HashResult result) { DecideAfterHash(S_OK, result == HashFailed); }

// The end of a hash pass, or of a transfer with its in-stream hashing: a failure ends the task,
// otherwise the checked blocks decide (see AfterHash).
void DownloadSimpleTask::DecideAfterHash(long failure, bool hashFailed) {
    const wchar_t* where = L"DownloadSimpleTask::OnHashComplete";
    if (BeginCall()) {
        if (failure < 0) {
            Finish(failure);
        } else if (hashFailed) {
            logger_->Log(where, L"Hash failed.");
            Finish(E_FAIL);
        } else if (AfterHash(where)) {
            EndCall();
            return;
        }
        EndCall();
    }
    Report();
}

// Every block up to block_ matched: the task succeeds, fails, or downloads from block_ again.
// True when a download runs.
bool DownloadSimpleTask::AfterHash(const wchar_t* where) {
    if (block_ >= meta_.hashes.size()) {
        logger_->Log(where, L"Hash success.");
        Finish(S_OK);
        return false;
    }
    logger_->Log(where, L"Hash mismatch.");
    if (downloadedSinceVerify_ && (block_ == lastBadBlock_ || !askAgain_)) {
        // The server sent the same wrong bytes again, or another address is to serve them:
        // downloading once more from here cannot help.
        logger_->Log(where, askAgain_ ? L"Block %Iu still differs after download." : L"Block %Iu differs after download.",
                     static_cast<size_t>(block_));
        Finish(kBlockRefusedHr);
        return false;
    }
    lastBadBlock_ = block_;
    ReleaseInner();
    return StartDownload();
}

bool DownloadSimpleTask::StartDownload() {
    const wchar_t* where = L"DownloadSimpleTask::StartDownload";
    const int64_t offset = static_cast<int64_t>(block_) * kBlockSize;
    LARGE_INTEGER position;
    position.QuadPart = offset;
    if (!::SetFilePointerEx(file_.Get(), position, nullptr, FILE_BEGIN)) {
        const DWORD error = ::GetLastError();
        logger_->Log(where, L"SetFilePointerEx failed %u.", static_cast<unsigned>(error));
        Finish(HResultFromWin32(error));
        return false;
    }
    progress_ = offset;
    callback_->OnProgress(progress_, total_);
    const Ref<IHttpToFileCallback> callback(details::New<DownloadFileCallback>(this));
    if (!callback) {
        logger_->Log(where, L"Create DownloadFileCallback failed.");
        Finish(E_OUTOFMEMORY);
        return false;
    }
    ITask* task =
        CreateHttpToFileTask(url_.c_str(), file_.Get(), offset, total_ - offset, callback.Get(), logger_.Get());
    if (!task) {
        logger_->Log(where, L"Create HttpToFileTask failed.");
        Finish(E_OUTOFMEMORY);
        return false;
    }
    inner_.Reset(task);
    downloadedSinceVerify_ = true;
    // Without a trailing hash the file is verified after the transfer, as a partial file is.
    trail_ = CreateTrail(offset);
    transferResult_ = S_OK;
    trailResult_ = HashDone;
    stoppedAtBadBlock_ = 0;
    running_ = trail_ ? 2 : 1;
    if (trail_) {
        logger_->Log(L"DownloadSimpleTask::StartHash", L"Start hash from block %Iu.", static_cast<size_t>(block_));
        trail_->Start();
    }
    task->Start();
    return true;
}

Ref<details::ITrailingHashTask> DownloadSimpleTask::CreateTrail(int64_t offset) {
    reader_.Reset(::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!reader_) {
        logger_->Log(L"DownloadSimpleTask::StartDownload", L"CreateFileW for reading failed %u.",
                     static_cast<unsigned>(::GetLastError()));
        return Ref<details::ITrailingHashTask>();
    }
    const Ref<IHashCallback> callback(details::New<TrailCallback>(this));
    Ref<details::ITrailingHashTask> trail(
        callback ? details::CreateTrailingHashTask(reader_.Get(), offset, total_, callback.Get()) : nullptr);
    if (!trail) reader_.Reset();
    return trail;
}

void DownloadSimpleTask::OnFileProgress(int64_t offset, int64_t count) {
    progress_ = offset + count;
    callback_->OnProgress(progress_, total_);
    if (trail_) trail_->Advance(progress_);
}

void DownloadSimpleTask::OnTrailComplete(HashResult result) {
    trailResult_ = result;
    // Without its hashes the transfer cannot be trusted; the verdict waits for its end.
    if (result == HashFailed) inner_->Cancel();
    TransferPartEnded();
}

// The transfer or its trailing hash ended; the second to end decides what follows.
void DownloadSimpleTask::TransferPartEnded() {
    if (::InterlockedDecrement(&running_) != 0) return;
    // A transfer stopped at a bad block failed on purpose: the blocks decide what comes next.
    const bool stopped = ::InterlockedCompareExchange(&stoppedAtBadBlock_, 0, 0) != 0;
    DecideAfterHash(stopped ? S_OK : transferResult_, trailResult_ == HashFailed);
}

void DownloadSimpleTask::OnDownloadComplete(long result) {
    if (trail_) {
        transferResult_ = result;
        // A failed transfer is resumed by verifying the file again; its hashes no longer count.
        if (result < 0) trail_->Cancel();
        else trail_->EndOfWrites();
        TransferPartEnded();
        return;
    }
    if (BeginCall()) {
        if (result < 0) {
            Finish(result);
        } else {
            ReleaseInner();
            if (StartHash()) {
                EndCall();
                return;
            }
        }
        EndCall();
    }
    Report();
}

// The complete sequence: every path of the task ends here exactly once.
void DownloadSimpleTask::Report() {
    ReleaseInner();
    file_.Reset();
    {
        const Ref<IDownloadCallback> callback = std::move(callback_);
        callback->OnComplete(Result());
    }
    Release();    // the run's reference, taken in Start
}

} // namespace

ITask* CreateDownloadSimpleTask(const wchar_t* url, const wchar_t* metaUrl, const wchar_t* path,
                                IDownloadCallback* callback, ILogger* logger) {
    return CreateDownloadSimpleTask(url, metaUrl, path, callback, logger, MetaCheck());
}

ITask* CreateDownloadSimpleTask(const wchar_t* url, const wchar_t* metaUrl, const wchar_t* path,
                                IDownloadCallback* callback, ILogger* logger, MetaCheck check,
                                bool askAgainForBadBlock) {
    if (!url || !metaUrl || !path || !callback || !logger) return nullptr;
    return details::New<DownloadSimpleTask>(url, metaUrl, path, callback, logger, std::move(check),
                                            askAgainForBadBlock);
}

} // namespace downloader
