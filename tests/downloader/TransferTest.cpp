// The file and memory tasks against the fault server: header checks, continuations, and the
// task protocol (cancel, release, single report).
#include <gtest/gtest.h>

#include "stubframework/utils/Handle.h"
#include "tests/downloader/Helpers.h"

using namespace downloader;
using namespace dltest;
using stubframework::utils::ScopedFileHandle;

namespace {

const long kBadAnswer = static_cast<long>(0x80072EFB);
const long kCancelled = static_cast<long>(0x80072EF1);

class SilentHashCallback : public IHashCallback {
public:
    void OnHash(const BlockHash&) override {}
    void OnComplete(HashResult) override {}
};

class TransferTest : public testing::Test {
protected:
    void SetUp() override {
        path_ = TempPath(L"transfer.bin");
        file_.Reset(::CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file_.IsValid());
    }
    void TearDown() override {
        if (task_) task_->Release();
        fileRecorder_->Release();
        memRecorder_->Release();
        logger_->Release();
        file_.Reset();
        ::DeleteFileW(path_.c_str());
        EXPECT_TRUE(NoObjectsBeyond(baseline_));
    }

    // Starts a file task and waits for its report.
    void RunFile(const std::wstring& url, int64_t offset, int64_t size, bool cancelFirst = false) {
        task_ = CreateHttpToFileTask(url.c_str(), file_.Get(), offset, size, fileRecorder_, logger_);
        ASSERT_NE(task_, nullptr);
        if (cancelFirst) task_->Cancel();
        task_->Start();
        ASSERT_TRUE(fileRecorder_->Wait());
    }
    void RunMem(const std::wstring& url) {
        task_ = CreateHttpToMemTask(url.c_str(), memRecorder_, logger_);
        ASSERT_NE(task_, nullptr);
        task_->Start();
        ASSERT_TRUE(memRecorder_->Wait());
    }
    std::string FileBytes() {
        file_.Reset();
        std::string bytes;
        ReadWholeFile(path_, bytes);
        return bytes;
    }

    long baseline_ = details::LiveObjectCount();
    std::wstring path_;
    ScopedFileHandle file_;
    Object<CaptureLogger>* logger_ = details::New<CaptureLogger>();
    Object<FileRecorder>* fileRecorder_ = details::New<FileRecorder>();
    Object<MemRecorder>* memRecorder_ = details::New<MemRecorder>();
    ITask* task_ = nullptr;
};

TEST_F(TransferTest, FileTaskResumesACleanShortBodyWithIfRange) {
    const std::string tag = Narrow(Tag(L"file-short"));
    RunFile(FaultUrl(L"short?t=" + std::wstring(tag.begin(), tag.end())), 0, 1000);
    EXPECT_EQ(fileRecorder_->result, S_OK);
    EXPECT_EQ(FileBytes(), FaultBody(0, 1000));
    EXPECT_TRUE(logger_->Contains(L"HttpToFileTask::OnComplete> Data not complete 600 needed."));
    const auto requests = FaultLogLines("t=" + tag + "|");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], "/short?t=" + tag + "|bytes=0-999|");
    EXPECT_EQ(requests[1], "/short?t=" + tag + "|bytes=400-999|\"v1\"");
    // Progress is reported per write, contiguous from 0.
    int64_t next = 0;
    for (const auto& p : fileRecorder_->progress) {
        EXPECT_EQ(p.first, next);
        next += p.second;
    }
    EXPECT_EQ(next, 1000);
    EXPECT_EQ(fileRecorder_->Reports(), 1);
}

TEST_F(TransferTest, FileTaskRefusesAFullAnswerToAContinuation) {
    RunFile(FaultUrl(L"short200?t=file-200"), 0, 1000);
    EXPECT_EQ(fileRecorder_->result, kBadAnswer);
    EXPECT_TRUE(logger_->Contains(L"HttpToFileTask::OnHttpStatusOK> Unexpected content length 1000/(OFFSET:400 SIZE:600)."));
}

TEST_F(TransferTest, FileTaskRefusesAFullAnswerAtAnOffset) {
    RunFile(FaultUrl(L"len500?t=file-offset"), 1048576, 500);
    EXPECT_EQ(fileRecorder_->result, kBadAnswer);
    EXPECT_TRUE(logger_->Contains(L"Unexpected content length 500/(OFFSET:1048576 SIZE:500)."));
    EXPECT_TRUE(FileBytes().empty());    // the refused answer's bytes are not written
}

TEST_F(TransferTest, FileTaskRefusesMoreDataThanAnnounced) {
    RunFile(FaultUrl(L"long206?t=file-long"), 0, 1000);
    EXPECT_EQ(fileRecorder_->result, kBadAnswer);
    EXPECT_TRUE(logger_->Contains(L"HttpToFileTask::OnData> Data large than expected 200"));
    const std::string written = FileBytes();     // nothing past the range is written
    EXPECT_LE(written.size(), 1000u);
    EXPECT_EQ(written, FaultBody(0, written.size()));
}

TEST_F(TransferTest, FileTaskRefusesOtherStatuses) {
    RunFile(FaultUrl(L"status404?t=file-404"), 0, 9);
    EXPECT_EQ(fileRecorder_->result, kBadAnswer);
    EXPECT_TRUE(logger_->Contains(L"HttpToFileTask::OnHttpHeader> Unexpected HTTP status code 404."));
}

TEST_F(TransferTest, ContinuationWithoutProgressEndsTheTask) {
    const std::wstring fileTag = Tag(L"stuck-file"), memTag = Tag(L"stuck-mem");
    RunFile(FaultUrl(L"stuck?t=" + fileTag), 0, 1000);
    EXPECT_EQ(fileRecorder_->result, kBadAnswer);
    EXPECT_EQ(FaultLogLines("t=" + Narrow(fileTag) + "|").size(), 2u);
    memRecorder_->Release();
    memRecorder_ = details::New<MemRecorder>();
    task_->Release();
    RunMem(FaultUrl(L"stuck?t=" + memTag));
    EXPECT_EQ(memRecorder_->result, kBadAnswer);
    EXPECT_EQ(FaultLogLines("t=" + Narrow(memTag) + "|").size(), 2u);
}

TEST_F(TransferTest, MemoryTaskResumesPastTheEndAndAcceptsTheRest) {
    const std::wstring tag = Tag(L"mem-short");
    RunMem(FaultUrl(L"short?t=" + tag));
    EXPECT_EQ(memRecorder_->result, S_OK);
    EXPECT_EQ(memRecorder_->data, FaultBody(0, 1000));
    EXPECT_TRUE(logger_->Contains(L"HttpToMemTask::OnComplete> Data not complete 400/1000."));
    const auto requests = FaultLogLines("t=" + Narrow(tag) + "|");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], "/short?t=" + Narrow(tag) + "||");
    EXPECT_EQ(requests[1], "/short?t=" + Narrow(tag) + "|bytes=400-1399|\"v1\"");
}

TEST_F(TransferTest, MemoryTaskRestartsOnAFullAnswer) {
    RunMem(FaultUrl(L"short200?t=mem-200"));
    EXPECT_EQ(memRecorder_->result, S_OK);
    EXPECT_EQ(memRecorder_->data, FaultBody(0, 1000));
}

TEST_F(TransferTest, MemoryTaskRefusesUnknownAndExcessLengths) {
    RunMem(FaultUrl(L"chunked?t=mem-chunked"));
    EXPECT_EQ(memRecorder_->result, kBadAnswer);
    EXPECT_TRUE(logger_->Contains(L"HttpToMemTask::OnHttpStatusOK> Unexpected content length -1."));

    memRecorder_->Release();
    memRecorder_ = details::New<MemRecorder>();
    task_->Release();
    RunMem(FaultUrl(L"longresume?t=mem-long"));
    EXPECT_EQ(memRecorder_->result, kBadAnswer);
    EXPECT_TRUE(logger_->Contains(L"HttpToMemTask::OnData> Data large than expected "));
}

TEST_F(TransferTest, MemoryTaskFetchesAnEmptyResource) {
    RunMem(NginxUrl(L"empty.bin?t=mem-empty"));
    EXPECT_EQ(memRecorder_->result, S_OK);
    EXPECT_TRUE(memRecorder_->data.empty());
}

TEST_F(TransferTest, CancelBeforeStartLeavesTheRunAlone) {
    RunFile(FaultUrl(L"len500?t=cancel-first"), 0, 500, true);
    EXPECT_EQ(fileRecorder_->result, S_OK);
    task_->Cancel();
    task_->Cancel();
    EXPECT_EQ(fileRecorder_->result, S_OK);
    EXPECT_EQ(fileRecorder_->Reports(), 1);
    EXPECT_EQ(FileBytes(), FaultBody(0, 500));
}

TEST_F(TransferTest, CancelInsideACallbackClosesTheRequestAfterIt) {
    task_ = CreateHttpToFileTask(FaultUrl(L"trickle?t=cancel-inside").c_str(), file_.Get(), 0, 1000000, fileRecorder_,
                                 logger_);
    fileRecorder_->cancelOnProgress = task_;
    task_->Start();
    ASSERT_TRUE(fileRecorder_->Wait());
    EXPECT_TRUE(fileRecorder_->openDuringCallback);
    EXPECT_EQ(fileRecorder_->result, kCancelled);
    task_->Cancel();
    EXPECT_EQ(fileRecorder_->Reports(), 1);
    // The request is cancelled only once the callback has returned: its cancel line follows
    // the file task's own.
    const auto lines = logger_->Lines();
    size_t own = lines.size(), inner = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (own == lines.size() && lines[i].find(L"HttpToFileTask::Cancel> Cancel.") == 0) own = i;
        if (inner == lines.size() && lines[i].find(L"HttpTask::Cancel> Cancel") == 0) inner = i;
    }
    EXPECT_LT(own, inner);
}

TEST_F(TransferTest, NeverStartedTasksFreeWhatTheyHold) {
    Object<DownloadRecorder>* download = details::New<DownloadRecorder>();
    Object<SilentHashCallback>* hash = details::New<SilentHashCallback>();
    ITask* tasks[] = {
        CreateHttpToFileTask(L"http://127.0.0.1/x", file_.Get(), 0, 1, fileRecorder_, logger_),
        CreateHttpToMemTask(L"http://127.0.0.1/x", memRecorder_, logger_),
        CreateDownloadSimpleTask(L"http://127.0.0.1/x", L"http://127.0.0.1/x.meta", path_.c_str(), download, logger_),
        CreateHashTask(file_.Get(), hash),
    };
    for (ITask* task : tasks) {
        ASSERT_NE(task, nullptr);
        task->Cancel();
        task->Release();
    }
    EXPECT_EQ(fileRecorder_->Reports() + memRecorder_->Reports() + download->Reports(), 0);
    download->Release();
    hash->Release();
    // TearDown checks that nothing else is left.
}

TEST_F(TransferTest, ReleaseRightAfterStartStillReportsOnce) {
    ITask* task = CreateHttpToMemTask(FaultUrl(L"len500?t=release").c_str(), memRecorder_, logger_);
    ASSERT_NE(task, nullptr);
    task->Start();
    task->Release();
    ASSERT_TRUE(memRecorder_->Wait());
    EXPECT_EQ(memRecorder_->result, S_OK);
    EXPECT_EQ(memRecorder_->data, FaultBody(0, 500));
    EXPECT_TRUE(NoObjectsBeyond(baseline_ + 3));    // only the test's own recorders and logger
    EXPECT_EQ(memRecorder_->Reports(), 1);
}

} // namespace
