#include "stubframework/core/MaintenanceRules.h"

namespace stubframework { namespace core {

namespace {
const wchar_t kLaunchOnExit[] = L"LAUNCHONEXIT=";
const wchar_t kGuidMark[] = L"$GUID$";
const wchar_t kSilentLogged[] = L"/qn /norestart /l*v \"";
} // namespace

bool FillLaunchOnExit(std::wstring& parameters, const std::wstring& guid, std::wstring& launchOnExit) {
    const size_t name = parameters.find(kLaunchOnExit);
    if (name == std::wstring::npos) return false;
    const size_t begin = name + (sizeof(kLaunchOnExit) / sizeof(wchar_t) - 1);
    size_t searchFrom = begin;
    if (begin < parameters.size() && parameters[begin] == L'"') {
        const size_t closing = parameters.find(L'"', begin + 1);
        searchFrom = closing == std::wstring::npos ? parameters.size() : closing + 1;
    }
    size_t end = parameters.find(L' ', searchFrom);
    if (end == std::wstring::npos) end = parameters.size();

    std::wstring value = parameters.substr(begin, end - begin);
    const size_t markLength = sizeof(kGuidMark) / sizeof(wchar_t) - 1;
    for (size_t at = value.find(kGuidMark); at != std::wstring::npos; at = value.find(kGuidMark, at + guid.size()))
        value.replace(at, markLength, guid);
    parameters.replace(begin, end - begin, value);

    if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"') value = value.substr(1, value.size() - 2);
    launchOnExit = value;
    return true;
}

bool IsGuidText(const std::wstring& text) {
    if (text.size() != 36) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        const bool hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
        if (hyphen ? c != L'-' : !hex) return false;
    }
    return true;
}

std::wstring LaunchOnExitParent(const std::wstring& launchOnExit, const std::wstring& guid) {
    if (guid.empty()) return std::wstring();
    const std::wstring path = L"Software\\" + launchOnExit;
    const size_t at = path.find(guid);
    if (at == std::wstring::npos) return L"Software\\";
    return path.substr(0, at - 1);   // "Software\" is in front, so at > 0
}

std::wstring RunOnceCommand(const std::wstring& stubPath, const std::wstring& mode) {
    std::wstring line = StubCommandLine(stubPath, L" RESUME=");
    line.append(mode);
    return line;
}

std::wstring StubCommandLine(const std::wstring& stubPath, const std::wstring& arguments) {
    std::wstring line(1, L'"');
    line.append(stubPath).append(1, L'"').append(arguments);
    return line;
}

std::wstring BracedProductCode(const std::wstring& productCode) {
    return productCode.find(L'{') == std::wstring::npos ? L"{" + productCode + L"}" : productCode;
}

std::wstring MsiexecRemoveCommand(const std::wstring& productCode, const std::wstring& logPath) {
    return L"msiexec.exe /uninstall " + productCode + L" " + kSilentLogged + logPath + L"\"";
}

std::wstring MsiexecRepairCommand(const std::wstring& productCode, const std::wstring& logPath) {
    return L"msiexec.exe /f " + productCode + L" " + kSilentLogged + logPath + L"\"";
}

std::wstring RegisteredRemoveCommand(const std::wstring& uninstallString, const std::wstring& logPath) {
    return uninstallString + kSilentLogged + logPath + L"\"";
}

}} // namespace stubframework::core
