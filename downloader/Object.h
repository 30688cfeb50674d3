// The reference-counting wrapper of every task and callback object, and the per-task lock with
// its call counter and finish protocol.
#pragma once
#include <windows.h>
#include <cstdint>
#include <new>
#include <utility>

#include "downloader/Downloader.h"
#include "stubframework/utils/Handle.h"

namespace downloader { namespace details {

void AdjustLiveObjects(long delta);

// Counts an object from before its own construction to after its whole destruction, so a count
// back at zero means no destructor is still running on another thread.
struct LiveObject {
    LiveObject() { AdjustLiveObjects(1); }
    ~LiveObject() { AdjustLiveObjects(-1); }
    LiveObject(const LiveObject&) = delete;
    LiveObject& operator=(const LiveObject&) = delete;
};

template <typename T>
class Object final : private LiveObject, public T {
public:
    template <typename... Args>
    explicit Object(Args&&... args) : T(std::forward<Args>(args)...) {}

    void AddRef() override {
        stubframework::utils::ScopedLock lock(countLock_);
        ++count_;
    }
    void Release() override {
        long old;
        {
            stubframework::utils::ScopedLock lock(countLock_);
            old = count_--;
        }
        if (old == 1) delete this;
    }

private:
    ~Object() = default;

    long count_ = 1;
    stubframework::utils::CriticalSection countLock_;
};

// Allocates an Object<T> with one reference; null when memory runs out.
template <typename T, typename... Args>
Object<T>* New(Args&&... args) {
    return new (std::nothrow) Object<T>(std::forward<Args>(args)...);
}

// Holds a reference for the length of a call: a nested report may drop every other one (an
// owner releasing its inner task from inside the inner task's Start, for example).
class KeepAlive {
public:
    explicit KeepAlive(IObject* object) : object_(object) { object_->AddRef(); }
    ~KeepAlive() { object_->Release(); }
    KeepAlive(const KeepAlive&) = delete;
    KeepAlive& operator=(const KeepAlive&) = delete;
private:
    IObject* object_;
};

// Bit 31 of the state is the finished flag; the low bits count calls running inside the task.
// T supplies CloseInner(), which stops the inner work, and derives from ITask for AddRef/Release.
template <typename T, typename R>
class TaskLock {
protected:
    TaskLock() = default;
    ~TaskLock() = default;

    // First step of Start; false for a second Start.
    bool StartCall() {
        stubframework::utils::ScopedLock lock(lock_);
        if (state_ != kCreated) return false;
        state_ = 1;
        return true;
    }

    // False when the task is finished (or never started): the caller takes its finished path.
    bool BeginCall() {
        stubframework::utils::ScopedLock lock(lock_);
        if (state_ & kFinished) return false;
        ++state_;
        return true;
    }

    // EndCall and Finish stay out of line: the compiler sees every class of a task's file, follows
    // the last Release into the task's destructor and would copy all of it into each call site.
    __attribute__((noinline)) void EndCall() {
        // Closing the inner work may report and drop the task's own reference on this thread.
        KeepAlive keepAlive(Self());
        stubframework::utils::ScopedLock lock(lock_);
        const uint32_t old = state_--;
        if (old == (kFinished | 1)) Self()->CloseInner();
    }

    __attribute__((noinline)) void Finish(R result) {
        KeepAlive keepAlive(Self());
        stubframework::utils::ScopedLock lock(lock_);
        const uint32_t old = state_;
        state_ |= kFinished;
        if (!(old & kFinished)) {
            result_ = result;
            if (old == 0) Self()->CloseInner();
        }
    }

    // True once the task has its result: work in progress may stop early.
    bool Finished() {
        stubframework::utils::ScopedLock lock(lock_);
        return (state_ & kFinished) && state_ != kCreated;
    }

    R Result() {
        stubframework::utils::ScopedLock lock(lock_);
        return result_;
    }
    void SetResult(R result) {
        stubframework::utils::ScopedLock lock(lock_);
        result_ = result;
    }

private:
    static constexpr uint32_t kCreated = 0xFFFFFFFFu;
    static constexpr uint32_t kFinished = 0x80000000u;

    T* Self() { return static_cast<T*>(this); }

    stubframework::utils::CriticalSection lock_;
    uint32_t state_ = kCreated;
    R result_ = R();
};

// A callback object's only data: a plain pointer to the task it forwards to.
template <typename Owner>
class OwnerLink {
public:
    explicit OwnerLink(Owner* owner) : owner_(owner) {}
protected:
    Owner* owner_;
};

}} // namespace downloader::details
