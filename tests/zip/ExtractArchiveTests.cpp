// Unpacking archives appended to a file into real folders.
#include "tests/zip/ExtractFixture.h"
#include "stubframework/zip/ZipReader.h"
#include "stubframework/utils/Paths.h"

#include <cstring>

using namespace stubframework;
using namespace stubframework::zip;
using namespace ziptest;

TEST_F(ExtractArchiveTest, ExtractsEverythingAndReportsProgress) {
    const Bytes archive = BuildArchive({{"css/", "", true},
                                        {"index.html", std::string(20000, 'h'), false},
                                        {"js/lib/app.js", "var a = 1;", false},
                                        {"empty.txt", "", false}});
    RecordingReporter reporter;
    ASSERT_TRUE(Extract(archive, &reporter));
    EXPECT_EQ(reporter.progress, (Progress{{0, 4}, {1, 4}, {2, 4}, {3, 4}, {4, 4}}));
    EXPECT_TRUE(reporter.errors.empty());
    EXPECT_EQ(ReadWhole(destination_ + L"\\index.html"), std::string(20000, 'h'));
    EXPECT_EQ(ReadWhole(destination_ + L"\\js\\lib\\app.js"), "var a = 1;");
    EXPECT_EQ(ReadWhole(destination_ + L"\\empty.txt"), "");
    EXPECT_NE(::GetFileAttributesW((destination_ + L"\\css").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);

    // Again over the same folder: existing folders count as extracted, files are replaced.
    ASSERT_TRUE(Extract(BuildArchive({{"css/", "", true}, {"index.html", "new", false}}), nullptr, 0, 0));
    EXPECT_EQ(ReadWhole(destination_ + L"\\index.html"), "new");
}

TEST_F(ExtractArchiveTest, MissingOrUnreadableArchivesFailAndReportTheReadError) {
    RecordingReporter reporter;
    EXPECT_FALSE(Extract({}, &reporter, 50000, 100));
    EXPECT_TRUE(reporter.progress.empty());
    EXPECT_FALSE(utils::PathExists(destination_));

    EXPECT_FALSE(ExtractArchive(INVALID_HANDLE_VALUE, destination_, &reporter));

    // A handle that cannot read: the failing read's error reaches the reporter.
    RecordingReporter denied;
    EXPECT_FALSE(Extract(BuildArchive({{"a.txt", "a", false}}), &denied, 100, 0, FILE_READ_ATTRIBUTES));
    ASSERT_FALSE(denied.errors.empty());
    EXPECT_EQ(denied.errors[0], static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(ExtractArchiveTest, CorruptedEntryLeavesNoFileAndStops) {
    Bytes archive = BuildArchive({{"good.txt", "fine", false},
                                  {"bad.txt", std::string(5000, 'b'), false},
                                  {"later.txt", "never", false}});
    ZipReader reader;
    ASSERT_EQ(reader.Open([&](uint64_t offset, void* buffer, size_t size) {
        std::memcpy(buffer, archive.data() + offset, size);
        return size;
    }, archive.size()), ZipError::None);
    const ZipEntry& bad = reader.Entry(1);
    ASSERT_EQ(bad.method, 8);
    archive[bad.localHeaderOffset + 30 + bad.name.size() + 3] ^= 0xFF;
    RecordingReporter reporter;
    EXPECT_FALSE(Extract(archive, &reporter));
    EXPECT_EQ(reporter.progress, (Progress{{0, 3}, {1, 3}, {3, 3}}));
    EXPECT_EQ(ReadWhole(destination_ + L"\\good.txt"), "fine");
    EXPECT_FALSE(utils::PathExists(destination_ + L"\\bad.txt"));
    EXPECT_FALSE(utils::PathExists(destination_ + L"\\later.txt"));
}

TEST_F(ExtractArchiveTest, EntriesOutsideTheDestinationAreRefused) {
    const std::wstring systemDrive = L"C:\\";
    ASSERT_FALSE(utils::PathExists(systemDrive + L"x"));
    for (const char* name : {"..\\..\\x", "../x", "../../x", "C:\\x", "C:x", "\\x", "/x", "a/../../x", "a\\..\\..\\x",
                             "x/../../../x", "../", "CON", "x:stream", "./../x", "././..\\x", "."}) {
        SCOPED_TRACE(name);
        const bool folder = std::string(name).back() == '/';
        RecordingReporter reporter;
        EXPECT_FALSE(Extract(BuildArchive({{"ok.txt", "ok", false}, {name, "escaped", folder}}), &reporter));
        EXPECT_EQ(reporter.progress.back(), std::make_pair(2u, 2u));
        EXPECT_FALSE(utils::PathExists(root_ + L"outer\\inner\\x"));
        EXPECT_FALSE(utils::PathExists(root_ + L"outer\\x"));
        EXPECT_FALSE(utils::PathExists(root_ + L"x"));
        EXPECT_FALSE(utils::PathExists(systemDrive + L"x"));
        EXPECT_FALSE(utils::PathExists(destination_ + L"\\x"));
    }
    // Keep a regression from spoiling the shared prefix for later runs.
    ::DeleteFileW((systemDrive + L"x").c_str());
    ::RemoveDirectoryW((systemDrive + L"x").c_str());
}

TEST(EntryPathNameTest, NamesAreCutAt259BytesAndUseBackslashes) {
    std::wstring name;
    ASSERT_TRUE(EntryPathName("dir/sub/file.txt", name));
    EXPECT_EQ(name, L"dir\\sub\\file.txt");
    ASSERT_TRUE(EntryPathName(std::string(259, 'a'), name));
    EXPECT_EQ(name, std::wstring(259, L'a'));
    ASSERT_TRUE(EntryPathName(std::string(41, 'b') + "/" + std::string(258, 'c'), name));
    EXPECT_EQ(name, std::wstring(41, L'b') + L"\\" + std::wstring(217, L'c'));
    EXPECT_FALSE(EntryPathName("", name));

    // UTF-8 names: cut before a character, never inside one; invalid bytes fail.
    ASSERT_TRUE(EntryPathName("sub dir/caf\xC3\xA9.txt", name, true));
    EXPECT_EQ(name, L"sub dir\\caf\x00e9.txt");
    ASSERT_TRUE(EntryPathName(std::string(258, 'a') + "\xC3\xA9", name, true));
    EXPECT_EQ(name, std::wstring(258, L'a'));
    EXPECT_FALSE(EntryPathName("caf\xC3(.txt", name, true));
}

TEST_F(ExtractArchiveTest, OverlongNameFailsCleanly) {
    RecordingReporter reporter;
    EXPECT_FALSE(Extract(BuildArchive({{std::string(300, 'n'), "data", false}}), &reporter));
    EXPECT_EQ(reporter.progress, (Progress{{0, 1}, {1, 1}}));
}
