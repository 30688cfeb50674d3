// The self-update rows and the installer-list refresh driven through the bridge against nginx,
// the fault server and the web-service double (which answers the token requests).
#include "tests/workflow/WorkflowSupport.h"

#include "stubframework/core/AppConfig.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/core/ReleaseGuard.h"
#include "stubframework/core/SelfUpdate.h"
#include "stubframework/core/ServiceEndpoint.h"
#include "stubframework/utils/ComHolders.h"
#include "stubframework/utils/Ground.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/Registry.h"
#include "tests/core/ServiceDouble.h"
#include "tests/support/ChildProcess.h"

using namespace stubframework;
using namespace wftest;
using dltest::NginxUrl;
using dltest::ServerFile;
using dltest::Tag;

namespace {

std::wstring OwnPath() {
    std::wstring own;
    EXPECT_TRUE(utils::GetOwnModulePath(own));
    return own;
}

// Copies source into the nginx root as name (which may hold one folder) and writes its ".meta"
// with the publisher's own tool; both are signed unless signed is false.
void Publish(const std::wstring& source, const std::wstring& name, bool sign = true) {
    const size_t slash = name.find(L'\\');
    if (slash != std::wstring::npos) ::CreateDirectoryW(ServerFile(name.substr(0, slash)).c_str(), nullptr);
    ASSERT_TRUE(::CopyFileW(source.c_str(), ServerFile(name).c_str(), FALSE));
    DWORD exitCode = 1;
    ASSERT_TRUE(testsupport::RunChild(STUBTOOL_EXE, L"stubtool.exe meta \"" + ServerFile(name) + L"\"",
                                      testsupport::ChildOptions(), dltest::kWaitMs, exitCode));
    ASSERT_EQ(exitCode, 0u);
    if (sign) {
        ASSERT_TRUE(dltest::SignPublished(ServerFile(name)));
    }
}

void Unpublish(const std::wstring& name) {
    for (const wchar_t* suffix : {L"", L".meta", L".sig", L".meta.sig"}) ::DeleteFileW(ServerFile(name + suffix).c_str());
}

class SelfUpdate : public WorkflowTest {
protected:
    void SetUp() override {
        WorkflowTest::SetUp();
        ::DeleteFileW(UpdateTarget().c_str());
    }
    void TearDown() override {
        ::DeleteFileW(UpdateTarget().c_str());
        WorkflowTest::TearDown();
    }

    // Where a stub published under this executable's own name is saved.
    static std::wstring UpdateTarget() {
        const std::wstring own = OwnPath();
        const std::wstring name = utils::FileNameOf(own);
        return utils::ParentFolder(own) + name.substr(0, name.find(L'.')) + L"_update.exe";
    }

    std::wstring FrameworkValue(const wchar_t* name) {
        std::wstring value;
        utils::ReadFrameworkValue(App().Config().FrameworkKeyPath(), name, value);
        return value;
    }

    bool NeedsUpdate(const std::wstring& url) {
        htmluitest::Args args;
        args.Text(url.c_str());
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR names[] = {const_cast<LPOLESTR>(L"isNeedSelfUpdate")};
        EXPECT_EQ(Bridge().GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
        DISPPARAMS params = args.Params();
        utils::ScopedVariant result;
        EXPECT_EQ(Bridge().Invoke(id, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                                  result.Receive(), nullptr, nullptr),
                  S_OK);
        EXPECT_EQ(V_VT(&result.Get()), VT_BOOL);
        return V_BOOL(&result.Get()) != VARIANT_FALSE;
    }

    HRESULT StartSelfUpdate(const std::wstring& url) {
        function_ = htmluitest::Adopt(new htmluitest::RecordingFunction);
        htmluitest::Args args;
        args.Text(url.c_str()).Function(function_.Get());
        return Call(L"selfUpdate", args);
    }

    HRESULT StartListUpdate(const std::wstring& url, const std::wstring& path) {
        function_ = htmluitest::Adopt(new htmluitest::RecordingFunction);
        htmluitest::Args args;
        args.Text(url.c_str()).Text(path.c_str()).Bool(false).Bool(false).Function(function_.Get());
        return Call(L"updateInstallerList", args);
    }

    testsupport::ServiceDouble double_;
};

} // namespace

TEST_F(SelfUpdate, NeedsUpdateOnlyWhenThePublishedStubDiffers) {
    const std::wstring same = Tag(L"samestub") + L".exe";
    Publish(OwnPath(), same);
    EXPECT_FALSE(NeedsUpdate(NginxUrl(same)));

    const std::wstring other = Tag(L"otherstub") + L".exe";
    Publish(ServerFile(L"pkg10.bin"), other);
    EXPECT_TRUE(NeedsUpdate(NginxUrl(other)));

    // Metadata that cannot be reached counts as "current"; a redirect is not followed.
    const std::wstring moved = Tag(L"movedstub") + L".exe";
    double_.SetAnswer(dltest::Narrow(moved) + ".meta", "", 302);
    EXPECT_FALSE(NeedsUpdate(core::ServiceUrl(double_.Endpoint(), L"/" + moved)));
    EXPECT_FALSE(NeedsUpdate(NginxUrl(Tag(L"missing") + L".exe")));

    // Metadata that is there but breaks off on the way means an update.
    EXPECT_TRUE(NeedsUpdate(dltest::FaultUrl(L"flaky/" + Tag(L"stub") + L".exe")));

    // Metadata the publisher did not sign decides nothing: no update, and the log says why.
    const std::wstring unsignedStub = Tag(L"unsignedstub") + L".exe";
    Publish(ServerFile(L"pkg10.bin"), unsignedStub, false);
    EXPECT_FALSE(NeedsUpdate(NginxUrl(unsignedStub)));
    EXPECT_NE(app_->LogText().find("Signature refused for " + dltest::Narrow(NginxUrl(unsignedStub)) + ".meta: missing"),
              std::string::npos);
    Unpublish(unsignedStub);

    const std::string log = app_->LogText();
    EXPECT_NE(log.find("EMIsNeedSelfUpdate Result: need update"), std::string::npos);
    EXPECT_NE(log.find("EMIsNeedSelfUpdate Result: not need update"), std::string::npos);
    for (const std::wstring& name : {same, other}) {
        ::DeleteFileW(ServerFile(name).c_str());
        ::DeleteFileW(ServerFile(name + L".meta").c_str());
    }
}

TEST_F(SelfUpdate, SavesUnderTheUpdateNameAndLeavesTheHandOver) {
    const std::wstring folder = Tag(L"selfupdate");
    const std::wstring published = folder + L"\\" + utils::FileNameOf(OwnPath());
    Publish(NEWER_STUB_EXE, published);
    const std::wstring url = NginxUrl(folder + L"/" + utils::FileNameOf(OwnPath()));

    ASSERT_EQ(StartSelfUpdate(url), S_OK);
    ASSERT_TRUE(WaitForFinal());
    ExpectProgressThenFinal(0);

    std::string expected, actual;
    ASSERT_TRUE(dltest::ReadWholeFile(ServerFile(published), expected));
    ASSERT_TRUE(dltest::ReadWholeFile(UpdateTarget(), actual));
    EXPECT_TRUE(actual == expected);
    EXPECT_EQ(FrameworkValue(L"update_stub_name"), utils::FileNameOf(UpdateTarget()));
    EXPECT_EQ(FrameworkValue(L"selfupdate_code"), L"197800");
    EXPECT_EQ(App().Config().SelfUpdateCode(), core::SelfUpdateExitCode);
    // The stub is always fetched with a token, and verified against its metadata.
    std::vector<std::string> tokenBodies;
    for (const auto& request : double_.WaitForRequests(3))
        if (request.path == "/v1/token") tokenBodies.push_back(request.body);
    EXPECT_EQ(tokenBodies, (std::vector<std::string>{dltest::Narrow(url), dltest::Narrow(url) + ".meta",
                                                     dltest::Narrow(url) + ".meta.sig"}));

    Unpublish(published);
}

// A signed file that is no newer stub (no version resource, or one not above the running one)
// is never handed over to: the download ends as refused, and nothing is left behind.
TEST_F(SelfUpdate, AStubThatIsNotNewerIsRefused) {
    const std::wstring name = Tag(L"notnewer") + L".exe";
    Publish(ServerFile(L"pkg10.bin"), name);
    ASSERT_EQ(StartSelfUpdate(NginxUrl(name)), S_OK);
    ASSERT_TRUE(WaitForFinal());
    ExpectProgressThenFinal(6);
    EXPECT_NE(app_->LogText().find("Signature refused for " + dltest::Narrow(NginxUrl(name)) + ": the stub carries no version"),
              std::string::npos);
    EXPECT_FALSE(utils::PathExists(utils::ParentFolder(OwnPath()) + name));
    EXPECT_EQ(FrameworkValue(L"selfupdate_code"), L"");
    EXPECT_EQ(FrameworkValue(L"update_stub_name"), L"");
    EXPECT_NE(App().Config().SelfUpdateCode(), core::SelfUpdateExitCode);
    Unpublish(name);
}

// A stop left over from an earlier download ends the update at once; whatever an earlier run
// left in the registry must not make this run hand over to a partial file.
TEST_F(SelfUpdate, AStopLeftSetEndsWithAbortAndWithdrawsTheHandOver) {
    const std::wstring& key = App().Config().FrameworkKeyPath();
    ASSERT_TRUE(utils::WriteFrameworkValue(key, L"selfupdate_code", L"197800", false));
    ASSERT_TRUE(utils::WriteFrameworkValue(key, L"update_stub_name", L"stale.exe", false));
    const std::wstring name = Tag(L"stopped") + L".exe";
    Publish(ServerFile(L"pkg10.bin"), name);

    Bridge().SetStop(true);
    ASSERT_EQ(StartSelfUpdate(NginxUrl(name)), S_OK);
    ASSERT_TRUE(WaitForFinal());
    ASSERT_FALSE(Reports().empty());
    EXPECT_EQ(Reports().back().status, 5);
    EXPECT_TRUE(Bridge().Stop());   // the self-update leaves the flag as it found it

    EXPECT_FALSE(utils::PathExists(utils::ParentFolder(OwnPath()) + name));
    EXPECT_EQ(FrameworkValue(L"selfupdate_code"), L"");
    EXPECT_EQ(FrameworkValue(L"update_stub_name"), L"");
    EXPECT_NE(App().Config().SelfUpdateCode(), core::SelfUpdateExitCode);
    const std::string log = app_->LogText();
    EXPECT_EQ(log.find("Download fail"), std::string::npos);
    EXPECT_NE(log.find("TransferDownloadError HRESULT: 80004004"), std::string::npos);

    ::DeleteFileW(ServerFile(name).c_str());
    ::DeleteFileW(ServerFile(name + L".meta").c_str());
}

TEST_F(SelfUpdate, InstallerListIsReplacedOnlyBySuccessOnTheGround) {
    // A list outside the ground (the user's folder) is never replaced by the elevated stub.
    const std::wstring outside = folder_ / L"installerlist.js";
    ASSERT_TRUE(testsupport::WriteFileBytes(outside, "user's list"));
    ASSERT_EQ(StartListUpdate(dltest::FaultUrl(L"len500"), outside), S_OK);
    ASSERT_TRUE(WaitForFinal());
    EXPECT_EQ(Reports().back().status, 4);
    std::string bytes;
    ASSERT_TRUE(testsupport::ReadFileBytes(outside, bytes));
    EXPECT_EQ(bytes, "user's list");
    EXPECT_NE(app_->LogText().find("Update installerlist refused"), std::string::npos);

    std::wstring ground;
    ASSERT_TRUE(utils::CreateGroundFolder(ground));
    const std::wstring list = ground + L"installerlist.js";
    ASSERT_TRUE(testsupport::WriteFileBytes(list, "old list"));

    ASSERT_EQ(StartListUpdate(NginxUrl(Tag(L"nolist") + L".js"), list), S_OK);
    ASSERT_TRUE(WaitForFinal());
    EXPECT_EQ(Reports().back().status, 2);
    ASSERT_TRUE(testsupport::ReadFileBytes(list, bytes));
    EXPECT_EQ(bytes, "old list");

    // A list without an extension keeps its old content just the same.
    const std::wstring bare = ground + L"installerlist";
    ASSERT_TRUE(testsupport::WriteFileBytes(bare, "old bare list"));
    ASSERT_EQ(StartListUpdate(NginxUrl(Tag(L"nolist")), bare), S_OK);
    ASSERT_TRUE(WaitForFinal());
    EXPECT_NE(Reports().back().status, 0);
    ASSERT_TRUE(testsupport::ReadFileBytes(bare, bytes));
    EXPECT_EQ(bytes, "old bare list");

    // A signed body that is no installer list of this product's release: refused, the old list stays.
    Bridge().SetStop(true);   // a refresh clears an earlier stop
    ASSERT_EQ(StartListUpdate(dltest::FaultUrl(L"len500"), list), S_OK);
    ASSERT_TRUE(WaitForFinal());
    ExpectProgressThenFinal(6);
    ASSERT_TRUE(testsupport::ReadFileBytes(list, bytes));
    EXPECT_EQ(bytes, "old list");
    EXPECT_NE(app_->LogText().find("Signature refused for " + dltest::Narrow(dltest::FaultUrl(L"len500")) +
                                   ": the list does not begin with the release manifest"),
              std::string::npos);

    // This product's signed list takes the old one's place, and its serial is kept for later runs:
    // an older release is refused from then on.
    const std::wstring key = core::ReleaseSerialKey(App().Config().FrameworkKeyPath());
    const std::string script = "var Components = [];\n";
    const auto release = [&](int serial) {
        return "/* TANDORA-RELEASE-MANIFEST 1\nproduct Tandora\nserial " + std::to_string(serial) +
               "\nEND-TANDORA-RELEASE-MANIFEST */\n" + script;
    };
    const std::wstring name = Tag(L"list") + L".js";
    for (bool view64 : {false, true}) utils::DeleteRegistryValue(key, L"Tandora", view64);
    ASSERT_TRUE(testsupport::WriteFileBytes(ServerFile(name), release(7)));
    ASSERT_TRUE(dltest::SignPublished(ServerFile(name)));
    ASSERT_EQ(StartListUpdate(NginxUrl(name), list), S_OK);
    ASSERT_TRUE(WaitForFinal());
    ExpectProgressThenFinal(0);
    ASSERT_TRUE(testsupport::ReadFileBytes(list, bytes));
    EXPECT_EQ(bytes, release(7));
    EXPECT_FALSE(utils::PathExists(ground + L"installerlist__NEW_FILE__.js"));
    EXPECT_NE(app_->LogText().find("Release manifest accepted from " + dltest::Narrow(NginxUrl(name)) +
                                   ": product Tandora, serial 7, 0 files"),
              std::string::npos);
    std::wstring kept;
    EXPECT_TRUE(utils::ReadFrameworkValue(key, L"Tandora", kept));
    EXPECT_EQ(kept, L"7");

    ASSERT_TRUE(testsupport::WriteFileBytes(ServerFile(name), release(6)));
    ASSERT_TRUE(dltest::SignPublished(ServerFile(name)));
    ASSERT_EQ(StartListUpdate(NginxUrl(name), list), S_OK);
    ASSERT_TRUE(WaitForFinal());
    ExpectProgressThenFinal(6);
    ASSERT_TRUE(testsupport::ReadFileBytes(list, bytes));
    EXPECT_EQ(bytes, release(7));
    EXPECT_NE(app_->LogText().find("release 6 is older than the accepted 7"), std::string::npos);

    for (bool view64 : {false, true}) utils::DeleteRegistryValue(key, L"Tandora", view64);
    Unpublish(name);
    utils::DeleteFolderTree(ground);
}

TEST(SelfUpdateNames, UpdateNameComesFromTheUrlPath) {
    EXPECT_EQ(core::SelfUpdateFileName(L"http://h/d/Stub.exe", L"stub.EXE"), L"Stub_update.exe");
    EXPECT_EQ(core::SelfUpdateFileName(L"http://h/d/Tandora.22.exe?x=a/b", L"Tandora.22.exe"),
              L"Tandora_update.exe");
    EXPECT_EQ(core::SelfUpdateFileName(L"http://h/d/New.exe", L"Stub.exe"), L"New.exe");
    EXPECT_EQ(core::SelfUpdateFileName(L"http://h/d/", L"Stub.exe"), L"");
}
