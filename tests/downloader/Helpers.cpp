#include "tests/downloader/Helpers.h"
#include "tests/support/Signing.h"

#include <cstdarg>
#include <cstdio>
#include <sstream>

#include "stubframework/utils/WideFormat.h"
#include "tests/support/TempFolder.h"

namespace dltest {

namespace {

std::wstring ServersDir() { return TANDORA_TEST_SERVERS_DIR; }


std::vector<std::string> LinesWith(const std::wstring& file, const std::string& tag) {
    std::string text;
    testsupport::ReadFileBytes(file, text);
    std::istringstream in(text);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (line.find(tag) != std::string::npos) lines.push_back(line);
    }
    return lines;
}

} // namespace

int Port(const std::string& name) {
    std::string text;
    testsupport::ReadFileBytes(ServersDir() + L"\\ports", text);
    std::istringstream in(text);
    std::string key;
    int port = 0;
    while (in >> key >> port) {
        if (key == name) return port;
    }
    return 0;
}

std::wstring NginxUrl(const std::wstring& path) {
    return stubframework::utils::FormatWide(L"http://127.0.0.1:%d/%s", Port("nginx"), path.c_str());
}
std::wstring FaultUrl(const std::wstring& path) {
    return stubframework::utils::FormatWide(L"http://127.0.0.1:%d/%s", Port("fault"), path.c_str());
}
std::wstring ServerFile(const std::wstring& name) { return ServersDir() + L"\\www\\" + name; }
std::vector<std::string> AccessLogLines(const std::string& tag) {
    return LinesWith(ServersDir() + L"\\logs\\access.log", tag);
}
std::vector<std::string> FaultLogLines(const std::string& tag) {
    return LinesWith(ServersDir() + L"\\fault-requests.log", tag);
}
std::wstring Tag(const std::wstring& name) {
    static volatile LONG counter = 0;
    // Wine hands out the same few process ids again and again: the start time tells runs apart.
    static const DWORD started = ::GetTickCount();
    return stubframework::utils::FormatWide(L"%s-%lu-%lu-%ld", name.c_str(), ::GetCurrentProcessId(), started,
                                            ::InterlockedIncrement(&counter));
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

void CaptureLogger::Log(const wchar_t* where, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring line = std::wstring(where) + L"> " + stubframework::utils::FormatWideV(format, args);
    va_end(args);
    if (::GetEnvironmentVariableW(L"DLTEST_VERBOSE", nullptr, 0)) fwprintf(stderr, L"%ls\n", line.c_str());
    stubframework::utils::ScopedLock lock(lock_);
    lines_.push_back(line);
}
std::vector<std::wstring> CaptureLogger::Lines() {
    stubframework::utils::ScopedLock lock(lock_);
    return lines_;
}
bool CaptureLogger::Contains(const std::wstring& text) {
    for (const std::wstring& line : Lines()) {
        if (line.find(text) != std::wstring::npos) return true;
    }
    return false;
}

bool NoObjectsBeyond(long baseline) {
    for (int i = 0; i < 500; ++i) {
        if (downloader::details::LiveObjectCount() == baseline) return true;
        ::Sleep(20);
    }
    return downloader::details::LiveObjectCount() == baseline;
}

std::string FaultBody(size_t start, size_t end) {
    std::string bytes;
    for (size_t i = start; i < end; ++i) bytes.push_back(static_cast<char>(i % 251));
    return bytes;
}

std::wstring TempPath(const std::wstring& name) {
    wchar_t folder[MAX_PATH];
    ::GetTempPathW(MAX_PATH, folder);
    return stubframework::utils::FormatWide(L"%sdltest_%lu_%lu_%s", folder, ::GetCurrentProcessId(),
                                            ::GetTickCount(), name.c_str());
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
    return testsupport::ReadFileBytes(path, bytes);
}

bool SignPublished(const std::wstring& path) {
    const std::wstring meta = path + L".meta";
    return testsupport::PublishSignature(path) &&
           (::GetFileAttributesW(meta.c_str()) == INVALID_FILE_ATTRIBUTES || testsupport::PublishSignature(meta));
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    return testsupport::WriteFileBytes(path, bytes);
}

} // namespace dltest
