// The downloader library: reference-counted asynchronous tasks for HTTP requests, downloads to
// a file or to memory, block hashing and resumable verified downloads.
#pragma once
#include <windows.h>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "downloader/MetaFormat.h"

namespace downloader {

class IObject {
public:
    virtual void AddRef() = 0;
    virtual void Release() = 0;
protected:
    ~IObject() = default;
};

class ITask : public IObject {
public:
    virtual void Start() = 0;
    virtual void Cancel() = 0;
protected:
    ~ITask() = default;
};

template <typename T>
class ITaskCallback : public IObject {
public:
    virtual void OnComplete(T result) = 0;
protected:
    ~ITaskCallback() = default;
};

enum HashResult { HashDone = 0, HashCancelled = 1, HashFailed = 2 };

struct HttpToMemResult {
    long result;
    const uint8_t* data;
    uint32_t size;
    int32_t status;     // the last HTTP status answered, -1 when no answer came
};

struct HttpRange {
    int64_t offset = 0;
    int64_t size = 0;        // 0: the whole resource
    std::string etag;
};

struct HttpHeader {
    int32_t status = -1;
    std::string etag;
    int64_t offset = 0;
    int64_t size = 0;
    int64_t total = -1;
};

struct Buffer {
    const uint8_t* data;
    uint32_t size;
};

class IHttpCallback : public ITaskCallback<long> {
public:
    virtual void OnHttpHeader(const HttpHeader& header) = 0;
    virtual void OnData(const Buffer& buffer) = 0;
protected:
    ~IHttpCallback() = default;
};

class IHttpToFileCallback : public ITaskCallback<long> {
public:
    virtual void OnProgress(int64_t offset, int64_t count) = 0;
protected:
    ~IHttpToFileCallback() = default;
};

class IDownloadCallback : public ITaskCallback<long> {
public:
    virtual void OnProgress(int64_t current, int64_t total) = 0;
protected:
    ~IDownloadCallback() = default;
};

class IHashCallback : public ITaskCallback<HashResult> {
public:
    virtual void OnHash(const BlockHash& digest) = 0;
protected:
    ~IHashCallback() = default;
};

class ILogger : public IObject {
public:
    virtual void Log(const wchar_t* where, const wchar_t* format, ...) = 0;
protected:
    ~ILogger() = default;
};

// A new logger with one reference that discards every message; null when memory runs out.
ILogger* CreateNullLogger();

// Result codes of the library (HRESULTs).
constexpr long kCancelledHr = static_cast<long>(0x80072EF1);      // WinINet 12017
constexpr long kInvalidServerAnswerHr = static_cast<long>(0x80072EFB);   // WinINet 12027
constexpr long kUnsupportedSchemeHr = static_cast<long>(0x80072EE5);
constexpr long kShortReadHr = static_cast<long>(0x80072EE4);
constexpr long kTooLargeHr = static_cast<long>(0x800700DF);          // ERROR_FILE_TOO_LARGE
// A block's bytes still differed from its hash after being fetched again (ERROR_CRC).
constexpr long kBlockRefusedHr = static_cast<long>(0x80070017);
// A redirect from https to plain http, refused (WinINet 12040).
constexpr long kRefusedRedirectHr = static_cast<long>(0x80072F08);

// No limit of its own on a resource fetched into memory.
constexpr uint32_t kNoSizeLimit = 0x7FFFFFFE;

inline long HResultFromWin32(DWORD error) {
    return static_cast<long>(error) <= 0 ? static_cast<long>(error)
                                         : static_cast<long>((error & 0xFFFF) | 0x80070000);
}

// Factories: the caller owns the one reference of the returned task; null when memory runs out.
ITask* CreateHttpTask(const wchar_t* url, const HttpRange& range, IHttpCallback* callback, ILogger* logger);
ITask* CreateHttpToFileTask(const wchar_t* url, HANDLE file, int64_t offset, int64_t size,
                            IHttpToFileCallback* callback, ILogger* logger);
// A resource longer than maxSize is refused (kTooLargeHr) as soon as its length is announced.
ITask* CreateHttpToMemTask(const wchar_t* url, ITaskCallback<HttpToMemResult&&>* callback, ILogger* logger,
                           uint32_t maxSize = kNoSizeLimit);
ITask* CreateHashTask(HANDLE file, IHashCallback* callback);
// Null when any argument is null.
ITask* CreateDownloadSimpleTask(const wchar_t* url, const wchar_t* metaUrl, const wchar_t* path,
                                IDownloadCallback* callback, ILogger* logger);
// Judges the fetched ".meta" bytes before any block is trusted or the file touched: S_OK, or
// the failure HRESULT the task ends with.
using MetaCheck = std::function<long(const uint8_t* data, size_t size)>;
// A block that fails its hash after a transfer is fetched once more from the same URL, unless
// askAgainForBadBlock is false (another address can serve it): then the task ends at once
// with kBlockRefusedHr, the blocks before it kept verified.
ITask* CreateDownloadSimpleTask(const wchar_t* url, const wchar_t* metaUrl, const wchar_t* path,
                                IDownloadCallback* callback, ILogger* logger, MetaCheck check,
                                bool askAgainForBadBlock = true);

// Receive time-out of the requests started after the call, in milliseconds (30000 until set);
// tools and tests shorten it so that a stalled server is given up on sooner.
void SetReceiveTimeout(DWORD milliseconds);

// How a fetch into memory ended: the task's result and the last HTTP status (-1: no answer).
struct MemoryFetch {
    long result = E_FAIL;
    int32_t status = -1;
};
// Fetches url into out and waits; true on success. A resource longer than maxSize is refused
// while it is read; how (when given) says how the fetch ended.
bool DownloadToMemory(const wchar_t* url, std::vector<uint8_t>& out, uint32_t maxSize = kNoSizeLimit,
                      MemoryFetch* how = nullptr);

// How a file compares with its published metadata.
struct FileCheck {
    enum Outcome { Match, BadMeta, OpenFailed, SizeDiffers, BlockDiffers, ReadFailed } outcome = ReadFailed;
    int64_t fileSize = 0;
    int64_t publishedSize = 0;
    uint64_t block = 0;          // first differing block for BlockDiffers
};
FileCheck CheckFileWithMeta(const wchar_t* path, const std::vector<uint8_t>& meta);
// The same over an open file, read from its start.
FileCheck CheckFileHandleWithMeta(HANDLE file, const std::vector<uint8_t>& meta);

// True only when the file has the published size and every block matches.
bool VerifyFileWithMeta(const wchar_t* path, const std::vector<uint8_t>& meta);

namespace details {
// Task and callback objects alive in this process; tests check nothing outlives its report.
long LiveObjectCount();
}

} // namespace downloader
