#include "tests/workflow/WorkflowSupport.h"

#include "stubframework/core/HtmlExternal.h"
#include "stubframework/core/PackageCache.h"
#include "stubframework/utils/Ground.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/FileCrc.h"

using namespace stubframework;

namespace wftest {

void WorkflowTest::SetUp() {
    ASSERT_TRUE(utils::CreateGroundFolder(cache_));
    core::SetPackageCacheForTesting(cache_);
    ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    comReady_ = true;
    app_.reset(new htmluitest::TestApplication);
    methods_.reset(new myexternalmethods::MyExternalMethods(&App()));
    Bridge().AttachMethodTable(methods_.get());
}

void WorkflowTest::TearDown() {
    function_.Reset();
    if (app_) Bridge().AttachMethodTable(nullptr);
    methods_.reset();
    app_.reset();
    if (comReady_) ::CoUninitialize();
    core::SetPackageCacheForTesting(std::wstring());
    if (!cache_.empty()) utils::DeleteFolderTree(cache_);
}

void WorkflowTest::Restart(const utils::StartupSwitches& switches) {
    Bridge().AttachMethodTable(nullptr);
    methods_.reset();
    app_.reset();
    app_.reset(new htmluitest::TestApplication(switches));
    methods_.reset(new myexternalmethods::MyExternalMethods(&App()));
    Bridge().AttachMethodTable(methods_.get());
}

int WorkflowTest::Install(const std::wstring& package, const std::wstring& parameters, LONG estimatedTime) {
    function_ = htmluitest::Adopt(new htmluitest::RecordingFunction);
    htmluitest::Args args;
    args.Text(package.c_str()).Text(parameters.c_str()).Number(estimatedTime).Function(function_.Get());
    if (FAILED(Call(L"install", args)) || !WaitForFinal()) return -1;
    return Reports().back().status;
}

HRESULT WorkflowTest::Call(const wchar_t* name, htmluitest::Args& args) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = Bridge().GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    if (FAILED(hr)) return hr;
    DISPPARAMS params = args.Params();
    return Bridge().Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

HRESULT WorkflowTest::StartDownload(const std::wstring& url, const std::wstring& path, const std::wstring& crc,
                                    bool isSecure, bool isResume) {
    function_ = htmluitest::Adopt(new htmluitest::RecordingFunction);
    htmluitest::Args args;
    args.Text(url.c_str()).Text(path.c_str()).Text(crc.c_str()).Bool(isSecure).Bool(isResume).Function(
        function_.Get());
    return Call(L"download", args);
}

std::vector<Report> WorkflowTest::Reports() const {
    std::vector<Report> reports;
    if (!function_) return reports;
    for (const auto& call : function_->calls) {
        // rgvarg order: current, total, status.
        if (call.textArgs.size() != 3) {
            reports.push_back(Report{-1, 0, 0, call.thread});
            continue;
        }
        reports.push_back(Report{std::stoi(call.textArgs[2]), std::stoll(call.textArgs[1]),
                                 std::stoll(call.textArgs[0]), call.thread});
    }
    return reports;
}

bool WorkflowTest::WaitForFinal(const std::function<void(const Report&)>& onReport) {
    const DWORD start = ::GetTickCount();
    size_t seen = 0;
    while (::GetTickCount() - start < dltest::kWaitMs) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        const std::vector<Report> reports = Reports();
        for (; seen < reports.size(); ++seen) {
            if (onReport) onReport(reports[seen]);
            if (reports[seen].status != 10) return true;
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return false;
}

void WorkflowTest::ExpectProgressThenFinal(int code) {
    const std::vector<Report> reports = Reports();
    ASSERT_FALSE(reports.empty());
    long long last = 0;
    for (size_t i = 0; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i].thread, ::GetCurrentThreadId()) << "report " << i;
        if (i + 1 == reports.size()) break;
        EXPECT_EQ(reports[i].status, 10) << "report " << i;
        EXPECT_GE(reports[i].current, last) << "report " << i;
        last = reports[i].current;
    }
    EXPECT_EQ(reports.back().status, code);
}

std::wstring CrcText(const std::wstring& path) {
    unsigned long crc = 0;
    EXPECT_TRUE(utils::FileCrc32(path, crc));
    return std::to_wstring(crc);
}

} // namespace wftest
