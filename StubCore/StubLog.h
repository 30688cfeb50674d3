// The per-run log of the UI instance: one file in a private temporary folder.
#pragma once
#include <cstdarg>
#include <cstdio>
#include <string>

#include "StubCore/LogFormat.h"

namespace stubframework {

class StubLog {
public:
    StubLog();      // creates the private folder and opens the file; silent when that fails
    ~StubLog();     // closes the file and deletes the folder with it
    StubLog(const StubLog&) = delete;
    StubLog& operator=(const StubLog&) = delete;

    void Write(int level, const wchar_t* format, ...);
    void WriteV(int level, const wchar_t* format, va_list args);
    void Error(const wchar_t* format, ...);
    void Trace(const wchar_t* format, ...);
    void Debug(const wchar_t* format, ...);

    // Closes the file; every later write does nothing.
    void Close();

    const std::wstring& FilePath() const { return filePath_; }
    const std::wstring& Folder() const { return folder_; }

private:
    std::wstring filePath_;
    std::wstring folder_;
    int threshold_ = LogDebug;
    FILE* stream_ = nullptr;
};

} // namespace stubframework
