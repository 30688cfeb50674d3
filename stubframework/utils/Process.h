// Starting child processes.
#pragma once
#include <string>
#include <windows.h>

namespace stubframework { namespace utils {

// Runs folder + fileName (folder ends with a backslash) with commandText as its command line and
// folder as its current directory. With wait set, waits for the end. Returns the exit code
// (STILL_ACTIVE when not waiting), or 0 when the process cannot be created.
DWORD RunProcess(const std::wstring& folder, const std::wstring& fileName,
                 const std::wstring& commandText, bool wait);

}} // namespace stubframework::utils
