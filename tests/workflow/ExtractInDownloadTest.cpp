// A ZIP package unpacked by the download itself when the page asks for it.
#include "tests/workflow/WorkflowSupport.h"

#include "StubCore/StubApplication.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/Registry.h"
#include "stubframework/zip/ZipWriter.h"

using namespace stubframework;
using namespace wftest;
using dltest::NginxUrl;
using dltest::Tag;

namespace {

class ExtractInDownload : public WorkflowTest {
protected:
    void TearDown() override {
        for (const auto& folder : unpacked_) utils::DeleteFolderTree(folder);
        for (const auto& file : published_) ::DeleteFileW(file.c_str());
        WorkflowTest::TearDown();
    }

    // An archive with the given entries in the nginx root; returns its name.
    std::wstring Publish(const std::vector<std::string>& entries) {
        std::string bytes;
        zip::ZipWriter writer([&](const void* data, size_t size) {
            bytes.append(static_cast<const char*>(data), size);
            return true;
        });
        for (const auto& name : entries) EXPECT_TRUE(writer.AddFile(name, name.data(), name.size()));
        EXPECT_TRUE(writer.Finish());
        const std::wstring name = Tag(L"wfzip") + L".ZIP";
        published_.push_back(dltest::ServerFile(name));
        EXPECT_TRUE(dltest::WriteWholeFile(published_.back(), bytes));
        EXPECT_TRUE(dltest::SignPublished(published_.back()));
        return name;
    }

    std::wstring Unpacked(const std::wstring& target) {
        const std::wstring folder = Bridge().GetProperty(target + L"__ZIP_Unzip_Folder__");
        if (!folder.empty()) unpacked_.push_back(folder);
        return folder;
    }

    std::vector<std::wstring> unpacked_;
    std::vector<std::wstring> published_;
};

} // namespace

TEST_F(ExtractInDownload, UnpacksAndKeepsTheFoldersForTheInstallAndAResumedRun) {
    Bridge().SetProperty(L"__Extract_In_Download__", L"true");
    const std::wstring name = Publish({"readme.txt", "bin/tool.dll", "bin/app/setup.exe"});
    const std::wstring target = folder_ / name;

    ASSERT_EQ(StartDownload(NginxUrl(name), target, L"", false, false), S_OK);
    ASSERT_TRUE(WaitForFinal());
    ExpectProgressThenFinal(0);
    const std::wstring unzip = Unpacked(target);
    const std::wstring setup = Bridge().GetProperty(target + L"__ZIP_EXE_Path__");
    ASSERT_FALSE(unzip.empty());
    EXPECT_EQ(setup, unzip + L"\\bin\\app");
    std::string content;
    ASSERT_TRUE(dltest::ReadWholeFile(setup + L"\\setup.exe", content));
    EXPECT_EQ(content, "bin/app/setup.exe");
    EXPECT_EQ(Bridge().GetProperty(L"__Extract_ZIP_In_Download_Progress__"), L"false");

    const std::wstring record = App().Config().FrameworkKeyPath() + L"\\ResumeRecord\\ExtractFolders";
    std::wstring stored;
    ASSERT_TRUE(utils::ReadFrameworkValue(record, target + L"__ZIP_Unzip_Folder__", stored));
    EXPECT_EQ(stored, unzip);
    ASSERT_TRUE(utils::ReadFrameworkValue(record, target + L"__ZIP_EXE_Path__", stored));
    EXPECT_EQ(stored, setup);

    // The transfer fills 95 % of the bar and the unpacking goes on from there.
    const auto reports = Reports();
    ASSERT_GE(reports.size(), 2u);
    const Report& last = reports[reports.size() - 2];
    EXPECT_GE(last.current, static_cast<long long>(last.total * 0.95));
    EXPECT_LE(last.current, last.total);
    std::string archive;
    ASSERT_TRUE(dltest::ReadWholeFile(published_.back(), archive));
    EXPECT_EQ(last.total, static_cast<long long>(archive.size()));
}

TEST_F(ExtractInDownload, APackageWithoutSetupFailsAndADownloadOnlyRunDoesNotUnpack) {
    Bridge().SetProperty(L"__Extract_In_Download__", L"true");
    const std::wstring name = Publish({"readme.txt", "docs/setup.txt"});
    ASSERT_EQ(StartDownload(NginxUrl(name), folder_ / name, L"", false, false), S_OK);
    ASSERT_TRUE(WaitForFinal());
    ExpectProgressThenFinal(2);
    EXPECT_FALSE(Unpacked(folder_ / name).empty());

    Bridge().SetProperty(L"isDownloadOnly", L"true");
    const std::wstring other = folder_ / L"only.zip";
    ASSERT_EQ(StartDownload(NginxUrl(name), other, L"", false, false), S_OK);
    ASSERT_TRUE(WaitForFinal());
    ExpectProgressThenFinal(0);
    EXPECT_TRUE(Unpacked(other).empty());
}
