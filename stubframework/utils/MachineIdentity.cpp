#include "stubframework/utils/MachineIdentity.h"
#include "stubframework/utils/ComApartment.h"
#include "stubframework/utils/PrivateFolder.h"
#include "stubframework/utils/ComHolders.h"
#include "stubframework/utils/DeviceInfoHandle.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/MachineIdFormat.h"
#include "stubframework/utils/SystemLibrary.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <wbemcli.h>
#include <wincrypt.h>
#include <wrl/client.h>

#include <string>
#include <vector>

namespace stubframework { namespace utils {

namespace {
using Microsoft::WRL::ComPtr;

// Fixed for good: a different value could not read back what earlier runs stored.
const char kEntropy[7] = {'T', 'n', 'd', 'r', 'M', 'I', 'D'};
const DWORD kProtectLocalMachine = 4;
const DWORD kSharingRetryMs = 3000;
const DWORD kSharingPauseMs = 5;

// crypt32.dll is not a KnownDLL: loaded at run time from the system folder.
struct DataProtection {
    decltype(&::CryptProtectData) protect = nullptr;
    decltype(&::CryptUnprotectData) unprotect = nullptr;
    DataProtection() {
        const HMODULE m = LoadSystemLibrary(L"crypt32.dll");
        if (!m) return;
        if (!LoadProc(m, "CryptProtectData", protect) || !LoadProc(m, "CryptUnprotectData", unprotect))
            protect = nullptr;
    }
    static const DataProtection& Get() {
        static const DataProtection api;
        return api;
    }
};

// Another process may hold the store without sharing for a moment.
ScopedFileHandle OpenStore(const std::wstring& file, DWORD access, DWORD disposition) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        ScopedFileHandle handle(
            ::CreateFileW(file.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (handle || ::GetLastError() != ERROR_SHARING_VIOLATION || ::GetTickCount() - start >= kSharingRetryMs)
            return handle;
        ::Sleep(kSharingPauseMs);
    }
}

// A reader holds the store without sharing for a moment; the move waits for it like OpenStore.
bool ReplaceStore(const std::wstring& next, const std::wstring& storeFile) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (::MoveFileExW(next.c_str(), storeFile.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = ::GetLastError();
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) ||
            ::GetTickCount() - start >= kSharingRetryMs)
            return false;
        ::Sleep(kSharingPauseMs);
    }
}

DATA_BLOB EntropyBlob() {
    DATA_BLOB blob;
    blob.cbData = sizeof(kEntropy);
    blob.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(kEntropy));
    return blob;
}

std::wstring NewVirtualIdentity() {
    GUID guid;
    wchar_t text[40] = {};
    if (FAILED(::CoCreateGuid(&guid)) || ::StringFromGUID2(guid, text, 40) != 39) return std::wstring();
    return L"V-" + std::wstring(text + 1, 36);
}

std::wstring VariantText(const VARIANT& value) {
    return (value.vt == VT_BSTR && value.bstrVal) ? std::wstring(value.bstrVal, ::SysStringLen(value.bstrVal))
                                                  : std::wstring();
}

// The network-adapter interface class.
const GUID kNetworkAdapterInterface = {0xAD498944, 0x762F, 0x11D0, {0x8D, 0xCB, 0x00, 0xC0, 0x4F, 0xC3, 0x35, 0x8C}};
const DWORD kNdisQueryGlobalStats = 0x00170002;
const DWORD kPermanentAddressOid = 0x01010101;

bool InterfacePath(HDEVINFO devices, SP_DEVICE_INTERFACE_DATA& data, std::wstring& path) {
    DWORD size = 0;
    ::SetupDiGetDeviceInterfaceDetailW(devices, &data, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return false;
    std::vector<BYTE> buffer(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!::SetupDiGetDeviceInterfaceDetailW(devices, &data, detail, size, nullptr, nullptr)) return false;
    path = detail->DevicePath;
    return true;
}

std::wstring DeviceDescription(HDEVINFO devices, DWORD index) {
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    if (!::SetupDiEnumDeviceInfo(devices, index, &device)) return std::wstring();
    wchar_t text[512] = {};
    if (!::SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_DEVICEDESC, nullptr,
                                             reinterpret_cast<BYTE*>(text), sizeof(text) - sizeof(wchar_t), nullptr))
        return std::wstring();
    return text;
}

bool PermanentAddress(const std::wstring& path, std::wstring& address) {
    ScopedFileHandle device(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    if (!device) return false;
    DWORD oid = kPermanentAddressOid, got = 0;
    unsigned char buffer[8] = {};
    if (!::DeviceIoControl(device.Get(), kNdisQueryGlobalStats, &oid, sizeof(oid), buffer, sizeof(buffer), &got,
                           nullptr) || got != 6)
        return false;
    unsigned char bytes[6];
    for (int i = 0; i < 6; ++i) bytes[i] = buffer[i];
    address = FormatHardwareAddress(bytes);
    return true;
}
} // namespace

std::wstring MachineIdStoreFile() {
    // The elevated run writes here: a folder a user made (or linked) first is replaced.
    const std::wstring store = PrepareCommonFolder(L"UniqueId");
    return store.empty() ? std::wstring() : store + L"data";
}

bool ReadStoredMachineId(const std::wstring& storeFile, std::wstring& id) {
    id.clear();
    const DataProtection& api = DataProtection::Get();
    if (!api.protect || storeFile.empty()) return false;
    std::vector<BYTE> bytes;
    {
        ScopedFileHandle file = OpenStore(storeFile, GENERIC_READ, OPEN_EXISTING);
        if (!file) return false;
        BYTE piece[64];
        DWORD got = 0;
        while (::ReadFile(file.Get(), piece, sizeof(piece), &got, nullptr) && got > 0)
            bytes.insert(bytes.end(), piece, piece + got);
    }
    if (bytes.empty()) return false;
    DATA_BLOB in = {static_cast<DWORD>(bytes.size()), bytes.data()};
    DATA_BLOB entropy = EntropyBlob();
    DATA_BLOB out = {};
    if (!api.unprotect(&in, nullptr, &entropy, nullptr, nullptr, 0, &out)) return false;
    ScopedLocalMemory owned(out.pbData);
    if (out.cbData != MachineIdLength * sizeof(wchar_t)) return false;
    id.assign(reinterpret_cast<const wchar_t*>(out.pbData), MachineIdLength);
    return true;
}

bool WriteStoredMachineId(const std::wstring& storeFile, const std::wstring& id) {
    const DataProtection& api = DataProtection::Get();
    if (!api.protect || storeFile.empty()) return false;
    DATA_BLOB in = {static_cast<DWORD>(id.size() * sizeof(wchar_t)),
                    reinterpret_cast<BYTE*>(const_cast<wchar_t*>(id.data()))};
    DATA_BLOB entropy = EntropyBlob();
    DATA_BLOB out = {};
    if (!api.protect(&in, nullptr, &entropy, nullptr, nullptr, kProtectLocalMachine, &out)) return false;
    ScopedLocalMemory owned(out.pbData);

    // Written beside the store and moved over it whole: a run that ends in the middle of the
    // write leaves the previous identity in place, never an empty or torn store. The name is
    // per process so that two runs never write into each other's file.
    const std::wstring next = storeFile + L"." + std::to_wstring(::GetCurrentProcessId()) + L".new";
    bool written = false;
    {
        ScopedFileHandle file = OpenStore(next, GENERIC_WRITE, CREATE_ALWAYS);
        if (!file) return false;
        DWORD count = 0;
        written = ::WriteFile(file.Get(), out.pbData, out.cbData, &count, nullptr) && count == out.cbData &&
                  ::FlushFileBuffers(file.Get());
    }
    if (written && ReplaceStore(next, storeFile)) return true;
    ::DeleteFileW(next.c_str());
    return false;
}

bool IsVirtualMachineByWmi() {
    ComPtr<IWbemLocator> locator;
    if (FAILED(::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                  reinterpret_cast<void**>(locator.GetAddressOf()))))
        return false;
    ComPtr<IWbemServices> services;
    ScopedBstr space(L"ROOT\\CIMV2");
    if (FAILED(locator->ConnectServer(space.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                      services.GetAddressOf())))
        return false;
    if (FAILED(::CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                   RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE)))
        return false;
    ComPtr<IEnumWbemClassObject> results;
    ScopedBstr language(L"WQL"), query(L"SELECT * FROM Win32_ComputerSystem");
    if (FAILED(services->ExecQuery(language.Get(), query.Get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                   nullptr, results.GetAddressOf())))
        return false;
    ComPtr<IWbemClassObject> system;
    ULONG count = 0;
    if (FAILED(results->Next(WBEM_INFINITE, 1, system.GetAddressOf(), &count)) || count == 0 || !system)
        return false;
    ScopedVariant model, manufacturer;
    if (FAILED(system->Get(L"Model", 0, model.Receive(), nullptr, nullptr)) ||
        FAILED(system->Get(L"Manufacturer", 0, manufacturer.Receive(), nullptr, nullptr)))
        return false;
    return IsVirtualMachine(VariantText(model.Get()), VariantText(manufacturer.Get()));
}

std::vector<std::wstring> CollectHardwareAddresses() {
    std::vector<std::wstring> addresses;
    ScopedDeviceInfo devices(::SetupDiGetClassDevsW(&kNetworkAdapterInterface, nullptr, nullptr,
                                                    DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!devices) return addresses;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof(data);
        if (!::SetupDiEnumDeviceInterfaces(devices.Get(), nullptr, &kNetworkAdapterInterface, index, &data)) break;
        std::wstring path, address;
        if (!InterfacePath(devices.Get(), data, path)) break;
        if (IsSkippedAdapter(path, DeviceDescription(devices.Get(), index))) continue;
        if (PermanentAddress(path, address)) addresses.push_back(address);
    }
    return addresses;
}

MachineProbe SystemMachineProbe() {
    MachineProbe probe;
    probe.isVirtual = IsVirtualMachineByWmi;
    probe.hardwareAddresses = CollectHardwareAddresses;
    return probe;
}

std::wstring DeriveMachineIdentity(const MachineProbe& probe, const std::wstring& storeFile) {
    const bool isVirtual = probe.isVirtual && probe.isVirtual();
    std::wstring id;
    if (ReadStoredMachineId(storeFile, id)) return id;
    if (isVirtual) {
        id = NewVirtualIdentity();
        return (!id.empty() && WriteStoredMachineId(storeFile, id)) ? id : std::wstring(MachineIdPlaceholder);
    }
    const std::wstring layout =
        LayoutFromAddress(FirstAddress(probe.hardwareAddresses ? probe.hardwareAddresses() : std::vector<std::wstring>()));
    if (layout.empty()) return MachineIdPlaceholder;
    id = L"P-" + layout;
    WriteStoredMachineId(storeFile, id);   // a physical identity can be derived again next time
    return id;
}

std::wstring GetMachineIdentity() {
    static const std::wstring cached = [] {
        const ScopedComApartment apartment(COINIT_APARTMENTTHREADED);
        return DeriveMachineIdentity(SystemMachineProbe(), MachineIdStoreFile());
    }();
    return cached;
}

}} // namespace stubframework::utils
