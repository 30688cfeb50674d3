// A worker calls the page's function back: the call runs on the UI thread while the worker waits.
#include <gtest/gtest.h>

#include "stubframework/core/ScriptCallback.h"
#include "stubframework/htmlui/HostWindow.h"
#include "stubframework/utils/WorkerThreads.h"
#include "tests/htmlui/TestSupport.h"

#include <wrl/client.h>

using namespace stubframework;
using namespace htmluitest;
using Microsoft::WRL::ComPtr;

namespace {
const UINT kWorkerDone = WM_APP + 1;
const UINT_PTR kGiveUpTimer = 1;

struct WorkerRecord {
    core::MarshalledCallback callback;
    RecordingFunction* real;   // read only after the call returned, to see that it ran first
    HWND notify;
    DWORD thread = 0;
    HRESULT unmarshalled = E_FAIL;
    HRESULT called = E_FAIL;
    int markerAfterCall = -1;
};

DWORD WINAPI Worker(void* parameter) {
    WorkerRecord* record = static_cast<WorkerRecord*>(parameter);
    record->thread = ::GetCurrentThreadId();
    {
        core::WorkerApartment apartment;   // before the function, which it outlives
        ComPtr<IDispatch> function;
        record->unmarshalled = record->callback.Unmarshal(function);
        if (SUCCEEDED(record->unmarshalled)) {
            record->called = core::CallScriptFunction(function.Get(), core::CallbackValues{10, 40, 25});
            record->markerAfterCall = record->real->marker;
        }
    }
    ::PostMessageW(record->notify, kWorkerDone, 0, 0);
    return 0;
}

bool g_close = false;
bool g_gaveUp = false;

LRESULT CALLBACK NotifyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kWorkerDone) {
        g_close = true;
        return 0;
    }
    if (message == WM_TIMER && wParam == kGiveUpTimer) {
        g_gaveUp = true;
        g_close = true;
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

class ScriptCallback : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = NotifyProc;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"CallbackTestNotify";
        ::RegisterClassW(&windowClass);
        window_ = ::CreateWindowExW(0, L"CallbackTestNotify", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    ::GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window_, nullptr);
        function_ = Adopt(new RecordingFunction);
    }
    void TearDown() override {
        function_.Reset();
        if (window_) ::DestroyWindow(window_);
        ::CoUninitialize();
    }

    HWND window_ = nullptr;
    ComPtr<RecordingFunction> function_;
};
} // namespace

TEST_F(ScriptCallback, WorkerCallRunsOnTheUiThreadWhileTheWorkerWaits) {
    WorkerRecord record;
    record.real = function_.Get();
    record.notify = window_;
    ASSERT_EQ(record.callback.Marshal(function_.Get()), S_OK);
    utils::WorkerThreads threads;
    ASSERT_TRUE(threads.Start(Worker, &record));

    g_close = g_gaveUp = false;
    ::SetTimer(window_, kGiveUpTimer, 30000, nullptr);
    htmlui::RunMessageLoop(g_close, window_);
    ::KillTimer(window_, kGiveUpTimer);
    ASSERT_FALSE(g_gaveUp) << "the worker never finished";

    EXPECT_EQ(record.unmarshalled, S_OK);
    EXPECT_EQ(record.called, S_OK);
    EXPECT_NE(record.thread, ::GetCurrentThreadId());
    ASSERT_EQ(function_->calls.size(), 1u);
    EXPECT_EQ(function_->calls[0].thread, ::GetCurrentThreadId());
    EXPECT_EQ(function_->calls[0].flags, DISPATCH_METHOD);
    // rgvarg[0] = first: the script sees (25, 40, 10).
    EXPECT_EQ(function_->calls[0].textArgs, (std::vector<std::wstring>{L"10", L"40", L"25"}));
    EXPECT_EQ(record.markerAfterCall, 1);
    ASSERT_TRUE(threads.WaitAll(30000, false));
    // The worker's proxy is gone with its apartment.
    EXPECT_EQ(function_->References(), 1);
}

TEST_F(ScriptCallback, UnusedMarshallingLetsGoOfTheFunction) {
    {
        core::MarshalledCallback callback;
        ASSERT_EQ(callback.Marshal(function_.Get()), S_OK);
        EXPECT_GT(function_->References(), 1);
    }   // no worker ever started
    EXPECT_EQ(function_->References(), 1);

    core::MarshalledCallback empty;
    ComPtr<IDispatch> function;
    EXPECT_EQ(empty.Marshal(nullptr), E_INVALIDARG);
    EXPECT_TRUE(FAILED(empty.Unmarshal(function)));
}

TEST_F(ScriptCallback, MessageLoopPassesQuitOnAndStops) {
    g_close = false;
    ::PostQuitMessage(7);
    htmlui::RunMessageLoop(g_close, window_);
    MSG message;
    ASSERT_TRUE(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 7u);

    // A message handler that sets the flag ends the loop right after that message.
    ::PostMessageW(window_, kWorkerDone, 0, 0);
    htmlui::RunMessageLoop(g_close, window_);
    EXPECT_TRUE(g_close);
}
