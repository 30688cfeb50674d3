// The UI instance's application object: owns the log, the settings, the unpacked bundle and
// the single-instance lock, and runs the end-of-run work.
#pragma once
#include <memory>
#include <string>

#include "StubCore/ResourceFolder.h"
#include "StubCore/StubLog.h"
#include "stubframework/core/Analytics.h"
#include "stubframework/core/AppConfig.h"
#include "stubframework/utils/CommandLine.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/WorkerThreads.h"

#include <wrl/client.h>

namespace stubframework {

namespace core { class HtmlExternal; }

class StubApplication {
public:
    // Builds the members in order: log, configuration, resource folder, analytics, bridge.
    StubApplication(utils::ScopedHandle instanceMutex, const utils::StartupSwitches& switches);
    // Destroys them in order: analytics, resource folder, configuration, log, the mutex, then lets go of
    // the bridge (the page or a worker may still hold it).
    ~StubApplication();
    StubApplication(const StubApplication&) = delete;
    StubApplication& operator=(const StubApplication&) = delete;

    StubLog& Log() { return *log_; }
    core::AppConfig& Config() { return *config_; }
    ResourceFolder& Resources() { return *resources_; }
    core::Analytics& Analytics() { return *analytics_; }
    const utils::StartupSwitches& Switches() const { return switches_; }
    core::HtmlExternal& Bridge() { return *bridge_.Get(); }

    // Shows the start page and runs the UI until it closes; false when no window could be made.
    // The shipping stub uses the MSHTML host window; the development host hands the page to a browser.
    using WindowRunner = bool (*)(const wchar_t* startPage, core::HtmlExternal* bridge);
    void SetWindowRunner(WindowRunner runner) { runWindow_ = runner; }

    // Where this run's install and maintenance logs are written: the log's own folder on the
    // ground (with a trailing backslash). At the end of the run every file there is copied to the
    // product's "<id>_log" folder in the user's temporary folder. "" when there is none.
    std::wstring LogFolder() const;

    // Shows the UI (when the bundle is there) and does the end-of-run work; returns the exit code.
    int RunHtmlUi();

    // Runs a worker that the end of the run waits for; false (GetLastError) when none started.
    bool StartWorker(LPTHREAD_START_ROUTINE routine, void* record) { return workers_.Start(routine, record); }
    // Stops the downloads and waits, serving this thread's apartment meanwhile, for every worker
    // to end; gives up (and logs it) after timeoutMs. True when none runs any more.
    bool StopWorkers(DWORD timeoutMs = kWorkerStopTimeoutMs);
    // False when the end of the run gave up on a worker: it may still use this object, which
    // must then not be destroyed before the process ends.
    bool WorkersEnded() const { return workersEnded_; }

    // Long enough for an installer to finish what it is doing.
    static constexpr DWORD kWorkerStopTimeoutMs = 60000;

private:
    void FinishRun();
    // A copy taken under the lock every thread that touches the property map holds.
    core::AppConfig::PropertyMap PropertiesSnapshot();
    void KeepLogCopy();
    // The product's "<id>_log" folder in the user's temporary folder, created when missing; ""
    // when it cannot be had as a real folder (a link there is never written through).
    std::wstring KeptLogFolder();
    void RemoveExtractionFolders(const core::AppConfig::PropertyMap& properties);
    int ExitCode();

    utils::StartupSwitches switches_;
    std::unique_ptr<StubLog> log_;
    std::unique_ptr<core::AppConfig> config_;
    std::unique_ptr<ResourceFolder> resources_;
    std::unique_ptr<core::Analytics> analytics_;
    utils::ScopedHandle instanceMutex_;
    Microsoft::WRL::ComPtr<core::HtmlExternal> bridge_;   // one counted reference
    WindowRunner runWindow_;
    utils::WorkerThreads workers_;
    bool workersEnded_ = true;
};

// Convenience logging for handlers and workers; nothing happens without an application.
void WriteDebugLog(StubApplication* app, const wchar_t* format, ...);
void WriteErrorLog(StubApplication* app, const wchar_t* format, ...);

} // namespace stubframework
