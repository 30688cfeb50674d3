// Reports, region check, error report and token service against the HTTPS service double.
#include <gtest/gtest.h>

#include "stubframework/core/Analytics.h"
#include "stubframework/core/AppConfig.h"
#include "stubframework/core/ReportTransport.h"
#include "stubframework/core/TokenService.h"
#include "stubframework/utils/Ground.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/zip/ZipReader.h"
#include "tests/core/RegistryRedirect.h"
#include "tests/core/ServiceDouble.h"
#include "tests/support/TempFolder.h"

#include <algorithm>
#include <cstring>

using namespace stubframework;
using namespace stubframework::core;
using testsupport::RecordedRequest;
using testsupport::ServiceDouble;
using testsupport::TempFolder;

namespace {
bool FolderIsEmpty(const std::wstring& folder, const std::wstring& except = std::wstring()) {
    WIN32_FIND_DATAW data;
    utils::ScopedFindHandle find(::FindFirstFileW((folder + L"*").c_str(), &data));
    if (!find) return true;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L".." && name != except) return false;
    } while (::FindNextFileW(find.Get(), &data));
    return true;
}

class Service : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(hkcu_.Ok());
        ASSERT_NE(double_.Endpoint().port, 0) << "the service double is not running";
        // The reporter's folders go to a ground this test can inspect; the files it reports
        // are made there too, as the stub makes its logs.
        stubframework::utils::SetGroundBaseForTesting(temp_.Path());
        files_ = temp_ / L"files\\";
        ASSERT_TRUE(::CreateDirectoryW(files_.c_str(), nullptr));
    }
    void TearDown() override { stubframework::utils::SetGroundBaseForTesting(L""); }
    // Nothing but the reported files' folder is left on the ground.
    bool ArchiveFoldersGone() { return FolderIsEmpty(temp_.Path(), L"files"); }

    testsupport::RedirectedCurrentUser hkcu_;
    ServiceDouble double_;
    TempFolder temp_;
    std::wstring files_;
    AppConfig config_;
};
} // namespace

TEST_F(Service, StartAndStatusReportsPostTheirExactDocuments) {
    Analytics analytics(&config_, double_.Endpoint());
    config_.ExternalProperties()[L"propertyName1"] = L"propertyValue1";
    EXPECT_TRUE(analytics.sendStartReport());
    config_.SetStatus(0);
    EXPECT_TRUE(analytics.sendStatusReport());      // an unfinished run reports "canceled"
    config_.SetStatus(1);
    EXPECT_EQ(analytics.sendReport(true), 0);

    const auto requests = double_.WaitForRequests(3);
    ASSERT_EQ(requests.size(), 3u);
    for (const auto& r : requests) {
        EXPECT_EQ(r.verb, "POST");
        EXPECT_EQ(r.path, "/v1/logAnalytics");
        EXPECT_EQ(r.Header("User-Agent"), "Kestrio Message Client/1.0");
        EXPECT_EQ(r.Header("Content-Type"), "application/xml");
        EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.body.size()));
    }
    EXPECT_EQ(requests[0].body, analytics.AnalyticsDocument(0));
    EXPECT_EQ(requests[1].body, analytics.AnalyticsDocument(3));
    EXPECT_EQ(requests[2].body, analytics.AnalyticsDocument(1));
    EXPECT_NE(requests[2].body.find("<status>completed</status>"), std::string::npos);
}

TEST_F(Service, FailedRunUploadsItsFilesAsZip) {
    const std::wstring log = files_ + L"installer_log_20260101120000.txt";
    const std::wstring install = files_ + L"install.log";
    std::string big;
    for (int i = 0; i < 2000; ++i) big += "line " + std::to_string(i) + " of the install log\r\n";
    ASSERT_TRUE(testsupport::WriteFileBytes(log, "stub log\r\n"));
    ASSERT_TRUE(testsupport::WriteFileBytes(install, big));

    Analytics analytics(&config_, double_.Endpoint());
    EXPECT_FALSE(analytics.sendErrorReport());        // nothing to send
    EXPECT_TRUE(analytics.AddReportFile(install));
    EXPECT_TRUE(analytics.AddReportFile(log));
    EXPECT_FALSE(analytics.AddReportFile(files_ + L"missing.txt"));
    // A file the stub did not make (outside the ground, or a link there) is never reported.
    TempFolder user;
    ASSERT_TRUE(testsupport::WriteFileBytes(user / L"log.txt.xml", "secret"));
    EXPECT_FALSE(analytics.AddReportFile(user / L"log.txt.xml"));
    EXPECT_EQ(analytics.reportFiles().size(), 2u);

    config_.SetStatus(2);
    EXPECT_EQ(analytics.sendReport(true), 0);        // status report, then the error report
    const auto requests = double_.WaitForRequests(2);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[0].body.find("<status>error occurred</status>"), std::string::npos);

    const RecordedRequest& upload = requests[1];
    EXPECT_EQ(upload.verb, "PUT");
    EXPECT_EQ(upload.path, "/v1/reportError?token=" + ToUtf8(config_.RequestToken()) +
                               "&machineId=" + ToUtf8(config_.MachineId()));
    EXPECT_EQ(upload.Header("Content-Type"), "application/xml");
    EXPECT_EQ(upload.Header("User-Agent"), "Kestrio Message Client/1.0");
    // Info-ZIP accepts it; entries are named by base name and deflated at the maximum level.
    EXPECT_EQ(upload.unzip.compare(0, 5, "rc=0\n"), 0) << upload.unzip;
    EXPECT_NE(upload.unzip.find(" defX 80-Jan-01 00:00 install.log"), std::string::npos) << upload.unzip;
    EXPECT_NE(upload.unzip.find("installer_log_20260101120000.txt"), std::string::npos);

    zip::ZipReader reader;
    const std::string body = upload.body;
    ASSERT_EQ(reader.Open([&body](uint64_t offset, void* buffer, size_t size) -> size_t {
        if (offset >= body.size()) return 0;
        const size_t got = std::min<size_t>(size, body.size() - static_cast<size_t>(offset));
        memcpy(buffer, body.data() + offset, got);
        return got;
    }, body.size()), zip::ZipError::None);
    ASSERT_EQ(reader.Count(), 2u);
    EXPECT_EQ(reader.Entry(0).name, "install.log");
    EXPECT_EQ(reader.Entry(0).method, 8);
    std::string unpacked;
    ASSERT_EQ(reader.Extract(0, [&unpacked](const void* data, size_t size) {
        unpacked.append(static_cast<const char*>(data), size);
        return true;
    }), zip::ZipError::None);
    EXPECT_EQ(unpacked, big);

    EXPECT_TRUE(ArchiveFoldersGone());   // the archive's folder is gone
}

TEST_F(Service, ErrorReportFailuresLeaveNothingBehind) {
    const std::wstring log = files_ + L"gone.txt";
    ASSERT_TRUE(testsupport::WriteFileBytes(log, "x"));
    Analytics analytics(&config_, double_.Endpoint());
    ASSERT_TRUE(analytics.AddReportFile(log));
    ::DeleteFileW(log.c_str());
    EXPECT_FALSE(analytics.sendErrorReport());          // unreadable file: nothing sent
    EXPECT_TRUE(ArchiveFoldersGone());

    ASSERT_TRUE(testsupport::WriteFileBytes(log, "x"));
    Analytics down(&config_, ServiceDouble::DeadEndpoint());
    ASSERT_TRUE(down.AddReportFile(log));
    EXPECT_FALSE(down.sendErrorReport());               // upload fails
    EXPECT_FALSE(down.sendStartReport());
    EXPECT_EQ(down.sendReport(false), Analytics::ReportFailed);
    EXPECT_TRUE(ArchiveFoldersGone());
    EXPECT_TRUE(double_.WaitForRequests(1, 300).empty());
}

TEST_F(Service, UserActivityIsSentUnescaped) {
    Analytics analytics(&config_, double_.Endpoint());
    EXPECT_TRUE(analytics.SendUserActivity(L"Installing_Close<&>"));
    const auto requests = double_.WaitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/v1/logUserActivity");
    EXPECT_EQ(requests[0].body, "<UserActivity><token>" + ToUtf8(config_.RequestToken()) +
                                    "</token><productId>Tandora</productId><productVersion>22.0.0</productVersion>"
                                    "<activity>Installing_Close<&></activity></UserActivity>");
}

TEST_F(Service, RegionQuerySendsTheRequestAndReadsLongAnswersWhole) {
    Analytics analytics(&config_, double_.Endpoint());
    double_.SetAnswer("isInEmbargoedCountry", "<r><country>Narnia</country><isEmbargo>true</isEmbargo></r>");
    RegionAnswer answer = analytics.QueryRegion();
    EXPECT_EQ(answer.isEmbargo, L"true");
    EXPECT_EQ(answer.country, L"Narnia");

    // An answer longer than one 256-byte read arrives whole.
    double_.SetAnswer("isInEmbargoedCountry",
                      std::string(600, ' ') + "<country>XY</country>" + std::string(300, ' ') + "<isEmbargo>TRUE</isEmbargo>");
    answer = analytics.QueryRegion();
    EXPECT_EQ(answer.isEmbargo, L"TRUE");
    EXPECT_EQ(answer.country, L"XY");

    double_.SetAnswer("isInEmbargoedCountry", "<country>XY</country>");
    EXPECT_EQ(analytics.QueryRegion().isEmbargo, L"");

    const auto requests = double_.WaitForRequests(3);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].path, "/v1/isInEmbargoedCountry");
    EXPECT_EQ(requests[0].Header("Content-Type"), "application/xml");
    EXPECT_EQ(requests[0].body, "<RegionRestrictions><token>" + ToUtf8(config_.RequestToken()) +
                                    "</token><productId>Tandora</productId><productVersion>22.0.0</productVersion>"
                                    "<channel>test</channel><os>" + ToUtf8(config_.OsName()) + "</os><machineId>" +
                                    ToUtf8(config_.MachineId()) + "</machineId></RegionRestrictions>");

    Analytics down(&config_, ServiceDouble::DeadEndpoint());
    answer = down.QueryRegion();
    EXPECT_EQ(answer.country, L"");
    EXPECT_EQ(answer.isEmbargo, L"");
}

TEST_F(Service, TokenizeTakesTheFirstUrlAndKeepsTheAddressOnFailure) {
    const std::wstring serviceUrl = ServiceUrl(double_.Endpoint(), L"/v1/token");
    std::wstring address = L"https://downloads.example/Tandora \u00e9.msi";

    double_.SetAnswer("token", "{\"tokenizedUrl\":\"https://d/a?t=1\",\"tokenizedUrl\":\"https://d/b\"}");
    EXPECT_TRUE(Tokenize(serviceUrl, address));
    EXPECT_EQ(address, L"https://d/a?t=1");

    double_.SetAnswer("token", "{\"tokenizedUrl\":\"https://d/cut");
    EXPECT_FALSE(Tokenize(serviceUrl, address));
    EXPECT_EQ(address, L"https://d/a?t=1");

    std::wstring empty;
    EXPECT_FALSE(Tokenize(serviceUrl, empty));

    const auto requests = double_.WaitForRequests(2);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].verb, "POST");
    EXPECT_EQ(requests[0].path, "/v1/token");
    EXPECT_EQ(requests[0].body, "https://downloads.example/Tandora \xC3\xA9.msi");
    EXPECT_EQ(requests[1].body, "https://d/a?t=1");

    std::wstring unchanged = L"https://downloads.example/x";
    EXPECT_FALSE(Tokenize(ServiceUrl(ServiceDouble::DeadEndpoint(), L"/v1/token"), unchanged));
    EXPECT_EQ(unchanged, L"https://downloads.example/x");
    EXPECT_FALSE(Tokenize(L"ftp://127.0.0.1/v1/token", unchanged));
    EXPECT_EQ(unchanged, L"https://downloads.example/x");
}

TEST_F(Service, ProbeOnlyAcceptsOk) {
    const ServiceEndpoint endpoint = double_.Endpoint();
    EXPECT_TRUE(ProbeUrl(ServiceUrl(endpoint, L"/status/200")));
    EXPECT_FALSE(ProbeUrl(ServiceUrl(endpoint, L"/status/301")));
    EXPECT_FALSE(ProbeUrl(ServiceUrl(endpoint, L"/status/302")));
    EXPECT_FALSE(ProbeUrl(ServiceUrl(endpoint, L"/status/404")));
    EXPECT_FALSE(ProbeUrl(ServiceUrl(ServiceDouble::DeadEndpoint(), L"/status/200")));
    // Redirects are not followed: one request per probe, none to the target. The double records
    // a request before it answers, so all are there once the probes have returned.
    const auto requests = double_.WaitForRequests(5, 200);
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[1].path, "/status/301");
    EXPECT_EQ(requests[2].path, "/status/302");
    EXPECT_EQ(requests[3].path, "/status/404");
}

TEST_F(Service, ReportsGoThroughTheBrowserProxy) {
    // The user's browser settings name the double as proxy (HKEY_CURRENT_USER is this test's own).
    const ServiceEndpoint endpoint = double_.Endpoint();
    const std::string proxy = "127.0.0.1:" + std::to_string(endpoint.port);
    std::string blob;
    auto put32 = [&blob](uint32_t v) { for (int i = 0; i < 4; ++i) blob += static_cast<char>((v >> (8 * i)) & 0xFF); };
    put32(0x46);                  // settings format
    put32(1);                     // change counter
    put32(3);                     // direct | named proxy
    put32(static_cast<uint32_t>(proxy.size()));
    blob += proxy;
    for (int i = 0; i < 8; ++i) put32(0);   // empty bypass list, no auto-configuration
    utils::ScopedRegKey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER,
                                L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections", 0,
                                nullptr, 0, KEY_SET_VALUE, nullptr, key.Receive(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(key.Get(), L"DefaultConnectionSettings", 0, REG_BINARY,
                               reinterpret_cast<const BYTE*>(blob.data()), static_cast<DWORD>(blob.size())),
              ERROR_SUCCESS);

    // Nothing listens at the target: only through the proxy can the request reach the double.
    const ServiceEndpoint target = ServiceDouble::DeadEndpoint();
    const std::string targetName = "127.0.0.1:" + std::to_string(target.port);
    Analytics analytics(&config_, target);
    const bool sent = analytics.sendStartReport();
    const auto requests = double_.WaitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Header("User-Agent"), "Kestrio Message Client/1.0");
    if (requests[0].verb == "CONNECT") {
        // A tunnelling client asks for the target; the double refuses, so the send fails.
        EXPECT_EQ(requests[0].path, targetName);
        EXPECT_FALSE(sent);
    } else {
        // Wine's WinHTTP speaks TLS to the proxy itself and names the target as Host.
        EXPECT_TRUE(sent);
        EXPECT_EQ(requests[0].path, "/v1/logAnalytics");
        EXPECT_EQ(requests[0].Header("Host"), targetName);
    }
}
