// Starting the built executables as real processes, each with its own temporary folder.
#pragma once
#include <string>
#include <windows.h>

#include "stubframework/utils/Handle.h"

namespace testsupport {

struct ChildOptions {
    std::wstring tempFolder;        // TMP and TEMP of the child; empty keeps the parent's
    std::wstring currentFolder;     // empty keeps the parent's
    DWORD creationFlags = 0;
};

// Starts program with the full command line text; the caller owns the returned process handle.
stubframework::utils::ScopedHandle StartChild(const std::wstring& program, const std::wstring& commandLine,
                                              const ChildOptions& options = ChildOptions());

// Waits up to timeoutMs; true with the exit code when the process ended in time.
bool WaitForExit(HANDLE process, DWORD timeoutMs, DWORD& exitCode);

// Start, then wait; a process still running at the time-out is ended and fails the call.
bool RunChild(const std::wstring& program, const std::wstring& commandLine, const ChildOptions& options,
              DWORD timeoutMs, DWORD& exitCode);

} // namespace testsupport
