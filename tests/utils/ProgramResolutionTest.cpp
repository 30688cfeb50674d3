// Which program a command line starts: unquoted paths with blanks read as the system reads them,
// and only from where nobody but administrators can change what runs.
#include <gtest/gtest.h>

#include "stubframework/utils/AdminOnly.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/PrivateFolder.h"
#include "stubframework/utils/Process.h"
#include "stubframework/utils/ProgramResolution.h"
#include "tests/support/TempFolder.h"

#include <sddl.h>
#include <map>

using namespace stubframework::utils;

namespace {

// Files as a table: path -> whether only administrators can change it and its folder.
ProgramLookup TableLookup(const std::map<std::wstring, bool>& files) {
    return ProgramLookup{
        [&files](const std::wstring& path) { return files.count(path) != 0; },
        [&files](const std::wstring& path) { return files.at(path); },
        [](const std::wstring& name) {
            return name == L"cmd.exe" || name == L"msiexec.exe" ? L"C:\\windows\\system32\\" + name : L"";
        }};
}

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

// Owner and DACL as they are read back; only grants that let someone else change the object count.
TEST(ProgramResolution, AdminOnlyMeansNoOneElseMayWriteDeleteOrRepermission) {
    const std::wstring user = ProcessUserSid();
    ASSERT_FALSE(user.empty());
    const struct {
        std::wstring sddl;
        bool adminOnly;
    } cases[] = {
        {L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)", true},
        // The installer service owns the system's own files; inherit-only entries and denials
        // do not open anything.
        {L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:(A;;FA;;;SY)(A;OICIIO;GA;;;CO)"
         L"(D;;FA;;;WD)(A;;0x1200a9;;;WD)",
         true},
        {L"O:" + user + L"D:P(A;;FA;;;BA)(A;;FA;;;SY)", false},
        {L"O:BAD:P(A;;FA;;;BA)(A;;0x1301bf;;;" + user + L")", false},
        {L"O:BAD:(A;;FA;;;BA)(A;;0x4;;;BU)", false},            // users may add folders
        {L"O:BAD:(A;;FA;;;BA)(A;;0x40000;;;AU)", false},        // or change the permissions
        {L"O:BAD:(A;;FA;;;BA)(A;;GW;;;WD)", false},
        {L"O:BA", false},                                       // no DACL: everyone
    };
    for (const auto& c : cases) {
        PSECURITY_DESCRIPTOR raw = nullptr;
        ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl.c_str(), SDDL_REVISION_1, &raw,
                                                                            nullptr))
            << testing::PrintToString(c.sddl);
        const ScopedLocalMemory descriptor(raw);
        EXPECT_EQ(DescriptorIsAdminOnly(raw), c.adminOnly) << testing::PrintToString(c.sddl);
    }
}

// With real files: a program in a folder with a blank runs with its arguments, not the file a
// user put in front of it; through the row's own lookup it is refused, since the folder is the
// user's (Wine's descriptors say so for every folder).
TEST(ProgramResolution, UnquotedProgramInAUserFolderRunsOnlyWhereTrusted) {
    testsupport::TempFolder temp;
    ASSERT_TRUE(CreateFolderTree(temp / L"My Tools"));
    const std::wstring program = temp / L"My Tools\\exit with.exe";
    const std::wstring decoy = temp / L"My.exe";
    ASSERT_TRUE(::CopyFileW(TANDORA_EXIT_WITH, program.c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW(TANDORA_EXIT_WITH, decoy.c_str(), FALSE));
    const std::wstring marker = temp / L"seen.txt";
    const std::wstring line = temp / L"My Tools\\exit with 7 \"" + marker + L"\"";

    ProgramLookup trusting = {[](const std::wstring& path) {
                                  const DWORD attributes = ::GetFileAttributesW(path.c_str());
                                  return attributes != INVALID_FILE_ATTRIBUTES &&
                                         !(attributes & FILE_ATTRIBUTE_DIRECTORY);
                              },
                              [](const std::wstring&) { return true; }, [](const std::wstring&) { return L""; }};
    const ResolvedProgram resolved = ResolveProgram(line, trusting);
    ASSERT_EQ(resolved.path, program);
    EXPECT_EQ(RunProcess(ParentFolder(resolved.path), FileNameOf(resolved.path), resolved.commandLine, true), 7u);
    std::string seen;
    ASSERT_TRUE(testsupport::ReadFileBytes(marker, seen));
    const std::wstring seenLine(reinterpret_cast<const wchar_t*>(seen.data()), seen.size() / sizeof(wchar_t));
    EXPECT_EQ(seenLine, L"\"" + program + L"\" 7 \"" + marker + L"\"");

    ASSERT_TRUE(IsProcessElevated());
    const ResolvedProgram checked = ResolveCommandLine(line);
    EXPECT_EQ(checked.path, program);
    EXPECT_TRUE(checked.refused);
    bool refused = false;
    EXPECT_FALSE(StartCommandLine(line, true, &refused));
    EXPECT_TRUE(refused);
}

} // namespace
