// Shared pieces of the downloader tests: the servers' addresses, recording callbacks and logger.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "downloader/Downloader.h"
#include "downloader/Object.h"
#include "stubframework/utils/Handle.h"

namespace dltest {

using downloader::details::Object;

// Waits in tests are bounded; a test that hits this has failed.
constexpr DWORD kWaitMs = 60000;

int Port(const std::string& name);                     // "nginx" or "fault"
std::wstring NginxUrl(const std::wstring& path);       // http://127.0.0.1:PORT/path
std::wstring FaultUrl(const std::wstring& path);
std::wstring ServerFile(const std::wstring& name);     // a file in the nginx root
// Publishes the development key's signatures of a server file and of its ".meta" when it has one.
bool SignPublished(const std::wstring& path);
std::vector<std::string> AccessLogLines(const std::string& tag);   // nginx lines holding tag
std::vector<std::string> FaultLogLines(const std::string& tag);    // fault server lines holding tag
std::string Narrow(const std::wstring& text);
// A tag unique to this process and call, so the servers' logs of earlier runs never match.
std::wstring Tag(const std::wstring& name);

// Collects every log line as "where> message".
class CaptureLogger : public downloader::ILogger {
public:
    void Log(const wchar_t* where, const wchar_t* format, ...) override;
    std::vector<std::wstring> Lines();
    bool Contains(const std::wstring& text);
private:
    stubframework::utils::CriticalSection lock_;
    std::vector<std::wstring> lines_;
};

// Base of the recording callbacks: counts reports and signals the first one.
class Completion {
public:
    Completion() : done_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    bool Wait(DWORD ms = kWaitMs) { return ::WaitForSingleObject(done_.Get(), ms) == WAIT_OBJECT_0; }
    bool IsDone() { return ::WaitForSingleObject(done_.Get(), 0) == WAIT_OBJECT_0; }
    LONG Reports() const { return reports_; }
    DWORD ReportThread() const { return thread_; }
    HANDLE DoneEvent() const { return done_.Get(); }
protected:
    void Signal() {
        thread_ = ::GetCurrentThreadId();
        ::InterlockedIncrement(&reports_);
        ::SetEvent(done_.Get());
    }
private:
    stubframework::utils::ScopedHandle done_;
    volatile LONG reports_ = 0;
    DWORD thread_ = 0;
};

class HttpRecorder : public downloader::IHttpCallback, public Completion {
public:
    void OnHttpHeader(const downloader::HttpHeader& header) override {
        headers.push_back(header);
        if (cancelOnHeader) cancelOnHeader->Cancel();
    }
    void OnData(const downloader::Buffer& buffer) override {
        data.append(reinterpret_cast<const char*>(buffer.data), buffer.size);
        if (cancelOnData) cancelOnData->Cancel();
    }
    void OnComplete(long hr) override {
        result = hr;
        Signal();
    }
    std::vector<downloader::HttpHeader> headers;
    std::string data;
    long result = 1;
    downloader::ITask* cancelOnHeader = nullptr;
    downloader::ITask* cancelOnData = nullptr;
};

class FileRecorder : public downloader::IHttpToFileCallback, public Completion {
public:
    void OnProgress(int64_t offset, int64_t count) override {
        progress.push_back({offset, count});
        if (cancelOnProgress) {
            cancelOnProgress->Cancel();
            // The inner request must still be open while this callback runs.
            openDuringCallback = !IsDone();
        }
    }
    void OnComplete(long hr) override {
        result = hr;
        Signal();
    }
    std::vector<std::pair<int64_t, int64_t>> progress;
    long result = 1;
    downloader::ITask* cancelOnProgress = nullptr;
    bool openDuringCallback = false;
};

class MemRecorder : public downloader::ITaskCallback<downloader::HttpToMemResult&&>, public Completion {
public:
    void OnComplete(downloader::HttpToMemResult&& r) override {
        result = r.result;
        if (r.data) data.assign(reinterpret_cast<const char*>(r.data), r.size);
        Signal();
    }
    std::string data;
    long result = 1;
};

class DownloadRecorder : public downloader::IDownloadCallback, public Completion {
public:
    void OnProgress(int64_t current, int64_t total) override {
        progress.push_back({current, total});
        if (cancelAt >= 0 && current >= cancelAt && task) task->Cancel();
    }
    void OnComplete(long hr) override {
        result = hr;
        Signal();
    }
    std::vector<std::pair<int64_t, int64_t>> progress;
    long result = 1;
    int64_t cancelAt = -1;
    downloader::ITask* task = nullptr;
};

// Every task and callback of a test has gone once its report is out (bounded poll: the task
// drops its own reference just after reporting, on another thread).
bool NoObjectsBeyond(long baseline);

// The deterministic body of the fault server: byte i is i % 251.
std::string FaultBody(size_t start, size_t end);

std::wstring TempPath(const std::wstring& name);   // unique file name in the temp folder
bool ReadWholeFile(const std::wstring& path, std::string& bytes);
bool WriteWholeFile(const std::wstring& path, const std::string& bytes);

} // namespace dltest
