#include "stubframework/core/DownloadWorkflow.h"
#include "stubframework/utils/ProxyAuth.h"

#include <memory>
#include <new>
#include <shlwapi.h>
#include <wrl/client.h>

#include "StubCore/StubApplication.h"
#include "downloader/Object.h"
#include "downloader/Ref.h"
#include "stubframework/ExternalMethods.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/core/MirrorChoice.h"
#include "stubframework/core/PackageCache.h"
#include "stubframework/core/PackageUnzip.h"
#include "stubframework/core/PullDownload.h"
#include "stubframework/core/ReleaseGuard.h"
#include "stubframework/core/TokenAnswer.h"
#include "stubframework/core/TokenService.h"
#include "stubframework/core/UserCopy.h"
#include "stubframework/core/VerifiedFile.h"
#include "stubframework/core/WorkerPrologue.h"
#include "stubframework/debug/DownloadLogger.h"
#include "stubframework/utils/FileCrc.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/Registry.h"
#include "stubframework/utils/WideFormat.h"
#include "stubframework/utils/WinInetApi.h"

namespace stubframework {

// The resumable mode's callback: publishes the task's progress, cancels it when the page asked
// to stop, and wakes the waiting worker with the result.
class DownloadCallback : public downloader::IDownloadCallback {
public:
    explicit DownloadCallback(core::HtmlExternal* external)
        : external_(external), done_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

    bool IsReady() const { return done_.IsValid(); }
    // The callback keeps a reference on the task so that it can cancel it from any thread.
    void SetTask(downloader::ITask* task) {
        utils::ScopedLock lock(lock_);
        task_ = downloader::Ref<downloader::ITask>::Share(task);
    }
    long Wait() {
        ::WaitForSingleObject(done_.Get(), INFINITE);
        return result_;
    }
    // The task's own result, before it was read as a failed transfer.
    long RawResult() const { return raw_; }

    void OnProgress(int64_t current, int64_t total) override {
        external_->SetDownloadTotal(static_cast<unsigned long>(total));
        external_->SetDownloadCurrent(static_cast<unsigned long>(current));
        if (!external_->Stop()) return;
        utils::ScopedLock lock(lock_);
        if (task_) task_->Cancel();
    }
    void OnComplete(long hr) override {
        raw_ = hr;
        // Results that retrying cannot change keep their meaning; the rest read as a failed transfer.
        const bool kept = hr == S_OK || hr == E_ABORT || hr == HRESULT_FROM_WIN32(ERROR_DISK_FULL) ||
                          hr == HRESULT_FROM_WIN32(ERROR_HANDLE_DISK_FULL) ||
                          hr == HRESULT_FROM_WIN32(ERROR_WRITE_PROTECT) ||
                          hr == core::kSignatureRefusedHr || hr == downloader::kRefusedRedirectHr ||
                          hr == utils::kCredentialsCancelledHr;
        result_ = kept ? hr : static_cast<long>(0x800C0008);
        ::SetEvent(done_.Get());
    }

protected:
    ~DownloadCallback() { SetTask(nullptr); }

private:
    Microsoft::WRL::ComPtr<core::HtmlExternal> external_;
    utils::ScopedHandle done_;
    utils::CriticalSection lock_;
    downloader::Ref<downloader::ITask> task_;
    volatile long result_ = E_FAIL;
    volatile long raw_ = E_FAIL;
};

namespace core {

namespace {

using Microsoft::WRL::ComPtr;

constexpr int kResumableAttempts = 10;
constexpr int kPlainAttemptsWithoutData = 10;

// Checks with a real connection whether the URL's host answers at all.
bool HostReachable(const std::wstring& url) {
    const utils::WinInetApi* api = utils::GetWinInetApi();
    if (!api) return true;   // cannot tell: keep the download's own code
    return api->InternetCheckConnectionW(url.c_str(), FLAG_ICC_FORCE_CONNECTION, 0) != FALSE;
}

// A ZIP package is unpacked by the download itself when the page switched that on and does
// not download only.
bool ExtractsInDownload(HtmlExternal& external, const std::wstring& url) {
    return ::lstrcmpiW(::PathFindExtensionW(url.c_str()), L".zip") == 0 &&
           external.GetProperty(L"__Extract_In_Download__") == L"true" &&
           external.GetProperty(L"isDownloadOnly") != L"true";
}

// Unpacks the downloaded package under the install progress thread and keeps where it went,
// for the install and for a run resumed after a reboot.
ResultCode ExtractDownloadedPackage(StubApplication& app, DownloadProgressContext& context, const std::wstring& path,
                                    HANDLE archive) {
    {
        utils::ScopedLock hold(*context.lock);
        context.progress->status = Running;
    }
    InstallProgressContext install{context.external, context.callback, context.progress, path, context.lock};
    utils::ScopedHandle progressThread(::CreateThread(nullptr, 0, InstallProgressThreadFunc, &install, 0, nullptr));
    std::wstring unzipFolder, setupFolder;
    const ResultCode result = UnzipPackage(app, path, archive, unzipFolder, setupFolder);
    const std::wstring unzipName = path + L"__ZIP_Unzip_Folder__";
    const std::wstring setupName = path + L"__ZIP_EXE_Path__";
    context.external->SetProperty(unzipName, unzipFolder);
    context.external->SetProperty(setupName, setupFolder);
    const std::wstring record = app.Config().FrameworkKeyPath() + L"\\ResumeRecord\\ExtractFolders";
    utils::WriteFrameworkValue(record, unzipName, unzipFolder, false);
    utils::WriteFrameworkValue(record, setupName, setupFolder, false);
    {
        utils::ScopedLock hold(*context.lock);
        context.progress->status = result;
    }
    if (progressThread) ::WaitForSingleObject(progressThread.Get(), INFINITE);
    return result;
}

// The error of creating a throw-away file in folder (ERROR_SUCCESS when it took one); the probe
// goes with its handle.
DWORD WriteProbe(const std::wstring& folder) {
    const std::wstring probe = folder + utils::FormatWide(L"~write-probe-%lu-%lu.tmp", ::GetCurrentProcessId(),
                                                          ::GetCurrentThreadId());
    utils::ScopedFileHandle file(::CreateFileW(probe.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                               FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN |
                                                   FILE_FLAG_DELETE_ON_CLOSE,
                                               nullptr));
    return file ? ERROR_SUCCESS : ::GetLastError();
}

std::wstring VolumeRoot(const std::wstring& path) {
    std::wstring root = path;
    root.push_back(L'\0');
    ::PathStripToRootW(&root[0]);
    root.resize(std::wcslen(root.c_str()));
    if (!root.empty() && root.back() != L'\\') root.push_back(L'\\');
    return root;
}

// Read-only is a fact of the volume: its flag, or a new file refused. Not every file system
// reports the flag, and not every one says write-protect when it refuses (under Wine a read-only
// one answers access denied). A root that denies access may only be restricted, above a writable
// folder: then the download's own folder decides, and one that cannot be probed is left for the
// download to report.
bool IsReadOnlyVolume(const std::wstring& path) {
    const std::wstring root = VolumeRoot(path);
    DWORD flags = 0;
    if (::GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
        (flags & FILE_READ_ONLY_VOLUME))
        return true;
    DWORD error = WriteProbe(root);
    const std::wstring folder = utils::ParentFolder(path);
    if (error == ERROR_ACCESS_DENIED && folder.size() > root.size()) error = WriteProbe(folder);
    return error == ERROR_WRITE_PROTECT || error == ERROR_ACCESS_DENIED;
}

enum class CrcCheck { Match, Differs, Failed };

CrcCheck CompareCrc(const std::wstring& path, const std::wstring& expected) {
    unsigned long crc = 0;
    if (!utils::FileCrc32(path, crc)) return CrcCheck::Failed;
    return utils::FormatWide(L"%u", static_cast<unsigned>(crc)) == expected ? CrcCheck::Match : CrcCheck::Differs;
}

ResultCode LoggedTransfer(StubApplication& app, HRESULT hr) {
    WriteDebugLog(&app, L"TransferDownloadError HRESULT: %x", static_cast<unsigned>(hr));
    return TransferDownloadError(hr);
}

// Once on TLS, never off it: a move to plain http is the network's doing, and asking again
// brings the same answer.
ResultCode RefusedRedirect(StubApplication& app, const std::wstring& published) {
    WriteErrorLog(&app, L"Download of %s ended: the server moved it from https to http", published.c_str());
    return Failure;
}

// The whole file's signature comes over the same network as the file: a passing fault is asked
// again as the file's are. Only an answer ends the asking: the signature, the server's word that
// there is none, one too long to be a signature, or a refused redirect. Gives how the last fetch
// ended; signature stays empty when none was had.
downloader::MemoryFetch FetchPlainSignature(StubApplication& app, const std::wstring& url,
                                            std::vector<uint8_t>& signature, DWORD retryDelayMs) {
    for (int attempt = 1;; ++attempt) {
        downloader::MemoryFetch how;
        if (FetchSignature(url, signature, &how)) return how;
        const bool answered = how.result >= 0 || how.status == 404 || how.status == 410 ||
                              how.result == downloader::kTooLargeHr || how.result == downloader::kRefusedRedirectHr;
        if (answered || attempt >= kPlainAttemptsWithoutData || app.Bridge().Stop()) return how;
        WriteDebugLog(&app, L"Fetching %s failed with %x, asking again", url.c_str(), static_cast<unsigned>(how.result));
        ::Sleep(retryDelayMs);
    }
}

} // namespace

ResultCode TransferDownloadError(HRESULT hr) {
    switch (static_cast<unsigned long>(hr)) {
    case 0: return NoError;
    case 0x80004004: return Abort;
    case 0x80070070:
    case 0x80070027: return DiskFull;        // ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL
    case 0x80070013: return VolumeReadOnly;  // ERROR_WRITE_PROTECT
    case static_cast<unsigned long>(kSignatureRefusedHr): return Md5Error;
    case 0x800C0006: return FileNotExist;
    case static_cast<unsigned long>(utils::kCredentialsCancelledHr): return NoNetwork;
    case 1:
    case 0x800C0005:
    case 0x800C0008:
    case 0x800C000B: return Failure;
    default: return UnknowError;
    }
}

ResultCode TransferInstallError(StubApplication* app, unsigned long code) {
    WriteDebugLog(app, L"TransferInstallError HRESULT: %x", static_cast<unsigned>(code));
    switch (code) {
    case 0: return NoError;
    case 1602: return Cancelled;
    case 1618: return OtherInstalling;
    case 1641:
    case 3010: return Reboot;
    case 1603: return Failure;
    default: return UnknowError;
    }
}

void TokenizeDownloadUrl(StubApplication& app, std::wstring& url) {
    std::wstring answer = url;
    if (Tokenize(ServiceUrl(app.Analytics().Endpoint(), L"/v1/token"), answer) && TakeTokenAnswer(app, url, answer))
        url = answer;
}

std::wstring WithTimestampQuery(const std::wstring& url, const SYSTEMTIME& utc) {
    // Milliseconds zero-padded: a blank is not allowed in a URL.
    return url + (url.find(L'?') == std::wstring::npos ? L"?" : L"&") +
           utils::FormatWide(L"timestamp=%4d%02d%02d%02d%02d%02d%03d", utc.wYear, utc.wMonth, utc.wDay, utc.wHour,
                             utc.wMinute, utc.wSecond, utc.wMilliseconds);
}

HRESULT RunDownloadTask(StubApplication& app, const std::wstring& url, const std::wstring& metaUrl,
                        const std::wstring& path, downloader::MetaCheck check, HRESULT* raw,
                        bool askAgainForBadBlock) {
    const downloader::Ref<downloader::ILogger> logger(debug::CreateDownloadLogger(&app.Log()));
    // The downloader's callback, not the URL-moniker one of this namespace.
    using TaskCallback = stubframework::DownloadCallback;
    const downloader::Ref<downloader::details::Object<TaskCallback>> callback(
        downloader::details::New<TaskCallback>(&app.Bridge()));
    if (!logger || !callback || !callback->IsReady()) return E_OUTOFMEMORY;
    const downloader::Ref<downloader::ITask> task(
        downloader::CreateDownloadSimpleTask(url.c_str(), metaUrl.c_str(), path.c_str(), callback.Get(), logger.Get(),
                                             std::move(check), askAgainForBadBlock));
    if (!task) return E_OUTOFMEMORY;
    callback->SetTask(task.Get());
    task->Start();
    const long result = callback->Wait();
    if (raw) *raw = callback->RawResult();
    callback->SetTask(nullptr);
    return result;
}

namespace {

// One address of a file: today's retries when it is the last one left, otherwise the first
// failure ends it (failure gets the transfer's own result) so the next address can take over.
ResultCode DownloadFrom(StubApplication& app, std::wstring url, const std::wstring& published, const std::wstring& path,
                        bool isSecure, bool isResume, DWORD retryDelayMs, bool lastAddress, HRESULT& failure) {
    std::wstring metaUrl = url + L".meta";
    // Signatures of the metadata (resumable) or of the whole file (plain), beside them.
    std::wstring signatureUrl = url + (isResume ? L".meta.sig" : L".sig");
    if (isSecure) {
        TokenizeDownloadUrl(app, url);
        if (isResume) TokenizeDownloadUrl(app, metaUrl);    // the plain mode reads no metadata
        TokenizeDownloadUrl(app, signatureUrl);
    }

    ResultCode code = UnknowError;
    bool checkHost = false;
    if (isResume) {
        MetaSignatureCheck check(app, signatureUrl, published + L".meta");
        for (int attempt = 1; attempt <= kResumableAttempts; ++attempt) {
            // A mirror carries the same files: the release binds them under their published address.
            const HRESULT hr =
                RunDownloadTask(app, url, metaUrl, path, WithReleaseCheck(app, published, check.Check()), &failure,
                                lastAddress);
            code = LoggedTransfer(app, hr);
            if (hr == downloader::kRefusedRedirectHr) return RefusedRedirect(app, published);
            if (code == NoError && !check.SaveMetaCompanions(path)) {
                WriteErrorLog(&app, L"Keeping the signed metadata beside %s failed", path.c_str());
                code = Failure;
            }
            // A refusal is retried like any fault (a cut .meta fails its signature too) and, when
            // it persists, ends as Md5Error without the connectivity check.
            if (code == NoError || code == Abort || code == DiskFull || code == VolumeReadOnly || code == NoNetwork)
                return code;
            if (code == FileNotExist || !lastAddress) break;
            if (attempt < kResumableAttempts) ::Sleep(retryDelayMs);
        }
        checkHost = code == FileNotExist || code == Failure;
    } else {
        SYSTEMTIME now;
        ::GetSystemTime(&now);
        url = WithTimestampQuery(url, now);
        signatureUrl = WithTimestampQuery(signatureUrl, now);
        // Unchecked bytes never stand where the file is expected: pages load lists from there.
        const std::wstring unchecked = path + L"__UNVERIFIED__";
        // Attempts that bring data never use up the budget: only a run of empty ones ends it.
        int remaining = kPlainAttemptsWithoutData;
        for (;;) {
            DownloadCallback callback(&app.Bridge());
            const HRESULT hr = PullDownloadToFile(url.c_str(), unchecked.c_str(), &callback);
            failure = hr;
            code = LoggedTransfer(app, hr);
            if (hr == downloader::kRefusedRedirectHr) {
                ::DeleteFileW(unchecked.c_str());
                return RefusedRedirect(app, published);
            }
            if (code == NoError || code == Abort || code == DiskFull || code == VolumeReadOnly ||
                code == FileNotExist || code == NoNetwork || !lastAddress)
                break;
            remaining = callback.ReceivedData() ? kPlainAttemptsWithoutData : remaining - 1;
            if (remaining < 1) break;
            ::Sleep(retryDelayMs);
        }
        if (code == NoError) {
            std::vector<uint8_t> signature;
            if (SignaturesRequired()) {
                const HRESULT fetched = FetchPlainSignature(app, signatureUrl, signature, retryDelayMs).result;
                const bool stopped = signature.empty() && app.Bridge().Stop();
                if (fetched == downloader::kRefusedRedirectHr || stopped) {
                    ::DeleteFileW(unchecked.c_str());
                    return stopped ? Abort : RefusedRedirect(app, published);
                }
            }
            const ResultCode accepted =
                AcceptPlainDownload(app, signatureUrl, signature.empty() ? nullptr : &signature, unchecked, path);
            if (accepted == Md5Error) failure = kSignatureRefusedHr;
            return accepted;
        }
        ::DeleteFileW(unchecked.c_str());
        checkHost = code == FileNotExist || code == Failure;
    }
    if (checkHost && lastAddress && !HostReachable(url)) code = NoNetwork;
    return code;
}

// Why a download leaves an address, for the log.
std::wstring SwitchReason(ResultCode code, HRESULT failure) {
    if (code == Md5Error || failure == kSignatureRefusedHr) return L"its signature or release entry was refused";
    if (failure == downloader::kBlockRefusedHr) return L"a block failed its hash";
    if (code == FileNotExist) return L"not found there";
    if (failure == downloader::kInvalidServerAnswerHr) return L"the server's answer was refused (status, length or range)";
    if (failure == downloader::kRefusedRedirectHr) return L"the server moved it from https to http";
    if (failure == HRESULT_FROM_WIN32(ERROR_INTERNET_TIMEOUT) || failure == HRESULT_FROM_WIN32(WSAETIMEDOUT))
        return L"no progress within the receive timeout";
    switch (HRESULT_CODE(failure)) {
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
        return utils::FormatWide(L"the connection failed or was cut (%x)", static_cast<unsigned>(failure));
    default:
        return utils::FormatWide(L"the transfer failed (%x)", static_cast<unsigned>(failure));
    }
}

} // namespace

ResultCode DownloadWithRetry(StubApplication& app, std::wstring url, const std::wstring& path, bool isSecure,
                             bool isResume, DWORD retryDelayMs) {
    // The file's own address and its mirrors, the one that served this run's last download from
    // the same origin first. A resumable download keeps its verified blocks across a switch.
    const std::vector<std::wstring> addresses = InChosenOrder(ReleaseAddressesOf(app, url));
    ResultCode code = UnknowError;
    for (size_t i = 0; i < addresses.size(); ++i) {
        const bool last = i + 1 == addresses.size();
        HRESULT failure = S_OK;
        code = DownloadFrom(app, addresses[i], url, path, isSecure, isResume, retryDelayMs, last, failure);
        if (code == NoError) {
            if (addresses.size() > 1) RememberServingAddress(url, addresses[i]);
            return code;
        }
        // What no other server changes ends the download where it is.
        if (last || code == Abort || code == DiskFull || code == VolumeReadOnly || code == NoNetwork) return code;
        WriteErrorLog(&app, L"Download of %s moves from %s to %s: %s", url.c_str(), addresses[i].c_str(),
                      addresses[i + 1].c_str(), SwitchReason(code, failure).c_str());
    }
    return code;
}

DWORD WINAPI DownloadProgressThreadFunc(void* parameter) {
    DownloadProgressContext& context = *static_cast<DownloadProgressContext*>(parameter);
    WorkerApartment apartment;
    HtmlExternal& external = *context.external;
    // While a ZIP is unpacked as part of the download, the transfer fills 95 % of the bar.
    const bool scaled = external.GetProperty(L"__Extract_ZIP_In_Download_Progress__") == L"true";
    ReportProgress(*context.lock, *context.progress, context.callback, [&] {
        const unsigned long current = external.DownloadCurrent();
        const unsigned long total = external.DownloadTotal();
        if (current >= total) external.SetDownloadCurrent(total);
        return ProgressSample{scaled ? static_cast<unsigned long>(current * 0.95) : current, total, current >= total};
    });
    return 0;
}

ResultCode DownloadReportingProgress(StubApplication& app, DownloadProgressContext& context, const std::wstring& path,
                                     bool isSecure, bool isResume, DWORD retryDelayMs) {
    utils::ScopedHandle progressThread(::CreateThread(nullptr, 0, DownloadProgressThreadFunc, &context, 0, nullptr));
    const ResultCode result = DownloadWithRetry(app, context.url, path, isSecure, isResume, retryDelayMs);
    if (result != NoError) {
        // The progress thread runs until the status leaves Running.
        utils::ScopedLock hold(*context.lock);
        context.progress->status = result;
    } else {
        const utils::WinInetApi* api = utils::GetWinInetApi();
        if (api) api->DeleteUrlCacheEntryW(context.url.c_str());
        // Every byte is there, whatever the last report said; the progress thread finishes on that.
        context.external->SetDownloadCurrent(context.external->DownloadTotal());
        while (progressThread) {
            {
                utils::ScopedLock hold(*context.lock);
                if (context.progress->status != Running) break;
            }
            ::Sleep(1);
        }
    }
    // The context lives on the caller's stack: the thread must be gone before it is.
    if (progressThread) ::WaitForSingleObject(progressThread.Get(), INFINITE);
    return result;
}

DWORD WINAPI DownloadThreadFunc(void* parameter) {
    WorkerPrologue<DownloadRequest> worker(parameter, L"DownloadThreadFunc");
    if (!worker.Ready()) return 0;
    auto [request, app, callback] = worker.Parts();
    ComPtr<HtmlExternal> external(&app->Bridge());
    const std::wstring& path = request->path;
    const std::wstring& url = request->url;

    utils::CriticalSection lock;
    DownloadProgress progress;
    DownloadProgressContext context{external.Get(), callback.Get(), &progress, url, &lock};
    external->SetStop(false);
    int result = Running;
    const std::wstring root = VolumeRoot(path);
    // The package goes to the cache on the ground; the page's path gets a copy once it is verified.
    const std::wstring cached = CachedPathOf(*app, path);
    if (cached.empty()) {
        WriteErrorLog(app, L"No place in the package cache for %s", path.c_str());
        result = Failure;
    } else if (!utils::PathExists(cached) && utils::PathExists(path)) {
        // What the user's folder holds counts only once it is in the cache, verified.
        utils::ScopedFileHandle copied;
        if (!CopyInVerified(*app, path, cached, copied)) WriteDebugLog(app, L"File %s is not taken from %s", url.c_str(), path.c_str());
    }

    if (result == Running && utils::PathExists(cached)) {
        WriteDebugLog(app, L"File %s exists", url.c_str());
        if (!request->crc.empty()) {
            const CrcCheck check = CompareCrc(cached, request->crc);
            utils::ScopedFileHandle held;
            // The CRC alone is no authority: the signed metadata kept beside the file must agree.
            if (check == CrcCheck::Match && OpenVerifiedFile(*app, cached, held, false)) result = NoError;
            else if (!request->isResume && check == CrcCheck::Differs) WriteDebugLog(app, L"File %s crc dismatch", path.c_str());
            else if (!request->isResume) WriteDebugLog(app, L"File %s get crc failed", path.c_str());
        }
    }

    const bool extract = ExtractsInDownload(*external.Get(), url);
    if (extract) external->SetProperty(L"__Extract_ZIP_In_Download_Progress__", L"true");

    if (result == Running) {
        if (IsReadOnlyVolume(path)) {
            WriteDebugLog(app, L"Download volume is read only %s", root.c_str());
            result = VolumeReadOnly;
        } else {
            result = DownloadReportingProgress(*app, context, cached, request->isSecure, request->isResume);
            if (result != NoError) {
                WriteErrorLog(app, L"Download fail, download path : %s, download result : %x", path.c_str(),
                              static_cast<unsigned>(result));
            } else {
                if (!request->crc.empty()) {
                    const CrcCheck check = CompareCrc(cached, request->crc);
                    if (check == CrcCheck::Differs) {
                        WriteDebugLog(app, L"Downloaded File %s crc dismatch", path.c_str());
                        result = Md5Error;
                    } else if (check == CrcCheck::Failed) {
                        WriteDebugLog(app, L"Downloaded File %s get crc failed", path.c_str());
                        result = Md5Error;
                    }
                }
            }
            WriteDebugLog(app, L"Download %s finished to %s", url.c_str(), path.c_str());
        }
    }
    // The release binds the bytes downloaded to their place in the list; they are in the cache.
    if (result == NoError) result = AcceptReleaseFile(*app, url, cached);

    utils::ScopedFileHandle held;
    if (result == NoError) {
        // The user's copy and the unpacking read the verified file, unchanged until they are done.
        if (!OpenVerifiedFile(*app, cached, held)) {
            result = Md5Error;
        } else {
            AtCheckUse(path);
            result = WriteUserCopy(*app, held.Get(), cached, path);
        }
    }
    if (extract) {
        // The page hears the unpacking's result: a download whose package cannot be unpacked
        // has not succeeded.
        if (result == NoError) result = ExtractDownloadedPackage(*app, context, path, held.Get());
        external->SetDownloadCurrent(external->DownloadTotal());
        external->SetProperty(L"__Extract_ZIP_In_Download_Progress__", L"false");
    }

    utils::ScopedLock hold(lock);
    progress.status = result;
    external->SetDownloadCurrent(0);
    external->SetDownloadTotal(1);
    CallScriptFunction(callback.Get(), CallbackValues{static_cast<int>(progress.current),
                                                      static_cast<int>(progress.total), progress.status});
    return 0;
}

}} // namespace stubframework::core
