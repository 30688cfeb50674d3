#include "StubCore/StubApplication.h"
#include "stubframework/core/CreatedFolders.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/core/StatusCodes.h"
#include "stubframework/htmlui/HostWindow.h"
#include "stubframework/utils/Paths.h"

#include <objbase.h>
#include <cstdarg>

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
    config_->ExternalProperties()[L"propertyName1"] = L"propertyValue1";
    if (resources_->IsUnpacked()) config_->SetProperty(L"resourceLocation", resources_->Folder());
}

StubApplication::~StubApplication() {
    if (bridge_) bridge_->SetNoticeSink(nullptr, nullptr);   // the log goes first
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
        ::CoInitialize(nullptr);
        std::wstring startPage;
        utils::CombinePath(resources_->Folder(), L"Load.html", startPage);
        log_->Debug(L"Start page: %s", startPage.c_str());
        // Without an HTML engine the window cannot be created; the run then ends as if closed.
        if (!runWindow_(startPage.c_str(), bridge_.Get())) log_->Error(L"HTML window creation failed.");
        ::CoUninitialize();
    } else {
        config_->SetStatus(core::StatusErrorOccurred);
    }
    FinishRun();
    return ExitCode();
}

void StubApplication::FinishRun() {
    const int status = config_->Status();
    if (status < core::StatusEnvironmentNotSupported)
        config_->SetStatus(core::FinalStatus(status, config_->Property(L"uninstallOption")));
    analytics_->sendStatusReport();

    if (status == core::StatusErrorOccurred) {
        for (const auto& property : config_->Properties())
            log_->Debug(L"Property %s: %s\n", property.first.c_str(), property.second.c_str());
        log_->Close();
        analytics_->AddReportFile(log_->FilePath());
        analytics_->sendErrorReport();
    }
    KeepLogCopy();
    RemoveExtractionFolders();
}

std::wstring StubApplication::KeptLogFolder() {
    std::wstring temp;
    if (!utils::GetTempDirectory(temp)) return std::wstring();
    const std::wstring folder = temp + config_->ProductId() + L"_log\\";
    // The elevated run writes logs here: a link the user put in its place would aim them elsewhere.
    const DWORD attributes = ::GetFileAttributesW(folder.substr(0, folder.size() - 1).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return std::wstring();
    return utils::CreateFolderTree(folder) ? folder : std::wstring();
}

void StubApplication::KeepLogCopy() {
    if (log_->FilePath().empty()) return;
    const std::wstring folder = KeptLogFolder();
    if (folder.empty()) return;
    ::CopyFileW(log_->FilePath().c_str(), (folder + utils::FileNameOf(log_->FilePath())).c_str(), FALSE);
}

void StubApplication::RemoveExtractionFolders() {
    for (const auto& property : config_->Properties()) {
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
