// Block-by-block SHA-1 of an open file on a thread-pool thread.
#include <windows.h>
#include <wincrypt.h>

#include <cstdlib>

#include "downloader/Downloader.h"
#include "downloader/Object.h"

namespace downloader {

namespace {

using stubframework::utils::CriticalSection;
using stubframework::utils::ScopedLock;

enum : int32_t { kIdle = 0, kRunning = 1, kCancelRequested = 2 };

bool Sha1(const uint8_t* data, DWORD size, BlockHash& digest) {
    // A fresh context per block keeps each block independent of the last one's failure.
    HCRYPTPROV provider = 0;
    if (!::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return false;
    bool ok = false;
    HCRYPTHASH hash = 0;
    if (::CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash)) {
        DWORD length = static_cast<DWORD>(digest.size());
        ok = ::CryptHashData(hash, data, size, 0) && ::CryptGetHashParam(hash, HP_HASHVAL, digest.data(), &length, 0) &&
             length == digest.size();
        ::CryptDestroyHash(hash);
    }
    ::CryptReleaseContext(provider, 0);
    return ok;
}

class HashTask : public ITask {
public:
    HashTask(HANDLE file, IHashCallback* callback) : file_(file), callback_(callback) { callback_->AddRef(); }
    ~HashTask() {
        if (callback_) callback_->Release();    // never started
    }

    void Start() override {
        {
            ScopedLock lock(lock_);
            if (state_ != kIdle) return;
            state_ = kRunning;
        }
        AddRef();
        if (!::QueueUserWorkItem(&HashTask::Worker, this, WT_EXECUTELONGFUNCTION)) Report(HashFailed, nullptr);
    }
    void Cancel() override {
        ScopedLock lock(lock_);
        if (state_ == kRunning) state_ = kCancelRequested;
    }

private:
    bool CancelRequested() {
        ScopedLock lock(lock_);
        return state_ == kCancelRequested;
    }

    static DWORD WINAPI Worker(void* context) {
        static_cast<HashTask*>(context)->Run();
        return 0;
    }

    void Run() {
        uint8_t* buffer = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(kBlockSize)));
        if (!buffer) return Report(HashFailed, nullptr);
        if (CancelRequested()) return Report(HashCancelled, buffer);
        for (;;) {
            DWORD read = 0;
            if (!::ReadFile(file_, buffer, static_cast<DWORD>(kBlockSize), &read, nullptr)) {
                return Report(HashFailed, buffer);
            }
            if (read == 0) return Report(HashDone, buffer);
            BlockHash digest;
            if (!Sha1(buffer, read, digest)) return Report(HashFailed, buffer);
            callback_->OnHash(digest);
            if (CancelRequested()) return Report(HashCancelled, buffer);
        }
    }

    void Report(HashResult result, uint8_t* buffer) {
        IHashCallback* callback = callback_;
        callback_ = nullptr;
        callback->OnComplete(result);
        callback->Release();
        std::free(buffer);
        Release();
    }

    HANDLE file_;
    IHashCallback* callback_;
    int32_t state_ = kIdle;
    CriticalSection lock_;
};

} // namespace

ITask* CreateHashTask(HANDLE file, IHashCallback* callback) {
    if (!callback) return nullptr;
    return details::New<HashTask>(file, callback);
}

} // namespace downloader
