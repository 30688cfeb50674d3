// Downloads and a ZIP package unpack on volumes that run full or take no writes, through the page's
// "download" method. The volumes are real file systems that small_volumes.sh mounts and maps to
// the drive letters in TANDORA_FULL_DRIVE (4 MiB), TANDORA_READONLY_DRIVE and
// TANDORA_RESTRICTED_DRIVE (a root that takes no new entry, above the writable folder "open").
#include "tests/workflow/WorkflowSupport.h"

#include "tests/support/Signing.h"

#include "stubframework/core/HtmlExternal.h"
#include "stubframework/utils/Ground.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/zip/ZipWriter.h"

#include <cstdlib>
#include <random>

using namespace stubframework;
using namespace wftest;

namespace {

std::wstring DriveFromEnvironment(const wchar_t* name) {
    const wchar_t* value = ::_wgetenv(name);
    return value ? value : L"";
}

// The ground's fresh folders, where packages are unpacked, moved for the duration of one case.
class GroundOn {
public:
    explicit GroundOn(const std::wstring& folder) { utils::SetGroundBaseForTesting(folder); }
    ~GroundOn() { utils::SetGroundBaseForTesting(std::wstring()); }
};

unsigned long long FreeBytes(const std::wstring& root, unsigned long long* total = nullptr) {
    ULARGE_INTEGER available = {}, size = {};
    if (!::GetDiskFreeSpaceExW(root.c_str(), &available, &size, nullptr)) return 0;
    if (total) *total = size.QuadPart;
    return available.QuadPart;
}

class DiskLimits : public WorkflowTest {
protected:
    void TearDown() override {
        for (const auto& file : published_) ::DeleteFileW(file.c_str());
        WorkflowTest::TearDown();
    }

    // A private copy of the 10 MiB package, its metadata and their signatures under a new name.
    std::wstring PublishPackage() {
        const std::wstring name = dltest::Tag(L"disk") + L".bin";
        for (const wchar_t* suffix : {L"", L".sig", L".meta", L".meta.sig"}) {
            published_.push_back(dltest::ServerFile(name + suffix));
            EXPECT_TRUE(::CopyFileW(dltest::ServerFile(std::wstring(L"pkg10.bin") + suffix).c_str(),
                                    published_.back().c_str(), FALSE));
        }
        return name;
    }

    // A ZIP package whose setup.exe (6 MiB of noise: stored) does not fit on the full volume.
    std::wstring PublishZipPackage() {
        std::mt19937 rng(3);
        std::string setup(6 * 1024 * 1024, '\0');
        for (char& c : setup) c = static_cast<char>(rng());
        std::string bytes;
        zip::ZipWriter writer([&](const void* data, size_t size) {
            bytes.append(static_cast<const char*>(data), size);
            return true;
        });
        EXPECT_TRUE(writer.AddFile("app/setup.exe", setup.data(), setup.size()));
        EXPECT_TRUE(writer.Finish());
        const std::wstring name = dltest::Tag(L"diskzip") + L".zip";
        published_.push_back(dltest::ServerFile(name));
        EXPECT_TRUE(dltest::WriteWholeFile(published_.back(), bytes));
        published_.push_back(published_.back() + L".sig");
        EXPECT_TRUE(testsupport::PublishSignature(published_[published_.size() - 2]));
        return name;
    }

    std::vector<std::wstring> published_;
};

} // namespace

TEST_F(DiskLimits, FullVolumesEndWithDiskFullAndReadOnlyOnesWithVolumeReadOnly) {
    const std::wstring full = DriveFromEnvironment(L"TANDORA_FULL_DRIVE") + L"\\";
    const std::wstring readOnly = DriveFromEnvironment(L"TANDORA_READONLY_DRIVE") + L"\\";
    const std::wstring restricted = DriveFromEnvironment(L"TANDORA_RESTRICTED_DRIVE") + L"\\";
    ASSERT_GT(full.size(), 1u) << "run through tests/disk/small_volumes.sh, which mounts the volumes";
    ASSERT_GT(readOnly.size(), 1u);
    ASSERT_GT(restricted.size(), 1u);
    unsigned long long fullSize = 0;
    FreeBytes(full, &fullSize);
    ASSERT_GT(fullSize, 0u) << "no volume at " << dltest::Narrow(full);
    ASSERT_LT(fullSize, 16u * 1024 * 1024) << dltest::Narrow(full) << " is not the small test volume";

    enum Kind { Resumable, Plain, ZipUnpack };
    // Each case: what runs, where the file goes, the final code, the most requests for the package
    // it may make (a storm of retries makes ten or more).
    const struct { const char* what; Kind kind; std::wstring folder; int code; size_t requests; } cases[] = {
        {"resumable download to a full volume", Resumable, full, 3, 2},
        {"plain download to a full volume", Plain, full, 3, 1},
        {"resumable download to a read-only volume", Resumable, readOnly, 7, 0},
        {"plain download to a read-only volume", Plain, readOnly, 7, 0},
        // A root the user may not write to is no read-only volume: the folder below it takes the file.
        {"resumable download below a restricted root", Resumable, restricted + L"open\\", 0, 1},
        {"plain download below a restricted root", Plain, restricted + L"open\\", 0, 1},
        {"package unpacked on a full volume", ZipUnpack, folder_.Path(), 3, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_GT(FreeBytes(full), 3u * 1024 * 1024) << "an earlier case left its files";
        const bool unpack = c.kind == ZipUnpack;
        const std::wstring name = unpack ? PublishZipPackage() : PublishPackage();
        const std::wstring target = c.folder + name;
        Bridge().SetProperty(L"__Extract_In_Download__", unpack ? L"true" : L"false");
        {
            std::unique_ptr<GroundOn> ground(unpack ? new GroundOn(full) : nullptr);
            ASSERT_EQ(StartDownload(dltest::NginxUrl(name), target, L"", false, c.kind == Resumable), S_OK);
            ASSERT_TRUE(WaitForFinal());
        }
        ExpectProgressThenFinal(c.code);
        // Requests for the package itself (the access log's lines begin "URI|"), not its companions.
        EXPECT_LE(dltest::AccessLogLines("/" + dltest::Narrow(name) + "|").size(), c.requests);
        if (c.code == 7) {
            EXPECT_FALSE(utils::PathExists(target));
        }

        ::DeleteFileW(target.c_str());
        const std::wstring unpacked = Bridge().GetProperty(target + L"__ZIP_Unzip_Folder__");
        if (unpack) {
            // The unpack ran on the full volume, and left no file it could not finish.
            EXPECT_EQ(unpacked.compare(0, full.size(), full), 0) << dltest::Narrow(unpacked);
            EXPECT_FALSE(utils::PathExists(unpacked + L"\\app\\setup.exe"));
            utils::DeleteFolderTree(unpacked);
        }
    }
}
