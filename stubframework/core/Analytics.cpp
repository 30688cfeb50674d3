#include "stubframework/core/Analytics.h"
#include "stubframework/core/AppConfig.h"
#include "stubframework/core/ReportTransport.h"
#include "stubframework/core/StatusCodes.h"
#include "stubframework/utils/ComApartment.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/FileHandles.h"
#include "stubframework/utils/Ground.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/WideFormat.h"
#include "stubframework/zip/ZipWriter.h"

#include <windows.h>
#include <objbase.h>

namespace stubframework { namespace core {

namespace {
const size_t kMaxAnsiPath = 259;

// Only what the stub made goes into a report: when elevated, a file on the ground, opened through
// its folder's handle without following a link, so no name can point the upload at another file.
utils::ScopedFileHandle OpenReportFile(const std::wstring& path) {
    const std::wstring folder = utils::ParentFolder(path);
    if (folder.empty() || (utils::GroundIsPrivate() && !utils::IsInGround(path))) return utils::ScopedFileHandle();
    utils::ScopedFileHandle parent = utils::OpenFolderNoFollow(folder);
    if (!parent) return parent;
    return utils::OpenInFolder(parent.Get(), utils::FileNameOf(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               utils::ChildDisposition::OpenExisting, false);
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
    bytes.clear();
    utils::ScopedFileHandle file = OpenReportFile(path);
    if (!file) return false;
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart > 0x7FFFFFFF) return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        if (!::ReadFile(file.Get(), &bytes[done], static_cast<DWORD>(bytes.size() - done), &got, nullptr) || got == 0)
            return false;
        done += got;
    }
    return true;
}
} // namespace

Analytics::Analytics(AppConfig* config, const ServiceEndpoint& endpoint) : config_(config), endpoint_(endpoint) {}

Analytics::~Analytics() { workers_.WaitAll(INFINITE, false); }

namespace {
// Owned by the worker, which frees it.
struct ActivityRequest {
    Analytics* owner;
    std::wstring activity;
    std::function<void(const std::wstring&)> onFailure;
};

DWORD WINAPI TrackUserActivityTreadFunc(void* parameter) {
    ActivityRequest* request = static_cast<ActivityRequest*>(parameter);
    utils::ScopedComApartment apartment(COINIT_MULTITHREADED);
    if (!request->owner->SendUserActivity(request->activity) && request->onFailure)
        request->onFailure(request->activity);
    delete request;
    return 0;
}
} // namespace

bool Analytics::StartUserActivity(const std::wstring& activity, std::function<void(const std::wstring&)> onFailure) {
    ActivityRequest* request = new ActivityRequest{this, activity, std::move(onFailure)};
    if (!workers_.Start(TrackUserActivityTreadFunc, request)) {
        delete request;
        return false;
    }
    return true;
}

std::string Analytics::AnalyticsDocument(int status) {
    AnalyticsValues v;
    v.requestToken = config_->RequestToken();
    v.country = config_->Country();
    v.productId = config_->ProductId();
    v.productVersion = config_->ProductVersion();
    v.channel = config_->Channel();
    v.installLanguage = config_->InstallLanguage();
    v.statusText = StatusText(status);
    v.externalProperties = config_->ExternalProperties();
    v.osName = config_->OsName();
    v.uiLanguageName = config_->UiLanguageName();
    v.architecture = config_->Architecture();
    v.defaultBrowser = config_->DefaultBrowser();
    v.clientVersion = config_->ClientVersion();
    v.machineId = config_->MachineId();
    return BuildAnalyticsDocument(v);
}

bool Analytics::PostAnalytics(int status) {
    return SendServiceRequest(endpoint_, L"POST", L"/v1/logAnalytics", AnalyticsDocument(status), false);
}

bool Analytics::sendStartReport() { return PostAnalytics(StatusStarted); }

bool Analytics::sendStatusReport() {
    const int status = config_->Status();
    return PostAnalytics(status == StatusStarted ? StatusCanceled : status);
}

int Analytics::sendReport(bool final) {
    const bool sent = final ? sendStatusReport() : sendStartReport();
    if (!sent) return ReportFailed;
    if (final && config_->Status() == StatusErrorOccurred) sendErrorReport();
    return 0;
}

bool Analytics::AddReportFile(const std::wstring& path) {
    // Checked here and again when the report is made, through the file's own handle.
    if (!OpenReportFile(path)) return false;
    reportFiles_.push_back(path);
    return true;
}

std::wstring ErrorReportPath(const std::wstring& token, const std::wstring& machineId) {
    return L"/v1/reportError?token=" + token + L"&machineId=" + machineId;
}

bool WriteReportArchive(const std::vector<std::wstring>& files, const std::wstring& archivePath) {
    if (utils::ToAnsi(archivePath).size() > kMaxAnsiPath) return false;
    utils::ScopedFileHandle archive;
    zip::ZipWriter writer([&archive](const void* data, size_t size) {
        DWORD written = 0;
        return ::WriteFile(archive.Get(), data, static_cast<DWORD>(size), &written, nullptr) && written == size;
    });
    for (const auto& path : files) {
        std::string bytes;
        const std::string name = utils::ToAnsi(utils::FileNameOf(path));
        if (name.empty() || name.size() > kMaxAnsiPath || !ReadWholeFile(path, bytes)) return false;
        if (!archive) {
            archive.Reset(::CreateFileW(archivePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!archive) return false;
        }
        if (!writer.AddFile(name, bytes.data(), bytes.size())) return false;
    }
    return archive && writer.Finish();
}

bool Analytics::sendErrorReport() {
    if (reportFiles_.empty()) return false;
    std::wstring folder;
    if (!utils::CreateGroundFolder(folder)) return false;
    // The folder ends with a backslash already.
    const std::wstring archivePath = folder + L"log.zip";
    bool sent = false;
    std::string archive;
    if (WriteReportArchive(reportFiles_, archivePath) && ReadWholeFile(archivePath, archive)) {
        sent = SendServiceRequest(endpoint_, L"PUT", ErrorReportPath(config_->RequestToken(), config_->MachineId()),
                                  archive, false);
    }
    utils::DeleteFolderTree(folder);
    return sent;
}

bool Analytics::SendUserActivity(const std::wstring& activity) {
    const std::string document =
        BuildUserActivityDocument(config_->RequestToken(), config_->ProductId(), config_->ProductVersion(), activity);
    return SendServiceRequest(endpoint_, L"POST", L"/v1/logUserActivity", document, true);
}

RegionAnswer Analytics::QueryRegion() {
    const std::string document =
        BuildRegionRequestDocument(config_->RequestToken(), config_->ProductId(), config_->ProductVersion(),
                                   config_->Channel(), config_->OsName(), config_->MachineId());
    std::string answer;
    if (!PostAndReadAnswer(endpoint_, L"/v1/isInEmbargoedCountry", document, answer)) return RegionAnswer();
    return ParseRegionAnswer(answer);
}

std::wstring ServiceUrl(const ServiceEndpoint& endpoint, const std::wstring& path) {
    std::wstring url = (endpoint.secure ? L"https://" : L"http://") + endpoint.host;
    if (endpoint.port != (endpoint.secure ? 443 : 80)) url += L":" + std::to_wstring(endpoint.port);
    return url + path;
}

}} // namespace stubframework::core
