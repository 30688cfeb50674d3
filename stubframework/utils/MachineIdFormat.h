// The text rules of the machine identity, apart from the system calls that gather its inputs.
#pragma once
#include <string>
#include <vector>

namespace stubframework { namespace utils {

constexpr size_t MachineIdLength = 38;                 // kind prefix + 36
extern const wchar_t MachineIdPlaceholder[];          // "X-XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX"

// "%02X:%02X:%02X:%02X:%02X:%02X".
std::wstring FormatHardwareAddress(const unsigned char (&address)[6]);

// 36 characters in 8-4-4-4-12 groups taken cyclically from the letters and digits of the
// address ("00:1A:2B:3C:4D:5E" gives "001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C"). Empty when the
// address holds no letter or digit at all.
std::wstring LayoutFromAddress(const std::wstring& address);

// The smallest address text; empty for an empty list.
std::wstring FirstAddress(std::vector<std::wstring> addresses);

// Adapters on root-enumerated, USB or Bluetooth paths and Microsoft's virtual adapters
// are not hardware of this machine.
bool IsSkippedAdapter(const std::wstring& devicePath, const std::wstring& description);

// Model and manufacturer of a known virtual machine.
bool IsVirtualMachine(const std::wstring& model, const std::wstring& manufacturer);

}} // namespace stubframework::utils
