// Protected downloads take their addresses from the installer web service's double, and fall
// back to the plain address when no token comes or the answer would move the download to
// another host or from https to http. The double also serves the package, and its helpers give
// a host that cannot be reached.
#include "tests/workflow/WorkflowSupport.h"

#include "stubframework/core/DownloadWorkflow.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/core/ServiceEndpoint.h"
#include "tests/core/ServiceDouble.h"
#include "stubframework/utils/Paths.h"
#include "tests/support/Signing.h"

using namespace wftest;

namespace {

class SecureDownload : public WorkflowTest {
protected:
    void SetUp() override {
        WorkflowTest::SetUp();
        for (int i = 0; i < 5000; ++i) package_.push_back(static_cast<char>('a' + i % 26));
        double_.SetAnswer("wfpkg", package_);
        // Each address gets its own token, so the package and its signature stay apart.
        const std::wstring file = folder_ / L"published.bin";
        std::string signature;
        ASSERT_TRUE(testsupport::WriteFileBytes(file, package_));
        ASSERT_TRUE(testsupport::PublishSignature(file));
        ASSERT_TRUE(testsupport::ReadFileBytes(file + L".sig", signature));
        double_.SetAnswer("Tandora.bin", package_);
        double_.SetAnswer("Tandora.bin.sig", signature);
        double_.SetAnswer("wfpkg.sig", signature);
    }
    // The requests whose path begins with prefix, in arrival order.
    std::vector<testsupport::RecordedRequest> Requests(const std::string& prefix, size_t atLeast) {
        std::vector<testsupport::RecordedRequest> found;
        for (const auto& request : double_.WaitForRequests(atLeast))
            if (request.path.compare(0, prefix.size(), prefix) == 0) found.push_back(request);
        return found;
    }
    std::wstring Url(const std::wstring& path) { return stubframework::core::ServiceUrl(double_.Endpoint(), path); }

    testsupport::ServiceDouble double_;
    std::string package_;
};

} // namespace

// A token is asked only for an address the download then uses: the plain mode reads no metadata.
TEST_F(SecureDownload, AsksForThePackageAndItsSignatureThenUsesTheToken) {
    double_.SetAnswer("token", "{\"tokenizedUrl\":\"" + dltest::Narrow(Url(L"/tokenized/")) + "{segment}\"}");
    const std::wstring plain = Url(L"/plain/Tandora.bin");
    const std::wstring target = folder_ / L"secure.bin";

    ASSERT_EQ(StartDownload(plain, target, L"", true, false), S_OK);
    ASSERT_TRUE(WaitForFinal());
    ExpectProgressThenFinal(0);
    std::string bytes;
    ASSERT_TRUE(dltest::ReadWholeFile(target, bytes));
    EXPECT_TRUE(bytes == package_);
    const auto tokens = Requests("/v1/token", 4);
    std::vector<std::string> asked;
    for (const auto& token : tokens) asked.push_back(token.body);
    EXPECT_EQ(asked, (std::vector<std::string>{dltest::Narrow(plain), dltest::Narrow(plain) + ".sig"}));
    EXPECT_EQ(Requests("/tokenized/Tandora.bin?timestamp=", 4).size(), 1u);
    EXPECT_EQ(Requests("/tokenized/Tandora.bin.sig?timestamp=", 4).size(), 1u);
}

TEST_F(SecureDownload, WithoutATokenThePlainAddressIsUsed) {
    double_.SetAnswer("token", "{}");
    ASSERT_EQ(StartDownload(Url(L"/plain/wfpkg"), folder_ / L"fallback.bin", L"", true, false), S_OK);
    ASSERT_TRUE(WaitForFinal());
    ExpectProgressThenFinal(0);
    EXPECT_EQ(Requests("/plain/wfpkg?timestamp=", 5).size(), 1u);

    // The size probe asks for a token too.
    htmluitest::Args args;
    args.Text(Url(L"/probe/wfpkg").c_str()).Text((folder_ / L"probe.bin").c_str()).Bool(true);
    ASSERT_EQ(Call(L"initDownloadSize", args), S_OK);
    EXPECT_EQ(Bridge().GetProperty(L"downloadTotal"), std::to_wstring(package_.size()));
    EXPECT_EQ(Requests("/v1/token", 6).size(), 3u);
    EXPECT_EQ(Requests("/probe/wfpkg", 6).size(), 1u);
}

// An answer that would take the download elsewhere is refused with a log line, and the plain
// address is used: the download still succeeds from the publisher's host.
TEST_F(SecureDownload, AnswersToAnotherHostOrToHttpAreRefused) {
    const std::string endpoint = dltest::Narrow(Url(L"/"));    // https://127.0.0.1:PORT/
    const std::string port = endpoint.substr(endpoint.rfind(':') + 1, endpoint.size() - endpoint.rfind(':') - 2);
    const struct {
        const char* name;
        std::string answer;
        const char* reason;
    } cases[] = {
        {"another host", "https://localhost:" + port + "/tokenized/{segment}", "to localhost:"},
        {"http", "http://127.0.0.1:" + port + "/tokenized/{segment}", "https would become http"},
        {"a user in front of the host", "https://127.0.0.1:" + port + "@localhost/tokenized/{segment}", "names a user"},
    };
    int run = 0;
    for (const auto& c : cases) {
        double_.SetAnswer("token", "{\"tokenizedUrl\":\"" + c.answer + "\"}");
        const std::wstring plain = Url(L"/fallback" + std::to_wstring(++run) + L"/wfpkg");
        ASSERT_EQ(StartDownload(plain, folder_ / (L"refused" + std::to_wstring(run) + L".bin"), L"", true, false), S_OK);
        ASSERT_TRUE(WaitForFinal()) << c.name;
        ExpectProgressThenFinal(0);
        const std::string log = app_->LogText();
        EXPECT_NE(log.find("Token answer refused for " + dltest::Narrow(plain) + ": "), std::string::npos) << c.name;
        EXPECT_NE(log.find(c.reason), std::string::npos) << c.name;
        const std::string path = "/fallback" + std::to_string(run) + "/wfpkg";
        EXPECT_EQ(Requests(path + "?timestamp=", 3 * run).size(), 1u) << c.name;
        EXPECT_EQ(Requests(path + ".sig?timestamp=", 3 * run).size(), 1u) << c.name;
    }
    EXPECT_TRUE(Requests("/tokenized/", 1).empty());
}

// When the attempts run out and the host does not answer at all, the page hears NoNetwork.
TEST_F(SecureDownload, AHostThatCannotBeReachedGivesNoNetwork) {
    const std::wstring dead = stubframework::core::ServiceUrl(testsupport::ServiceDouble::DeadEndpoint(), L"/pkg.bin");
    EXPECT_EQ(stubframework::core::DownloadWithRetry(App(), dead, folder_ / L"dead.bin", false, true, 1),
              stubframework::NoNetwork);
}

// Once on TLS, never off it: a move from https to http ends the download at once, in either
// mode and for the file, its metadata or its signature, with a line that says why; asking again
// would bring the same move.
TEST_F(SecureDownload, ARedirectFromHttpsToHttpEndsAtOnce) {
    const struct {
        const char* name;
        bool resume;
        std::vector<std::string> moved;   // the companions (and "" the file) answered with the move
        const char* asked;                // the request that met the move
    } cases[] = {
        {"wfmoved-plain.bin", false, {"", ".sig"}, ""},
        {"wfmoved-resumable.bin", true, {"", ".meta", ".meta.sig"}, ".meta"},
        {"wfmoved-signature.bin", false, {".sig"}, ".sig"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = c.name;
        double_.SetAnswer(name, package_);
        for (const auto& suffix : c.moved)
            double_.SetAnswer(name + suffix, "", 302, "http://127.0.0.1:9/moved/" + name + suffix);
        const std::wstring published = Url(L"/moved/" + std::wstring(name.begin(), name.end()));
        const std::wstring target = folder_ / L"moved.bin";
        EXPECT_EQ(stubframework::core::DownloadWithRetry(App(), published, target, false, c.resume, 1),
                  stubframework::Failure);
        EXPECT_FALSE(stubframework::utils::PathExists(target));
        size_t asked = 0;
        for (const auto& request : Requests("/moved/" + name + c.asked, 1)) {
            const std::string path = request.path.substr(0, request.path.find('?'));
            asked += path == "/moved/" + name + c.asked;
        }
        EXPECT_EQ(asked, 1u) << "asked once, not again";
        EXPECT_NE(app_->LogText().find("Download of " + dltest::Narrow(published) +
                                       " ended: the server moved it from https to http"),
                  std::string::npos);
    }
}
