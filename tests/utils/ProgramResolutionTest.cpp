// Which program a command line starts: unquoted paths with blanks read as the system reads them,
// and nothing a user could have placed. Pure: also runs natively under the sanitizers.
#include <gtest/gtest.h>

#include "stubframework/utils/ProgramResolution.h"

#include <map>

using namespace stubframework::utils;

namespace {

// Files as a table: path -> whether only administrators can change it and its folder.
class TableLookup final : public ProgramLookup {
public:
    explicit TableLookup(const std::map<std::wstring, bool>& files) : files_(files) {}
    bool IsFile(const std::wstring& path) const override { return files_.count(path) != 0; }
    bool IsAdminOnly(const std::wstring& path) const override { return files_.at(path); }
    std::wstring SystemProgram(const std::wstring& name) const override {
        return name == L"cmd.exe" || name == L"msiexec.exe" ? L"C:\\windows\\system32\\" + name : L"";
    }

private:
    const std::map<std::wstring, bool>& files_;
};

struct ResolutionCase {
    const char* label;
    std::map<std::wstring, bool> files;
    const wchar_t* commandLine;
    const wchar_t* path;          // "" when nothing is started
    const wchar_t* startedLine;   // the line the program gets
    bool refused;
};

const wchar_t kApp[] = L"C:\\Program Files\\Zarvo App\\app.exe";
const wchar_t kPlanted[] = L"C:\\Program.exe";
const wchar_t kPlantedDeeper[] = L"C:\\Program Files\\Zarvo.exe";

TEST(ProgramResolution, UnquotedPathsTakeTheLongestAdminOnlyFileAndNothingAUserPlaced) {
    const ResolutionCase cases[] = {
        {"blanks in the path", {{kApp, true}}, L"C:\\Program Files\\Zarvo App\\app.exe /s", kApp,
         L"\"C:\\Program Files\\Zarvo App\\app.exe\" /s", false},
        {"files planted on the way are passed over", {{kApp, true}, {kPlanted, false}, {kPlantedDeeper, false}},
         L"C:\\Program Files\\Zarvo App\\app.exe /s", kApp, L"\"C:\\Program Files\\Zarvo App\\app.exe\" /s", false},
        {".exe added as process creation adds it", {{kApp, true}}, L"C:\\Program Files\\Zarvo App\\app -q", kApp,
         L"\"C:\\Program Files\\Zarvo App\\app.exe\" -q", false},
        {"no arguments, tabs and quoted arguments kept as written", {{kApp, true}},
         L"C:\\Program Files\\Zarvo App\\app.exe\t\"C:\\a b\"  x", kApp,
         L"\"C:\\Program Files\\Zarvo App\\app.exe\"\t\"C:\\a b\"  x", false},
        {"whole line is the program", {{kApp, true}}, L"C:\\Program Files\\Zarvo App\\app.exe", kApp,
         L"\"C:\\Program Files\\Zarvo App\\app.exe\"", false},
        {"intended program missing: the planted one is refused", {{kPlanted, false}},
         L"C:\\Program Files\\Zarvo App\\app.exe /s", kPlanted, L"", true},
        {"intended program where a user can change it", {{kApp, false}, {kPlanted, true}},
         L"C:\\Program Files\\Zarvo App\\app.exe /s", kApp, L"", true},
        {"nothing there", {}, L"C:\\Program Files\\Zarvo App\\app.exe /s", L"", L"", false},
        {"quoted path as written", {}, L"\"C:\\Program Files\\x\\setup.exe\" /s", L"C:\\Program Files\\x\\setup.exe",
         L"\"C:\\Program Files\\x\\setup.exe\" /s", false},
        {"bare names from the system folder", {{L"C:\\Users\\u\\cmd.exe", true}}, L"  cmd /c exit 1",
         L"C:\\windows\\system32\\cmd.exe", L"cmd /c exit 1", false},
        {"quoted bare name too", {}, L"\"msiexec.exe\" /x {0}", L"C:\\windows\\system32\\msiexec.exe",
         L"\"msiexec.exe\" /x {0}", false},
        {"bare name found nowhere", {}, L"setup.exe /s", L"", L"", false},
        {"dots name no program", {}, L"..", L"", L"", false},
        {"blank line", {}, L" \t ", L"", L"", false},
    };
    for (const ResolutionCase& c : cases) {
        SCOPED_TRACE(c.label);
        const ResolvedProgram program = ResolveProgram(c.commandLine, TableLookup(c.files));
        EXPECT_EQ(program.path, c.path);
        EXPECT_EQ(program.refused, c.refused);
        if (!c.refused) {
            EXPECT_EQ(program.commandLine, c.startedLine);
        }
    }
}

} // namespace
