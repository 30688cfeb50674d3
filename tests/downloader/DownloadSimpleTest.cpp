// The resumable download against nginx: what is verified, what is fetched, how it ends.
#include <gtest/gtest.h>

#include "tests/downloader/Helpers.h"

using namespace downloader;
using namespace dltest;

namespace {

const int64_t kPackageSize = 10 * 1048576 + 4321;

class DownloadSimpleTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ReadWholeFile(ServerFile(L"pkg10.bin"), package_));
        ASSERT_EQ(static_cast<int64_t>(package_.size()), kPackageSize);
        target_ = TempPath(L"target.bin");
    }
    void TearDown() override {
        if (task_) task_->Release();
        recorder_->Release();
        logger_->Release();
        ::DeleteFileW(target_.c_str());
        EXPECT_TRUE(NoObjectsBeyond(baseline_));
    }

    // Downloads name (with a tag for the access log) into the target and waits for the report.
    void Download(const std::wstring& name, const std::wstring& label) {
        const std::wstring tag = Tag(label);
        tag_ = Narrow(tag);
        const std::wstring url = NginxUrl(name + L"?t=" + tag);
        const std::wstring meta = NginxUrl(name + L".meta?t=" + tag);
        task_ = CreateDownloadSimpleTask(url.c_str(), meta.c_str(), target_.c_str(), recorder_, logger_);
        ASSERT_NE(task_, nullptr);
        recorder_->task = task_;
        task_->Start();
        ASSERT_TRUE(recorder_->Wait());
    }
    // The package requests of the last Download.
    std::vector<std::string> PackageRequests(const std::string& name) {
        return AccessLogLines("/" + name + "?t=" + tag_ + "|");
    }
    std::string Target() {
        std::string bytes;
        ReadWholeFile(target_, bytes);
        return bytes;
    }
    void Restart() {
        task_->Release();
        task_ = nullptr;
        recorder_->Release();
        recorder_ = details::New<DownloadRecorder>();
    }

    long baseline_ = details::LiveObjectCount();
    std::string package_;
    std::wstring target_;
    std::string tag_;
    Object<CaptureLogger>* logger_ = details::New<CaptureLogger>();
    Object<DownloadRecorder>* recorder_ = details::New<DownloadRecorder>();
    ITask* task_ = nullptr;
};

TEST_F(DownloadSimpleTest, FreshDownloadFetchesEverythingOnceAndVerifies) {
    Download(L"pkg10.bin", L"fresh");
    EXPECT_EQ(recorder_->result, S_OK);
    EXPECT_TRUE(Target() == package_);
    const auto requests = PackageRequests("pkg10.bin");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], "/pkg10.bin?t=" + tag_ + "|206|bytes=0-10490080|-|10490081");
    ASSERT_FALSE(recorder_->progress.empty());
    EXPECT_EQ(recorder_->progress.back(), std::make_pair(kPackageSize, kPackageSize));
    EXPECT_EQ(recorder_->Reports(), 1);
}

TEST_F(DownloadSimpleTest, CompleteFileIsOnlyVerified) {
    ASSERT_TRUE(WriteWholeFile(target_, package_));
    Download(L"pkg10.bin", L"complete");
    EXPECT_EQ(recorder_->result, S_OK);
    EXPECT_TRUE(PackageRequests("pkg10.bin").empty());
    EXPECT_EQ(AccessLogLines("/pkg10.bin.meta?t=" + tag_ + "|").size(), 1u);
    // 0, then one step per block up to the total.
    std::vector<int64_t> expected = {0};
    for (int64_t done = 1048576; done < kPackageSize; done += 1048576) expected.push_back(done);
    expected.push_back(kPackageSize);
    std::vector<int64_t> seen;
    for (const auto& p : recorder_->progress) seen.push_back(p.first);
    EXPECT_EQ(seen, expected);
}

TEST_F(DownloadSimpleTest, ResumesFromTheFirstBadBlock) {
    std::string partial = package_;
    partial[7 * 1048576 + 5] ^= 0x55;
    ASSERT_TRUE(WriteWholeFile(target_, partial));
    Download(L"pkg10.bin", L"block7");
    EXPECT_EQ(recorder_->result, S_OK);
    EXPECT_TRUE(Target() == package_);
    const auto requests = PackageRequests("pkg10.bin");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], "/pkg10.bin?t=" + tag_ + "|206|bytes=7340032-10490080|-|3150049");
    EXPECT_TRUE(logger_->Contains(L"DownloadSimpleTask::StartHash> Start hash from block 7."));
    // The second pass starts at the first downloaded block: blocks 0-6 are not read again.
    const auto lines = logger_->Lines();
    int hashStarts = 0;
    for (const auto& line : lines) {
        if (line.find(L"Start hash from block") != std::wstring::npos) ++hashStarts;
    }
    EXPECT_EQ(hashStarts, 2);
}

TEST_F(DownloadSimpleTest, WrongBlockMidTransferStopsItAndResumesFromThatBlock) {
    // The first answer has a wrong byte in block 1, ends after block 2 and then sends nothing:
    // only a download that checks each block as it lands stops in time and asks again.
    const std::string tag = Narrow(Tag(L"badblock"));
    const std::wstring url = FaultUrl(L"m/badblock/1/" + std::wstring(tag.begin(), tag.end()) + L"/pkg.bin");
    task_ = CreateDownloadSimpleTask(url.c_str(), (url + L".meta").c_str(), target_.c_str(), recorder_, logger_);
    ASSERT_NE(task_, nullptr);
    task_->Start();
    ASSERT_TRUE(recorder_->Wait());
    EXPECT_EQ(recorder_->result, S_OK);
    const size_t size = 4 * 1048576 + 12345;
    EXPECT_TRUE(Target() == FaultBody(0, size));
    const std::string path = "/m/badblock/1/" + tag + "/pkg.bin|";
    EXPECT_EQ(FaultLogLines(path), (std::vector<std::string>{path + "bytes=0-4206648|", path + "bytes=1048576-4206648|"}));
    EXPECT_TRUE(logger_->Contains(L"DownloadSimpleTask::OnHash> Hash mismatch found for block 1."));
    EXPECT_EQ(recorder_->Reports(), 1);
}

TEST_F(DownloadSimpleTest, LongerFileIsCutToThePublishedSize) {
    ASSERT_TRUE(WriteWholeFile(target_, package_ + std::string(5000, 'x')));
    Download(L"pkg10.bin", L"longer");
    EXPECT_EQ(recorder_->result, S_OK);
    EXPECT_TRUE(Target() == package_);
    EXPECT_TRUE(PackageRequests("pkg10.bin").empty());
}

TEST_F(DownloadSimpleTest, EmptyPackageSucceedsWithoutADownload) {
    ASSERT_TRUE(WriteWholeFile(target_, "leftover bytes"));
    Download(L"empty.bin", L"empty");
    EXPECT_EQ(recorder_->result, S_OK);
    EXPECT_TRUE(Target().empty());
    EXPECT_TRUE(PackageRequests("empty.bin").empty());
}

TEST_F(DownloadSimpleTest, CancelDuringVerificationReportsAbortOnce) {
    ASSERT_TRUE(WriteWholeFile(target_, package_));
    recorder_->cancelAt = 2 * 1048576;
    Download(L"pkg10.bin", L"cancel-verify");
    EXPECT_EQ(recorder_->result, E_ABORT);
    task_->Cancel();
    EXPECT_EQ(recorder_->Reports(), 1);
    EXPECT_TRUE(PackageRequests("pkg10.bin").empty());
    EXPECT_LT(recorder_->progress.back().first, kPackageSize);
}

TEST_F(DownloadSimpleTest, CancelDuringDownloadThenResumeFetchesOnlyTheRest) {
    recorder_->cancelAt = 3 * 1048576;
    Download(L"pkg10.bin", L"cancel-dl");
    EXPECT_EQ(recorder_->result, E_ABORT);
    EXPECT_EQ(recorder_->Reports(), 1);
    std::string partial = Target();
    EXPECT_EQ(static_cast<int64_t>(partial.size()), kPackageSize);   // sized once, up front

    Restart();
    Download(L"pkg10.bin", L"resume");
    EXPECT_EQ(recorder_->result, S_OK);
    EXPECT_TRUE(Target() == package_);
    // WinINet may still deliver what is in flight after the cancel, so the first task can have
    // written everything; otherwise the resumed range starts at a block boundary at or past the
    // 3 MiB already written.
    const auto requests = PackageRequests("pkg10.bin");
    ASSERT_LE(requests.size(), 1u);
    if (requests.empty()) return;
    const size_t eq = requests[0].find("bytes=");
    ASSERT_NE(eq, std::string::npos);
    const long long first = std::stoll(requests[0].substr(eq + 6));
    EXPECT_GE(first, 3 * 1048576);
    EXPECT_EQ(first % 1048576, 0);
}

TEST_F(DownloadSimpleTest, BytesThatNeverMatchEndTheTask) {
    Download(L"bad.bin", L"bad");
    EXPECT_EQ(recorder_->result, downloader::kBlockRefusedHr);
    const auto requests = PackageRequests("bad.bin");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[1].find("bytes=3145728-"), std::string::npos);
    EXPECT_TRUE(logger_->Contains(L"Block 3 still differs after download."));
}

TEST_F(DownloadSimpleTest, BadMetadataEndsTheTask) {
    Download(L"broken.bin", L"broken");
    EXPECT_EQ(recorder_->result, E_FAIL);
    EXPECT_TRUE(logger_->Contains(L"DownloadSimple::OnMetaComplete> CreateDownloadMetaSimple failed."));
    Restart();
    Download(L"missing.bin", L"missing");
    EXPECT_EQ(recorder_->result, static_cast<long>(0x80072EFB));
    EXPECT_TRUE(PackageRequests("missing.bin").empty());
}

TEST_F(DownloadSimpleTest, TargetThatCannotBeOpenedFails) {
    target_ = TempPath(L"no-such-folder\\target.bin");
    Download(L"pkg10.bin", L"noopen");
    EXPECT_EQ(recorder_->result, static_cast<long>(0x80070003));
    EXPECT_TRUE(logger_->Contains(L"DownloadSimpleTask::PrepareStart> CreateFileW failed 3."));
}

TEST_F(DownloadSimpleTest, FailureInsideStartReportsBeforeStartReturns) {
    EXPECT_EQ(CreateDownloadSimpleTask(nullptr, L"a", L"b", recorder_, logger_), nullptr);
    EXPECT_EQ(CreateDownloadSimpleTask(L"a", L"b", L"c", recorder_, nullptr), nullptr);
    task_ = CreateDownloadSimpleTask(L"http://127.0.0.1/x", L"gopher://127.0.0.1/x.meta", target_.c_str(), recorder_,
                                     logger_);
    ASSERT_NE(task_, nullptr);
    task_->Start();
    ASSERT_TRUE(recorder_->IsDone());
    EXPECT_EQ(recorder_->ReportThread(), ::GetCurrentThreadId());
    EXPECT_EQ(recorder_->result, static_cast<long>(0x80072EE5));
    task_->Start();     // a second Start does nothing
    EXPECT_EQ(recorder_->Reports(), 1);
}

// The synchronous helpers and the hash task.
class VerifyTest : public DownloadSimpleTest {
protected:
    std::vector<uint8_t> Meta() {
        std::string bytes;
        ReadWholeFile(ServerFile(L"pkg10.bin.meta"), bytes);
        return std::vector<uint8_t>(bytes.begin(), bytes.end());
    }
};

TEST_F(VerifyTest, DownloadToMemoryFetchesTheMetadata) {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(DownloadToMemory(NginxUrl(L"pkg10.bin.meta?t=sync").c_str(), bytes));
    EXPECT_EQ(bytes, Meta());
    EXPECT_EQ(bytes.size(), 8u + 20u * 11u);
    EXPECT_FALSE(DownloadToMemory(NginxUrl(L"missing.bin.meta").c_str(), bytes));
}

TEST_F(VerifyTest, OnlyAFileOfThePublishedSizeWithEveryBlockPasses) {
    const std::vector<uint8_t> meta = Meta();
    ASSERT_TRUE(WriteWholeFile(target_, package_));
    EXPECT_TRUE(VerifyFileWithMeta(target_.c_str(), meta));

    // All of its blocks match, but it is short.
    ASSERT_TRUE(WriteWholeFile(target_, package_.substr(0, 5 * 1048576)));
    EXPECT_FALSE(VerifyFileWithMeta(target_.c_str(), meta));
    FileCheck check = CheckFileWithMeta(target_.c_str(), meta);
    EXPECT_EQ(check.outcome, FileCheck::SizeDiffers);
    EXPECT_EQ(check.block, 5u);

    ASSERT_TRUE(WriteWholeFile(target_, package_ + "x"));
    EXPECT_FALSE(VerifyFileWithMeta(target_.c_str(), meta));

    std::string changed = package_;
    changed[9 * 1048576] ^= 1;
    ASSERT_TRUE(WriteWholeFile(target_, changed));
    check = CheckFileWithMeta(target_.c_str(), meta);
    EXPECT_EQ(check.outcome, FileCheck::BlockDiffers);
    EXPECT_EQ(check.block, 9u);

    EXPECT_FALSE(VerifyFileWithMeta(target_.c_str(), std::vector<uint8_t>(meta.begin(), meta.end() - 1)));
    EXPECT_FALSE(VerifyFileWithMeta(TempPath(L"absent.bin").c_str(), meta));
}

class HashRecorder : public IHashCallback, public Completion {
public:
    void OnHash(const BlockHash&) override {
        ++hashes;
        if (cancelOnHash) cancelOnHash->Cancel();
    }
    void OnComplete(HashResult r) override {
        result = r;
        Signal();
    }
    int hashes = 0;
    HashResult result = HashFailed;
    ITask* cancelOnHash = nullptr;
};

TEST_F(VerifyTest, HashTaskStopsAtTheNextBlockWhenCancelled) {
    ASSERT_TRUE(WriteWholeFile(target_, package_));
    {
        stubframework::utils::ScopedFileHandle file(::CreateFileW(target_.c_str(), GENERIC_READ, 0, nullptr,
                                                                  OPEN_EXISTING, 0, nullptr));
        Object<HashRecorder>* recorder = details::New<HashRecorder>();
        ITask* task = CreateHashTask(file.Get(), recorder);
        recorder->cancelOnHash = task;
        task->Start();
        ASSERT_TRUE(recorder->Wait());
        EXPECT_EQ(recorder->result, HashCancelled);
        EXPECT_EQ(recorder->hashes, 1);
        task->Release();
        recorder->Release();
    }
    ASSERT_TRUE(WriteWholeFile(target_, ""));
    {
        stubframework::utils::ScopedFileHandle file(::CreateFileW(target_.c_str(), GENERIC_READ, 0, nullptr,
                                                                  OPEN_EXISTING, 0, nullptr));
        Object<HashRecorder>* recorder = details::New<HashRecorder>();
        ITask* task = CreateHashTask(file.Get(), recorder);
        task->Start();
        task->Release();
        ASSERT_TRUE(recorder->Wait());
        EXPECT_EQ(recorder->result, HashDone);
        EXPECT_EQ(recorder->hashes, 0);
        recorder->Release();
    }
}

} // namespace
