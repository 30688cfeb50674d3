// The downloader library's logger, writing into the run's log at level 1 (TRACE).
#pragma once
#include "downloader/Downloader.h"

namespace stubframework {

class StubLog;

namespace debug {

class DownloadLogger : public downloader::ILogger {
public:
    explicit DownloadLogger(StubLog* log) : log_(log) {}
    // "%s> %s" (operation, message); the message is cut at 1023 characters.
    void Log(const wchar_t* where, const wchar_t* format, ...) override;

private:
    StubLog* log_;
};

// A new logger with one reference; without a log it discards every message. Null when memory
// runs out.
downloader::ILogger* CreateDownloadLogger(StubLog* log);

}} // namespace stubframework::debug
