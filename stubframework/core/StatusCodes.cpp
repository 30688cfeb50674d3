#include "stubframework/core/StatusCodes.h"

namespace stubframework { namespace core {

int FinalStatus(int status, const std::wstring& uninstallOption) {
    if (status >= StatusEnvironmentNotSupported) return status;
    int result = (status == StatusStarted) ? StatusCanceled : status;
    if (uninstallOption == L"Modify") result += 70;
    else if (uninstallOption == L"Repair") result += 80;
    else if (uninstallOption == L"Remove") result += 90;
    return result;
}

std::wstring StatusText(int status) {
    static const struct { int code; const wchar_t* text; } kTexts[] = {
        {0, L"started"},          {1, L"completed"},
        {2, L"error occurred"},   {3, L"canceled"},
        {4, L"environment not supported"},
        {5, L"downloaded"},       {6, L"stub failed"},
        {71, L"modify completed"}, {72, L"modify error occurred"}, {73, L"modify canceled"},
        {81, L"repair completed"}, {82, L"repair error occurred"}, {83, L"repair canceled"},
        {91, L"remove completed"}, {92, L"remove error occurred"}, {93, L"remove canceled"},
    };
    for (const auto& entry : kTexts)
        if (entry.code == status) return entry.text;
    return std::wstring();
}

std::wstring MajorVersion(const std::wstring& version) {
    return version.substr(0, version.find(L'.'));
}

}} // namespace stubframework::core
