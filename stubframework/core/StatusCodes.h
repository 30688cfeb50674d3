// Final status codes of a run and the rules that turn the page's status into the reported one.
#pragma once
#include <string>

namespace stubframework { namespace core {

enum InstallStatus {
    StatusStarted = 0,
    StatusCompleted = 1,
    StatusErrorOccurred = 2,
    StatusCanceled = 3,
    StatusEnvironmentNotSupported = 4,
    StatusDownloaded = 5,
    StatusStubFailed = 6,
};

// The status a run ends with: an unfinished 0 becomes 3 (canceled), and in maintenance mode
// "Modify", "Repair" and "Remove" add 70, 80 and 90. Statuses from 4 on stay as they are.
int FinalStatus(int status, const std::wstring& uninstallOption);

// The report text of a status ("error occurred", "repair canceled", ...); "" for other codes.
std::wstring StatusText(int status);

// "22.0.0" gives "22"; a version without "." is used whole.
std::wstring MajorVersion(const std::wstring& version);

}} // namespace stubframework::core
