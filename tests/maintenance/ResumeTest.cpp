// The resume record, the run-once entry and the launch-on-exit programs.
#include "tests/maintenance/MaintenanceSupport.h"

#include "stubframework/core/AppConfig.h"
#include "stubframework/core/MaintenanceRules.h"
#include "stubframework/core/ResumeCopy.h"
#include "stubframework/core/ResumeManager.h"
#include "stubframework/utils/CommandLineArgs.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/Registry.h"
#include "tests/support/TempFolder.h"

#include <cwctype>

using namespace stubframework;
using maintenancetest::MaintenanceRows;
using maintenancetest::ReadMachineValue;

namespace {

const wchar_t kRunOnce[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

utils::StartupSwitches ResumedSwitches() {
    utils::StartupSwitches switches;
    switches.resumeMode = 2;
    switches.hasShortcut = true;
    switches.shortcut = L"C:\\Users\\u\\Downloads\\Tandora22_setup.exe";
    return switches;
}

class ResumeRows : public MaintenanceRows {
protected:
    using MaintenanceRows::MaintenanceRows;
    // The machine's copy of the record and the note of the started file are the prefix's own.
    void TearDown() override {
        const std::wstring key = App().Config().FrameworkKeyPath();
        utils::DeleteRegistryKey(utils::MachineTwinPath(key + L"\\ResumeManager"), false);
        core::NoteStartedFile(key, L"");
        MaintenanceRows::TearDown();
    }

    // Registers the resume, reads the run-once data back, and takes the registration away again.
    std::wstring RunOnceRoundTrip() {
        htmluitest::Args args;
        args.Text(L"INSTALLING");
        EXPECT_EQ(Call(L"runAfterReboot", kMethod, args, nullptr), S_OK);
        DWORD type = 0;
        std::wstring data;
        if (!ReadMachineValue(kRunOnce, L"Tandora_22", KEY_WOW64_64KEY, type, data)) return L"<missing>";
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(Call(L"undoRunAfterReboot", kMethod), S_OK);
        EXPECT_FALSE(ReadMachineValue(kRunOnce, L"Tandora_22", KEY_WOW64_64KEY, type, data));
        return data;
    }
};

class FreshRun : public ResumeRows {};

class ResumedRun : public ResumeRows {
protected:
    ResumedRun() : ResumeRows(ResumedSwitches()) {}
};

std::wstring RecordKey(core::AppConfig& config) { return config.FrameworkKeyPath() + L"\\ResumeManager"; }
std::wstring MachineRecordKey(core::AppConfig& config) { return utils::MachineTwinPath(RecordKey(config)); }

std::wstring RecordValue(core::AppConfig& config, const wchar_t* name) {
    std::wstring value;
    return utils::ReadFrameworkValue(RecordKey(config), name, value) ? value : L"<missing>";
}

void StoreRecord(core::AppConfig& config, const wchar_t* name, const std::wstring& value) {
    ASSERT_TRUE(utils::WriteFrameworkValue(RecordKey(config), name, value, false));
}

bool IsGuidText(const std::wstring& text) {
    if (text.size() != 36) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen ? text[i] != L'-' : !(std::iswdigit(text[i]) || (text[i] >= L'a' && text[i] <= L'f'))) return false;
    }
    return true;
}

TEST(ResumeRules, LaunchOnExitValueKeepsTheFollowingArguments) {
    std::wstring parameters = L"/qn LAUNCHONEXIT=Zarvo\\Tandora\\$GUID$ PROP=1";
    std::wstring value;
    ASSERT_TRUE(core::FillLaunchOnExit(parameters, L"g-1", value));
    EXPECT_EQ(parameters, L"/qn LAUNCHONEXIT=Zarvo\\Tandora\\g-1 PROP=1");
    EXPECT_EQ(value, L"Zarvo\\Tandora\\g-1");

    // A quoted value may hold blanks; a quoted argument after it stays its own.
    parameters = L"LAUNCHONEXIT=\"Zarvo\\My App\\$GUID$\" DIR=\"C:\\x y\"";
    ASSERT_TRUE(core::FillLaunchOnExit(parameters, L"g-2", value));
    EXPECT_EQ(parameters, L"LAUNCHONEXIT=\"Zarvo\\My App\\g-2\" DIR=\"C:\\x y\"");
    EXPECT_EQ(value, L"Zarvo\\My App\\g-2");

    parameters = L"/qn PROP=1";
    EXPECT_FALSE(core::FillLaunchOnExit(parameters, L"g", value));
    EXPECT_EQ(parameters, L"/qn PROP=1");

    EXPECT_EQ(core::LaunchOnExitParent(L"Zarvo\\Launch\\g-1", L"g-1"), L"Software\\Zarvo\\Launch");
    EXPECT_EQ(core::LaunchOnExitParent(L"Zarvo\\Launch", L"g-1"), L"Software\\");
    // No GUID names no subkey: nothing below Software may be picked for deletion.
    EXPECT_EQ(core::LaunchOnExitParent(L"Zarvo\\Launch", L""), L"");
}

// The file in the user's Downloads folder could be replaced before the next administrator logon:
// the entry starts a copy of the running stub kept where only administrators can write.
TEST_F(ResumedRun, RunOnceStartsAnAdministratorsOnlyCopyNotTheShortcut) {
    htmluitest::Args args;
    args.Text(L"INSTALLING");
    std::wstring copies[2];
    for (std::wstring& copy : copies) {
        ASSERT_EQ(Call(L"runAfterReboot", kMethod, args, nullptr), S_OK);
        DWORD type = 0;
        std::wstring data;
        ASSERT_TRUE(ReadMachineValue(kRunOnce, L"Tandora_22", KEY_WOW64_64KEY, type, data));
        const utils::ArgList tokens = utils::SplitCommandLine(data);
        ASSERT_EQ(tokens.size(), 2u) << std::string(data.begin(), data.end());
        EXPECT_EQ(tokens[1], L"RESUME=INSTALLING");
        copy = tokens[0];
        const std::wstring root = core::ResumeCopyRoot();
        EXPECT_EQ(copy.compare(0, root.size(), root), 0) << std::string(copy.begin(), copy.end());
        std::wstring own;
        ASSERT_TRUE(utils::GetOwnModulePath(own));
        std::string copied, original;
        ASSERT_TRUE(testsupport::ReadFileBytes(copy, copied));
        ASSERT_TRUE(testsupport::ReadFileBytes(own, original));
        EXPECT_TRUE(copied == original);
    }
    // A new request replaces the copy; withdrawing it removes the copy and its folder.
    EXPECT_NE(copies[0], copies[1]);
    EXPECT_FALSE(utils::PathExists(utils::ParentFolder(copies[0])));
    EXPECT_EQ(Call(L"undoRunAfterReboot", kMethod), S_OK);
    EXPECT_FALSE(utils::PathExists(utils::ParentFolder(copies[1])));
    EXPECT_NE(app_.LogText().find("EMRunAfterReboot INSTALLING"), std::string::npos);
}

TEST_F(FreshRun, RunOnceWithoutShortcutStillStartsTheCopy) {
    const std::wstring data = RunOnceRoundTrip();
    EXPECT_EQ(data.compare(0, 1 + core::ResumeCopyRoot().size(), L"\"" + core::ResumeCopyRoot()), 0);
}

TEST_F(FreshRun, InstallWithoutResumeReplacesTheRecord) {
    core::AppConfig& config = App().Config();
    StoreRecord(config, L"folder", L"C:\\kept");
    StoreRecord(config, L"guid", L"11111111-2222-3333-4444-555555555555");
    StoreRecord(config, L"launchOnExit", L"Zarvo\\old");

    std::wstring parameters = L"/qn PROP=1";
    const std::wstring guid = core::RecordInstallResume(config, 0, parameters);
    EXPECT_TRUE(IsGuidText(guid)) << std::string(guid.begin(), guid.end());
    EXPECT_NE(guid, L"11111111-2222-3333-4444-555555555555");
    EXPECT_EQ(parameters, L"/qn PROP=1");
    // Only the GUID is left: the old record went first, and there was no LAUNCHONEXIT=.
    EXPECT_EQ(RecordValue(config, L"guid"), guid);
    EXPECT_EQ(RecordValue(config, L"folder"), L"<missing>");
    EXPECT_EQ(RecordValue(config, L"launchOnExit"), L"<missing>");
    // Every install gets its own GUID.
    EXPECT_NE(core::RecordInstallResume(config, 0, parameters), guid);
}

// The GUID goes into the installer's parameters and names a key that is deleted later: a resumed
// install takes it from the copy the stub wrote, never from the user's own record alone.
TEST_F(ResumedRun, ResumedInstallReusesOnlyTheGuidTheStubStored) {
    core::AppConfig& config = App().Config();
    std::wstring parameters = L"/qn";
    const std::wstring stored = core::RecordInstallResume(config, 0, parameters);
    StoreRecord(config, L"folder", L"C:\\kept");
    StoreRecord(config, L"tempfolder0", L"C:\\t0");
    StoreRecord(config, L"tempfolder1", L"C:\\t1");
    StoreRecord(config, L"tempfolder3", L"C:\\after-a-gap");
    {
        const core::ResumeManager record(true, config);
        ASSERT_TRUE(record.Loaded());
        EXPECT_EQ(record.TempFolders(), (std::vector<std::wstring>{L"C:\\t0", L"C:\\t1"}));
    }
    parameters = L"LAUNCHONEXIT=Zarvo\\Tandora\\$GUID$ /qn";
    EXPECT_EQ(core::RecordInstallResume(config, 2, parameters), stored);
    EXPECT_EQ(parameters, L"LAUNCHONEXIT=Zarvo\\Tandora\\" + stored + L" /qn");
    EXPECT_EQ(RecordValue(config, L"launchOnExit"), L"Zarvo\\Tandora\\" + stored);
    EXPECT_EQ(RecordValue(config, L"folder"), L"C:\\kept");

    // A GUID the user wrote over the stub's: the stored one is used and written back.
    StoreRecord(config, L"guid", L"x\" /PROP=1 ..\\..\\Microsoft");
    parameters = L"LAUNCHONEXIT=Zarvo\\Tandora\\$GUID$ /qn";
    EXPECT_EQ(core::RecordInstallResume(config, 2, parameters), stored);
    EXPECT_EQ(parameters, L"LAUNCHONEXIT=Zarvo\\Tandora\\" + stored + L" /qn");
    EXPECT_EQ(RecordValue(config, L"guid"), stored);

    // A record the user made alone, and one without "folder": fresh GUIDs.
    ASSERT_TRUE(utils::DeleteRegistryKey(MachineRecordKey(config), false));
    StoreRecord(config, L"guid", L"9a8b7c6d-0000-4000-8000-123456789abc");
    parameters = L"/qn";
    const std::wstring fresh = core::RecordInstallResume(config, 2, parameters);
    EXPECT_NE(fresh, L"9a8b7c6d-0000-4000-8000-123456789abc");
    EXPECT_TRUE(IsGuidText(fresh));
    ASSERT_TRUE(utils::DeleteRegistryValue(RecordKey(config), L"folder", false));
    const std::wstring another = core::RecordInstallResume(config, 2, parameters);
    EXPECT_NE(another, fresh);
    EXPECT_EQ(RecordValue(config, L"guid"), another);
}

// Launch-on-exit programs as the product's installer leaves them: values below the GUID's key.
TEST_F(ResumedRun, StartRegAppsRunsTheEntriesAndDeletesTheirKey) {
    core::AppConfig& config = App().Config();
    const std::wstring parent = L"Software\\TandoraTests\\Launch" + std::to_wstring(::GetCurrentProcessId());
    // The install before the reboot stores the record; "folder" comes from elsewhere.
    std::wstring parameters = L"LAUNCHONEXIT=" + parent.substr(9) + L"\\$GUID$";
    const std::wstring guid = core::RecordInstallResume(config, 0, parameters);
    StoreRecord(config, L"folder", L"C:\\kept");

    testsupport::TempFolder folder;
    // A quoted argument with a blank must reach the program as one argument.
    const std::wstring first = folder / L"first.txt", second = folder / L"second file.txt";
    const std::wstring never = folder / L"never.txt";
    const std::wstring program = std::wstring(L"\"") + TANDORA_EXIT_WITH + L"\" 0 ";
    utils::ScopedRegKey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (parent + L"\\" + guid + L"\\nested").c_str(), 0, nullptr, 0,
                                KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, key.Receive(), nullptr),
              ERROR_SUCCESS);
    key.Reset();
    const std::wstring full = L"HKEY_LOCAL_MACHINE\\" + parent + L"\\" + guid;
    ASSERT_TRUE(utils::WriteFrameworkValue(full, L"regApp1", program + first, false));
    ASSERT_TRUE(utils::WriteFrameworkValue(full, L"other", program + never, false));
    ASSERT_TRUE(utils::WriteFrameworkValue(full, L"regAppTwo", program + L"\"" + second + L"\"", false));

    ASSERT_EQ(Call(L"startRegApps", kMethod), S_OK);
    const DWORD start = ::GetTickCount();
    while (!(utils::PathExists(first) && utils::PathExists(second)) && ::GetTickCount() - start < 30000) ::Sleep(50);
    EXPECT_TRUE(utils::PathExists(first));
    EXPECT_TRUE(utils::PathExists(second));
    EXPECT_FALSE(utils::PathExists(never));

    // The entries are used up; their parent and the record stay.
    EXPECT_NE(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, (parent + L"\\" + guid).c_str(), 0, KEY_READ | KEY_WOW64_32KEY,
                              key.Receive()),
              ERROR_SUCCESS);
    EXPECT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, parent.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, key.Receive()),
              ERROR_SUCCESS);
    key.Reset();
    EXPECT_EQ(RecordValue(config, L"guid"), guid);
    EXPECT_NE(app_.LogText().find("first.txt with result success"), std::string::npos);

    utils::ScopedRegKey tests;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\TandoraTests", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                        tests.Receive()) == ERROR_SUCCESS)
        ::RegDeleteTreeW(tests.Get(), parent.substr(22).c_str());
}

// What the user's record alone names is never run or deleted: a GUID that reaches into another
// key, a launch-on-exit path to any key, a record with no copy made by the stub.
TEST_F(ResumedRun, TamperedRecordsStartNothingAndDeleteNothing) {
    core::AppConfig& config = App().Config();
    const std::wstring root = L"Software\\TandoraTests\\Victim" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring victimGuid = core::NewGuidText();
    const std::wstring victim = root + L"\\Keep\\" + victimGuid;
    testsupport::TempFolder folder;
    const std::wstring marker = folder / L"ran.txt";
    ASSERT_TRUE(utils::WriteFrameworkValue(L"HKEY_LOCAL_MACHINE\\" + victim, L"regApp1",
                                           L"\"" + std::wstring(TANDORA_EXIT_WITH) + L"\" 0 \"" + marker + L"\"",
                                           false));
    const struct {
        const char* label;
        bool machineCopy;
        std::wstring guid;
        std::wstring launchOnExit;
    } cases[] = {
        {"guid holding a backslash", true, L"Keep\\" + victimGuid, victim.substr(9)},
        {"launch-on-exit naming another key", true, L"", victim.substr(9)},
        {"no copy made by the stub", false, victimGuid, victim.substr(9)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        utils::DeleteRegistryKey(MachineRecordKey(config), false);
        std::wstring guid = c.guid;
        if (c.machineCopy) {
            // The stub's own record of an install whose launch-on-exit key holds nothing.
            std::wstring parameters = L"LAUNCHONEXIT=TandoraTests\\Empty\\$GUID$";
            const std::wstring stored = core::RecordInstallResume(config, 0, parameters);
            if (guid.empty()) guid = stored;
        }
        StoreRecord(config, L"folder", L"C:\\kept");
        StoreRecord(config, L"guid", guid);
        StoreRecord(config, L"launchOnExit", c.launchOnExit);

        ASSERT_EQ(Call(L"startRegApps", kMethod), S_OK);
        utils::ScopedRegKey key;
        EXPECT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, victim.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, key.Receive()),
                  ERROR_SUCCESS);
    }
    const std::string log = app_.LogText();
    EXPECT_EQ(log.find(" with result "), std::string::npos) << log;
    EXPECT_NE(log.find("EMStartRegApps: resume record not written by the stub, nothing started or deleted"),
              std::string::npos);
    EXPECT_FALSE(utils::PathExists(marker));

    utils::ScopedRegKey tests;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\TandoraTests", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                        tests.Receive()) == ERROR_SUCCESS)
        ::RegDeleteTreeW(tests.Get(), root.substr(22).c_str());
}

// The user's started file, as a run started from the Downloads folder knows it.
utils::StartupSwitches StartedFromDownloads() {
    utils::StartupSwitches switches;
    switches.hasShortcut = true;
    std::wstring temp;
    utils::GetTempDirectory(temp);
    switches.shortcut = temp + L"Tandora22_setup_" + std::to_wstring(::GetCurrentProcessId()) + L".exe";
    testsupport::WriteFileBytes(switches.shortcut, "stub");
    return switches;
}

class DownloadedRun : public ResumeRows {
protected:
    DownloadedRun() : ResumeRows(StartedFromDownloads()) {}
    ~DownloadedRun() override { ::DeleteFileW(App().Switches().shortcut.c_str()); }
};

// A copy that cannot be made (here: the running stub held by another reader) still leaves an
// entry, for the file the user started; with no such file the page hears an error.
TEST_F(DownloadedRun, AFailedCopyStillLeavesTheResumeOrAnError) {
    std::wstring own;
    ASSERT_TRUE(utils::GetOwnModulePath(own));
    utils::ScopedFileHandle held(
        ::CreateFileW(own.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held.IsValid());

    const std::wstring& started = App().Switches().shortcut;
    EXPECT_EQ(RunOnceRoundTrip(), L"\"" + started + L"\" RESUME=INSTALLING");
    EXPECT_NE(app_.LogText().find("EMRunAfterReboot copy of the stub failed: 32"), std::string::npos);

    ASSERT_TRUE(::DeleteFileW(started.c_str()));
    htmluitest::Args args;
    args.Text(L"INSTALLING");
    EXPECT_TRUE(FAILED(Call(L"runAfterReboot", kMethod, args, nullptr)));
    DWORD type = 0;
    std::wstring data;
    EXPECT_FALSE(ReadMachineValue(kRunOnce, L"Tandora_22", KEY_WOW64_64KEY, type, data));
    EXPECT_NE(app_.LogText().find("EMRunAfterReboot no run-once entry"), std::string::npos);
}

} // namespace
