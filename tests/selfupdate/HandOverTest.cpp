// The whole hand-over as real processes: an older stub started by the user updates from the
// download server, and its launcher runs the newer stub twice so that it replaces the started
// file. The test stubs' UI instances play the page's self-update steps (UpdatingStubMain.cpp).
#include <gtest/gtest.h>

#include "stubframework/core/AppConfig.h"
#include "stubframework/core/ReleaseGuard.h"
#include "stubframework/core/SelfUpdate.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/Registry.h"
#include "tests/core/ServiceDouble.h"
#include "tests/downloader/Helpers.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"

using namespace stubframework;
using namespace testsupport;

namespace {
const DWORD kTimeout = 120000;
const wchar_t kStubName[] = L"Tandora22_setup.exe";

std::wstring FrameworkValue(const wchar_t* name) {
    std::wstring value;
    utils::ReadFrameworkValue(core::AppConfig::DefaultFrameworkKeyPath(), name, value);
    return value;
}

std::string Bytes(const std::wstring& path) {
    std::string bytes;
    ReadFileBytes(path, bytes);
    return bytes;
}

// The self-replace pass outlives the launcher; its copy is awaited, bounded.
bool BecomesEqual(const std::wstring& path, const std::string& expected) {
    for (DWORD waited = 0; waited < kTimeout; waited += 100) {
        if (Bytes(path) == expected) return true;
        ::Sleep(100);
    }
    return false;
}

class HandOver : public testing::Test {
protected:
    void SetUp() override {
        core::ClearSelfUpdateValues(core::AppConfig::DefaultFrameworkKeyPath());
        ForgetReleaseSerial();
        ASSERT_TRUE(::CreateDirectoryW((temp_ / L"tmp").c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW((temp_ / L"start").c_str(), nullptr));
        options_.tempFolder = temp_ / L"tmp\\";
        started_ = temp_ / L"start\\" + kStubName;
    }
    // A machine that never accepted a list: the test stubs check for an update before any list
    // update, against their own bundle's list (release 0), which a kept higher serial refuses.
    static void ForgetReleaseSerial() {
        for (bool view64 : {false, true})
            utils::DeleteRegistryValue(core::ReleaseSerialKey(core::AppConfig::DefaultFrameworkKeyPath()), L"Tandora",
                                       view64);
    }
    void TearDown() override {
        core::ClearSelfUpdateValues(core::AppConfig::DefaultFrameworkKeyPath());
        ForgetReleaseSerial();
        if (!published_.empty()) {
            ::DeleteFileW(published_.c_str());
            ::DeleteFileW((published_ + L".meta").c_str());
        }
    }

    // Publishes the stub under the started file's own name, with its metadata.
    void Publish(const std::wstring& stub) {
        const std::wstring folder = dltest::Tag(L"handover");
        ASSERT_TRUE(::CreateDirectoryW(dltest::ServerFile(folder).c_str(), nullptr));
        published_ = dltest::ServerFile(folder + L"\\" + kStubName);
        ASSERT_TRUE(::CopyFileW(stub.c_str(), published_.c_str(), FALSE));
        DWORD exitCode = 1;
        ASSERT_TRUE(RunChild(STUBTOOL_EXE, L"stubtool.exe meta \"" + published_ + L"\"", ChildOptions(), kTimeout,
                             exitCode));
        ASSERT_EQ(exitCode, 0u);
        ASSERT_TRUE(dltest::SignPublished(published_));
        ASSERT_TRUE(WriteFileBytes(temp_ / L"start\\update_url.txt",
                                   dltest::Narrow(dltest::NginxUrl(folder + L"/" + kStubName))));
    }

    DWORD Start() {
        DWORD exitCode = 0xDEAD;
        EXPECT_TRUE(RunChild(started_, L"\"" + started_ + L"\"", options_, kTimeout, exitCode));
        return exitCode;
    }

    // Every log the runs kept in the temporary folder, one after the other.
    std::string KeptLogs() {
        const std::wstring folder = options_.tempFolder + L"Tandora_log\\";
        std::string text;
        WIN32_FIND_DATAW found;
        const HANDLE search = ::FindFirstFileW((folder + L"*.txt").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return text;
        do text += Bytes(folder + found.cFileName);
        while (::FindNextFileW(search, &found));
        ::FindClose(search);
        return text;
    }

    TempFolder temp_;
    ChildOptions options_;
    std::wstring started_;
    std::wstring published_;
    ServiceDouble double_;   // answers the token requests, with no token
};

} // namespace

TEST_F(HandOver, OlderStubIsReplacedOnceByThePublishedOne) {
    ASSERT_TRUE(::CopyFileW(OLDER_STUB_EXE, started_.c_str(), FALSE));
    Publish(NEWER_STUB_EXE);
    const std::string newer = Bytes(NEWER_STUB_EXE);
    ASSERT_NE(Bytes(started_), newer);

    EXPECT_EQ(Start(), 0u);
    EXPECT_TRUE(BecomesEqual(started_, newer));
    // The older UI updated; the newer one ran with "update=0" and skipped.
    EXPECT_EQ(Bytes(temp_ / L"start\\trace.txt"), "updated 0\nskip\n");
    EXPECT_EQ(FrameworkValue(L"selfupdate_code"), L"");
    EXPECT_EQ(FrameworkValue(L"update_stub_name"), L"");

    // The started file is the published stub now: nothing to update, nothing handed over.
    EXPECT_EQ(Start(), 0u);
    EXPECT_EQ(Bytes(temp_ / L"start\\trace.txt"), "updated 0\nskip\ncurrent\n");
    EXPECT_EQ(Bytes(started_), newer);
}

// A signed stub of an older version is no update: the download is refused, nothing is handed
// over, and the started file stays the newer stub.
TEST_F(HandOver, NewerStubIsNotReplacedByAnOlderSignedOne) {
    ASSERT_TRUE(::CopyFileW(NEWER_STUB_EXE, started_.c_str(), FALSE));
    const std::string newer = Bytes(started_);
    Publish(OLDER_STUB_EXE);

    EXPECT_EQ(Start(), 0u);
    EXPECT_EQ(Bytes(temp_ / L"start\\trace.txt"), "updated 6\n");
    EXPECT_EQ(FrameworkValue(L"selfupdate_code"), L"");
    EXPECT_EQ(FrameworkValue(L"update_stub_name"), L"");
    EXPECT_EQ(Bytes(started_), newer);
    const std::string logs = KeptLogs();
    EXPECT_NE(logs.find("Tandora22_setup.exe: version 22.0.0."), std::string::npos);
    EXPECT_NE(logs.find(" is not above the running 22.0.0."), std::string::npos)
        << logs.substr(logs.size() > 3000 ? logs.size() - 3000 : 0);
}

// A run whose UI leaves 197800 without a verified newer stub (a stale value) hands over to
// nothing, and the value is gone afterwards.
TEST_F(HandOver, StaleCodeWithoutNewerStubIsDropped) {
    ASSERT_TRUE(::CopyFileW(OLDER_STUB_EXE, started_.c_str(), FALSE));
    const std::string older = Bytes(started_);
    Publish(OLDER_STUB_EXE);
    const std::wstring key = core::AppConfig::DefaultFrameworkKeyPath();
    ASSERT_TRUE(utils::WriteFrameworkValue(key, L"selfupdate_code", L"197800", false));
    ASSERT_TRUE(utils::WriteFrameworkValue(key, L"update_stub_name", kStubName, false));

    EXPECT_EQ(Start(), 0u);
    EXPECT_EQ(Bytes(temp_ / L"start\\trace.txt"), "current\n");
    EXPECT_EQ(FrameworkValue(L"selfupdate_code"), L"");
    EXPECT_EQ(FrameworkValue(L"update_stub_name"), L"");
    EXPECT_EQ(Bytes(started_), older);
}
