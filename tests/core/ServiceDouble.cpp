#include "tests/core/ServiceDouble.h"
#include "tests/support/TempFolder.h"

#include "stubframework/utils/Handle.h"

#include <windows.h>
#include <winsock2.h>

#include <algorithm>
#include <cstdlib>

namespace testsupport {

namespace {
const std::wstring kState = TANDORA_SERVICE_STATE;

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::vector<std::wstring> FilesWithExtension(const std::wstring& folder, const wchar_t* extension) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    stubframework::utils::ScopedFindHandle find(::FindFirstFileW((folder + L"*" + extension).c_str(), &data));
    if (!find) return names;
    do names.push_back(data.cFileName);
    while (::FindNextFileW(find.Get(), &data));
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadText(const std::wstring& path) {
    std::string bytes;
    ReadFileBytes(path, bytes);
    return bytes;
}
} // namespace

std::string RecordedRequest::Header(const std::string& name) const {
    size_t line = head.find("\r\n");
    while (line != std::string::npos && line + 2 < head.size()) {
        const size_t start = line + 2;
        const size_t end = head.find("\r\n", start);
        const std::string text = head.substr(start, end - start);
        const size_t colon = text.find(':');
        if (colon != std::string::npos && _stricmp(text.substr(0, colon).c_str(), name.c_str()) == 0)
            return text.substr(colon + 1 + (colon + 1 < text.size() && text[colon + 1] == ' ' ? 1 : 0));
        line = end;
    }
    return std::string();
}

ServiceDouble::ServiceDouble() {
    Clear(kState + L"\\requests\\");
    Clear(kState + L"\\answers\\");
}

ServiceDouble::~ServiceDouble() { Clear(kState + L"\\answers\\"); }

void ServiceDouble::Clear(const std::wstring& folder) const {
    for (const wchar_t* extension : {L".head", L".body", L".unzip", L".tmp", L""})
        for (const auto& name : FilesWithExtension(folder, extension)) ::DeleteFileW((folder + name).c_str());
}

stubframework::core::ServiceEndpoint ServiceDouble::Endpoint() const {
    stubframework::core::ServiceEndpoint endpoint;
    endpoint.host = L"127.0.0.1";
    endpoint.port = static_cast<unsigned short>(std::atoi(ReadText(kState + L"\\port").c_str()));
    return endpoint;
}

stubframework::core::ServiceEndpoint ServiceDouble::DeadEndpoint() {
    // A port that was free a moment ago: bound, then released.
    stubframework::core::ServiceEndpoint endpoint;
    endpoint.host = L"127.0.0.1";
    WSADATA wsa;
    ::WSAStartup(MAKEWORD(2, 2), &wsa);
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        endpoint.port = ntohs(address.sin_port);
    ::closesocket(s);
    ::WSACleanup();
    return endpoint;
}

void ServiceDouble::SetAnswer(const std::string& segment, const std::string& body, int status,
                              const std::string& location) {
    const std::wstring base = kState + L"\\answers\\" + Widen(segment);
    WriteFileBytes(base, body);
    WriteFileBytes(base + L".status", std::to_string(status));
    if (location.empty()) ::DeleteFileW((base + L".location").c_str());
    else WriteFileBytes(base + L".location", location);
}

std::vector<RecordedRequest> ServiceDouble::WaitForRequests(size_t count, unsigned timeoutMs) const {
    const std::wstring folder = kState + L"\\requests\\";
    const DWORD start = ::GetTickCount();
    std::vector<std::wstring> heads;
    for (;;) {
        heads = FilesWithExtension(folder, L".head");
        if (heads.size() >= count || ::GetTickCount() - start > timeoutMs) break;
        ::Sleep(50);
    }
    std::vector<RecordedRequest> requests;
    for (const auto& name : heads) {
        const std::wstring base = folder + name.substr(0, name.size() - 5);
        RecordedRequest r;
        r.head = ReadText(base + L".head");
        r.body = ReadText(base + L".body");
        r.unzip = ReadText(base + L".unzip");
        const size_t space = r.head.find(' ');
        const size_t end = r.head.find("\r\n");
        r.verb = r.head.substr(0, space);
        if (space != std::string::npos) r.path = r.head.substr(space + 1, end - space - 1);
        requests.push_back(r);
    }
    return requests;
}

} // namespace testsupport
