#include <gtest/gtest.h>

#include "stubframework/utils/Paths.h"
#include "stubframework/utils/Process.h"
#include "stubframework/utils/SystemLibrary.h"
#include "tests/support/TempFolder.h"

using namespace stubframework::utils;
using testsupport::TempFolder;

TEST(Paths, TempDirectoryEndsWithBackslash) {
    std::wstring temp;
    ASSERT_TRUE(GetTempDirectory(temp));
    EXPECT_EQ(temp.back(), L'\\');
    EXPECT_TRUE(PathExists(temp));
}

TEST(Paths, UniqueSubfoldersAreNewAndDistinct) {
    TempFolder base;
    std::wstring a, b;
    ASSERT_TRUE(CreateUniqueSubfolder(base.Path(), a));
    ASSERT_TRUE(CreateUniqueSubfolder(base.Path(), b));
    EXPECT_NE(a, b);
    EXPECT_EQ(a.back(), L'\\');
    EXPECT_EQ(a.compare(0, base.Path().size(), base.Path()), 0);
    EXPECT_TRUE(PathExists(a));
    // lower-case hexadecimal names
    const std::wstring name = a.substr(base.Path().size(), a.size() - base.Path().size() - 1);
    EXPECT_EQ(name.find_first_not_of(L"0123456789abcdef"), std::wstring::npos);

    std::wstring none;
    EXPECT_FALSE(CreateUniqueSubfolder(base / L"missing\\", none));
}

TEST(Paths, DeleteFolderTreeRemovesNestedAndReadOnlyFiles) {
    TempFolder base;
    const std::wstring root = base / L"tree";
    ASSERT_TRUE(CreateFolderTree(root + L"\\a\\b"));
    ASSERT_TRUE(testsupport::WriteFileBytes(root + L"\\top.txt", "x"));
    ASSERT_TRUE(testsupport::WriteFileBytes(root + L"\\a\\b\\deep.txt", "y"));
    ASSERT_TRUE(::SetFileAttributesW((root + L"\\a\\b\\deep.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(DeleteFolderTree(root + L"\\"));
    EXPECT_FALSE(PathExists(root));
    EXPECT_FALSE(DeleteFolderTree(root));
}

TEST(Paths, JoinKeepsOneSeparatorAndParentFolderEndsWithIt) {
    std::wstring joined;
    ASSERT_TRUE(CombinePath(L"C:\\dir\\", L"Load.html", joined));
    EXPECT_EQ(joined, L"C:\\dir\\Load.html");
    EXPECT_EQ(ParentFolder(L"C:\\dir\\x.exe"), L"C:\\dir\\");
    EXPECT_EQ(FileNameOf(L"C:\\dir\\x.exe"), L"x.exe");
    EXPECT_EQ(FileNameOf(L"x.exe"), L"x.exe");
}

TEST(Process, RunProcessReturnsExitCodeOrZero) {
    const std::wstring system = ParentFolder(SystemFolderPath(L"cmd.exe"));
    TempFolder base;
    EXPECT_EQ(RunProcess(system, L"cmd.exe", L"cmd.exe /c exit 1603", true), 1603u);
    EXPECT_EQ(RunProcess(base.Path(), L"missing.exe", L"missing.exe", true), 0u);
}
