#include "StubCore/StubLog.h"
#include "stubframework/utils/Ground.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/WideFormat.h"

#include <windows.h>

namespace stubframework {

namespace {
LogTime CurrentUtcTime() {
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    return LogTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                   now.wMilliseconds};
}
} // namespace

StubLog::StubLog() {
    if (!utils::CreateGroundFolder(folder_)) {
        folder_.clear();
        return;
    }
    if (!utils::CombinePath(folder_, FormatLogFileName(CurrentUtcTime()), filePath_)) return;
    // Append and read, text mode, not inherited by the programs the stub starts.
    stream_ = ::_wfopen(filePath_.c_str(), L"a+N");
}

StubLog::~StubLog() {
    Close();
    if (!folder_.empty()) utils::DeleteFolderTree(folder_);
}

void StubLog::Close() {
    if (stream_) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
}

void StubLog::WriteV(int level, const wchar_t* format, va_list args) {
    if (!stream_ || level > threshold_) return;
    // One write per line keeps lines of different threads whole. Characters the ANSI code page
    // lacks become '?', so they never cut a line short.
    std::string line = FormatLogPrefix(CurrentUtcTime(), level);
    line += utils::ToAnsi(WithoutUrlQueries(utils::FormatWideV(format, args)));
    line += '\n';
    std::fputs(line.c_str(), stream_);
    std::fflush(stream_);
}

void StubLog::Write(int level, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    WriteV(level, format, args);
    va_end(args);
}

#define STUBLOG_LEVEL_ENTRY(name, level)            \
    void StubLog::name(const wchar_t* format, ...) { \
        va_list args;                                \
        va_start(args, format);                      \
        WriteV(level, format, args);                 \
        va_end(args);                                \
    }
STUBLOG_LEVEL_ENTRY(Error, LogError)
STUBLOG_LEVEL_ENTRY(Trace, LogTrace)
STUBLOG_LEVEL_ENTRY(Debug, LogDebug)
#undef STUBLOG_LEVEL_ENTRY

} // namespace stubframework
