// The page's side of a download: an STA test thread with a message loop, the real method table
// behind the bridge, and a script function that records every callback.
#pragma once
#include <windows.h>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "stubframework/MyExternalMethods.h"
#include "tests/downloader/Helpers.h"
#include "tests/htmlui/TestSupport.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

namespace wftest {

// One callback as the script saw it: (status, total, current) and the thread it ran on.
struct Report {
    int status;
    long long total;
    long long current;
    DWORD thread;
};

class WorkflowTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    stubframework::core::HtmlExternal& Bridge() { return app_->App().Bridge(); }
    stubframework::StubApplication& App() { return app_->App(); }

    // The application again, with the stub's own command-line facts (a run after a reboot, say).
    void Restart(const stubframework::utils::StartupSwitches& switches);

    // Calls a method by name through IDispatch, flags DISPATCH_METHOD, no result.
    HRESULT Call(const wchar_t* name, htmluitest::Args& args);
    // download(url, path, crc, isSecure, isResume, callback) with a fresh recording function.
    HRESULT StartDownload(const std::wstring& url, const std::wstring& path, const std::wstring& crc,
                          bool isSecure, bool isResume);
    // Pumps this thread's messages until the download's final report (bounded); onReport runs
    // after each new report.
    bool WaitForFinal(const std::function<void(const Report&)>& onReport = nullptr);
    std::vector<Report> Reports() const;

    // install(package, parameters, estimatedTime, callback) through the row, waited for: the final
    // result code, or -1 when the install did not end in time.
    int Install(const std::wstring& package, const std::wstring& parameters, LONG estimatedTime = 0);

    // Every report ran on this thread; all but the last say Running with a current that never
    // goes back; the last is the only final one, and it carries code.
    void ExpectProgressThenFinal(int code);

    // The package cache of this test: a fresh folder of the ground, gone at the end.
    std::wstring cache_;
    std::unique_ptr<htmluitest::TestApplication> app_;
    std::unique_ptr<myexternalmethods::MyExternalMethods> methods_;
    Microsoft::WRL::ComPtr<htmluitest::RecordingFunction> function_;
    testsupport::TempFolder folder_;
    bool comReady_ = false;
};

// "%u" of the file's CRC-32, as the page passes it.
std::wstring CrcText(const std::wstring& path);

} // namespace wftest
