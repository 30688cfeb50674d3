// The fixed parts of a log line and of the log file name (pure text, no <windows.h>).
#pragma once
#include <string>

namespace stubframework {

enum LogLevel { LogNone = 0, LogTrace = 1, LogError = 2, LogWarning = 3, LogDebug = 4 };

struct LogTime {
    int year, month, day, hour, minute, second, milliseconds;
};

// "TRACE", "ERROR", "WARNING", "DEBUG"; "" for 0 and anything unknown.
const char* LogLevelName(int level);

// "[20261208 14:05:09   7 DEBUG] ": milliseconds right-aligned in three places with blanks.
std::string FormatLogPrefix(const LogTime& time, int level);

// "installer_log_" + "%4d%02d%02d%02d%02d%02d" + ".txt".
std::wstring FormatLogFileName(const LogTime& time);

// The text with the query and fragment of every http and https address replaced by "?...":
// tokens travel in queries and must not reach a log that is sent with error reports.
std::wstring WithoutUrlQueries(const std::wstring& text);

} // namespace stubframework
