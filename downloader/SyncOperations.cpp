// Synchronous helpers over the tasks: fetch into memory, compare a file with its metadata.
#include <windows.h>

#include <cstring>

#include "downloader/Downloader.h"
#include "downloader/Object.h"
#include "downloader/Ref.h"

namespace downloader {

namespace {

using details::Object;
using stubframework::utils::ScopedFileHandle;
using stubframework::utils::ScopedHandle;

class HttpToMemCallback : public ITaskCallback<HttpToMemResult&&> {
public:
    HttpToMemCallback(std::vector<uint8_t>* out, HANDLE done) : out_(out), done_(done) {}
    void OnComplete(HttpToMemResult&& result) override {
        how_.result = result.result;
        how_.status = result.status;
        if (result.result >= 0) out_->assign(result.data, result.data + result.size);
        ::SetEvent(done_);
    }
    const MemoryFetch& How() const { return how_; }

private:
    std::vector<uint8_t>* out_;
    HANDLE done_;
    MemoryFetch how_;
};

class HashCallback : public IHashCallback {
public:
    HashCallback(const DownloadMetaSimple& meta, HANDLE done) : meta_(meta), done_(done) {}
    void SetTask(ITask* task) { task_ = task; }
    void OnHash(const BlockHash& digest) override {
        if (counter_ >= meta_.hashes.size() || digest != meta_.hashes[counter_]) {
            task_->Cancel();
            return;
        }
        ++counter_;
    }
    void OnComplete(HashResult result) override {
        result_ = result;
        ::SetEvent(done_);
    }
    HashResult Outcome() const { return result_; }
    uint64_t MatchedBlocks() const { return counter_; }

private:
    const DownloadMetaSimple& meta_;
    HANDLE done_;
    ITask* task_ = nullptr;
    uint64_t counter_ = 0;
    HashResult result_ = HashCancelled;
};

} // namespace

bool DownloadToMemory(const wchar_t* url, std::vector<uint8_t>& out, uint32_t maxSize, MemoryFetch* how) {
    const Ref<ILogger> logger(CreateNullLogger());
    ScopedHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const Ref<Object<HttpToMemCallback>> callback(done ? details::New<HttpToMemCallback>(&out, done.Get()) : nullptr);
    const Ref<ITask> task(callback && logger ? CreateHttpToMemTask(url, callback.Get(), logger.Get(), maxSize)
                                             : nullptr);
    if (!task) {
        if (how) *how = MemoryFetch{E_OUTOFMEMORY, -1};
        return false;
    }
    task->Start();
    ::WaitForSingleObject(done.Get(), INFINITE);
    if (how) *how = callback->How();
    return callback->How().result >= 0;
}

namespace {

// Hashes the open file against parsed metadata; check carries the published size already.
FileCheck CheckOpenFile(HANDLE file, const DownloadMetaSimple& meta, FileCheck check) {
    LARGE_INTEGER size = {}, start = {};
    if (!::GetFileSizeEx(file, &size) || !::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        check.outcome = FileCheck::ReadFailed;
        return check;
    }
    check.fileSize = size.QuadPart;

    ScopedHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const Ref<Object<HashCallback>> callback(done ? details::New<HashCallback>(meta, done.Get()) : nullptr);
    const Ref<ITask> task(callback ? CreateHashTask(file, callback.Get()) : nullptr);
    if (!task) {
        check.outcome = FileCheck::ReadFailed;
        return check;
    }
    callback->SetTask(task.Get());
    task->Start();
    ::WaitForSingleObject(done.Get(), INFINITE);
    const HashResult outcome = callback->Outcome();
    const uint64_t matched = callback->MatchedBlocks();

    if (outcome == HashFailed) {
        check.outcome = FileCheck::ReadFailed;
    } else if (matched < meta.hashes.size() && (outcome == HashCancelled || check.fileSize > static_cast<int64_t>(matched) * kBlockSize)) {
        check.outcome = FileCheck::BlockDiffers;
        check.block = matched;
    } else if (check.fileSize != meta.fileSize) {
        check.outcome = FileCheck::SizeDiffers;
        check.block = matched;
    } else {
        check.outcome = FileCheck::Match;
    }
    return check;
}

// The metadata parsed once; BadMeta when it does not parse.
bool ParseMeta(const std::vector<uint8_t>& metaBytes, DownloadMetaSimple& meta, FileCheck& check) {
    if (!CreateDownloadMetaSimple(metaBytes, &meta)) {
        check.outcome = FileCheck::BadMeta;
        return false;
    }
    check.publishedSize = meta.fileSize;
    return true;
}

} // namespace

FileCheck CheckFileWithMeta(const wchar_t* path, const std::vector<uint8_t>& metaBytes) {
    FileCheck check;
    DownloadMetaSimple meta;
    if (!ParseMeta(metaBytes, meta, check)) return check;
    // Readers may share; writers may not while the file is judged.
    ScopedFileHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                        nullptr));
    if (!file) {
        check.outcome = FileCheck::OpenFailed;
        return check;
    }
    return CheckOpenFile(file.Get(), meta, check);
}

FileCheck CheckFileHandleWithMeta(HANDLE file, const std::vector<uint8_t>& metaBytes) {
    FileCheck check;
    DownloadMetaSimple meta;
    if (!ParseMeta(metaBytes, meta, check)) return check;
    return CheckOpenFile(file, meta, check);
}

bool VerifyFileWithMeta(const wchar_t* path, const std::vector<uint8_t>& meta) {
    // Every block matching is not enough: a short file matches all of its blocks too.
    return CheckFileWithMeta(path, meta).outcome == FileCheck::Match;
}

} // namespace downloader
