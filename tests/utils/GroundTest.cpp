// The ground and the handle-based file work under it: writes that no link redirects, deletes that
// a swap in the middle cannot aim elsewhere, and common folders a user made first replaced
// without being entered. Links come from the Linux side (Wine cannot make them), some of them
// made at the very moment between a check and a use.
#include <gtest/gtest.h>

#include "stubframework/utils/FileHandles.h"
#include "stubframework/utils/Ground.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/PrivateFolder.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LinuxSide.h"
#include "tests/support/TempFolder.h"

#include <shlobj.h>

using namespace stubframework::utils;
using namespace testsupport;

namespace {

std::string g_swapCommand;
std::wstring g_swapName;
void SwapForLink(const std::wstring&, const std::wstring& name) {
    if (name == g_swapName && !g_swapCommand.empty()) {
        LinuxShell(g_swapCommand);
        g_swapCommand.clear();
    }
}

std::wstring CommonFolder() {
    wchar_t buffer[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer);
    return buffer;
}
} // namespace

TEST(Ground, FreshFoldersLieOnTheGroundAndNeverInTheUsersTemporaryFolder) {
    ASSERT_TRUE(GroundIsPrivate()) << "under Wine every process counts as elevated";
    std::wstring folder, temp;
    ASSERT_TRUE(CreateGroundFolder(folder));
    ASSERT_TRUE(GetTempDirectory(temp));
    EXPECT_NE(folder.compare(0, temp.size(), temp), 0) << folder.c_str();
    EXPECT_EQ(folder.compare(0, GroundBase().size(), GroundBase()), 0);
    EXPECT_TRUE(IsInGround(folder + L"file.txt"));
    EXPECT_TRUE(IsAdminOnlyFolder(GroundBase())) << "made and recorded by the stub";
    EXPECT_FALSE(IsInGround(temp + L"file.txt"));
    EXPECT_TRUE(DeleteFolderTree(folder));
}

// Each target either takes the new file in the real folder asked for, or is refused with nothing
// written anywhere: a link at the target or above it never redirects the write.
TEST(FileHandles, NewFilesAreWrittenOnlyWhereTheyWereAskedFor) {
    TempFolder temp;
    ASSERT_TRUE(::CreateDirectoryW((temp / L"real").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((temp / L"victim").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(temp / L"real\\taken.txt", "old"));
    const std::string unix = UnixPath(temp.Path());
    ASSERT_FALSE(unix.empty());
    ASSERT_TRUE(LinuxShell("ln -s '" + unix + "victim' '" + unix + "link' && ln -s '" + unix + "victim/x.txt' '" + unix +
                      "real/dangling.txt'"));
    const struct {
        const wchar_t* target;
        bool written;
    } cases[] = {
        {L"real\\new.txt", true},
        {L"real\\taken.txt", false},       // an existing file is not replaced
        {L"link\\new.txt", false},         // the folder is a link
        {L"real\\dangling.txt", false},    // the name is a link to where the user wants the write
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        EXPECT_EQ(WriteNewFileNoFollow(temp / c.target, "abc", 3), c.written);
    }
    std::string bytes;
    EXPECT_TRUE(ReadFileBytes(temp / L"real\\taken.txt", bytes) && bytes == "old");
    EXPECT_FALSE(PathExists(temp / L"victim\\new.txt"));
    EXPECT_FALSE(PathExists(temp / L"victim\\x.txt"));
    EXPECT_FALSE(OpenFolderNoFollow(temp / L"link"));
    EXPECT_TRUE(OpenFolderNoFollow(temp / L"real"));
}

// A subfolder swapped for a link to the victim between the listing and the delete: the delete
// goes on with what is really there and never reaches the victim.
TEST(FileHandles, ADeleteRacedByALinkSwapNeverLeavesItsTree) {
    TempFolder temp;
    const std::wstring tree = temp / L"tree";
    for (const wchar_t* folder : {L"tree", L"tree\\sub", L"victim"})
        ASSERT_TRUE(::CreateDirectoryW((temp / folder).c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(temp / L"tree\\sub\\own.txt", "own"));
    ASSERT_TRUE(WriteFileBytes(temp / L"tree\\own.txt", "own"));
    ASSERT_TRUE(WriteFileBytes(temp / L"victim\\keep.txt", "keep"));
    const std::string unix = UnixPath(temp.Path());
    g_swapName = L"sub";
    g_swapCommand = "mv '" + unix + "tree/sub' '" + unix + "moved' && ln -s '" + unix + "victim' '" + unix + "tree/sub'";
    SetDeleteRaceHookForTesting(SwapForLink);
    DeleteFolderTree(tree);
    SetDeleteRaceHookForTesting(nullptr);
    EXPECT_TRUE(g_swapCommand.empty()) << "the hook never fired";
    EXPECT_TRUE(PathExists(temp / L"victim\\keep.txt"));
    EXPECT_TRUE(PathExists(temp / L"moved\\own.txt"));
    EXPECT_FALSE(PathExists(temp / L"tree\\own.txt"));
}

// A folder a user made first in the common application-data folder (with bait inside, or a link
// in its place) is moved aside whole; the stub's own folder is kept from then on.
TEST(Ground, CommonFoldersAUserMadeFirstAreMovedAsideUnentered) {
    const std::wstring common = CommonFolder();
    const std::wstring planted = common + L"\\TrustProbeUserMade";
    DeleteFolderTree(planted);
    ASSERT_TRUE(::CreateDirectoryW(planted.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((planted + L"\\Sub").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(planted + L"\\Sub\\bait.txt", "bait"));

    const std::wstring made = PrepareCommonFolder(L"TrustProbeUserMade\\Sub");
    ASSERT_EQ(made, planted + L"\\Sub\\");
    EXPECT_FALSE(PathExists(made + L"bait.txt")) << "the user's folder was taken over";
    EXPECT_TRUE(IsAdminOnlyFolder(planted));
    // The bait went aside with its folder, untouched.
    WIN32_FIND_DATAW data;
    ScopedFindHandle aside(::FindFirstFileW((planted + L".*.old").c_str(), &data));
    ASSERT_TRUE(aside) << "moved aside";
    const std::wstring asidePath = common + L"\\" + data.cFileName;
    std::string bait;
    EXPECT_TRUE(ReadFileBytes(asidePath + L"\\Sub\\bait.txt", bait) && bait == "bait");

    // Made by the stub: kept as it is by the next run.
    ASSERT_TRUE(WriteFileBytes(made + L"kept.txt", "kept"));
    EXPECT_EQ(PrepareCommonFolder(L"TrustProbeUserMade\\Sub"), made);
    EXPECT_TRUE(PathExists(made + L"kept.txt"));
    DeleteFolderTree(planted);
    DeleteFolderTree(asidePath);
}
