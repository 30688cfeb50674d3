#include "StubCore/StubApplication.h"
#include "stubframework/core/CreatedFolders.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/core/StatusCodes.h"
#include "stubframework/htmlui/HostWindow.h"
#include "stubframework/utils/ComApartment.h"
#include "stubframework/utils/FileHandles.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/ProxyAuth.h"

#include <objbase.h>
#include <cstdarg>
#include <vector>

namespace stubframework {

StubApplication::StubApplication(utils::ScopedHandle instanceMutex, const utils::StartupSwitches& switches)
    : switches_(switches), instanceMutex_(std::move(instanceMutex)), runWindow_(htmlui::RunHostWindow) {
    log_.reset(new StubLog());
    config_.reset(new core::AppConfig());
    config_->SetPassThrough(switches_.passThrough);
    resources_.reset(new ResourceFolder(log_.get()));
    analytics_.reset(new core::Analytics(config_.get(), core::InstallerServiceEndpoint()));
    *bridge_.ReleaseAndGetAddressOf() = new core::HtmlExternal();   // takes its first reference
    bridge_->SetNoticeSink([](void* context, const wchar_t* text) {
        static_cast<StubLog*>(context)->Error(L"%s", text);
    }, log_.get());
    utils::SetAuthLogSink([](void* context, bool error, const wchar_t* text) {
        StubLog* log = static_cast<StubLog*>(context);
        if (error) log->Error(L"%s", text);
        else log->Debug(L"%s", text);
    }, log_.get());
    config_->ExternalProperties()[L"propertyName1"] = L"propertyValue1";
    if (resources_->IsUnpacked()) config_->SetProperty(L"resourceLocation", resources_->Folder());
}

StubApplication::~StubApplication() {
    // Runs that never reached the end of the run (tests) still wait for their workers.
    if (workers_.Running()) StopWorkers();
    if (bridge_) bridge_->SetNoticeSink(nullptr, nullptr);   // the log goes first
    utils::SetAuthLogSink(nullptr, nullptr);
    analytics_.reset();
    resources_.reset();
    config_.reset();
    log_.reset();
    instanceMutex_.Reset();
    bridge_.Reset();
}

int StubApplication::RunHtmlUi() {
    analytics_->sendStartReport();
    if (resources_->IsUnpacked()) {
        utils::ScopedComApartment apartment(COINIT_APARTMENTTHREADED);
        std::wstring startPage;
        utils::CombinePath(resources_->Folder(), L"Load.html", startPage);
        log_->Debug(L"Start page: %s", startPage.c_str());
        // Without an HTML engine the window cannot be created; the run then ends as if closed.
        if (!runWindow_(startPage.c_str(), bridge_.Get())) log_->Error(L"HTML window creation failed.");
        // Still in the apartment: workers finishing their last report call back into it.
        StopWorkers();
    } else {
        config_->SetStatus(core::StatusErrorOccurred);
    }
    FinishRun();
    return ExitCode();
}

bool StubApplication::StopWorkers(DWORD timeoutMs) {
    bridge_->SetRunEnding();
    const size_t running = workers_.Running();
    if (running == 0) return workersEnded_ = true;
    log_->Debug(L"Waiting for %u worker(s) to end", static_cast<unsigned>(running));
    workersEnded_ = workers_.WaitAll(timeoutMs, true);
    if (!workersEnded_)
        log_->Error(L"%u worker(s) still running after %u ms; the run ends without them",
                    static_cast<unsigned>(workers_.Running()), static_cast<unsigned>(timeoutMs));
    return workersEnded_;
}

core::AppConfig::PropertyMap StubApplication::PropertiesSnapshot() {
    ExternalMethods* methods = bridge_->MethodTable();
    if (!methods) return config_->Properties();
    utils::ScopedLock hold(methods->PropertyLock());
    return config_->Properties();
}

void StubApplication::FinishRun() {
    const core::AppConfig::PropertyMap properties = PropertiesSnapshot();
    const int status = config_->Status();
    if (status < core::StatusEnvironmentNotSupported) {
        const auto option = properties.find(L"uninstallOption");
        config_->SetStatus(core::FinalStatus(status, option == properties.end() ? std::wstring() : option->second));
    }
    analytics_->sendStatusReport();

    if (status == core::StatusErrorOccurred) {
        for (const auto& property : properties)
            log_->Debug(L"Property %s: %s\n", property.first.c_str(), property.second.c_str());
        log_->Close();
        analytics_->AddReportFile(log_->FilePath());
        analytics_->sendErrorReport();
    }
    KeepLogCopy();
    RemoveExtractionFolders(properties);
}

std::wstring StubApplication::LogFolder() const { return log_ ? log_->Folder() : std::wstring(); }

std::wstring StubApplication::KeptLogFolder() {
    std::wstring temp;
    if (!utils::GetTempDirectory(temp)) return std::wstring();
    const std::wstring folder = temp + config_->ProductId() + L"_log\\";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    // The user owns this folder: it is written only through a handle on the real folder.
    return utils::OpenFolderNoFollow(folder) ? folder : std::wstring();
}

void StubApplication::KeepLogCopy() {
    const std::wstring source = LogFolder();
    if (source.empty()) return;
    utils::ScopedFileHandle logs = utils::OpenFolderNoFollow(source);
    std::vector<std::wstring> names;
    if (!logs || !utils::ListFolder(logs.Get(), names) || names.empty()) return;
    const std::wstring kept = KeptLogFolder();
    if (kept.empty()) return;
    // The user sees copies; nothing there is read back. Created new: an existing file or a link
    // in the user's folder is neither replaced nor followed.
    for (const std::wstring& name : names) {
        utils::ScopedFileHandle file = utils::OpenInFolder(logs.Get(), name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                           utils::ChildDisposition::OpenExisting, false);
        if (file) utils::CopyHandleToNewFile(file.Get(), kept + name);
    }
}

void StubApplication::RemoveExtractionFolders(const core::AppConfig::PropertyMap& properties) {
    for (const auto& property : properties) {
        // A property can be set by a page or a resume record: only folders this stub made go.
        if (property.first.find(L"__ZIP_Unzip_Folder__") != std::wstring::npos)
            core::DeleteCreatedFolder(config_->FrameworkKeyPath(), property.second);
    }
}

int StubApplication::ExitCode() {
    const int code = config_->SelfUpdateCode();
    return code == core::AppConfig::Unset ? 0 : code;
}

void WriteDebugLog(StubApplication* app, const wchar_t* format, ...) {
    if (!app) return;
    va_list args;
    va_start(args, format);
    app->Log().WriteV(LogDebug, format, args);
    va_end(args);
}

void WriteErrorLog(StubApplication* app, const wchar_t* format, ...) {
    if (!app) return;
    va_list args;
    va_start(args, format);
    app->Log().WriteV(LogError, format, args);
    va_end(args);
}

} // namespace stubframework
