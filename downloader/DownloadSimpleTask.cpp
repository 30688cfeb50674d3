// Resumable, block-verified download of one package: metadata, verify, download, verify again.
#include <windows.h>

#include <algorithm>
#include <string>

#include "downloader/Downloader.h"
#include "downloader/Object.h"

namespace downloader {

namespace {

using details::Object;
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
                       ILogger* logger, MetaCheck check)
        : url_(url), metaUrl_(metaUrl), path_(path), callback_(callback), check_(std::move(check)), logger_(logger) {
        callback_->AddRef();
        logger_->AddRef();
    }
    ~DownloadSimpleTask() {
        if (callback_) callback_->Release();    // never started
        if (inner_) inner_->Release();
        logger_->Release();
    }

    void Start() override;
    void Cancel() override {
        logger_->Log(L"DownloadSimpleTask::Cancel", L"Cancel.");
        Finish(E_ABORT);
    }

    void OnMetaComplete(HttpToMemResult&& result);
    void OnHash(const BlockHash& digest);
    void OnHashComplete(HashResult result);
    void OnFileProgress(int64_t offset, int64_t count);
    void OnDownloadComplete(long result);

private:
    void CloseInner() {
        if (inner_) inner_->Cancel();
    }
    bool StartMeta();
    bool PrepareStart();
    bool StartHash();
    bool StartDownload();
    void ReleaseInner() {
        if (inner_) {
            inner_->Release();
            inner_ = nullptr;
        }
    }
    void Report();

    std::wstring url_;
    std::wstring metaUrl_;
    std::wstring path_;
    IDownloadCallback* callback_;
    MetaCheck check_;
    ITask* inner_ = nullptr;
    DownloadMetaSimple meta_;
    ScopedFileHandle file_;
    uint32_t block_ = 0;
    int64_t progress_ = 0;
    int64_t total_ = 0;
    // The bad block the last verify pass stopped at, and whether a download has run since.
    uint32_t lastBadBlock_ = kNoBlock;
    bool downloadedSinceVerify_ = false;
    ILogger* logger_;
};

void DownloadMetaCallback::OnComplete(HttpToMemResult&& result) {
    owner_->AddRef();
    owner_->OnMetaComplete(std::move(result));
    owner_->Release();
}
void HashCallback::OnHash(const BlockHash& digest) { owner_->OnHash(digest); }
void HashCallback::OnComplete(HashResult result) {
    owner_->AddRef();
    owner_->OnHashComplete(result);
    owner_->Release();
}
void DownloadFileCallback::OnProgress(int64_t offset, int64_t count) { owner_->OnFileProgress(offset, count); }
void DownloadFileCallback::OnComplete(long result) {
    owner_->AddRef();
    owner_->OnDownloadComplete(result);
    owner_->Release();
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
    Object<DownloadMetaCallback>* callback = details::New<DownloadMetaCallback>(this);
    if (!callback) {
        logger_->Log(L"DownloadSimpleTask::StartMeta", L"Create DownloadMetaCallback failed.");
        return false;
    }
    ITask* task = CreateHttpToMemTask(metaUrl_.c_str(), callback, logger_);
    callback->Release();
    if (!task) {
        logger_->Log(L"DownloadSimpleTask::StartMeta", L"Create HttpToMemTask failed.");
        return false;
    }
    inner_ = task;
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
    file_.Reset(::CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
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
    Object<HashCallback>* callback = details::New<HashCallback>(this);
    if (!callback) {
        logger_->Log(where, L"Create HashCallback failed.");
        Finish(E_OUTOFMEMORY);
        return false;
    }
    ITask* task = CreateHashTask(file_.Get(), callback);
    callback->Release();
    if (!task) {
        logger_->Log(where, L"Create HashTask failed.");
        Finish(E_OUTOFMEMORY);
        return false;
    }
    inner_ = task;
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
        inner_->Cancel();
        return;
    }
    ++block_;
    const int64_t verified = std::min(static_cast<int64_t>(block_) * kBlockSize, total_);
    if (verified > progress_) progress_ = verified;
    callback_->OnProgress(progress_, total_);
}

void DownloadSimpleTask::OnHashComplete(HashResult result) {
    const wchar_t* where = L"DownloadSimpleTask::OnHashComplete";
    if (BeginCall()) {
        if (result == HashFailed) {
            logger_->Log(where, L"Hash failed.");
            Finish(E_FAIL);
        } else if (block_ < meta_.hashes.size()) {
            logger_->Log(where, L"Hash mismatch.");
            if (downloadedSinceVerify_ && block_ == lastBadBlock_) {
                // The server sent the same wrong bytes again; downloading once more cannot help.
                logger_->Log(where, L"Block %Iu still differs after download.", static_cast<size_t>(block_));
                Finish(E_FAIL);
            } else {
                lastBadBlock_ = block_;
                ReleaseInner();
                if (StartDownload()) {
                    EndCall();
                    return;
                }
            }
        } else {
            logger_->Log(where, L"Hash success.");
            Finish(S_OK);
        }
        EndCall();
    }
    Report();
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
    Object<DownloadFileCallback>* callback = details::New<DownloadFileCallback>(this);
    if (!callback) {
        logger_->Log(where, L"Create DownloadFileCallback failed.");
        Finish(E_OUTOFMEMORY);
        return false;
    }
    ITask* task = CreateHttpToFileTask(url_.c_str(), file_.Get(), offset, total_ - offset, callback, logger_);
    callback->Release();
    if (!task) {
        logger_->Log(where, L"Create HttpToFileTask failed.");
        Finish(E_OUTOFMEMORY);
        return false;
    }
    inner_ = task;
    downloadedSinceVerify_ = true;
    task->Start();
    return true;
}

void DownloadSimpleTask::OnFileProgress(int64_t offset, int64_t count) {
    progress_ = offset + count;
    callback_->OnProgress(progress_, total_);
}

void DownloadSimpleTask::OnDownloadComplete(long result) {
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
    IDownloadCallback* callback = callback_;
    callback_ = nullptr;
    callback->OnComplete(Result());
    callback->Release();
    Release();
}

} // namespace

ITask* CreateDownloadSimpleTask(const wchar_t* url, const wchar_t* metaUrl, const wchar_t* path,
                                IDownloadCallback* callback, ILogger* logger) {
    return CreateDownloadSimpleTask(url, metaUrl, path, callback, logger, MetaCheck());
}

ITask* CreateDownloadSimpleTask(const wchar_t* url, const wchar_t* metaUrl, const wchar_t* path,
                                IDownloadCallback* callback, ILogger* logger, MetaCheck check) {
    if (!url || !metaUrl || !path || !callback || !logger) return nullptr;
    return details::New<DownloadSimpleTask>(url, metaUrl, path, callback, logger, std::move(check));
}

} // namespace downloader
