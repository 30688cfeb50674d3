// Reading a log file back and checking every line's fixed format.
#pragma once
#include <string>
#include <vector>

struct LogLine {
    bool blank = false;       // an empty line (a message that ended with its own "\n")
    std::string level;
    std::string message;
};

// "installer_log_" + 14 digits + ".txt"
bool IsLogFileName(const std::wstring& name);

// Fails (with a gtest failure naming the line) when a line breaks the format or the file
// does not use CR LF line ends.
bool ReadLogLines(const std::wstring& path, std::vector<LogLine>& lines);
