// The page's "download" against the faults of the scripted server, grouped by kind of fault.
// Each case starts from a file whose first two blocks are right; the fault meets the first
// answers only, so the workflow's own retries must end with the right file, or with a clear
// code when the fault persists, and never fetch the blocks that were right again.
#include "tests/workflow/WorkflowSupport.h"

#include "downloader/Downloader.h"
#include "stubframework/core/PackageCache.h"
#include "stubframework/utils/Paths.h"

using namespace stubframework;
using namespace wftest;

namespace {

constexpr int64_t kBlock = 1048576;
constexpr size_t kPackageSize = 4 * kBlock + 12345;   // the fault server's package

struct FaultCase {
    const wchar_t* fault;
    int times;   // how many answers meet the fault; 0: all of them
};

class DownloadFaults : public WorkflowTest {
protected:
    void SetUp() override {
        WorkflowTest::SetUp();
        expected_ = dltest::FaultBody(0, kPackageSize);
        const std::wstring copy = folder_ / L"expected.bin";
        ASSERT_TRUE(dltest::WriteWholeFile(copy, expected_));
        crc_ = CrcText(copy);
    }

    std::wstring PackageUrl(const FaultCase& c, const std::wstring& tag) {
        return dltest::FaultUrl(L"m/" + std::wstring(c.fault) + L"/" + std::to_wstring(c.times) + L"/" + tag +
                                L"/pkg.bin");
    }

    // Runs one download from the two-block start (in the package cache, where downloads resume)
    // and returns the page's final code.
    int Run(const std::wstring& url, const std::wstring& target) {
        if (!dltest::WriteWholeFile(core::CachedPathOf(App(), target), expected_.substr(0, 2 * kBlock))) return -1;
        if (StartDownload(url, target, crc_, false, true) != S_OK || !WaitForFinal()) return -1;
        const std::vector<Report> reports = Reports();
        for (size_t i = 0; i + 1 < reports.size(); ++i) EXPECT_EQ(reports[i].status, 10) << "report " << i;
        return reports.back().status;
    }

    // The package requests of a tag: each starts past the blocks that were right from the start.
    void ExpectGoodBlocksKept(const std::wstring& tag) {
        const auto lines = dltest::FaultLogLines("/" + dltest::Narrow(tag) + "/pkg.bin|");
        EXPECT_FALSE(lines.empty());
        for (const auto& line : lines) {
            const size_t at = line.find("|bytes=");
            ASSERT_NE(at, std::string::npos) << line;
            EXPECT_GE(std::stoll(line.substr(at + 7)), 2 * kBlock) << line;
        }
    }

    // Every case ends with the right file and code 0, fetching nothing that was right already.
    void RunRecovering(const std::vector<FaultCase>& cases) {
        for (const FaultCase& c : cases) {
            SCOPED_TRACE(testing::Message() << dltest::Narrow(c.fault) << " x" << c.times);
            const std::wstring tag = dltest::Tag(std::wstring(L"wf-") + c.fault);
            const std::wstring target = folder_ / (tag + L".bin");
            EXPECT_EQ(Run(PackageUrl(c, tag), target), 0);
            std::string actual;
            ASSERT_TRUE(dltest::ReadWholeFile(target, actual));
            EXPECT_TRUE(actual == expected_);
            ExpectGoodBlocksKept(tag);
        }
    }

    std::string expected_;
    std::wstring crc_;
};

TEST_F(DownloadFaults, BrokenConnectionsAreRetriedFromTheFirstWrongBlock) {
    // A stalled body must not hold the download for the default 30 s.
    downloader::SetReceiveTimeout(1500);
    RunRecovering({{L"reset", 1}, {L"stall", 1}, {L"reset", 2}});
    downloader::SetReceiveTimeout(30000);
}

TEST_F(DownloadFaults, BodiesOfTheWrongLengthOrFormAreCompletedOrRefused) {
    RunRecovering({{L"short", 0}, {L"oversize", 1}, {L"chunked", 0}});
}

TEST_F(DownloadFaults, AnswersThatBreakTheRangeContractAreRetried) {
    RunRecovering({{L"badrange", 1}, {L"full200", 1}, {L"status500", 1}, {L"loop", 3}, {L"loop", 12}});
}

TEST_F(DownloadFaults, PackageChangingUnderwayIsNotTakenForTheRightFile) {
    RunRecovering({{L"etag", 3}});
}

TEST_F(DownloadFaults, BadMetadataIsRefusedAndFetchedAgain) {
    RunRecovering({{L"metacut", 1}, {L"metalen", 1}, {L"metaother", 1}, {L"metachunked", 1}});
}

TEST_F(DownloadFaults, PersistentFaultEndsWithFailureAndLeavesTheFileResumable) {
    const std::wstring tag = dltest::Tag(L"wf-persist");
    const std::wstring target = folder_ / L"persist.bin";
    EXPECT_EQ(Run(PackageUrl({L"status500", 0}, tag), target), 4);
    EXPECT_EQ(dltest::FaultLogLines("/" + dltest::Narrow(tag) + "/pkg.bin.meta|").size(), 10u);
    std::string partial;
    ASSERT_TRUE(dltest::ReadWholeFile(core::CachedPathOf(App(), target), partial));
    EXPECT_FALSE(stubframework::utils::PathExists(target)) << "the user's folder gets only whole, verified files";
    EXPECT_EQ(partial.size(), kPackageSize);    // sized up front, the right blocks kept
    EXPECT_TRUE(partial.compare(0, 2 * kBlock, expected_, 0, 2 * kBlock) == 0);

    // A good server then fetches only from the first wrong block on.
    const std::wstring good = dltest::Tag(L"wf-good");
    ASSERT_EQ(StartDownload(PackageUrl({L"none", 0}, good), target, crc_, false, true), S_OK);
    ASSERT_TRUE(WaitForFinal());
    EXPECT_EQ(Reports().back().status, 0);
    std::string actual;
    ASSERT_TRUE(dltest::ReadWholeFile(target, actual));
    EXPECT_TRUE(actual == expected_);
    const auto lines = dltest::FaultLogLines("/" + dltest::Narrow(good) + "/pkg.bin|");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("|bytes=2097152-4206648|"), std::string::npos) << lines[0];
}

} // namespace
