#include "tests/StubCore/LogCheck.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <regex>

bool IsLogFileName(const std::wstring& name) {
    static const std::wregex pattern(L"installer_log_[0-9]{14}\\.txt");
    return std::regex_match(name, pattern);
}

bool ReadLogLines(const std::wstring& path, std::vector<LogLine>& lines) {
    lines.clear();
    std::string bytes;
    if (!testsupport::ReadFileBytes(path, bytes)) return false;
    static const std::regex format(
        R"(\[[0-9]{8} [0-2][0-9]:[0-5][0-9]:[0-5][0-9] [ 0-9]{2}[0-9] (TRACE|ERROR|WARNING|DEBUG)\] (.*))");
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "line without CR LF at the end of the file";
            return false;
        }
        const std::string text = bytes.substr(start, end - start);
        start = end + 2;
        LogLine line;
        std::smatch match;
        if (text.empty()) {
            line.blank = true;
        } else if (std::regex_match(text, match, format)) {
            line.level = match[1];
            line.message = match[2];
        } else {
            ADD_FAILURE() << "malformed log line: " << text;
            return false;
        }
        lines.push_back(line);
    }
    return true;
}
