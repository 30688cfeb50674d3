// The raw request task against the fault server: what it reports, and how it ends.
#include <gtest/gtest.h>

#include "tests/downloader/Helpers.h"

using namespace downloader;
using namespace dltest;

namespace {

struct HttpRun {
    Object<CaptureLogger>* logger = details::New<CaptureLogger>();
    Object<HttpRecorder>* recorder = details::New<HttpRecorder>();
    ITask* task = nullptr;
    ~HttpRun() {
        if (task) task->Release();
        recorder->Release();
        logger->Release();
    }
    void Start(const std::wstring& url, const HttpRange& range = HttpRange()) {
        task = CreateHttpTask(url.c_str(), range, recorder, logger);
        ASSERT_NE(task, nullptr);
        task->Start();
        ASSERT_TRUE(recorder->Wait());
    }
};

class HttpTaskTest : public testing::Test {
protected:
    void TearDown() override {}
    long baseline_ = details::LiveObjectCount();
};

TEST_F(HttpTaskTest, ReportsRangeFactsOfTheAnswer) {
    {
        HttpRun run;
        run.Start(FaultUrl(L"range100?t=facts"));
        ASSERT_EQ(run.recorder->headers.size(), 1u);
        const HttpHeader& h = run.recorder->headers[0];
        EXPECT_EQ(h.status, 206);
        EXPECT_EQ(h.offset, 100);
        EXPECT_EQ(h.size, 100);
        EXPECT_EQ(h.total, 1000);
        EXPECT_EQ(run.recorder->result, S_OK);
        EXPECT_EQ(run.recorder->data, FaultBody(100, 200));
    }
    {
        HttpRun run;
        run.Start(FaultUrl(L"len500?t=facts"));
        const HttpHeader& h = run.recorder->headers.at(0);
        EXPECT_EQ(h.status, 200);
        EXPECT_EQ(h.offset, 0);
        EXPECT_EQ(h.size, 500);
        EXPECT_EQ(h.total, 500);
        EXPECT_EQ(h.etag, "\"v1\"");
    }
    {
        // No Content-Range, no Content-Length: the end of the body is the connection's end.
        HttpRun run;
        run.Start(FaultUrl(L"nolen?t=facts"));
        const HttpHeader& h = run.recorder->headers.at(0);
        EXPECT_EQ(h.status, 200);
        EXPECT_EQ(h.size, 0);
        EXPECT_EQ(h.total, -1);
        EXPECT_EQ(run.recorder->data.size(), 300u);
    }
    {
        HttpRun run;
        run.Start(FaultUrl(L"badcr?t=facts"));
        const HttpHeader& h = run.recorder->headers.at(0);
        EXPECT_EQ(h.status, 206);
        EXPECT_EQ(h.offset, 0);
        EXPECT_EQ(h.size, 50);     // the Content-Length fallback
        EXPECT_EQ(h.total, 50);
        EXPECT_TRUE(run.logger->Contains(L"HttpTask::GetContentRange> Unknown content range bytes abc."));
    }
    EXPECT_TRUE(NoObjectsBeyond(baseline_));
}

TEST_F(HttpTaskTest, SendsRangeAndIfRangeOnlyForARange) {
    const std::wstring plainTag = Tag(L"norange"), rangedTag = Tag(L"withrange");
    {
        HttpRun run;
        HttpRange range;
        range.etag = "\"ignored\"";
        run.Start(FaultUrl(L"len500?t=" + plainTag), range);
    }
    {
        HttpRun run;
        HttpRange range;
        range.offset = 400;
        range.size = 600;
        range.etag = "\"v1\"";
        run.Start(FaultUrl(L"len500?t=" + rangedTag), range);
        EXPECT_TRUE(run.logger->Contains(L"HttpTask::SetRange> Range: bytes=400-999"));
        EXPECT_TRUE(run.logger->Contains(L"HttpTask::SetIfRange> If-Range: \"v1\""));
    }
    const auto plain = FaultLogLines("t=" + Narrow(plainTag) + "|");
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_EQ(plain[0], "/len500?t=" + Narrow(plainTag) + "||");
    const auto ranged = FaultLogLines("t=" + Narrow(rangedTag) + "|");
    ASSERT_EQ(ranged.size(), 1u);
    EXPECT_EQ(ranged[0], "/len500?t=" + Narrow(rangedTag) + "|bytes=400-999|\"v1\"");
    EXPECT_TRUE(NoObjectsBeyond(baseline_));
}

TEST_F(HttpTaskTest, ReportsOtherStatusesWithoutJudging) {
    {
        HttpRun run;
        run.Start(FaultUrl(L"status404?t=status"));
        EXPECT_EQ(run.recorder->headers.at(0).status, 404);
        EXPECT_EQ(run.recorder->result, S_OK);
    }
    {
        // A redirect is followed; the task sees the final answer.
        HttpRun run;
        run.Start(FaultUrl(L"redirect?t=status"));
        EXPECT_EQ(run.recorder->headers.at(0).status, 200);
        EXPECT_EQ(run.recorder->data, FaultBody(0, 500));
    }
    EXPECT_TRUE(NoObjectsBeyond(baseline_));
}

TEST_F(HttpTaskTest, RedirectsKeepTheRangeAndALoopEnds) {
    HttpRange range;
    range.offset = 100;
    range.size = 50;
    range.etag = "\"v1\"";
    {
        const std::wstring tag = Tag(L"hops");
        HttpRun run;
        run.Start(FaultUrl(L"m/loop/3/" + tag + L"/pkg.bin"), range);
        EXPECT_EQ(run.recorder->result, S_OK);
        ASSERT_EQ(run.recorder->headers.size(), 1u);
        EXPECT_EQ(run.recorder->headers[0].status, 206);
        EXPECT_EQ(run.recorder->data, FaultBody(100, 150));
        // Every hop asks for the same range with the same validator.
        const auto lines = FaultLogLines("/" + Narrow(tag) + "/");
        ASSERT_EQ(lines.size(), 4u);
        for (const auto& line : lines) EXPECT_NE(line.find("|bytes=100-149|\"v1\""), std::string::npos) << line;
    }
    {
        const std::wstring tag = Tag(L"loop");
        HttpRun run;
        run.Start(FaultUrl(L"m/loop/0/" + tag + L"/pkg.bin"), range);
        EXPECT_EQ(run.recorder->result, static_cast<long>(0x80072F7C));    // ERROR_HTTP_REDIRECT_FAILED
        EXPECT_TRUE(run.recorder->headers.empty());
        EXPECT_TRUE(run.logger->Contains(L"HttpTask::Redirect> Too many redirects."));
        EXPECT_EQ(FaultLogLines("/" + Narrow(tag) + "/").size(), 11u);
    }
    EXPECT_TRUE(NoObjectsBeyond(baseline_));
}

TEST_F(HttpTaskTest, StartFailuresReportBeforeStartReturns) {
    {
        HttpRun run;
        run.task = CreateHttpTask(L"ftp://127.0.0.1/file", HttpRange(), run.recorder, run.logger);
        ASSERT_NE(run.task, nullptr);
        run.task->Start();
        ASSERT_TRUE(run.recorder->IsDone());
        EXPECT_EQ(run.recorder->result, static_cast<long>(0x80072EE5));
        EXPECT_EQ(run.recorder->ReportThread(), ::GetCurrentThreadId());
    }
    {
        HttpRun run;
        run.task = CreateHttpTask(L"not a url", HttpRange(), run.recorder, run.logger);
        run.task->Start();
        ASSERT_TRUE(run.recorder->IsDone());
        EXPECT_LT(run.recorder->result, 0);
        EXPECT_TRUE(run.logger->Contains(L"HttpTask::Connect> InternetCrackUrlW failed: "));
    }
    EXPECT_TRUE(NoObjectsBeyond(baseline_));
}

TEST_F(HttpTaskTest, CancelDuringAPendingReadReportsOnce) {
    {
        HttpRun run;
        // A slow body; cancel from inside the first data.
        run.task = CreateHttpTask(FaultUrl(L"trickle?t=cancel").c_str(), HttpRange(), run.recorder, run.logger);
        run.recorder->cancelOnData = run.task;
        run.task->Start();
        ASSERT_TRUE(run.recorder->Wait());
        EXPECT_EQ(run.recorder->result, static_cast<long>(0x80072EF1));
        run.task->Cancel();      // after the report: no effect
        EXPECT_TRUE(run.logger->Contains(L"HttpTask::Cancel> Cancel"));
        EXPECT_FALSE(run.logger->Contains(L"INTERNET_STATUS_REQUEST_COMPLETE failed"));
        run.task->Release();
        run.task = nullptr;
        EXPECT_TRUE(NoObjectsBeyond(baseline_ + 2));   // the run's recorder and logger remain
        EXPECT_EQ(run.recorder->Reports(), 1);
    }
    EXPECT_TRUE(NoObjectsBeyond(baseline_));
}

} // namespace
