// A release that names a mirror for its download host: each way the host can fail hands the file
// to the mirror (real nginx), which serves only what the verified blocks left missing, and the
// run keeps asking the mirror first once it had to switch.
#include "tests/workflow/WorkflowSupport.h"

#include "downloader/BlockDigest.h"
#include "downloader/Downloader.h"
#include "stubframework/core/DownloadWorkflow.h"
#include "stubframework/core/MirrorChoice.h"
#include "stubframework/core/PackageCache.h"
#include "stubframework/core/ReleaseGuard.h"
#include "stubframework/utils/Ecdsa.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/Registry.h"
#include "stubframework/utils/SignatureFormat.h"
#include "tests/support/Signing.h"

using namespace stubframework;
using namespace wftest;

namespace {

constexpr DWORD kQuickRetryMs = 1;
constexpr int64_t kBlock = downloader::kBlockSize;
constexpr size_t kPackageSize = 4 * kBlock + 12345;    // the fault server's package

std::string FileLine(const std::string& bytes, const std::wstring& url) {
    utils::Sha256Digest digest{};
    EXPECT_TRUE(utils::Sha256Of(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), digest));
    return "file " + utils::HexText(digest.data(), digest.size()) + " " + std::to_string(bytes.size()) + " " +
           dltest::Narrow(url) + "\n";
}

// The ".meta" of bytes: their size, then the SHA-1 of each block.
std::string MetaOf(const std::string& bytes) {
    downloader::BlockDigest digester;
    std::vector<downloader::BlockHash> hashes;
    for (size_t at = 0; at < bytes.size(); at += kBlock) {
        downloader::BlockHash hash{};
        const DWORD size = static_cast<DWORD>(std::min<size_t>(kBlock, bytes.size() - at));
        EXPECT_TRUE(digester.Digest(reinterpret_cast<const uint8_t*>(bytes.data()) + at, size, hash));
        hashes.push_back(hash);
    }
    const std::vector<uint8_t> meta = downloader::SerializeDownloadMeta(static_cast<int64_t>(bytes.size()), hashes);
    return std::string(meta.begin(), meta.end());
}

struct Row {
    const char* name;
    const wchar_t* fault;       // of the fault server's answers to the package at the host
    bool resume;
    bool mirrorHasIt;           // false: the mirror answers 404 too
    int64_t kept;               // bytes the host's verified blocks leave the mirror no need to send
    ResultCode code;
    const wchar_t* reason;      // of the logged move; null: no move
};

class Mirrors : public WorkflowTest {
protected:
    void SetUp() override {
        WorkflowTest::SetUp();
        ForgetSerial();
        core::ForgetMirrorChoicesForTesting();
        package_ = dltest::FaultBody(0, kPackageSize);
        meta_ = MetaOf(package_);
    }
    void TearDown() override {
        ForgetSerial();
        core::ForgetMirrorChoicesForTesting();
        WorkflowTest::TearDown();
    }
    void ForgetSerial() {
        for (bool view64 : {false, true})
            utils::DeleteRegistryValue(core::ReleaseSerialKey(App().Config().FrameworkKeyPath()), L"Tandora", view64);
    }

    std::wstring HostBase(const std::wstring& fault, const std::wstring& tag) {
        return dltest::FaultUrl(L"m/" + fault + L"/0/" + tag + L"/");
    }
    // The pages' list: one release naming each (host base, mirror folder) with the package there.
    void Publish(const std::vector<std::pair<std::wstring, std::wstring>>& bases) {
        std::string mirrors, files;
        for (const auto& [host, tag] : bases) {
            mirrors += "mirror " + dltest::Narrow(host) + " " + dltest::Narrow(dltest::NginxUrl(tag + L"/")) + "\n";
            files += FileLine(package_, host + L"pkg.bin") + FileLine(meta_, host + L"pkg.bin.meta");
        }
        const std::string list = "/* TANDORA-RELEASE-MANIFEST 1\nproduct Tandora\nserial 3\n" + mirrors + files +
                                 "END-TANDORA-RELEASE-MANIFEST */\nvar Components = [];\n";
        ::CreateDirectoryW((App().Resources().Folder() + L"config").c_str(), nullptr);
        ASSERT_TRUE(testsupport::WriteFileBytes(core::PagesListPath(App()), list));
    }
    // The package and its signed ".meta" in the nginx folder tag.
    void Mirror(const std::wstring& tag) {
        const std::wstring folder = dltest::ServerFile(tag);
        ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
        ASSERT_TRUE(dltest::WriteWholeFile(folder + L"\\pkg.bin", package_));
        ASSERT_TRUE(dltest::WriteWholeFile(folder + L"\\pkg.bin.meta", meta_));
        ASSERT_TRUE(dltest::SignPublished(folder + L"\\pkg.bin"));
    }
    // nginx's answers to the package of tag: (first byte asked, bytes sent) each.
    std::vector<std::pair<int64_t, int64_t>> MirrorAnswers(const std::wstring& tag) {
        std::vector<std::pair<int64_t, int64_t>> answers;
        for (const std::string& line : dltest::AccessLogLines("/" + dltest::Narrow(tag) + "/pkg.bin?")) {
            answers.emplace_back(0, std::stoll(line.substr(line.rfind('|') + 1)));
        }
        for (const std::string& line : dltest::AccessLogLines("/" + dltest::Narrow(tag) + "/pkg.bin|")) {
            const size_t at = line.find("|bytes=");
            answers.emplace_back(at == std::string::npos ? 0 : std::stoll(line.substr(at + 7)),
                                 std::stoll(line.substr(line.rfind('|') + 1)));
        }
        return answers;
    }
    // The fault server's requests for the package of tag (a plain download adds a query).
    size_t HostRequests(const std::wstring& tag) {
        size_t count = 0;
        for (const std::string& line : dltest::FaultLogLines("/" + dltest::Narrow(tag) + "/pkg.bin"))
            count += line.find("/pkg.bin|") != std::string::npos || line.find("/pkg.bin?") != std::string::npos;
        return count;
    }
    std::string MoveLines() {
        std::string lines, log = app_->LogText();
        for (size_t at = log.find(" moves from "); at != std::string::npos; at = log.find(" moves from ", at + 1))
            lines += log.substr(log.rfind('\n', at) + 1, log.find('\n', at) - log.rfind('\n', at)) ;
        return lines;
    }
    bool LogHas(const std::wstring& text) { return app_->LogText().find(dltest::Narrow(text)) != std::string::npos; }

    std::string package_, meta_;
};

} // namespace

TEST_F(Mirrors, EachFailureOfTheHostHandsTheFileToTheMirrorWithItsVerifiedBlocks) {
    const Row rows[] = {
        {"dies at 40 %", L"die", true, true, kBlock, NoError, L"moves from"},
        {"a damaged block", L"badblock", true, true, kBlock, NoError, L"a block failed its hash"},
        {"503", L"status503", true, true, 0, NoError, L"the server's answer was refused"},
        {"503, plain", L"status503", false, true, 0, NoError, L"moves from"},
        {"no progress", L"stall", true, true, kBlock, NoError, L"no progress within the receive timeout"},
        {"metadata its signature refuses", L"metaother", true, true, 0, NoError, L"its signature or release entry was refused"},
        {"every address fails", L"status500", true, false, 0, Failure, L"the server's answer was refused"},
    };
    std::vector<std::pair<std::wstring, std::wstring>> bases;
    std::vector<std::wstring> tags;
    for (const Row& row : rows) {
        tags.push_back(dltest::Tag(L"mirror"));
        bases.emplace_back(HostBase(row.fault, tags.back()), tags.back());
        if (row.mirrorHasIt) Mirror(tags.back());
    }
    Publish(bases);
    downloader::SetReceiveTimeout(1500);
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.name);
        core::ForgetMirrorChoicesForTesting();
        const std::wstring host = bases[i].first + L"pkg.bin";
        const std::wstring target = folder_ / (tags[i] + L".bin");
        EXPECT_EQ(core::DownloadWithRetry(App(), host, target, false, row.resume, kQuickRetryMs), row.code);
        std::string bytes;
        if (row.code == NoError) {
            EXPECT_TRUE(testsupport::ReadFileBytes(target, bytes));
            EXPECT_TRUE(bytes == package_) << bytes.size();
        }
        EXPECT_TRUE(LogHas(L"Download of " + host + L" moves from " + host)) << "no move logged";
        EXPECT_TRUE(LogHas(row.reason)) << dltest::Narrow(row.reason) << " in\n" << MoveLines();
        // One failure at the host is enough to move on (the one that died is asked once more for
        // the rest of its answer); the last address gets the usual attempts.
        EXPECT_LE(HostRequests(tags[i]), 2u);
        EXPECT_GE(dltest::FaultLogLines("/" + dltest::Narrow(tags[i]) + "/pkg.bin").size(), 1u);    // the host was asked
        if (!row.mirrorHasIt) {
            EXPECT_EQ(dltest::AccessLogLines("/" + dltest::Narrow(tags[i]) + "/pkg.bin.meta").size(), 10u);
            continue;
        }
        // The mirror sends what the verified blocks left missing and nothing twice.
        int64_t sent = 0;
        const auto answers = MirrorAnswers(tags[i]);
        ASSERT_FALSE(answers.empty());
        for (const auto& [first, count] : answers) {
            EXPECT_GE(first, row.kept);
            sent += count;
        }
        EXPECT_LE(sent, static_cast<int64_t>(kPackageSize) - row.kept);
    }
    downloader::SetReceiveTimeout(30000);
}

// Once a download had to move, the run's next file from the same host starts at the mirror; one
// served by its own host again puts the host back in front.
TEST_F(Mirrors, TheRunKeepsAskingTheMirrorThatServedFirst) {
    const std::wstring failing = dltest::Tag(L"mirror"), healthy = dltest::Tag(L"mirror");
    Mirror(failing);
    Mirror(healthy);
    const std::wstring failingBase = HostBase(L"status503", failing), healthyBase = HostBase(L"none", healthy);
    Publish({{failingBase, failing}, {healthyBase, healthy}});
    ASSERT_EQ(core::DownloadWithRetry(App(), failingBase + L"pkg.bin", folder_ / L"first.bin", false, true, kQuickRetryMs),
              NoError);
    ASSERT_EQ(core::DownloadWithRetry(App(), healthyBase + L"pkg.bin", folder_ / L"second.bin", false, true, kQuickRetryMs),
              NoError);
    EXPECT_TRUE(dltest::FaultLogLines("/" + dltest::Narrow(healthy) + "/").empty());
    EXPECT_FALSE(MirrorAnswers(healthy).empty());
    EXPECT_EQ(core::InChosenOrder({healthyBase + L"pkg.bin", dltest::NginxUrl(healthy + L"/pkg.bin")}).front(),
              dltest::NginxUrl(healthy + L"/pkg.bin"));
    core::RememberServingAddress(healthyBase + L"pkg.bin", healthyBase + L"pkg.bin");
    EXPECT_EQ(core::InChosenOrder({healthyBase + L"pkg.bin", dltest::NginxUrl(healthy + L"/pkg.bin")}).front(),
              healthyBase + L"pkg.bin");
}
