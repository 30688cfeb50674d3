// Facts about the machine and its files that the pages ask for.
#pragma once
#include <string>
#include <windows.h>

namespace stubframework { namespace utils {

// The version numbers Windows keeps in the process environment block. Compatibility layers
// change what GetVersionExW reports, not these.
struct SystemVersion {
    DWORD major = 0;
    DWORD minor = 0;
    DWORD build = 0;
};
bool ReadTrueSystemVersion(SystemVersion& version);

// GetVersionExW's major and minor version (the manifest lets it report up to 10.0).
bool ReadReportedSystemVersion(DWORD& major, DWORD& minor);

// Both open the file for reading without sharing: they fail while anyone else has it open.
bool ReadFileSize64(const std::wstring& path, ULONGLONG& size);
// Unsigned decimal text, for the quantities the script gets as text.
std::wstring DecimalText(ULONGLONG value);

}} // namespace stubframework::utils
