// Archives made to hurt: names that leave the folder or repeat, sizes and checksums that lie,
// inflate bombs, damaged end records, cut files; through the real extraction and the package
// unzip. Every one is refused with nothing written outside the folder; files extracted before
// the bad entry stay, the bad entry leaves nothing, and nothing after it is extracted.
#include "tests/zip/ExtractFixture.h"
#include "tests/htmlui/TestSupport.h"
#include "stubframework/core/PackageUnzip.h"
#include "stubframework/utils/Ground.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/zip/ZipFormat.h"
#include "stubframework/zip/ZipReader.h"

#include <cstring>

using namespace stubframework;
using namespace stubframework::zip;
using namespace ziptest;
namespace fmt = stubframework::zip::format;

namespace {

// Where each entry's records sit in an archive without a comment.
struct EntryRecords {
    size_t local;
    size_t central;
};

std::vector<EntryRecords> RecordsOf(const Bytes& archive) {
    std::vector<EntryRecords> records;
    const size_t end = archive.size() - fmt::kEndRecordSize;
    size_t at = fmt::Get32(&archive[end + 16]);
    for (unsigned i = fmt::Get16(&archive[end + 10]); i > 0; --i) {
        records.push_back({fmt::Get32(&archive[at + 42]), at});
        at += fmt::kCentralHeaderSize + fmt::Get16(&archive[at + 28]) + fmt::Get16(&archive[at + 30]) +
              fmt::Get16(&archive[at + 32]);
    }
    return records;
}

void Put32(Bytes& archive, size_t at, uint32_t value) { fmt::Put32(&archive[at], value); }

// Local and central fields of one entry (offsets in the local header; the central copy sits 2 later).
constexpr size_t kLocalMethod = 8, kLocalCrc = 14, kLocalCompressed = 18, kLocalUncompressed = 22;

class HostileArchive : public ExtractArchiveTest {
protected:
    // Extracts first.txt, the entry under test, then after.txt, and checks the refusal: only
    // first.txt is on disk.
    void ExpectRefusedAfterFirst(const Bytes& archive, const std::wstring& victim) {
        RecordingReporter reporter;
        EXPECT_FALSE(Extract(archive, &reporter));
        EXPECT_EQ(reporter.progress, (Progress{{0, 3}, {1, 3}, {3, 3}}));
        EXPECT_EQ(ReadWhole(destination_ + L"\\first.txt"), "first");
        if (!victim.empty()) {
            EXPECT_FALSE(utils::PathExists(destination_ + L"\\" + victim));
        }
        EXPECT_FALSE(utils::PathExists(destination_ + L"\\after.txt"));
        utils::DeleteFolderTree(destination_);
    }

    // A refusal before any entry: not even the folder is created.
    void ExpectNoArchive(const Bytes& archive, size_t trailing = 9000) {
        RecordingReporter reporter;
        EXPECT_FALSE(Extract(archive, &reporter, 70000, trailing));
        EXPECT_TRUE(reporter.progress.empty());
        EXPECT_FALSE(utils::PathExists(destination_));
    }

    bool NothingEscaped() const {
        for (const std::wstring& path : {root_ + L"x", root_ + L"outer\\x", root_ + L"outer\\inner\\x",
                                         std::wstring(L"C:\\x")})
            if (utils::PathExists(path)) return false;
        return true;
    }
};

} // namespace

TEST_F(HostileArchive, EscapesWithMixedSeparatorsAndFolderEntriesAreRefused) {
    const struct { const char* name; bool folder; } cases[] = {
        {"a/..\\..\\x", false}, {"a\\../../x", false}, {"..\\/x", false}, {"./../x", false},
        {"\\\\server\\share\\x", false}, {"//server/share/x", false}, {"C:/x", false}, {"c:..\\x", false},
        {"x::$DATA", false}, {"dir/x:hidden", false}, {"a/..\\../x/", true}, {"../x/", true}, {"C:\\x\\", true},
        {"a/.. /../x", false}, {"a/.../x", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectRefusedAfterFirst(BuildArchive({{"first.txt", "first"}, {c.name, "escaped", c.folder}, {"after.txt", "a"}}),
                                L"");
        EXPECT_TRUE(NothingEscaped());
    }
    ::DeleteFileW(L"C:\\x");
    ::RemoveDirectoryW(L"C:\\x");
}

TEST_F(HostileArchive, ARepeatedNameNeverReplacesAnExtractedFile) {
    for (const char* again : {"first.txt", "FIRST.TXT", "first.txt.", "first.txt ", "./first.txt", ".\\First.txt"}) {
        SCOPED_TRACE(again);
        ExpectRefusedAfterFirst(BuildArchive({{"first.txt", "first"}, {again, "replaced"}, {"after.txt", "a"}}), L"");
    }
    // The same in a folder, named with either separator.
    RecordingReporter reporter;
    EXPECT_FALSE(Extract(BuildArchive({{"dir/a.txt", "one"}, {"dir\\a.txt", "two"}}), &reporter));
    EXPECT_EQ(ReadWhole(destination_ + L"\\dir\\a.txt"), "one");

    // A file's short 8.3 alias names the same file. Short names depend only on the long name, so
    // one made beside the folder tells what the extracted file's alias will be.
    utils::DeleteFolderTree(destination_);
    const std::wstring probe = root_ + L"a-long-file-name.txt";
    ASSERT_TRUE(testsupport::WriteFileBytes(probe, ""));
    wchar_t shortPath[MAX_PATH + 1];
    const DWORD shortLength = ::GetShortPathNameW(probe.c_str(), shortPath, MAX_PATH + 1);
    ASSERT_GT(shortLength, 0u);
    const std::wstring shortName = utils::FileNameOf(std::wstring(shortPath, shortLength));
    ASSERT_NE(shortName, L"a-long-file-name.txt");
    EXPECT_FALSE(Extract(BuildArchive({{"a-long-file-name.txt", "long"},
                                       {std::string(shortName.begin(), shortName.end()), "replaced"}}),
                         &reporter));
    EXPECT_EQ(ReadWhole(destination_ + L"\\a-long-file-name.txt"), "long");

    // The same when the folder itself is given by its short name, as temporary folders often are.
    const std::wstring longFolder = root_ + L"a-long-destination-name";
    ASSERT_TRUE(utils::CreateFolderTree(longFolder));
    const DWORD folderLength = ::GetShortPathNameW(longFolder.c_str(), shortPath, MAX_PATH + 1);
    ASSERT_GT(folderLength, 0u);
    const std::wstring shortFolder(shortPath, folderLength);
    ASSERT_NE(shortFolder, longFolder);
    for (const std::string& again : {std::string("FIRST.TXT"), std::string(shortName.begin(), shortName.end())}) {
        SCOPED_TRACE(again);
        const std::string first = again == "FIRST.TXT" ? "first.txt" : "a-long-file-name.txt";
        EXPECT_FALSE(Extract(BuildArchive({{first, "first"}, {again, "replaced"}}), &reporter, 70000, 9000,
                             GENERIC_READ, shortFolder));
        EXPECT_EQ(ReadWhole(longFolder + L"\\" + std::wstring(first.begin(), first.end())), "first");
    }

    // Repeated folder entries are harmless and still extract.
    utils::DeleteFolderTree(destination_);
    ASSERT_TRUE(Extract(BuildArchive({{"css/", "", true}, {"css/", "", true}, {"css/a.css", "a"}}), nullptr));
    EXPECT_EQ(ReadWhole(destination_ + L"\\css\\a.css"), "a");
}

TEST_F(HostileArchive, LyingSizesChecksumsAndMethodsLeaveNoFile) {
    const std::string text(40000, 't');
    const Bytes sound = BuildArchive({{"first.txt", "first"}, {"victim.txt", text}, {"after.txt", "a"}});
    const EntryRecords victim = RecordsOf(sound)[1];
    ASSERT_EQ(fmt::Get16(&sound[victim.local + kLocalMethod]), fmt::kMethodDeflate);
    const uint32_t compressed = fmt::Get32(&sound[victim.local + kLocalCompressed]);
    const uint32_t crc = fmt::Get32(&sound[victim.local + kLocalCrc]);

    // Each case patches (field, value) in the local header, the central record, or both.
    const struct { const char* what; size_t field; uint32_t value; bool local; bool central; } cases[] = {
        {"local compressed size only", kLocalCompressed, compressed - 1, true, false},
        {"central compressed size only", kLocalCompressed, compressed + 1, false, true},
        {"local uncompressed size only", kLocalUncompressed, 39999, true, false},
        {"central uncompressed size only", kLocalUncompressed, 40001, false, true},
        {"local CRC only", kLocalCrc, crc ^ 1, true, false},
        {"CRC in both", kLocalCrc, crc ^ 0x80000000u, true, true},
        {"compressed size too small in both", kLocalCompressed, compressed / 2, true, true},
        {"uncompressed size too small in both", kLocalUncompressed, 39999, true, true},
        {"uncompressed size too large in both", kLocalUncompressed, 40001, true, true},
        {"stored in the local header only", kLocalMethod, fmt::kMethodStored, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes archive = sound;
        const size_t width = c.field == kLocalMethod ? 2 : 4;
        if (c.local) std::memcpy(&archive[victim.local + c.field], &c.value, width);
        if (c.central) std::memcpy(&archive[victim.central + c.field + 2], &c.value, width);
        ExpectRefusedAfterFirst(archive, L"victim.txt");
    }

    // A compressed size reaching into the next entry or the directory: no sound archive at all.
    Bytes archive = sound;
    Put32(archive, victim.local + kLocalCompressed, compressed + 40);
    Put32(archive, victim.central + kLocalCompressed + 2, compressed + 40);
    ExpectNoArchive(archive);

    // And the sound archive still extracts whole.
    ASSERT_TRUE(Extract(sound, nullptr));
    EXPECT_EQ(ReadWhole(destination_ + L"\\victim.txt"), text);
}

TEST_F(HostileArchive, InflateBombsNeverGrowPastTheStatedSize) {
    const std::string zeros(16 * 1024 * 1024, '\0');
    Bytes archive = BuildArchive({{"first.txt", "first"}, {"bomb.bin", zeros}, {"after.txt", "a"}});
    const EntryRecords bomb = RecordsOf(archive)[1];
    ASSERT_LT(fmt::Get32(&archive[bomb.local + kLocalCompressed]), 100000u);
    for (size_t at : {bomb.local + kLocalUncompressed, bomb.central + kLocalUncompressed + 2}) Put32(archive, at, 1000);

    // The reader hands on no more than the stated 1000 bytes before it stops.
    ZipReader reader;
    ASSERT_EQ(reader.Open([&](uint64_t offset, void* buffer, size_t size) {
        std::memcpy(buffer, archive.data() + offset, size);
        return size;
    }, archive.size()), ZipError::None);
    size_t handedOn = 0;
    EXPECT_EQ(reader.Extract(1, [&](const void*, size_t size) { handedOn += size; return true; }),
              ZipError::SizeMismatch);
    EXPECT_LE(handedOn, 1000u);
    ExpectRefusedAfterFirst(archive, L"bomb.bin");

    // Many directory records sharing one entry's data (a bomb without a big entry) are damage.
    const Bytes one = BuildArchive({{"a.bin", zeros.substr(0, 100000)}});
    const size_t directory = RecordsOf(one)[0].central;
    const size_t record = one.size() - fmt::kEndRecordSize - directory;
    Bytes shared(one.begin(), one.begin() + directory);
    for (int i = 0; i < 3; ++i) shared.insert(shared.end(), one.begin() + directory, one.begin() + directory + record);
    shared.insert(shared.end(), one.end() - fmt::kEndRecordSize, one.end());
    const size_t end = shared.size() - fmt::kEndRecordSize;
    fmt::Put16(&shared[end + 8], 3);
    fmt::Put16(&shared[end + 10], 3);
    Put32(shared, end + 12, static_cast<uint32_t>(3 * record));
    ExpectNoArchive(shared);
}

TEST_F(HostileArchive, DamagedEndRecordsAndCutFilesAreNoArchive) {
    const Bytes sound = BuildArchive({{"first.txt", "first"}, {"second.txt", std::string(5000, 's')}});
    const size_t end = sound.size() - fmt::kEndRecordSize;

    // A comment longer than what follows the record.
    Bytes archive = sound;
    fmt::Put16(&archive[end + 20], 0xFFFF);
    ExpectNoArchive(archive);
    // Directory size or offset pointing before the data, entry counts that disagree.
    for (const auto& patch : std::vector<std::pair<size_t, uint32_t>>{
             {end + 12, 0xFFFFFF00u}, {end + 16, 0x7FFFFFFFu}, {end + 12, 10}, {end + 16, 1}}) {
        archive = sound;
        Put32(archive, patch.first, patch.second);
        ExpectNoArchive(archive);
    }
    archive = sound;
    fmt::Put16(&archive[end + 10], 9);
    ExpectNoArchive(archive);

    // Cut inside the data, the directory and the end record, with and without a block behind.
    for (size_t length : {size_t(40), sound.size() / 2, end - 10, end + 8, sound.size() - 1}) {
        SCOPED_TRACE(length);
        const Bytes cut(sound.begin(), sound.begin() + length);
        ExpectNoArchive(cut, 0);
        ExpectNoArchive(cut, 9000);
    }

    // The longest real comment, then the signature block: the archive is found and extracts.
    archive = sound;
    fmt::Put16(&archive[end + 20], 0xFFFF);
    archive.insert(archive.end(), 0xFFFF, 'c');
    ASSERT_TRUE(Extract(archive, nullptr));
    EXPECT_EQ(ReadWhole(destination_ + L"\\second.txt"), std::string(5000, 's'));
}

// The package install unzips with the same extraction into a fresh folder of the ground,
// reading the archive through the handle it was given: escapes are refused there too, and the
// package counts as failed.
TEST_F(HostileArchive, PackageUnzipRefusesTheSameEscapes) {
    const std::wstring ground = root_ + L"ground\\";
    ASSERT_TRUE(utils::CreateFolderTree(ground));
    utils::SetGroundBaseForTesting(ground);
    {
        htmluitest::TestApplication app;
        for (const char* name : {"../x", "..\\..\\x", "a/..\\../x", "C:\\x", "setup.exe:stream"}) {
            SCOPED_TRACE(name);
            const std::wstring package = root_ + L"package.zip";
            const Bytes bytes = BuildArchive({{"readme.txt", "r"}, {name, "escaped"}, {"setup.exe", "MZ"}});
            ASSERT_TRUE(testsupport::WriteFileBytes(package, std::string(bytes.begin(), bytes.end())));
            utils::ScopedFileHandle archive(::CreateFileW(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                          OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(archive.IsValid());
            std::wstring unzipFolder, setupFolder;
            EXPECT_EQ(core::UnzipPackage(app.App(), package, archive.Get(), unzipFolder, setupFolder), Failure);
            EXPECT_TRUE(setupFolder.empty());
            ASSERT_EQ(unzipFolder.compare(0, ground.size(), ground), 0);
            EXPECT_FALSE(utils::PathExists(unzipFolder + L"\\setup.exe"));
            EXPECT_FALSE(utils::PathExists(ground + L"x"));
            EXPECT_TRUE(NothingEscaped());
        }
        EXPECT_NE(app.LogText().find("Unzip failed, package_path: "), std::string::npos);
    }
    utils::SetGroundBaseForTesting(std::wstring());
    ::DeleteFileW(L"C:\\x");
}
