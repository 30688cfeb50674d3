#include "stubframework/utils/MachineIdFormat.h"

#include <algorithm>
#include <cwctype>

namespace stubframework { namespace utils {

const wchar_t MachineIdPlaceholder[] = L"X-XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";

std::wstring FormatHardwareAddress(const unsigned char (&address)[6]) {
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    std::wstring text;
    for (int i = 0; i < 6; ++i) {
        if (i) text += L':';
        text += kHex[address[i] >> 4];
        text += kHex[address[i] & 0x0F];
    }
    return text;
}

namespace {
bool IsAsciiAlnum(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}
} // namespace

std::wstring LayoutFromAddress(const std::wstring& address) {
    // Without a single usable character the cycle below would never end.
    if (std::none_of(address.begin(), address.end(), IsAsciiAlnum)) return std::wstring();
    std::wstring out;
    size_t next = 0;
    while (out.size() < 36) {
        const size_t position = out.size();
        if (position == 8 || position == 13 || position == 18 || position == 23) {
            out += L'-';
            continue;
        }
        const wchar_t c = address[next];
        next = (next + 1) % address.size();
        if (IsAsciiAlnum(c)) out += c;
    }
    return out;
}

std::wstring FirstAddress(std::vector<std::wstring> addresses) {
    if (addresses.empty()) return std::wstring();
    std::sort(addresses.begin(), addresses.end());
    return addresses.front();
}

bool IsSkippedAdapter(const std::wstring& devicePath, const std::wstring& description) {
    std::wstring path = devicePath;
    for (auto& c : path) c = static_cast<wchar_t>(std::towlower(c));
    for (const wchar_t* bus : {L"root", L"usb", L"bth"}) {
        const size_t at = path.find(bus);
        if (at != std::wstring::npos && at <= 7) return true;
    }
    const size_t vendor = description.find(L"microsoft");
    return vendor != std::wstring::npos && vendor <= 7;
}

bool IsVirtualMachine(const std::wstring& model, const std::wstring& manufacturer) {
    static const struct { const wchar_t* model; const wchar_t* manufacturer; } kMachines[] = {
        {L"VirtualBox", L"innotek GmbH"},
        {L"VMware Virtual Platform", L"VMware, Inc."},
        {L"Virtual Machine", L"Microsoft Corporation"},
    };
    for (const auto& machine : kMachines)
        if (model == machine.model && manufacturer == machine.manufacturer) return true;
    return false;
}

}} // namespace stubframework::utils
