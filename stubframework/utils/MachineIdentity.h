// The machine identity every report carries: derived once, stored protected under the common
// application-data folder, and read back by later runs.
#pragma once
#include <functional>
#include <string>
#include <vector>

namespace stubframework { namespace utils {

// Cached for the process; never empty (the placeholder when nothing can be derived).
std::wstring GetMachineIdentity();

// What derivation asks of the machine; split out so the rules can run against set answers.
struct MachineProbe {
    std::function<bool()> isVirtual;
    std::function<std::vector<std::wstring>()> hardwareAddresses;
};
MachineProbe SystemMachineProbe();

// One derivation against storeFile, without the process cache.
std::wstring DeriveMachineIdentity(const MachineProbe& probe, const std::wstring& storeFile);

// Common application data + "\UniqueId\data"; the folders are created. Empty on failure.
std::wstring MachineIdStoreFile();

// The stored identity counts only when it unprotects and is exactly 38 characters long.
bool ReadStoredMachineId(const std::wstring& storeFile, std::wstring& id);
bool WriteStoredMachineId(const std::wstring& storeFile, const std::wstring& id);

// WMI's computer-system model and manufacturer against the virtual-machine table; false when
// WMI cannot be reached. Needs COM on the calling thread.
bool IsVirtualMachineByWmi();

// Permanent 802.3 addresses of the present hardware adapters, "%02X:...".
std::vector<std::wstring> CollectHardwareAddresses();

}} // namespace stubframework::utils
