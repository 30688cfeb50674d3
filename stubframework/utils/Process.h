// Starting child processes.
#pragma once
#include <functional>
#include <string>
#include <windows.h>

#include "stubframework/utils/ProgramResolution.h"

namespace stubframework { namespace utils {

// Runs folder + fileName (folder ends with a backslash) with commandText as its command line and
// folder as its current directory. With wait set, waits for the end. Returns the exit code
// (STILL_ACTIVE when not waiting), or 0 when the process cannot be created.
DWORD RunProcess(const std::wstring& folder, const std::wstring& fileName,
                 const std::wstring& commandText, bool wait);

// The program a command line starts, by ResolveProgram with the system's own lookups: a bare
// name from the system folder, else the Windows folder, never searched for (the program's own
// and the current folder come first in that search); an unquoted path only from where no user
// can change it while the stub runs elevated.
ResolvedProgram ResolveCommandLine(const std::wstring& commandLine);

// Starts a whole command line (program and arguments) with the default environment and folder,
// without waiting; the program is found by ResolveCommandLine. With hidden set the program gets
// no window and no standard handles. False when no process was created; *refused (when given)
// says whether that was because the program is in a place a user can change.
bool StartCommandLine(const std::wstring& commandLine, bool hidden, bool* refused = nullptr);

// Runs a whole command line as StartCommandLine starts it (nothing inherited) and waits for
// its end in steps of stepMs, calling onStep after each step that ended without it. False when
// no process was created; exitCode is then untouched.
bool RunCommandLineInSteps(const std::wstring& commandLine, DWORD stepMs, const std::function<void()>& onStep,
                           DWORD& exitCode);

}} // namespace stubframework::utils
