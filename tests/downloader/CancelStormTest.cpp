// A thousand resumable downloads, each cancelled from another thread at a random moment:
// before Start, while the metadata comes, while the file is hashed, while it is transferred,
// or after the report. Every task must report exactly once, leave no object behind and no
// handle open.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>

#include "tests/downloader/Helpers.h"
#include "tests/support/TempFolder.h"

using namespace downloader;
using namespace dltest;
using stubframework::utils::ScopedHandle;

namespace {

constexpr int kDownloads = 1000;
constexpr int kPairs = 6;             // starter threads, each with its own cancelling thread
constexpr int kWarmUp = 2 * kPairs;
// Handles Wine creates on first use and keeps (thread-pool workers, WinINet's own threads and
// events); measured at 3 to 4 more after the storm than after a warm-up of the same shape.
constexpr DWORD kHandleSlack = 16;

enum Trigger { BeforeStart, Immediately, AfterDelay, WhileHashing, WhileTransferring, AfterReport, kTriggers };
enum Phase { NotStarted, Metadata, Hashing, Transferring, kPhases };
const char* const kTriggerNames[] = {"before Start", "at once", "after a delay", "while hashing",
                                     "while transferring", "after the report"};
const char* const kPhaseNames[] = {"not started", "metadata", "hashing", "transfer"};

// Follows the task's phases from its log lines and signals when hashing and transfer begin.
class PhaseLogger : public ILogger {
public:
    PhaseLogger()
        : hashing_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          transferring_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    void Log(const wchar_t* where, const wchar_t*, ...) override {
        const std::wstring name = where;
        if (name == L"DownloadSimpleTask::Start") {
            phase_ = Metadata;
        } else if (name == L"DownloadSimpleTask::StartHash") {
            phase_ = Hashing;
            ::SetEvent(hashing_.Get());
        } else if (name == L"HttpToFileTask::Start") {
            phase_ = Transferring;
            ::SetEvent(transferring_.Get());
        } else if (name == L"DownloadSimpleTask::Cancel") {
            phaseAtCancel_ = phase_;
        }
    }
    HANDLE HashingStarted() const { return hashing_.Get(); }
    HANDLE TransferStarted() const { return transferring_.Get(); }
    // The phase the task was in when its own Cancel ran (NotStarted when it never did).
    Phase AtCancel() const { return phaseAtCancel_; }
private:
    ScopedHandle hashing_, transferring_;
    volatile Phase phase_ = NotStarted;
    volatile Phase phaseAtCancel_ = NotStarted;
};

class StormCallback : public IDownloadCallback, public Completion {
public:
    void OnProgress(int64_t, int64_t) override {}
    void OnComplete(long hr) override {
        result = hr;
        Signal();
    }
    volatile long result = 1;
};

struct Job {
    ITask* task = nullptr;
    Object<StormCallback>* callback = nullptr;
    Object<PhaseLogger>* logger = nullptr;
    Trigger trigger = Immediately;
    DWORD delayMs = 0;
};

struct Tally {
    LONG byTrigger[kTriggers] = {};
    LONG byPhase[kPhases] = {};
    LONG completed = 0;
    LONG aborted = 0;
    LONG failures = 0;
};

class Storm {
public:
    Storm(unsigned seed, const std::wstring& url, const std::string& package, const testsupport::TempFolder& folder)
        : seed_(seed), url_(url), package_(package), folder_(folder) {}

    // Runs downloads [first, first + count) on the pairs of threads.
    void Run(int first, int count) {
        first_ = first;
        count_ = count;
        nextPair_ = 0;
        ScopedHandle threads[kPairs];
        for (int pair = 0; pair < kPairs; ++pair) {
            threads[pair].Reset(::CreateThread(nullptr, 0, &Storm::StarterThread, this, 0, nullptr));
            ASSERT_TRUE(threads[pair].IsValid());
            ::WaitForSingleObject(ready_.Get(), INFINITE);   // the thread has read its pair number
        }
        for (auto& thread : threads) EXPECT_EQ(::WaitForSingleObject(thread.Get(), 5 * kWaitMs), WAIT_OBJECT_0);
    }
    const Tally& Counts() const { return tally_; }
    // Each callback once its task is gone: a second report would still be counted.
    void CheckAndReleaseCallbacks() {
        stubframework::utils::ScopedLock lock(lock_);
        for (const auto& kept : callbacks_) {
            if (kept.second->Reports() != 1) {
                problems_.push_back("download " + std::to_string(kept.first) + ": " +
                                    std::to_string(kept.second->Reports()) + " reports in the end");
            }
            kept.second->Release();
        }
        callbacks_.clear();
    }
    std::vector<std::string> Problems() {
        stubframework::utils::ScopedLock lock(lock_);
        return problems_;
    }

private:
    struct Pair {
        Storm* storm;
        Job job;
        ScopedHandle jobReady{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
        ScopedHandle jobDone{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
        bool stop = false;
    };

    void Problem(int index, const std::string& text) {
        ::InterlockedIncrement(&tally_.failures);
        stubframework::utils::ScopedLock lock(lock_);
        if (problems_.size() < 20) problems_.push_back("download " + std::to_string(index) + ": " + text);
    }

    static DWORD WINAPI StarterThread(void* self) {
        Storm* storm = static_cast<Storm*>(self);
        const int pair = storm->nextPair_++;
        ::SetEvent(storm->ready_.Get());
        storm->Starter(pair);
        return 0;
    }

    static DWORD WINAPI CancellerThread(void* context) {
        Pair& pair = *static_cast<Pair*>(context);
        std::mt19937 random(pair.storm->seed_ ^ static_cast<unsigned>(reinterpret_cast<uintptr_t>(&pair)));
        for (;;) {
            ::WaitForSingleObject(pair.jobReady.Get(), INFINITE);
            if (pair.stop) return 0;
            Job& job = pair.job;
            HANDLE done = job.callback->DoneEvent();
            HANDLE phase = nullptr;
            switch (job.trigger) {
            case AfterDelay: ::WaitForSingleObject(done, job.delayMs); break;
            case WhileHashing: phase = job.logger->HashingStarted(); break;
            case WhileTransferring: phase = job.logger->TransferStarted(); break;
            case AfterReport: ::WaitForSingleObject(done, kWaitMs); break;
            default: break;
            }
            if (phase) {
                HANDLE either[] = {phase, done};
                ::WaitForMultipleObjects(2, either, FALSE, kWaitMs);
                ::Sleep(random() % 3);
            }
            job.task->Cancel();
            ::SetEvent(pair.jobDone.Get());
        }
    }

    void Starter(int pairNumber) {
        Pair pair;
        pair.storm = this;
        ScopedHandle canceller(::CreateThread(nullptr, 0, &Storm::CancellerThread, &pair, 0, nullptr));
        if (!canceller) {
            Problem(-1, "no cancelling thread");
            return;
        }
        for (int index = first_ + pairNumber; index < first_ + count_; index += kPairs) OneDownload(pair, index);
        pair.stop = true;
        ::SetEvent(pair.jobReady.Get());
        ::WaitForSingleObject(canceller.Get(), INFINITE);
    }

    void OneDownload(Pair& pair, int index) {
        std::mt19937 random(seed_ + static_cast<unsigned>(index));
        const Trigger trigger = static_cast<Trigger>(random() % kTriggers);
        const int start = static_cast<int>(random() % 3);   // no file, first block right, whole file
        const std::wstring target = folder_ / (L"storm" + std::to_wstring(index) + L".bin");
        if (start == 1) WriteWholeFile(target, package_.substr(0, 1048576));
        if (start == 2) WriteWholeFile(target, package_);

        Job& job = pair.job;
        job.callback = details::New<StormCallback>();
        job.logger = details::New<PhaseLogger>();
        const std::wstring meta = url_ + L".meta";
        job.task = CreateDownloadSimpleTask(url_.c_str(), meta.c_str(), target.c_str(), job.callback, job.logger);
        job.trigger = trigger;
        job.delayMs = random() % 40;
        if (!job.task) {
            Problem(index, "not created");
            job.callback->Release();
            job.logger->Release();
            return;
        }
        ::SetEvent(pair.jobReady.Get());
        if (trigger == BeforeStart) ::WaitForSingleObject(pair.jobDone.Get(), INFINITE);
        job.task->Start();
        const bool reported = job.callback->Wait();
        if (trigger != BeforeStart) ::WaitForSingleObject(pair.jobDone.Get(), INFINITE);
        // A second report would come on the heels of the first.
        if (reported) ::Sleep(random() % 2);

        ::InterlockedIncrement(&tally_.byTrigger[trigger]);
        ::InterlockedIncrement(&tally_.byPhase[job.logger->AtCancel()]);
        if (!reported) {
            Problem(index, "no report");
        } else if (job.callback->Reports() != 1) {
            Problem(index, std::to_string(job.callback->Reports()) + " reports");
        } else if (job.callback->result == S_OK) {
            ::InterlockedIncrement(&tally_.completed);
            std::string bytes;
            if (!ReadWholeFile(target, bytes) || bytes != package_) Problem(index, "reported good, file differs");
        } else if (job.callback->result == E_ABORT) {
            ::InterlockedIncrement(&tally_.aborted);
            if (trigger == BeforeStart || trigger == AfterReport) Problem(index, "a cancel that came too early or late stopped it");
        } else {
            char text[64];
            std::snprintf(text, sizeof(text), "result 0x%08lX", static_cast<unsigned long>(job.callback->result));
            Problem(index, text);
        }
        job.task->Release();
        job.logger->Release();
        ::DeleteFileW(target.c_str());
        stubframework::utils::ScopedLock lock(lock_);
        callbacks_.push_back({index, job.callback});
    }

    const unsigned seed_;
    const std::wstring url_;
    const std::string& package_;
    const testsupport::TempFolder& folder_;
    int first_ = 0, count_ = 0;
    int nextPair_ = 0;
    ScopedHandle ready_{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    Tally tally_;
    stubframework::utils::CriticalSection lock_;
    std::vector<std::string> problems_;
    std::vector<std::pair<int, Object<StormCallback>*>> callbacks_;
};

// Wine answers GetProcessHandleCount with 0; there the open handles are counted by probing
// the handle values (multiples of 4, handed out lowest first) of a table far larger than this
// process ever needs.
DWORD HandleCount() {
    DWORD count = 0;
    if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count > 0) return count;
    DWORD flags = 0;
    for (ULONG_PTR value = 4; value < 0x4000; value += 4) {
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

TEST(CancelStorm, EveryTaskReportsOnceAndLeavesNothingBehind) {
    unsigned seed = std::random_device()();
    if (const char* given = std::getenv("STORM_SEED")) seed = static_cast<unsigned>(std::strtoul(given, nullptr, 10));
    std::printf("cancel storm seed %u (STORM_SEED=%u repeats it)\n", seed, seed);
    std::fflush(stdout);

    std::string package;
    ASSERT_TRUE(ReadWholeFile(ServerFile(L"storm.bin"), package));
    testsupport::TempFolder folder;
    Storm storm(seed, NginxUrl(L"storm.bin"), package, folder);

    // The same shape once first, so that what Wine creates on first use is there already.
    const long baseline = details::LiveObjectCount();
    storm.Run(-kWarmUp, kWarmUp);
    storm.CheckAndReleaseCallbacks();
    ASSERT_TRUE(NoObjectsBeyond(baseline)) << details::LiveObjectCount() << " objects outlived the warm-up";
    const DWORD handlesBefore = HandleCount();

    storm.Run(0, kDownloads);
    storm.CheckAndReleaseCallbacks();
    for (const std::string& problem : storm.Problems()) ADD_FAILURE() << problem;
    const Tally& tally = storm.Counts();
    EXPECT_EQ(tally.failures, 0);

    EXPECT_TRUE(NoObjectsBeyond(baseline)) << details::LiveObjectCount() - baseline << " objects outlived their reports";
    DWORD handlesAfter = HandleCount();
    for (int i = 0; i < 100 && handlesAfter > handlesBefore + kHandleSlack; ++i) {
        ::Sleep(20);
        handlesAfter = HandleCount();
    }
    EXPECT_LE(handlesAfter, handlesBefore + kHandleSlack) << "handles before " << handlesBefore;

    std::printf("%ld completed, %ld aborted; handles %lu before, %lu after\n", tally.completed, tally.aborted,
                handlesBefore, handlesAfter);
    for (int t = 0; t < kTriggers; ++t) std::printf("  cancel %s: %ld\n", kTriggerNames[t], tally.byTrigger[t]);
    for (int p = 0; p < kPhases; ++p) std::printf("  cancel landed in %s: %ld\n", kPhaseNames[p], tally.byPhase[p]);
    // Every way of cancelling was drawn.
    for (int t = 0; t < kTriggers; ++t) EXPECT_GT(tally.byTrigger[t], 0) << kTriggerNames[t];
}

} // namespace
