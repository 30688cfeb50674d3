// The end of the run and the workers it must outlast: each kind of worker is started the way the
// handlers start theirs, then the run ends while it is still busy.
#include <gtest/gtest.h>

#include "StubCore/StubApplication.h"
#include "stubframework/ExternalMethods.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/core/WorkerPrologue.h"
#include "tests/htmlui/TestSupport.h"

#include <atomic>
#include <memory>

using namespace stubframework;
using namespace htmluitest;

namespace {

struct Record {
    ExternalMethods* owner = nullptr;
    core::MarshalledCallback callback;
    HANDLE started = nullptr;
    HANDLE release = nullptr;           // the worker that will not stop waits for this
    std::atomic<int>* finished = nullptr;
    bool reportAtEnd = false;
};

// Until the end of the run says stop, after clearing the stop flag as every download does.
DWORD WINAPI DownloadLike(void* parameter) {
    core::WorkerPrologue<Record> worker(parameter, L"DownloadLike");
    if (!worker.Ready()) return 0;
    core::HtmlExternal& bridge = worker.App().Bridge();
    bridge.SetStop(false);
    ::SetEvent(worker.Get().started);
    while (!bridge.Stop()) ::Sleep(1);
    ++*worker.Get().finished;
    return 0;
}

// Reports to the page: once the window is gone, or while it is still open, so that the call is
// already queued when the run ends. Either way the UI thread must still serve it.
DWORD WINAPI Report(void* parameter) {
    core::WorkerPrologue<Record> worker(parameter, L"Report");
    if (!worker.Ready()) return 0;
    ::SetEvent(worker.Get().started);
    while (worker.Get().reportAtEnd && !worker.App().Bridge().Stop()) ::Sleep(1);
    if (SUCCEEDED(core::CallScriptFunction(worker.Callback().Get(), 7))) ++*worker.Get().finished;
    return 0;
}

// An installer that takes longer than the end of the run waits.
DWORD WINAPI Stuck(void* parameter) {
    core::WorkerPrologue<Record> worker(parameter, L"Stuck");
    if (!worker.Ready()) return 0;
    ::SetEvent(worker.Get().started);
    ::WaitForSingleObject(worker.Get().release, INFINITE);
    ++*worker.Get().finished;
    return 0;
}

} // namespace

TEST(EndOfRun, WaitsForEveryWorkerOrSaysItGaveUp) {
    ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    struct Row {
        const char* name;
        LPTHREAD_START_ROUTINE routine;
        bool reportAtEnd;
        DWORD timeoutMs;
        bool ended;
    };
    const Row rows[] = {
        {"download", DownloadLike, false, 30000, true},
        {"last report", Report, true, 30000, true},
        {"report queued and seen", Report, false, 30000, true},
        {"stuck", Stuck, false, 300, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto function = Adopt(new RecordingFunction);
        std::atomic<int> finished{0};
        utils::ScopedHandle started(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        utils::ScopedHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        {
            TestApplication app;
            ExternalMethods methods(&app.App());
            std::unique_ptr<Record> record(new Record);
            record->started = started.Get();
            record->release = release.Get();
            record->finished = &finished;
            record->reportAtEnd = row.reportAtEnd;
            ASSERT_EQ(methods.StartWorker(L"test", row.routine, record, function.Get()), S_OK);
            EXPECT_FALSE(record);   // the worker owns it
            ASSERT_EQ(::WaitForSingleObject(started.Get(), 30000), WAIT_OBJECT_0);
            if (row.routine == Report && !row.reportAtEnd) {
                // Something on this thread looks at the queue and leaves the call in it.
                MSG peeked;
                for (int i = 0; i < 30000 && !::PeekMessageW(&peeked, nullptr, 0, 0, PM_NOREMOVE); ++i) ::Sleep(1);
            }

            EXPECT_EQ(app.App().StopWorkers(row.timeoutMs), row.ended);
            EXPECT_EQ(app.App().WorkersEnded(), row.ended);
            EXPECT_EQ(finished.load(), row.ended ? 1 : 0);
            const std::string log = app.LogText();
            EXPECT_NE(log.find("Waiting for 1 worker(s) to end"), std::string::npos);
            EXPECT_EQ(log.find("worker(s) still running after") != std::string::npos, !row.ended) << log;
            // The test's own stand-in for the process end: the worker is let go before the
            // application goes.
            ::SetEvent(release.Get());
        }
        EXPECT_EQ(finished.load(), 1);
        if (row.routine == Report) {
            ASSERT_EQ(function->calls.size(), 1u);
            EXPECT_EQ(function->calls[0].thread, ::GetCurrentThreadId());
            EXPECT_EQ(function->calls[0].textArgs, std::vector<std::wstring>{L"7"});
        }
        EXPECT_EQ(function->References(), 1);   // nothing kept the page's function
    }
    ::CoUninitialize();
}
