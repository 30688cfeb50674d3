#include "StubCore/LogFormat.h"

#include <cstdio>

namespace stubframework {

const char* LogLevelName(int level) {
    switch (level) {
    case LogTrace: return "TRACE";
    case LogError: return "ERROR";
    case LogWarning: return "WARNING";
    case LogDebug: return "DEBUG";
    default: return "";
    }
}

std::string FormatLogPrefix(const LogTime& t, int level) {
    char time[64];
    std::snprintf(time, sizeof(time), "%4d%02d%02d %02d:%02d:%02d %3d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.milliseconds);
    return std::string("[") + time + " " + LogLevelName(level) + "] ";
}

std::wstring FormatLogFileName(const LogTime& t) {
    char digits[64];
    std::snprintf(digits, sizeof(digits), "%4d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    std::wstring name = L"installer_log_";
    for (const char* p = digits; *p; ++p) name += static_cast<wchar_t>(*p);
    return name + L".txt";
}

} // namespace stubframework
