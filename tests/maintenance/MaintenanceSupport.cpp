#include "tests/maintenance/MaintenanceSupport.h"

#include <cstring>

namespace maintenancetest {

namespace {
// msiexec under Wine takes a few seconds; the bound only stops a hung run.
constexpr DWORD kWaitMs = 90000;
} // namespace

HRESULT MaintenanceRows::Start(const wchar_t* name, htmluitest::Args& args) {
    function_ = htmluitest::Adopt(new htmluitest::RecordingFunction);
    args.Function(function_.Get());
    return Call(name, kMethod, args, nullptr);
}

int MaintenanceRows::WaitForResult() {
    const DWORD start = ::GetTickCount();
    while (function_ && function_->calls.empty() && ::GetTickCount() - start < kWaitMs) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        if (function_->calls.empty()) ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    if (!function_ || function_->calls.size() != 1 || function_->calls[0].textArgs.size() != 1) return -1;
    const std::wstring& value = function_->calls[0].textArgs[0];
    return value == L"?" ? -1 : std::stoi(value);
}

bool ReadMachineValue(const std::wstring& subKey, const std::wstring& name, REGSAM view, DWORD& type,
                      std::wstring& text) {
    stubframework::utils::ScopedRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_READ | view, key.Receive()) != ERROR_SUCCESS)
        return false;
    wchar_t data[1024] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    if (::RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
        ERROR_SUCCESS)
        return false;
    if (type == REG_DWORD) {
        DWORD number = 0;
        std::memcpy(&number, data, sizeof(number));
        text = std::to_wstring(number);
    } else {
        text = data;
    }
    return true;
}

std::string LogLineAfter(const std::string& log, const std::string& marker) {
    const size_t at = log.rfind(marker);
    if (at == std::string::npos) return std::string();
    const size_t begin = at + marker.size();
    const size_t end = log.find_first_of("\r\n", begin);
    return log.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

} // namespace maintenancetest
