#include "stubframework/utils/WorkerThreads.h"

namespace stubframework { namespace utils {

bool WorkerThreads::Start(LPTHREAD_START_ROUTINE routine, void* record) {
    ScopedHandle thread(::CreateThread(nullptr, 0, routine, record, 0, nullptr));
    if (!thread) return false;
    ScopedLock hold(lock_);
    Prune();
    threads_.push_back(std::move(thread));
    return true;
}

void WorkerThreads::Prune() {
    std::vector<ScopedHandle> running;
    for (auto& thread : threads_)
        if (::WaitForSingleObject(thread.Get(), 0) == WAIT_TIMEOUT) running.push_back(std::move(thread));
    threads_.swap(running);
}

size_t WorkerThreads::Running() {
    ScopedLock hold(lock_);
    Prune();
    return threads_.size();
}

bool WorkerThreads::WaitAll(DWORD timeoutMs, bool pumpMessages) {
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        // Own copies of the handles: a Start on another thread may forget the originals meanwhile.
        std::vector<ScopedHandle> waited;
        {
            ScopedLock hold(lock_);
            Prune();
            for (auto& thread : threads_) {
                if (waited.size() == MAXIMUM_WAIT_OBJECTS - 1) break;
                HANDLE copy = nullptr;
                if (::DuplicateHandle(::GetCurrentProcess(), thread.Get(), ::GetCurrentProcess(), &copy, SYNCHRONIZE,
                                      FALSE, 0))
                    waited.emplace_back(copy);
            }
            if (threads_.empty()) return true;
        }
        const ULONGLONG elapsed = ::GetTickCount64() - start;
        if (timeoutMs != INFINITE && elapsed >= timeoutMs) return false;
        const DWORD left = timeoutMs == INFINITE ? INFINITE : static_cast<DWORD>(timeoutMs - elapsed);
        std::vector<HANDLE> handles;
        for (auto& copy : waited) handles.push_back(copy.Get());
        const DWORD count = static_cast<DWORD>(handles.size());
        if (count == 0) {
            ::Sleep(1);   // the copies could not be made; poll
            continue;
        }
        if (pumpMessages) {
            MSG message;
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        }
        // MWMO_INPUTAVAILABLE: a message someone has already looked at (without taking it) must
        // wake the wait too, or a worker's call into this thread would wait for the time-out.
        const DWORD woke = pumpMessages ? ::MsgWaitForMultipleObjectsEx(count, handles.data(), left, QS_ALLINPUT,
                                                                        MWMO_INPUTAVAILABLE)
                                        : ::WaitForMultipleObjects(count, handles.data(), FALSE, left);
        if (woke == WAIT_FAILED) ::Sleep(1);
    }
}

}} // namespace stubframework::utils
