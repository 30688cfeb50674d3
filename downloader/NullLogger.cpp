// The logger for callers with no log to write to.
#include "downloader/Downloader.h"
#include "downloader/Object.h"

namespace downloader {

namespace {

class NullLogger : public ILogger {
public:
    void Log(const wchar_t*, const wchar_t*, ...) override {}
};

} // namespace

ILogger* CreateNullLogger() {
    return details::New<NullLogger>();
}

} // namespace downloader
