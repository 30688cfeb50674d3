// Reports to the installer web service: the analytics report at start and end of a run, user
// activity, the region check and the error report with the collected log files.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "stubframework/core/ReportDocuments.h"
#include "stubframework/core/ServiceEndpoint.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/WorkerThreads.h"

namespace stubframework { namespace core {

class AppConfig;

class Analytics {
public:
    static constexpr int ReportFailed = 300;

    // The settings are not owned and must outlive the reporter.
    Analytics(AppConfig* config, const ServiceEndpoint& endpoint);
    // Waits for running user-activity workers: they use the reporter and its settings.
    virtual ~Analytics();
    Analytics(const Analytics&) = delete;
    Analytics& operator=(const Analytics&) = delete;

    virtual bool sendStartReport();          // status 0
    virtual bool sendStatusReport();         // the current status, 3 while it is still 0
    virtual bool sendErrorReport();          // uploads reportFiles as one ZIP archive
    // Start report when final is false, else the status report; a sent final report with
    // status 2 is followed by the error report. 0 on success, ReportFailed otherwise.
    virtual int sendReport(bool final);

    // Files for the error report; only files that exist are added.
    bool AddReportFile(const std::wstring& path);
    const std::vector<std::wstring>& reportFiles() const { return reportFiles_; }

    // The user-activity document, POSTed to "/v1/logUserActivity".
    bool SendUserActivity(const std::wstring& activity);
    // The same on a worker thread in the multithreaded apartment; onFailure runs there with the
    // activity text when the send fails. False when the worker cannot be started.
    bool StartUserActivity(const std::wstring& activity, std::function<void(const std::wstring&)> onFailure);
    // Asks "/v1/isInEmbargoedCountry"; the answer's texts are empty when the request failed.
    RegionAnswer QueryRegion();

    // The analytics document for a status, as it goes on the wire.
    std::string AnalyticsDocument(int status);

    const ServiceEndpoint& Endpoint() const { return endpoint_; }

private:
    bool PostAnalytics(int status);

    AppConfig* config_;
    ServiceEndpoint endpoint_;
    std::vector<std::wstring> reportFiles_;
    utils::WorkerThreads workers_;
};

// "/v1/reportError?token=...&machineId=..." (values not escaped: the service expects them raw).
std::wstring ErrorReportPath(const std::wstring& token, const std::wstring& machineId);

// Packs files into a new archive at archivePath, each entry named by its file's base name.
// False at the first file that cannot be read or added.
bool WriteReportArchive(const std::vector<std::wstring>& files, const std::wstring& archivePath);

}} // namespace stubframework::core
