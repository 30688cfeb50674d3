#include "stubframework/utils/SystemQueries.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/SystemLibrary.h"

#include <winternl.h>
#include <vector>

namespace stubframework { namespace utils {

namespace {
using NtQueryInformationProcessFn = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);

// OSMajorVersion, OSMinorVersion and OSBuildNumber in the environment block.
#ifdef _WIN64
const ULONG_PTR kPebVersionOffset = 0x118;
#else
const ULONG_PTR kPebVersionOffset = 0xA4;
#endif

} // namespace

bool ReadTrueSystemVersion(SystemVersion& version) {
    NtQueryInformationProcessFn query = nullptr;
    if (!LoadProc(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess", query)) return false;
    const ScopedHandle process(::OpenProcess(PROCESS_ALL_ACCESS, FALSE, ::GetCurrentProcessId()));
    if (!process) return false;
    PROCESS_BASIC_INFORMATION basic = {};
    if (query(process.Get(), ProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0 ||
        !basic.PebBaseAddress) {
        return false;
    }
    DWORD words[3] = {};
    SIZE_T read = 0;
    const void* at = reinterpret_cast<const BYTE*>(basic.PebBaseAddress) + kPebVersionOffset;
    if (!::ReadProcessMemory(process.Get(), at, words, sizeof(words), &read) || read != sizeof(words)) return false;
    version.major = words[0];
    version.minor = words[1];
    version.build = words[2] & 0xFFFF;   // the high half is the service pack
    return true;
}

bool ReadReportedSystemVersion(DWORD& major, DWORD& minor) {
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    const BOOL ok = ::GetVersionExW(&info);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    if (!ok) return false;
    major = info.dwMajorVersion;
    minor = info.dwMinorVersion;
    return true;
}

bool ReadFileSize64(const std::wstring& path, ULONGLONG& size) {
    const ScopedFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER length = {};
    if (!file || !::GetFileSizeEx(file.Get(), &length)) return false;
    size = static_cast<ULONGLONG>(length.QuadPart);
    return true;
}

std::wstring DecimalText(ULONGLONG value) {
    wchar_t digits[24];
    wchar_t* p = digits + 23;
    *p = L'\0';
    do {
        *--p = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    return p;
}

}} // namespace stubframework::utils
