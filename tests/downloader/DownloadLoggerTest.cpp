// DownloadLogger: the "%s> %s" line at TRACE, the 1023-character cut, and the silent logger.
#include <gtest/gtest.h>

#include <string>

#include "StubCore/StubLog.h"
#include "stubframework/debug/DownloadLogger.h"
#include "tests/support/TempFolder.h"

namespace {

std::string LogText(const stubframework::StubLog& log) {
    std::string text;
    testsupport::ReadFileBytes(log.FilePath(), text);
    return text;
}

TEST(DownloadLogger, WritesTaggedTraceLinesWithWideAndNarrowText) {
    stubframework::StubLog log;
    ASSERT_FALSE(log.FilePath().empty());
    downloader::ILogger* logger = stubframework::debug::CreateDownloadLogger(&log);
    ASSERT_NE(logger, nullptr);
    logger->Log(L"HttpTask::Start", L"Start %s (OFFSET:%lld,SIZE:%lld,ETAG:%S).", L"http://h/p", 7340032LL, 5LL,
                "\"e\"");
    logger->Release();
    const std::string text = LogText(log);
    EXPECT_NE(text.find(" TRACE] HttpTask::Start> Start http://h/p (OFFSET:7340032,SIZE:5,ETAG:\"e\").\r\n"),
              std::string::npos)
        << text;
}

TEST(DownloadLogger, CutsLongMessagesAt1023Characters) {
    stubframework::StubLog log;
    downloader::ILogger* logger = stubframework::debug::CreateDownloadLogger(&log);
    const std::wstring longText(3000, L'x');
    logger->Log(L"T", L"%s", longText.c_str());
    logger->Log(L"T", L"after");
    logger->Release();
    const std::string text = LogText(log);
    const size_t start = text.find("T> ");
    ASSERT_NE(start, std::string::npos);
    const size_t end = text.find('\r', start);   // text mode: CR LF
    EXPECT_EQ(end - start - 3, 1023u);
    EXPECT_NE(text.find("T> after"), std::string::npos);
}

// The run's logger without a log, and the downloader's own null logger.
TEST(DownloadLogger, WithoutALogWritesNothing) {
    using Factory = downloader::ILogger* (*)();
    const Factory factories[] = {[] { return stubframework::debug::CreateDownloadLogger(nullptr); },
                                 downloader::CreateNullLogger};
    for (Factory create : factories) {
        downloader::ILogger* logger = create();
        ASSERT_NE(logger, nullptr);
        logger->Log(L"T", L"%s", L"dropped");
        logger->AddRef();
        logger->Release();
        logger->Release();
        EXPECT_EQ(downloader::details::LiveObjectCount(), 0);
    }
}

} // namespace
