// Which program a command line starts, read the way the system's process creation reads it, but
// without its search of the current folder and the program's own folder. Pure: no <windows.h>.
#pragma once
#include <string>

namespace stubframework { namespace utils {

// What the resolution asks of the file system.
class ProgramLookup {
public:
    // An existing file (not a folder) at path.
    virtual bool IsFile(const std::wstring& path) const = 0;
    // The file at path and its folder can be changed by nobody but administrators.
    virtual bool IsAdminOnly(const std::wstring& path) const = 0;
    // A bare file name's full path in the system folder (else the Windows folder); "" in neither.
    virtual std::wstring SystemProgram(const std::wstring& fileName) const = 0;

protected:
    ~ProgramLookup() = default;
};

struct ResolvedProgram {
    std::wstring path;          // the program to start; empty when there is none
    std::wstring commandLine;   // the line to give it, with an unquoted program path quoted
    std::wstring arguments;     // the line's text after the program, as written
    bool refused = false;       // a program was found, in a place a user can change
};

// A quoted program is taken as written ("setup" without an extension becomes "setup.exe" when
// only that exists). A bare name ("cmd.exe", "msiexec") comes from the system folder. An unquoted
// path may hold blanks ("C:\Program Files\App\app.exe /s"): of the leading runs of blank-separated
// words, each with ".exe" added when it has no extension, the longest that names an existing file
// is the program; it must be admin-only, else nothing is started (refused).
ResolvedProgram ResolveProgram(const std::wstring& line, const ProgramLookup& lookup);

}} // namespace stubframework::utils
