// The admin-only check behind starting a program from an unquoted path, and such a start with
// real files.
#include <gtest/gtest.h>

#include "stubframework/utils/AdminOnly.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/PrivateFolder.h"
#include "stubframework/utils/Process.h"
#include "tests/support/TempFolder.h"

#include <sddl.h>

using namespace stubframework::utils;

namespace {

// Owner and DACL as they are read back; only grants that let someone else change the object count.
TEST(AdminOnly, NoOneElseMayWriteDeleteOrRepermission) {
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
TEST(ProgramStart, UnquotedProgramInAUserFolderRunsOnlyWhereTrusted) {
    testsupport::TempFolder temp;
    ASSERT_TRUE(CreateFolderTree(temp / L"My Tools"));
    const std::wstring program = temp / L"My Tools\\exit with.exe";
    const std::wstring decoy = temp / L"My.exe";
    ASSERT_TRUE(::CopyFileW(TANDORA_EXIT_WITH, program.c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW(TANDORA_EXIT_WITH, decoy.c_str(), FALSE));
    const std::wstring marker = temp / L"seen.txt";
    const std::wstring line = temp / L"My Tools\\exit with 7 \"" + marker + L"\"";

    // The real files, every one taken as admin-only.
    struct Trusting final : ProgramLookup {
        bool IsFile(const std::wstring& path) const override {
            const DWORD attributes = ::GetFileAttributesW(path.c_str());
            return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
        }
        bool IsAdminOnly(const std::wstring&) const override { return true; }
        std::wstring SystemProgram(const std::wstring&) const override { return std::wstring(); }
    } trusting;
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
