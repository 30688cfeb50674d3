#include "stubframework/core/SelfUpdate.h"

#include <memory>
#include <vector>
#include <wrl/client.h>

#include "StubCore/StubApplication.h"
#include "downloader/Downloader.h"
#include "stubframework/ExternalMethods.h"
#include "stubframework/core/AppConfig.h"
#include "stubframework/core/DownloadWorkflow.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/core/ReleaseGuard.h"
#include "stubframework/core/StubUpdateRules.h"
#include "stubframework/core/TokenService.h"
#include "stubframework/core/VerifiedFile.h"
#include "stubframework/core/WorkerPrologue.h"
#include "stubframework/utils/CommandLine.h"
#include "stubframework/utils/Ground.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/Registry.h"
#include "stubframework/utils/WinInetApi.h"

namespace stubframework { namespace core {

namespace {

using Microsoft::WRL::ComPtr;

const wchar_t kUpdateStubName[] = L"update_stub_name";
const wchar_t kSelfUpdateCode[] = L"selfupdate_code";

// The worker's side of one request: the page's function, the progress shared with the
// progress thread, and the final report.
class CallbackWorker : public WorkerPrologue<DownloadRequest> {
public:
    CallbackWorker(void* request, const wchar_t* name)
        : WorkerPrologue(request, name), external_(&App().Bridge()),
          context_{external_.Get(), Callback().Get(), &progress_, Get().url, &lock_} {}

    HtmlExternal& External() { return *external_.Get(); }
    DownloadProgressContext& Context() { return context_; }

    void Finish(int result) {
        utils::ScopedLock hold(lock_);
        progress_.status = result;
        external_->SetDownloadCurrent(0);
        external_->SetDownloadTotal(1);
        CallScriptFunction(Callback().Get(), CallbackValues{static_cast<int>(progress_.current),
                                                            static_cast<int>(progress_.total), progress_.status});
    }

private:
    ComPtr<HtmlExternal> external_;
    utils::CriticalSection lock_;
    DownloadProgress progress_;
    DownloadProgressContext context_;
};

// The URL without query or fragment, up to its last "/".
std::wstring UrlFileName(const std::wstring& url) {
    const std::wstring path = url.substr(0, url.find_first_of(L"?#"));
    const size_t slash = path.find_last_of(L"/\\");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// A request this run did not complete must not leave a hand-over behind: the launcher would
// start whatever "update_stub_name" names, partial or not.
void WithdrawSelfUpdate(AppConfig& config, const std::wstring& target) {
    if (config.SelfUpdateCode() == SelfUpdateExitCode) config.SetSelfUpdateCode(0);
    ClearSelfUpdateValues(config.FrameworkKeyPath());
    if (!target.empty()) ::DeleteFileW(target.c_str());
}

} // namespace

std::wstring SelfUpdateFileName(const std::wstring& url, const std::wstring& runningName) {
    const std::wstring name = UrlFileName(url);
    if (name.empty() || !utils::EqualsNoCase(name, runningName)) return name;
    return name.substr(0, name.find(L'.')) + L"_update.exe";
}

std::wstring InstallerListTemporaryPath(const std::wstring& path) {
    const size_t dot = path.rfind(L'.');
    const size_t separator = path.find_last_of(L"\\/");
    // Never the list itself: a failed download would have destroyed the old one.
    if (dot == std::wstring::npos || (separator != std::wstring::npos && dot < separator))
        return path + L"__NEW_FILE__";
    return path.substr(0, dot) + L"__NEW_FILE__" + path.substr(dot);
}

bool IsNeedSelfUpdate(StubApplication& app, const std::wstring& url, const std::wstring& exePath) {
    const std::wstring metaUrl = url + L".meta";
    if (!ProbeUrl(metaUrl)) return false;
    std::vector<uint8_t> meta;
    if (!downloader::DownloadToMemory(metaUrl.c_str(), meta)) return true;
    if (!IsSignedStubMeta(app, url, meta)) return false;
    return !downloader::VerifyFileWithMeta(exePath.c_str(), meta);
}

void ClearSelfUpdateValues(const std::wstring& keyPath) {
    for (bool use64BitView : {false, true}) {
        utils::DeleteRegistryValue(keyPath, kSelfUpdateCode, use64BitView);
        utils::DeleteRegistryValue(keyPath, kUpdateStubName, use64BitView);
    }
}

DWORD WINAPI SelfUpdateThreadFunc(void* parameter) {
    CallbackWorker worker(parameter, L"SelfUpdateThreadFunc");
    if (!worker.Ready()) return 0;
    DownloadRequest* const request = &worker.Get();
    StubApplication& app = worker.App();
    AppConfig& config = app.Config();
    const std::wstring& url = request->url;

    std::wstring own;
    int result = UnknowError;
    std::wstring target;
    if (utils::GetOwnModulePath(own)) {
        const std::wstring name = SelfUpdateFileName(url, utils::FileNameOf(own));
        if (!name.empty()) target = utils::ParentFolder(own) + name;
        if (!target.empty()) utils::WriteFrameworkValue(config.FrameworkKeyPath(), kUpdateStubName, name, false);
    }
    if (!target.empty()) {
        // The stub itself always comes with a token and is verified block by block.
        result = DownloadReportingProgress(app, worker.Context(), target, true, true);
        if (result == NoError) result = AcceptNewerStub(app, url, target);
        if (result != NoError && result != Abort)
            WriteErrorLog(&app, L"Download fail, download path : %s, download result : %x", target.c_str(),
                          static_cast<unsigned>(result));
    }
    if (result == NoError && utils::PathExists(target)) {
        config.SetSelfUpdateCode(SelfUpdateExitCode);
    } else {
        WithdrawSelfUpdate(config, target);
    }
    WriteDebugLog(&app, L"Download %s finished.", url.c_str());
    worker.Finish(result);
    return 0;
}

DWORD WINAPI UpdateInstallerListThreadFunc(void* parameter) {
    CallbackWorker worker(parameter, L"UpdateInstallerListThreadFunc");
    if (!worker.Ready()) return 0;
    DownloadRequest* const request = &worker.Get();
    StubApplication& app = worker.App();
    worker.External().SetStop(false);
    const std::wstring& url = request->url;
    const std::wstring& path = request->path;
    const std::wstring temporary = InstallerListTemporaryPath(path);

    // The pages load the list from the bundle on the ground; a list anywhere else is not theirs,
    // and the elevated stub replaces no file outside the ground.
    if (utils::GroundIsPrivate() && !utils::IsInGround(path)) {
        WriteErrorLog(&app, L"Update installerlist refused: %s is not in the bundle's ground", path.c_str());
        worker.Finish(Failure);
        return 0;
    }
    int result = DownloadReportingProgress(app, worker.Context(), temporary, request->isSecure, request->isResume);
    if (result == NoError) result = AcceptReleaseList(app, url, temporary);
    if (result == NoError) {
        // The list's signature was checked already: no companion of the temporary file stays.
        ::DeleteFileW(SignaturePathOf(temporary).c_str());
        ::DeleteFileW(MetaPathOf(temporary).c_str());
        ::DeleteFileW(MetaSignaturePathOf(temporary).c_str());
        if (::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            WriteDebugLog(&app, L"Update installerlist %s finished to %s", url.c_str(), path.c_str());
        } else {
            // The page must not believe a list is in place that never got there.
            WriteErrorLog(&app, L"Update installerlist %s: MoveFileExW failed with %u", url.c_str(),
                          static_cast<unsigned>(::GetLastError()));
            result = Failure;
        }
    }
    worker.Finish(result);
    return 0;
}

}} // namespace stubframework::core
