// The threads one owner starts and must see end before what they use goes away.
#pragma once
#include <windows.h>
#include <vector>

#include "stubframework/utils/Handle.h"

namespace stubframework { namespace utils {

class WorkerThreads {
public:
    WorkerThreads() = default;
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;

    // Runs routine(record) on a new thread; false, with the thread's error in GetLastError, when
    // none could be made (the caller still owns record then).
    bool Start(LPTHREAD_START_ROUTINE routine, void* record);

    // Waits until every thread started so far (and any started meanwhile) has ended, or until
    // timeoutMs has passed; true when none runs any more. With pumpMessages the calling
    // thread's messages are dispatched while it waits: workers may be calling into its apartment.
    bool WaitAll(DWORD timeoutMs, bool pumpMessages);

    // Threads that have not ended yet.
    size_t Running();

private:
    // Under lock_: forgets threads that have ended, so a long run does not pile up handles.
    void Prune();

    CriticalSection lock_;
    std::vector<ScopedHandle> threads_;
};

}} // namespace stubframework::utils
