#include "stubframework/debug/DownloadLogger.h"

#include <cstdarg>
#include <cstdio>

#include "StubCore/StubLog.h"
#include "downloader/Object.h"

namespace stubframework { namespace debug {

void DownloadLogger::Log(const wchar_t* where, const wchar_t* format, ...) {
    if (!log_ || !format) return;
    wchar_t message[1024];
    va_list args;
    va_start(args, format);
    // The runtime's own wide printf (%s wide, %S narrow); it leaves no terminator when it cuts.
    const int written = _vsnwprintf(message, 1023, format, args);
    va_end(args);
    message[written < 0 || written > 1023 ? 1023 : written] = L'\0';
    log_->Trace(L"%s> %s", where ? where : L"", message);
}

downloader::ILogger* CreateDownloadLogger(StubLog* log) {
    return downloader::details::New<DownloadLogger>(log);
}

}} // namespace stubframework::debug
