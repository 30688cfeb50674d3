// The stub built against the service double, run as a real UI instance: it reports the start
// and the end of the run, and a run that ends with status 2 uploads its log.
#include <gtest/gtest.h>

#include "stubframework/core/AppConfig.h"
#include "stubframework/utils/Registry.h"
#include "tests/core/ServiceDouble.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"

using namespace stubframework;
using testsupport::RecordedRequest;

namespace {
std::vector<RecordedRequest> RunStub(const std::wstring& program, testsupport::ServiceDouble& service,
                                     size_t expected) {
    testsupport::TempFolder temp;
    testsupport::ChildOptions options;
    options.tempFolder = temp.Path();
    DWORD exitCode = 0xDEAD;
    EXPECT_TRUE(testsupport::RunChild(program, L"\"" + program + L"\" run=1", options, 120000, exitCode));
    EXPECT_EQ(exitCode, 0u);
    return service.WaitForRequests(expected, 15000);
}

std::string StatusElement(const std::string& body) {
    const size_t start = body.find("<status>");
    const size_t end = body.find("</status>");
    return (start == std::string::npos || end == std::string::npos) ? "?" : body.substr(start + 8, end - start - 8);
}
} // namespace

TEST(StubReports, RunWithoutBundleReportsErrorAndUploadsLog) {
    testsupport::ServiceDouble service;
    const auto requests = RunStub(SERVICETEST_BARE_EXE, service, 3);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].path, "/v1/logAnalytics");
    EXPECT_EQ(StatusElement(requests[0].body), "started");
    EXPECT_NE(requests[0].body.find("<externalProperties><property><name>propertyName1</name>"),
              std::string::npos);
    EXPECT_EQ(requests[1].path, "/v1/logAnalytics");
    EXPECT_EQ(StatusElement(requests[1].body), "error occurred");

    EXPECT_EQ(requests[2].verb, "PUT");
    EXPECT_EQ(requests[2].path.compare(0, 22, "/v1/reportError?token="), 0) << requests[2].path;
    EXPECT_EQ(requests[2].unzip.compare(0, 5, "rc=0\n"), 0) << requests[2].unzip;
    EXPECT_NE(requests[2].unzip.find("installer_log_"), std::string::npos) << requests[2].unzip;
}

TEST(StubReports, BundledRunReportsStartAndEnd) {
    testsupport::ServiceDouble service;
    auto requests = RunStub(SERVICETEST_EXE, service, 2);
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(StatusElement(requests[0].body), "started");
    EXPECT_EQ(requests[1].path, "/v1/logAnalytics");
    const std::string status = StatusElement(requests[1].body);
    EXPECT_NE(status, "started");
    EXPECT_NE(status, "?");
    // Only a failed run uploads its log.
    if (status == "error occurred") requests = service.WaitForRequests(3, 15000);
    EXPECT_EQ(requests.size(), status == "error occurred" ? 3u : 2u);
}
