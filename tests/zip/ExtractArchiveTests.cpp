// Unpacking archives appended to a file into real folders.
#include "stubframework/zip/ExtractArchive.h"
#include "stubframework/zip/ZipWriter.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Paths.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <cstring>
#include <utility>
#include <vector>

using namespace stubframework;
using namespace stubframework::zip;

namespace {

using Bytes = std::vector<unsigned char>;

class RecordingReporter : public ZipReporter {
public:
    void Progress(unsigned index, unsigned count) override { progress.emplace_back(index, count); }
    void LastError(DWORD error) override { errors.push_back(error); }
    std::vector<std::pair<unsigned, unsigned>> progress;
    std::vector<DWORD> errors;
};

struct Entry {
    std::string name;
    std::string data;
    bool folder = false;
};

Bytes BuildArchive(const std::vector<Entry>& entries) {
    Bytes out;
    ZipWriter writer([&out](const void* data, size_t size) {
        out.insert(out.end(), static_cast<const unsigned char*>(data), static_cast<const unsigned char*>(data) + size);
        return true;
    });
    for (const Entry& e : entries)
        EXPECT_TRUE(e.folder ? writer.AddFolder(e.name) : writer.AddFile(e.name, e.data.data(), e.data.size()));
    EXPECT_TRUE(writer.Finish());
    return out;
}

std::string ReadWhole(const std::wstring& path) {
    std::string data;
    return testsupport::ReadFileBytes(path, data) ? data : "<missing>";
}

class ExtractArchiveTest : public ::testing::Test {
protected:
    ExtractArchiveTest() : root_(temp_.Path()), destination_(root_ + L"outer\\inner\\dest") {}

    // Writes a program image, the archive and a signature block to a file and extracts it.
    bool Extract(const Bytes& archive, ZipReporter* reporter, size_t leading = 70000, size_t trailing = 9000,
                 DWORD access = GENERIC_READ) {
        Bytes data(leading, 'M');
        data.insert(data.end(), archive.begin(), archive.end());
        data.insert(data.end(), trailing, 'S');
        const std::wstring path = root_ + L"setup.exe";
        EXPECT_TRUE(testsupport::WriteFileBytes(path, std::string(data.begin(), data.end())));
        utils::ScopedFileHandle file(::CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(file.IsValid());
        return ExtractArchive(file.Get(), destination_, reporter);
    }

    testsupport::TempFolder temp_;
    const std::wstring root_;
    const std::wstring destination_;
};

using Progress = std::vector<std::pair<unsigned, unsigned>>;

} // namespace

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

TEST_F(ExtractArchiveTest, NoArchiveOrUnreadableFile) {
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
                             "x/../../../x", "../", "CON", "x:stream"}) {
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
}

TEST_F(ExtractArchiveTest, OverlongNameFailsCleanly) {
    RecordingReporter reporter;
    EXPECT_FALSE(Extract(BuildArchive({{std::string(300, 'n'), "data", false}}), &reporter));
    EXPECT_EQ(reporter.progress, (Progress{{0, 1}, {1, 1}}));
}
