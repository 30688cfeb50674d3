// Copies of the running stub that the system starts later, elevated: after a reboot, or from the
// list of installed programs. Each is made new in a fresh private folder, never written over a
// file that is already there.
#pragma once
#include <string>

namespace stubframework { namespace core {

// Copies the running stub, read through a handle held from its opening, under its own file name
// into a new private folder below root (an existing folder only administrators can change, with
// its trailing backslash). False on failure, with the new folder gone again and the reason in
// GetLastError.
bool CopyStubIntoNewFolder(const std::wstring& root, std::wstring& copyPath);

}} // namespace stubframework::core
