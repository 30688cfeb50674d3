// Text rules of the package install: the parameters handed to an installer, the switches the
// stub interprets, the log file name and the Windows Installer progress messages. Pure text,
// no <windows.h>.
#pragma once
#include <string>
#include <vector>

#include "stubframework/utils/CommandLine.h"

namespace stubframework { namespace core {

// The stub's pass-through text, one space, the page's parameters, and " /qn" when the stub
// itself was started with "/QN".
std::wstring ComposeInstallParameters(const std::wstring& passThrough, const utils::ArgList& stubArgs,
                                      const std::wstring& pageParameters);

// True when one of the split arguments, the first included, equals value (any case).
bool HasWholeArgument(const utils::ArgList& args, const std::wstring& value);

// Deletes every occurrence of token (any case, anywhere) together with what follows it up to
// the next space: "/l*v" goes with "/l".
void RemoveSwitchToken(std::wstring& parameters, const std::wstring& token);

// Replaces the first occurrence of placeholder; false when there is none.
bool ReplaceFirst(std::wstring& text, const std::wstring& placeholder, const std::wstring& replacement);

// The files install parameters (split as the system splits a command line) name for the
// installer to read or write. transforms: the entries of the last "TRANSFORMS=" of a Windows
// Installer package (";"-separated, the secure-transform marks "@" and "|" dropped; transforms
// embedded in the package are ":name"). paths: every other one; "PATCH=" entries and
// each argument, or value after "NAME=" or "/switch:", that is an absolute path. The value of
// "INSTALLDIR=" is the install folder, checked apart.
struct InstallFileNames {
    std::vector<std::wstring> transforms;
    std::vector<std::wstring> paths;
};
InstallFileNames NamedInstallFiles(const utils::ArgList& arguments, bool windowsInstaller);

// Removes every "NAME=value" argument (any case; a quoted value may hold blanks) from the raw
// parameters.
void RemoveProperty(std::wstring& parameters, const std::wstring& name);

// An install folder that can be quoted as a property value: not empty, no double quote and no
// control character.
bool IsQuotableFolder(const std::wstring& folder);
// " NAME=\"value\"": a property assignment for a Windows Installer command line.
std::wstring QuotedProperty(const std::wstring& name, const std::wstring& value);

// "%4d%02d%02d%02d%02d%02d": the time stamp in the names of install and maintenance logs.
std::wstring LogTimestampText(int year, int month, int day, int hour, int minute, int second);

// Fields 1 to 4 of a progress message ("1: 0 2: 1500 3: 0 4: 1"); missing ones stay 0. Field 4
// of a reset tells the phases apart: 1 while the execution script is built, 0 while it runs.
struct MsiProgressFields {
    long kind = 0;
    long amount = 0;
    long flag = 0;
    long phase = 0;
    bool hasPhase = false;
};
// Reads pairs of field number, one separator and a value, stopping at the end, at the first
// pair that cannot be read or at a field number above 4. False when no pair could be read.
bool ParseMsiProgress(const std::wstring& text, MsiProgressFields& fields);

// The install's tick counts as the progress messages move them. The first reset announces the
// script phase; the second one gives the real total, after which progress counts. An installer
// whose first reset already says it executes (Wine's does) has no script phase to skip.
struct MsiTicks {
    unsigned long total = 0;
    unsigned long current = 0;
    int resets = 0;
};
void ApplyMsiProgress(const MsiProgressFields& fields, MsiTicks& ticks);

}} // namespace stubframework::core
