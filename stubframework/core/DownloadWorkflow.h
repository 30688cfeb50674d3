// The worker behind the page's "download": optional CRC-32 checks, downloads with retries in
// the resumable (block-verified) or plain (URL-moniker) mode, and the reports to the page's
// callback from a companion progress thread.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>

#include "downloader/Downloader.h"
#include "stubframework/StubFramework.h"
#include "stubframework/core/InstallProgress.h"
#include "stubframework/core/ScriptCallback.h"
#include "stubframework/utils/Handle.h"

namespace stubframework {

class ExternalMethods;
class StubApplication;

namespace core {

class HtmlExternal;

// Handed from the "download" row to its worker, which frees it.
struct DownloadRequest {
    ExternalMethods* owner = nullptr;
    std::wstring crc;
    std::wstring path;
    std::wstring url;
    bool isSecure = false;
    bool isResume = false;
    MarshalledCallback callback;
};

// Shared by a worker and its progress thread under the download's lock; the install progress
// thread takes it over while a ZIP is unpacked as part of the download.
using DownloadProgress = ProgressState;

struct DownloadProgressContext {
    HtmlExternal* external;
    IDispatch* callback;
    DownloadProgress* progress;
    std::wstring url;
    utils::CriticalSection* lock;
};

// Thread entry of one download; owns the DownloadRequest.
DWORD WINAPI DownloadThreadFunc(void* request);
// Reports (10, total, current) about every 2 ms until the download's data is complete or the
// worker ends the download.
DWORD WINAPI DownloadProgressThreadFunc(void* context);

ResultCode TransferDownloadError(HRESULT hr);
// Windows Installer and installer exit codes; logs the raw code.
ResultCode TransferInstallError(StubApplication* app, unsigned long code);

constexpr DWORD kDownloadRetryDelayMs = 1000;

// Both modes with their attempts, then the connectivity check that turns a persisting failure
// into NoNetwork when the host cannot be reached. A file whose release names mirrors for its
// address moves to the next one on the first failure another server may not have (each move
// logged with its reason); the last address left gets the attempts and the check.
ResultCode DownloadWithRetry(StubApplication& app, std::wstring url, const std::wstring& path, bool isSecure,
                             bool isResume, DWORD retryDelayMs = kDownloadRetryDelayMs);

// DownloadWithRetry under a progress thread reporting on context. On success it waits until the
// progress thread has reported the data complete; the progress thread has ended on return.
ResultCode DownloadReportingProgress(StubApplication& app, DownloadProgressContext& context, const std::wstring& path,
                                     bool isSecure, bool isResume, DWORD retryDelayMs = kDownloadRetryDelayMs);

// One resumable attempt with the package's metadata; blocks until the task reports.
// check judges the metadata before any block is trusted (none: accepted as fetched); raw gets
// the task's own result when the one returned reads it as a failed transfer.
HRESULT RunDownloadTask(StubApplication& app, const std::wstring& url, const std::wstring& metaUrl,
                        const std::wstring& path, downloader::MetaCheck check = downloader::MetaCheck(),
                        HRESULT* raw = nullptr, bool askAgainForBadBlock = true);

// Replaces url by its tokenized form from the installer web service; unchanged without one.
void TokenizeDownloadUrl(StubApplication& app, std::wstring& url);

// url + "?" (or "&" when it already has a query) + "timestamp=" + the UTC time, so no cache
// between us and the server answers a plain download.
std::wstring WithTimestampQuery(const std::wstring& url, const SYSTEMTIME& utc);

}} // namespace stubframework::core
