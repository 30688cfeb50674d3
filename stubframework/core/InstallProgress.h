// The install progress thread: reports the install progress to the page's callback about every
// 2 ms. While a ZIP is unpacked as part of a download it maps the unpacking onto the last 5 %
// of the download bar instead.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <cstdint>
#include <functional>
#include <string>

#include "stubframework/StubFramework.h"
#include "stubframework/utils/Handle.h"

namespace stubframework { namespace core {

class HtmlExternal;

// What a worker and its progress thread share, under one lock. Status stays Running until the
// progress is complete or the worker ends the work.
struct ProgressState {
    int64_t current = 0;
    int64_t total = 0;
    int32_t status = Running;
};
using InstallProgressState = ProgressState;

struct InstallProgressContext {
    HtmlExternal* external;
    IDispatch* callback;
    InstallProgressState* state;
    std::wstring packagePath;
    utils::CriticalSection* lock;
};

// Thread entry; the context outlives the thread.
DWORD WINAPI InstallProgressThreadFunc(void* context);

// One pass of a progress thread, taken under the lock: what to report, and whether the work is
// complete (which ends the reports).
struct ProgressSample {
    unsigned long current;
    unsigned long total;
    bool complete;
};

// Calls back (10, total, current) about every 2 ms while the status is Running, holding the lock
// except while it sleeps; a complete sample sets the status to NoError.
void ReportProgress(utils::CriticalSection& lock, ProgressState& state, IDispatch* callback,
                    const std::function<ProgressSample()>& sample);

}} // namespace stubframework::core
