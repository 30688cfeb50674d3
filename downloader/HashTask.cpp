// Block-by-block SHA-1 of an open file on thread-pool threads: one worker per processor reads
// whole blocks at their own offsets and hashes them; the digests are handed on in block order.
#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "downloader/BlockDigest.h"
#include "downloader/HashTask.h"
#include "downloader/Object.h"
#include "downloader/Ref.h"
#include "stubframework/utils/MallocBuffer.h"

namespace downloader {

namespace {

using stubframework::utils::AllocateBuffer;

// Each worker holds one block buffer: the cap keeps memory flat on large machines.
constexpr unsigned kMaxWorkers = 4;

// Reads exactly size bytes at offset, whatever the handle's file pointer; it is not used.
bool ReadAt(HANDLE file, int64_t offset, uint8_t* buffer, DWORD size) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    DWORD read = 0;
    return ::ReadFile(file, buffer, size, &read, &at) && read == size;
}

unsigned WorkerCount(uint64_t blocks) {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    const unsigned processors = info.dwNumberOfProcessors ? info.dwNumberOfProcessors : 1;
    return static_cast<unsigned>(std::min<uint64_t>(std::min(processors, kMaxWorkers), std::max<uint64_t>(blocks, 1)));
}

class HashTask : public details::ITrailingHashTask {
public:
    // end < 0: from the file pointer to the end of the file, both as they are at Start.
    HashTask(HANDLE file, int64_t offset, int64_t end, int64_t mark, IHashCallback* callback)
        : file_(file), offset_(offset), end_(end), callback_(Ref<IHashCallback>::Share(callback)), mark_(mark) {}

    void Start() override;
    void Cancel() override {
        std::lock_guard<std::mutex> lock(lock_);
        if (started_) cancelled_ = true;
        wake_.notify_all();
    }
    void Advance(int64_t written) override {
        std::lock_guard<std::mutex> lock(lock_);
        if (written <= mark_) return;
        // Workers wait for whole blocks: only a mark that completes one is worth waking them for.
        const bool completes = (written - offset_) / kBlockSize != (mark_ - offset_) / kBlockSize || written >= end_;
        mark_ = written;
        if (completes) wake_.notify_all();
    }
    void EndOfWrites() override {
        std::lock_guard<std::mutex> lock(lock_);
        writesEnded_ = true;
        wake_.notify_all();
    }

private:
    static DWORD WINAPI Worker(void* context) {
        static_cast<HashTask*>(context)->Run();
        return 0;
    }
    void Run();
    void HashBlocks();
    // With the lock held: false when this worker is to stop, else the next block to hash.
    bool Claim(std::unique_lock<std::mutex>& lock, uint64_t& block);
    // With the lock held: hands on every digest that is next in order, one reporter at a time.
    void ReportInOrder(std::unique_lock<std::mutex>& lock);
    void WorkerEnds();
    bool Stopping() const { return cancelled_ || failed_; }

    HANDLE file_;
    int64_t offset_;
    int64_t end_;
    Ref<IHashCallback> callback_;    // handed its result, then let go, by the last worker

    std::mutex lock_;
    std::condition_variable wake_;
    int64_t mark_;                 // the writer's mark: bytes before it are in the file
    bool writesEnded_ = false;
    bool started_ = false;
    bool cancelled_ = false;
    bool failed_ = false;
    bool reporting_ = false;
    uint64_t blocks_ = 0;
    uint64_t next_ = 0;            // next block to claim
    uint64_t reported_ = 0;        // next block to hand on
    unsigned workers_ = 0;
    // Digests done but not yet handed on, by block index modulo the window.
    static constexpr unsigned kWindow = 2 * kMaxWorkers;
    BlockHash done_[kWindow];
    bool ready_[kWindow] = {};
};

void HashTask::Start() {
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (started_) return;
        started_ = true;
    }
    if (end_ < 0) {
        LARGE_INTEGER zero = {}, position = {}, size = {};
        if (!::SetFilePointerEx(file_, zero, &position, FILE_CURRENT) || !::GetFileSizeEx(file_, &size)) {
            failed_ = true;
        } else {
            offset_ = position.QuadPart;
            end_ = mark_ = std::max(size.QuadPart, position.QuadPart);
        }
    }
    blocks_ = BlockCount(end_ - offset_);
    const unsigned wanted = WorkerCount(blocks_);
    std::unique_lock<std::mutex> lock(lock_);
    // Each queued worker holds a reference; the last one to end reports.
    workers_ = 1;
    AddRef();
    for (unsigned i = 0; i < wanted; ++i) {
        ++workers_;
        AddRef();
        lock.unlock();
        const bool queued = ::QueueUserWorkItem(&HashTask::Worker, this, WT_EXECUTELONGFUNCTION) != FALSE;
        lock.lock();
        if (!queued) {
            --workers_;
            Release();    // the reference of the worker that never ran
            if (i == 0) failed_ = true;
            break;
        }
    }
    lock.unlock();
    WorkerEnds();    // the starter's own share
}

bool HashTask::Claim(std::unique_lock<std::mutex>& lock, uint64_t& block) {
    for (;;) {
        if (Stopping() || next_ >= blocks_) return false;
        const int64_t blockEnd = std::min(offset_ + static_cast<int64_t>(next_ + 1) * kBlockSize, end_);
        const bool written = blockEnd <= mark_;
        if (!written && writesEnded_) return false;
        if (written && next_ < reported_ + kWindow) {
            block = next_++;
            return true;
        }
        wake_.wait(lock);
    }
}

void HashTask::ReportInOrder(std::unique_lock<std::mutex>& lock) {
    if (reporting_) return;     // that reporter hands this digest on too
    reporting_ = true;
    while (!Stopping() && reported_ < blocks_ && ready_[reported_ % kWindow]) {
        const BlockHash digest = done_[reported_ % kWindow];
        ready_[reported_ % kWindow] = false;
        ++reported_;
        lock.unlock();
        callback_->OnHash(digest);
        lock.lock();
    }
    reporting_ = false;
    wake_.notify_all();    // the window moved
}

void HashTask::Run() {
    HashBlocks();
    WorkerEnds();
}

// The worker's share of the blocks; its buffer and provider are gone before it ends.
void HashTask::HashBlocks() {
    const auto buffer = AllocateBuffer<uint8_t>(static_cast<size_t>(kBlockSize));
    BlockDigest digester;
    std::unique_lock<std::mutex> lock(lock_);
    if (!buffer) failed_ = true;
    uint64_t block = 0;
    while (Claim(lock, block)) {
        lock.unlock();
        const int64_t at = offset_ + static_cast<int64_t>(block) * kBlockSize;
        const DWORD size = static_cast<DWORD>(std::min(kBlockSize, end_ - at));
        BlockHash digest;
        const bool ok = ReadAt(file_, at, buffer.get(), size) && digester.Digest(buffer.get(), size, digest);
        lock.lock();
        if (!ok) {
            failed_ = true;
            wake_.notify_all();
            return;
        }
        done_[block % kWindow] = digest;
        ready_[block % kWindow] = true;
        ReportInOrder(lock);
    }
}

void HashTask::WorkerEnds() {
    HashResult result;
    bool last;
    {
        std::lock_guard<std::mutex> lock(lock_);
        last = --workers_ == 0;
        wake_.notify_all();
        result = failed_ ? HashFailed : cancelled_ ? HashCancelled : HashDone;
    }
    if (!last) {
        Release();    // this worker's; the last worker still holds its own
        return;
    }
    {
        const Ref<IHashCallback> callback = std::move(callback_);
        callback->OnComplete(result);
    }
    Release();    // this worker's reference, taken in Start
}

} // namespace

namespace details {
ITrailingHashTask* CreateTrailingHashTask(HANDLE file, int64_t offset, int64_t end, IHashCallback* callback) {
    if (!callback || offset < 0 || end < offset) return nullptr;
    return New<HashTask>(file, offset, end, offset, callback);    // nothing written yet
}
} // namespace details

ITask* CreateHashTask(HANDLE file, IHashCallback* callback) {
    if (!callback) return nullptr;
    return details::New<HashTask>(file, 0, -1, -1, callback);
}

} // namespace downloader
