// Command-line helpers. Pure text functions: no <windows.h>, so they also build on the host.
#pragma once
#include <string>
#include <vector>

namespace stubframework { namespace utils {

// Element 0 is the program path, as CommandLineToArgvW gives it.
using ArgList = std::vector<std::wstring>;

// ASCII-only case folding: every switch the stub knows is ASCII.
bool EqualsNoCase(const std::wstring& a, const std::wstring& b);
std::wstring ToLowerAscii(std::wstring text);

// The first argument after element 0 that begins with name + "=" gives the rest of it; else "".
std::wstring GetArgValue(const ArgList& args, const std::wstring& name);

// name + "=" + '"' in the raw command line; the text up to the next '"'. Missing either: "".
std::wstring GetQuotedArgValue(const std::wstring& rawCommandLine, const std::wstring& name);

// True when an argument after element 0 equals value, ignoring case.
bool HasSwitch(const ArgList& args, const std::wstring& value);

// The first argument, element 0 included, that begins with prefix (case-sensitive):
// stores the rest in value and returns true.
bool FindArgWithPrefix(const ArgList& args, const std::wstring& prefix, std::wstring& value);

// The raw command line without its program token, skipped the way the system's parser does
// (quoted or not). The result is empty or begins with a blank.
std::wstring ArgumentsAfterProgram(const std::wstring& rawCommandLine);

// Facts the start-up reads off the command line.
struct StartupSwitches {
    bool uiInstance = false;          // "run=1"
    bool noSelfUpdate = false;        // "update=0"
    bool hasShortcut = false;
    std::wstring shortcut;            // "shortcut=" value: the file the user started
    std::wstring newVersionExitCode;  // self-replace pass
    std::wstring parentProcessId;
    std::wstring passThrough;         // "passthrough" text, then " " + "passthro" text when given
    int resumeMode = 0;               // 1 "RESUME=DOWNLOADING", 2 "RESUME=INSTALLING"
    std::wstring maintenanceMode;     // "uninstall", "modify" or ""
};
StartupSwitches ParseStartupSwitches(const ArgList& args, const std::wstring& rawCommandLine);

// Command text of a stub run started by the launcher: passed-on arguments, then extraSwitches
// (" run=1" ...), then " shortcut=" and the quoted path of the started file.
std::wstring BuildStubCommand(const std::wstring& passedOn, const std::wstring& extraSwitches,
                              const std::wstring& startedFile);

}} // namespace stubframework::utils
