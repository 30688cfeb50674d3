// The release manifest of the pages' list binds each signed file to its URL and the release to
// its serial: through the bridge against nginx, whose files all carry good signatures, only the
// file the release lists under its URL is taken, and a release older than the accepted one
// takes nothing.
#include "tests/workflow/WorkflowSupport.h"

#include "StubCore/StubApplication.h"
#include "stubframework/core/ReleaseGuard.h"
#include "stubframework/core/VerifiedFile.h"
#include "stubframework/utils/Ecdsa.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/Registry.h"
#include "stubframework/utils/SignatureFormat.h"
#include "tests/support/Signing.h"

using namespace stubframework;
using namespace wftest;
using dltest::NginxUrl;
using dltest::ServerFile;

namespace {

constexpr int kSerial = 3;

// "file SHA256 SIZE URL" for the bytes of a server file, listed under url.
std::string Line(const std::wstring& serverFile, const std::wstring& url) {
    utils::ScopedFileHandle file(::CreateFileW(ServerFile(serverFile).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
    utils::Sha256Digest digest{};
    LARGE_INTEGER size = {};
    EXPECT_TRUE(file && ::GetFileSizeEx(file.Get(), &size) && utils::Sha256OfFile(file.Get(), digest));
    return "file " + utils::HexText(digest.data(), digest.size()) + " " + std::to_string(size.QuadPart) + " " +
           dltest::Narrow(url) + "\n";
}

class ReleaseBinding : public WorkflowTest {
protected:
    void SetUp() override {
        WorkflowTest::SetUp();
        ForgetSerial();
        // pkg10.bin as published; storm.bin listed with pkg10's bytes (another release's file in
        // its place); empty.bin not listed at all.
        const std::string manifest = "/* TANDORA-RELEASE-MANIFEST 1\nproduct Tandora\nserial " + std::to_string(kSerial) +
                                     "\n" + Line(L"pkg10.bin", NginxUrl(L"pkg10.bin")) +
                                     Line(L"pkg10.bin.meta", NginxUrl(L"pkg10.bin.meta")) +
                                     Line(L"pkg10.bin", NginxUrl(L"storm.bin")) +
                                     Line(L"pkg10.bin.meta", NginxUrl(L"storm.bin.meta")) +
                                     "END-TANDORA-RELEASE-MANIFEST */\nvar Components = [];\n";
        const std::wstring config = App().Resources().Folder() + L"config";
        ::CreateDirectoryW(config.c_str(), nullptr);
        ASSERT_TRUE(testsupport::WriteFileBytes(core::PagesListPath(App()), manifest));
    }
    void TearDown() override {
        ForgetSerial();
        WorkflowTest::TearDown();
    }
    void ForgetSerial() {
        for (bool view64 : {false, true})
            utils::DeleteRegistryValue(core::ReleaseSerialKey(App().Config().FrameworkKeyPath()), L"Tandora", view64);
    }
};

} // namespace

TEST_F(ReleaseBinding, OnlyTheListedFileUnderItsUrlIsTaken) {
    const struct {
        const char* name;
        const wchar_t* file;
        bool resume;
        int code;
        const char* refusal;    // null: accepted
    } cases[] = {
        {"listed, resumable", L"pkg10.bin", true, 0, nullptr},
        {"listed, plain", L"pkg10.bin", false, 0, nullptr},
        {"another release's bytes, resumable", L"storm.bin", true, 6,
         "storm.bin.meta: 48 bytes that differ from the 228 bytes and SHA-256 of the release manifest"},
        {"another release's bytes, plain", L"storm.bin", false, 6,
         "storm.bin: 1052897 bytes that differ from the 10490081 bytes and SHA-256 of the release manifest"},
        {"not in the release", L"empty.bin", false, 6, "empty.bin: not named by the release manifest"},
    };
    int run = 0;
    for (const auto& c : cases) {
        const std::wstring target = folder_ / (L"bound" + std::to_wstring(++run) + L".bin");
        ASSERT_EQ(StartDownload(NginxUrl(c.file), target, L"", false, c.resume), S_OK) << c.name;
        ASSERT_TRUE(WaitForFinal()) << c.name;
        ExpectProgressThenFinal(c.code);
        // A refused whole file goes with its companions; a resumable download refused at its
        // metadata keeps its partial file for the next attempt, as any failed one does.
        if (!c.resume || c.code == 0) {
            EXPECT_EQ(utils::PathExists(target), c.code == 0) << c.name;
        }
        for (const std::wstring companion : {L".meta", L".meta.sig", L".sig"}) {
            const bool kept = c.code == 0 && c.resume == (companion != L".sig");
            EXPECT_EQ(utils::PathExists(target + companion), kept) << c.name << " " << dltest::Narrow(companion);
        }
        if (c.refusal) {
            EXPECT_NE(app_->LogText().find("Signature refused for " + dltest::Narrow(NginxUrl(L"")) + c.refusal),
                      std::string::npos)
                << c.name;
        }
    }

    // What an installer is handed must be a file of the release, whatever its name: a signed
    // file that the release does not list is refused where it is opened for the install.
    const std::wstring unlisted = folder_ / L"unlisted.bin";
    ASSERT_TRUE(::CopyFileW(ServerFile(L"storm.bin").c_str(), unlisted.c_str(), FALSE));
    ASSERT_TRUE(testsupport::PublishSignature(unlisted));
    utils::ScopedFileHandle held;
    EXPECT_FALSE(core::OpenVerifiedFile(App(), unlisted, held));
    EXPECT_NE(app_->LogText().find("unlisted.bin: its bytes are no file of the release manifest"), std::string::npos);
    EXPECT_TRUE(core::OpenVerifiedFile(App(), folder_ / L"bound1.bin", held));
}

// A release older than one accepted before (kept across runs in the machine's product key) takes
// nothing, not even the files it lists correctly.
TEST_F(ReleaseBinding, AnOlderReleaseThanTheAcceptedOneTakesNothing) {
    ASSERT_TRUE(utils::WriteFrameworkValue(core::ReleaseSerialKey(App().Config().FrameworkKeyPath()), L"Tandora",
                                           std::to_wstring(kSerial + 1), false));
    const std::wstring target = folder_ / L"older.bin";
    ASSERT_EQ(StartDownload(NginxUrl(L"pkg10.bin"), target, L"", false, true), S_OK);
    ASSERT_TRUE(WaitForFinal());
    ExpectProgressThenFinal(6);
    EXPECT_FALSE(utils::PathExists(target));
    EXPECT_NE(app_->LogText().find("pkg10.bin.meta: the pages' list is release 3, older than the accepted 4"),
              std::string::npos);
}
