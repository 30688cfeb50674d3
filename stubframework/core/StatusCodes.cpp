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

std::wstring MajorVersion(const std::wstring& version) {
    return version.substr(0, version.find(L'.'));
}

}} // namespace stubframework::core
