// Versions of package files: an installer database's ProductVersion, an executable's version
// resource. msi.dll and version.dll are loaded at run time from the system folder.
#pragma once
#include <cstdint>
#include <string>

namespace stubframework { namespace utils {

// The ProductVersion property of the package at path (read-only); "" when any step fails.
std::wstring MsiProductVersion(const std::wstring& path);

// The file version of the version resource as "a.b.c.d"; "" when there is none.
std::wstring ExeFileVersion(const std::wstring& path);
// The same as one number, 16 bits per part with a highest (so newer compares greater); false
// when the file has no version resource.
bool ReadExeFileVersion(const std::wstring& path, uint64_t& version);
std::wstring FileVersionText(uint64_t version);

// ".MSI" and ".EXE" (any case) as above; any other extension gives "".
std::wstring PackageFileVersion(const std::wstring& extension, const std::wstring& path);

}} // namespace stubframework::utils
