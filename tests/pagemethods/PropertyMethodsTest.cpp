// The property map, settings and resume rows, and the restore of a resumed run's properties.
#include "tests/pagemethods/PageMethodsFixture.h"

#include "stubframework/core/AppConfig.h"
#include "stubframework/core/CreatedFolders.h"
#include "stubframework/utils/Registry.h"

using namespace stubframework;
using namespace pagemethodstest;
using htmluitest::Args;

namespace {

std::wstring StoredValue(StubApplication& app, const wchar_t* name) {
    std::wstring value;
    return utils::ReadFrameworkValue(app.Config().FrameworkKeyPath(), name, value) ? value : L"<missing>";
}

class PropertyRows : public PageMethods {};

TEST_F(PropertyRows, ReadingAPropertyCreatesItAndNamesAreCaseSensitive) {
    utils::ScopedVariant value;
    Args unknown;
    unknown.Text(L"neverSet");
    ASSERT_EQ(Call(L"getProperty", kMethodGet, unknown, value.Receive()), S_OK);
    EXPECT_EQ(V_VT(&value.Get()), VT_BSTR);
    EXPECT_EQ(Text(value), L"");
    EXPECT_EQ(App().Config().Properties().count(L"neverSet"), 1u);

    Args set;
    set.Text(L"installPath").Text(L"C:\\Program Files\\Tandora");
    EXPECT_EQ(Call(L"setProperty", kMethod, set, nullptr), S_OK);
    Args get;
    get.Text(L"installPath");
    ASSERT_EQ(Call(L"getProperty", kMethodGet, get, value.Receive()), S_OK);
    EXPECT_EQ(Text(value), L"C:\\Program Files\\Tandora");
    Args otherCase;
    otherCase.Text(L"InstallPath");
    ASSERT_EQ(Call(L"getProperty", kMethodGet, otherCase, value.Receive()), S_OK);
    EXPECT_EQ(Text(value), L"");
    EXPECT_NE(app_.LogText().find("EMSetProperty installPath, C:\\Program Files\\Tandora"), std::string::npos);

    // Called as a statement, or with a value that is no text, nothing is read or written.
    EXPECT_EQ(Call(L"getProperty", kMethod, get, value.Receive()), DISP_E_MEMBERNOTFOUND);
    Args notText;
    notText.Text(L"installPath").Number(5);
    EXPECT_EQ(Call(L"setProperty", kMethod, notText, nullptr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(App().Config().Property(L"installPath"), L"C:\\Program Files\\Tandora");
}

TEST_F(PropertyRows, InstallStatusOutsideItsRangeIsRefusedAndNotStored) {
    for (LONG status : {0L, 6L}) {
        Args args;
        args.Number(status);
        EXPECT_EQ(Call(L"setInstallStatus", kMethod, args, nullptr), S_OK);
        EXPECT_EQ(StoredValue(App(), L"status"), std::to_wstring(status));
    }
    for (LONG status : {7L, -1L}) {
        Args args;
        args.Number(status);
        EXPECT_EQ(Call(L"setInstallStatus", kMethod, args, nullptr), STG_E_INVALIDPARAMETER);
        EXPECT_EQ(StoredValue(App(), L"status"), L"6");
        EXPECT_EQ(App().Config().Status(), 6);
    }
    EXPECT_NE(app_.LogText().find("EMSetInstallStatus: 6"), std::string::npos);
    EXPECT_EQ(app_.LogText().find("EMSetInstallStatus: 7"), std::string::npos);
}

TEST_F(PropertyRows, LanguageAndChannelReachTheMapAndTheRegistry) {
    Args japanese;
    japanese.Number(5);
    EXPECT_EQ(Call(L"setLang", kMethod, japanese, nullptr), S_OK);
    EXPECT_EQ(App().Config().Property(L"lang"), L"jp");
    EXPECT_EQ(StoredValue(App(), L"install_language"), L"Japanese");

    // A number outside the table changes nothing.
    Args outside;
    outside.Number(108);
    EXPECT_EQ(Call(L"setLang", kMethod, outside, nullptr), S_OK);
    EXPECT_EQ(App().Config().Property(L"lang"), L"jp");

    Args channel;
    channel.Text(L"beta");
    EXPECT_EQ(Call(L"setChannel", kMethod, channel, nullptr), S_OK);
    EXPECT_EQ(App().Config().Channel(), L"beta");
    EXPECT_EQ(StoredValue(App(), L"channel"), L"beta");
    EXPECT_NE(app_.LogText().find("EMSetChannel: beta"), std::string::npos);
}

TEST_F(PropertyRows, ResourceLocationAndLastInstallErrorComeFromTheBridge) {
    BuildTable();
    Bridge().SetProperty(L"resourceLocation", L"C:\\temp\\res\\");
    Bridge().SetLastInstallError(0x80070643u);
    utils::ScopedVariant value;
    ASSERT_EQ(Call(L"getResourceLocation", kMethod, value.Receive()), S_OK);
    EXPECT_EQ(Text(value), L"C:\\temp\\res\\");
    ASSERT_EQ(Call(L"getLastInstallError", kMethod, value.Receive()), S_OK);
    ASSERT_EQ(V_VT(&value.Get()), VT_UI4);
    EXPECT_EQ(V_UI4(&value.Get()), 0x80070643u);
}

// A run whose record kept the folders of extracted packages.
class RunWithRecord : public PageMethods {
protected:
    explicit RunWithRecord(const utils::StartupSwitches& switches) : PageMethods(switches) {}
    std::wstring RecordKey() { return App().Config().FrameworkKeyPath() + L"\\ResumeRecord\\ExtractFolders"; }
    // pkg1 was unpacked by the stub; pkg2 and the setup folders outside pkg1 were written by
    // the user, who owns this hive.
    void WriteRecord() {
        ASSERT_TRUE(utils::WriteFrameworkValue(RecordKey(), L"pkg1__ZIP_Unzip_Folder__", L"C:\\dl\\pkg1\\", false));
        ASSERT_TRUE(utils::WriteFrameworkValue(RecordKey(), L"pkg1__ZIP_EXE_Path__", L"C:\\dl\\pkg1\\disk1", false));
        ASSERT_TRUE(utils::WriteFrameworkValue(RecordKey(), L"pkg2__ZIP_Unzip_Folder__", L"C:\\dl\\pkg2\\", false));
        ASSERT_TRUE(utils::WriteFrameworkValue(RecordKey(), L"pkg3__ZIP_Unzip_Folder__", L"C:\\dl\\pkg1\\", false));
        ASSERT_TRUE(utils::WriteFrameworkValue(RecordKey(), L"pkg3__ZIP_EXE_Path__", L"C:\\dl\\pkg1\\..\\pkg2", false));
        ASSERT_TRUE(utils::WriteFrameworkValue(RecordKey(), L"other", L"C:\\dl\\pkg1\\", false));
        core::RememberCreatedFolder(App().Config().FrameworkKeyPath(), L"C:\\dl\\pkg1\\");
    }
    void TearDown() override {
        core::ForgetCreatedFolder(App().Config().FrameworkKeyPath(), L"C:\\dl\\pkg1");
        PageMethods::TearDown();
    }
    bool RecordExists() {
        HKEY root = nullptr;
        std::wstring sub;
        EXPECT_TRUE(utils::SplitRegistryPath(RecordKey(), root, sub));
        utils::ScopedRegKey key;
        return ::RegOpenKeyExW(root, sub.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, key.Receive()) == ERROR_SUCCESS;
    }
};

class ResumedRun : public RunWithRecord {
protected:
    ResumedRun()
        : RunWithRecord(utils::ParseStartupSwitches({L"S.exe", L"run=1", L"resume=installing"}, L"")) {}
};

class FreshRun : public RunWithRecord {
protected:
    FreshRun() : RunWithRecord(utils::StartupSwitches()) {}
};

TEST_F(ResumedRun, RecordedFoldersBecomePropertiesAndTheRecordIsRemoved) {
    WriteRecord();
    BuildTable();
    EXPECT_EQ(App().Config().Property(L"pkg1__ZIP_Unzip_Folder__"), L"C:\\dl\\pkg1\\");
    EXPECT_EQ(App().Config().Property(L"pkg1__ZIP_EXE_Path__"), L"C:\\dl\\pkg1\\disk1");
    EXPECT_EQ(App().Config().Property(L"pkg3__ZIP_Unzip_Folder__"), L"C:\\dl\\pkg1\\");
    for (const wchar_t* forged : {L"pkg2__ZIP_Unzip_Folder__", L"pkg3__ZIP_EXE_Path__", L"other"})
        EXPECT_EQ(App().Config().Properties().count(forged), 0u) << testing::PrintToString(std::wstring(forged));
    EXPECT_FALSE(RecordExists());
    const std::string log = app_.LogText();
    EXPECT_NE(log.find("Reset properties for Resume Mode"), std::string::npos);
    EXPECT_NE(log.find("pkg1__ZIP_Unzip_Folder__:C:\\dl\\pkg1\\"), std::string::npos);
    EXPECT_NE(log.find("ignored: pkg2__ZIP_Unzip_Folder__:C:\\dl\\pkg2\\"), std::string::npos);

    utils::ScopedVariant mode;
    ASSERT_EQ(Call(L"getResumeMode", kMethod, mode.Receive()), S_OK);
    ASSERT_EQ(V_VT(&mode.Get()), VT_I4);
    EXPECT_EQ(V_I4(&mode.Get()), 2);
}

TEST_F(FreshRun, TheRecordIsOnlyRemoved) {
    WriteRecord();
    ASSERT_TRUE(RecordExists());
    BuildTable();
    EXPECT_EQ(App().Config().Properties().count(L"pkg1__ZIP_Unzip_Folder__"), 0u);
    EXPECT_FALSE(RecordExists());
    EXPECT_EQ(app_.LogText().find("Reset properties for Resume Mode"), std::string::npos);
}

} // namespace
