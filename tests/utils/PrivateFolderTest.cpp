// What the elevated stub makes for itself and what it deletes: the private descriptor, names
// nobody can guess, and deletes that never leave the folder they were given.
#include <gtest/gtest.h>

#include "stubframework/utils/Paths.h"
#include "stubframework/utils/PrivateFolder.h"
#include "stubframework/utils/Process.h"
#include "stubframework/utils/SystemLibrary.h"
#include "tests/support/TempFolder.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>
#include <set>

using namespace stubframework::utils;
using testsupport::TempFolder;

namespace {
std::wstring SidText(PSID sid) {
    wchar_t* raw = nullptr;
    if (!::ConvertSidToStringSidW(sid, &raw)) return L"?";
    ScopedLocalMemory holder(raw);
    return raw;
}

std::wstring KnownFolder(int csidl) {
    wchar_t buffer[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
    return buffer;
}
} // namespace

TEST(PrivateFolder, DescriptorLetsOnlyAdministratorsAndSystemWrite) {
    struct Expected {
        const wchar_t* sid;
        DWORD mask;
    };
    const wchar_t kUser[] = L"S-1-5-21-1111-2222-3333-1001";
    const Expected withUser[] = {{L"S-1-5-32-544", FILE_ALL_ACCESS}, {L"S-1-5-18", FILE_ALL_ACCESS},
                                 {kUser, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE}};
    for (const bool user : {true, false}) {
        ScopedLocalMemory descriptor = PrivateFolderDescriptor(user ? kUser : L"");
        ASSERT_TRUE(descriptor);
        PSID owner = nullptr;
        BOOL defaulted = FALSE;
        ASSERT_TRUE(::GetSecurityDescriptorOwner(descriptor.Get(), &owner, &defaulted));
        EXPECT_EQ(SidText(owner), L"S-1-5-32-544");
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor.Get(), &control, &revision));
        EXPECT_TRUE(control & SE_DACL_PROTECTED) << "inherited entries would let the user in again";
        BOOL present = FALSE;
        PACL dacl = nullptr;
        ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted));
        ASSERT_TRUE(present && dacl);
        ASSERT_EQ(dacl->AceCount, user ? 3u : 2u);
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            ACCESS_ALLOWED_ACE* ace = nullptr;
            ASSERT_TRUE(::GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
            EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
            EXPECT_EQ(ace->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
                      OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
            EXPECT_EQ(SidText(&ace->SidStart), withUser[i].sid);
            EXPECT_EQ(ace->Mask, withUser[i].mask) << i;
            EXPECT_FALSE(ace->Mask & (FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER) &&
                         i == 2)
                << "the user may read only";
        }
    }
}

TEST(PrivateFolder, NamesCannotBeGuessedFromTheClock) {
    TempFolder base;
    std::set<std::wstring> names;
    for (int i = 0; i < 8; ++i) {
        std::wstring folder;
        ASSERT_TRUE(CreateUniqueSubfolder(base.Path(), folder));
        const std::wstring name = folder.substr(base.Path().size(), folder.size() - base.Path().size() - 1);
        EXPECT_EQ(name.size(), 16u);
        names.insert(name);
    }
    // A counter from the tick count gives neighbours; these share no long prefix.
    EXPECT_EQ(names.size(), 8u);
    size_t shared = 0;
    for (auto a = names.begin(), b = std::next(a); b != names.end(); ++a, ++b) {
        size_t n = 0;
        while (n < 16 && (*a)[n] == (*b)[n]) ++n;
        shared = std::max(shared, n);
    }
    EXPECT_LT(shared, 8u);
}

TEST(DeleteFolderTree, RefusesRootsAndSystemFolders) {
    std::wstring temp;
    ASSERT_TRUE(GetTempDirectory(temp));
    const std::wstring refused[] = {
        L"C:\\", L"C:", L"C:\\.", L"C:\\windows\\..", KnownFolder(CSIDL_WINDOWS), KnownFolder(CSIDL_SYSTEM) + L"\\",
        KnownFolder(CSIDL_PROGRAM_FILES), KnownFolder(CSIDL_COMMON_APPDATA), KnownFolder(CSIDL_PROFILE),
        ParentFolder(KnownFolder(CSIDL_PROFILE)), KnownFolder(CSIDL_APPDATA), KnownFolder(CSIDL_PERSONAL), temp,
        temp + L"sub\\..", L"relative\\folder", L"\\\\server\\share", L"\\\\?\\C:\\windows", L"",
    };
    for (const std::wstring& folder : refused) {
        EXPECT_FALSE(DeleteFolderTree(folder)) << testing::PrintToString(folder);
        EXPECT_TRUE(IsProtectedFolder(folder)) << testing::PrintToString(folder);
    }
    EXPECT_TRUE(PathExists(KnownFolder(CSIDL_SYSTEM) + L"\\kernel32.dll"));
    TempFolder base;
    EXPECT_FALSE(IsProtectedFolder(base.Path()));
}

// Links the test fixture made (Wine cannot make them itself): victim\keep.txt, a tree holding a
// link to the victim, and a link to the victim on its own.
TEST(DeleteFolderTree, LinksAreNeverFollowed) {
    const std::wstring links = TANDORA_LINKS_DIR;
    ASSERT_TRUE(PathExists(links + L"\\victim\\keep.txt"));
    ASSERT_TRUE(::GetFileAttributesW((links + L"\\tree\\inner").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);

    DeleteFolderTree(links + L"\\tree");
    DeleteFolderTree(links + L"\\top\\");
    EXPECT_TRUE(PathExists(links + L"\\victim\\keep.txt"));
    EXPECT_TRUE(PathExists(links + L"\\victim\\deeper\\keep.txt"));
    // What really was in the tree is gone.
    EXPECT_FALSE(PathExists(links + L"\\tree\\own.txt"));
    EXPECT_FALSE(PathExists(links + L"\\tree\\sub"));
}

TEST(PrivateFolder, CommonFolderThatIsALinkIsReplacedNotFollowed) {
    const std::wstring links = TANDORA_LINKS_DIR;
    const std::wstring common = KnownFolder(CSIDL_COMMON_APPDATA);
    // A link in the common folder, as a user could plant it before the stub first runs.
    const std::wstring planted = common + L"\\TrustProbeCommon";
    ASSERT_TRUE(::GetFileAttributesW(planted.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT)
        << "the fixture plants this link";
    const std::wstring folder = PrepareCommonFolder(L"TrustProbeCommon\\Sub");
    // Wine cannot remove a link: then nothing is made there. Where it can, a real folder takes its place.
    if (!folder.empty()) {
        const DWORD attributes = ::GetFileAttributesW(planted.c_str());
        EXPECT_FALSE(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    }
    EXPECT_FALSE(PathExists(links + L"\\victim\\Sub"));
    EXPECT_EQ(PrepareCommonFolder(L"..\\Windows"), L"");
}

TEST(Process, BareProgramNamesComeFromTheSystemFolder) {
    struct Case {
        const wchar_t* commandLine;
        std::wstring program;
    };
    const Case cases[] = {
        {L"cmd.exe /c exit 1", SystemFolderPath(L"cmd.exe")},
        {L"CMD /c exit 1", SystemFolderPath(L"CMD.exe")},
        {L"\"msiexec.exe\" /x {0}", SystemFolderPath(L"msiexec.exe")},
        {L"msiexec /i a.msi", SystemFolderPath(L"msiexec.exe")},
        {L"\"C:\\Program Files\\x\\setup.exe\" /s", L"C:\\Program Files\\x\\setup.exe"},
        {L"trust_probe_not_anywhere.exe", L""},
        {L"..", L""},
        {L"", L""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ResolveCommandLine(c.commandLine).path, c.program) << testing::PrintToString(std::wstring(c.commandLine));
}

// A cmd.exe and an msiexec.exe planted beside the running program (here the test itself) that
// exit with 0: the system's own are run instead.
TEST(Process, PlantedSystemProgramsBesideTheProgramAreNotRun) {
    std::wstring own;
    ASSERT_TRUE(GetOwnModulePath(own));
    const std::wstring beside = ParentFolder(own);
    const std::wstring planted[] = {beside + L"cmd.exe", beside + L"msiexec.exe"};
    for (const std::wstring& path : planted) ASSERT_TRUE(::CopyFileW(TANDORA_EXIT_WITH, path.c_str(), FALSE));

    DWORD exitCode = 0xDEAD;
    EXPECT_TRUE(RunCommandLineInSteps(L"cmd.exe /c exit 7", 50, nullptr, exitCode));
    EXPECT_EQ(exitCode, 7u);
    exitCode = 0xDEAD;
    EXPECT_TRUE(RunCommandLineInSteps(L"msiexec.exe /x {6A1C2B2E-0F8B-4C83-9B9A-7C1D00000000} /qn", 50, nullptr,
                                      exitCode));
    EXPECT_EQ(exitCode, 1605u);   // unknown product: the real installer answered
    EXPECT_TRUE(StartCommandLine(L"cmd.exe /c exit 0", true));
    for (const std::wstring& path : planted) ::DeleteFileW(path.c_str());
}
