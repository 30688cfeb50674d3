// The maintenance rows: the uninstall entry, the maintenance launch, remove and repair through
// msiexec, and the package search with its cancel.
#include "tests/maintenance/MaintenanceSupport.h"

#include <msi.h>
#include <shlobj.h>
#include <algorithm>
#include <cwctype>
#include <regex>

#include "stubframework/core/HtmlExternal.h"
#include "stubframework/core/InstallWorkflow.h"
#include "stubframework/core/ResumeManager.h"
#include "stubframework/utils/CommandLine.h"
#include "stubframework/utils/CommandLineArgs.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/Registry.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"

using namespace stubframework;
using maintenancetest::LogLineAfter;
using maintenancetest::MaintenanceRows;
using maintenancetest::ReadMachineValue;

namespace {

const wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const wchar_t kProbeCode[] = L"{A47C3E92-1D5B-4F60-8E7A-3B9C2D1E0F45}";

class MaintenanceRun : public MaintenanceRows {
protected:
    std::wstring LogFolder() { return core::InstallLogFolder(App()); }
    std::string Log() { return app_.LogText(); }
    static std::string Narrow(const std::wstring& text) { return htmluitest::Narrow(text); }
};

bool Wow64() {
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

std::wstring UpperGuid() {
    std::wstring guid = core::NewGuidText();
    for (wchar_t& c : guid) c = static_cast<wchar_t>(::towupper(c));
    return guid;
}

void DeleteUninstallKey(const std::wstring& code, REGSAM view) {
    utils::ScopedRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstall, 0, KEY_ALL_ACCESS | view, key.Receive()) == ERROR_SUCCESS)
        ::RegDeleteTreeW(key.Get(), code.c_str());
}

// The entry starts a new copy of the stub in a private folder of its own below the product's
// common folder, its path quoted; a maintenance launch from either command is recognised.
TEST_F(MaintenanceRun, UninstallEntryPointsAtANewStubCopyInTheProductsView) {
    std::wstring own;
    ASSERT_TRUE(utils::GetOwnModulePath(own));
    wchar_t common[MAX_PATH] = {};
    ASSERT_EQ(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common), S_OK);
    const std::wstring productFolder = std::wstring(common) + L"\\Zarvo\\Tandora\\";
    DWORD type = 0;
    std::wstring text;

    // A 32-bit product, its code without braces; then a 64-bit one whose code has its braces.
    const std::wstring code32 = UpperGuid();
    const std::wstring code64 = L"{" + UpperGuid() + L"}";
    const struct {
        std::wstring code;
        std::wstring key;
        bool is64Bit;
    } products[] = {{code32, std::wstring(kUninstall) + L"{" + code32 + L"}", false},
                    {code64, std::wstring(kUninstall) + code64, true}};
    std::wstring copies[2];
    for (int i = 0; i < 2; ++i) {
        htmluitest::Args args;
        args.Text(products[i].code.c_str()).Bool(products[i].is64Bit);
        ASSERT_EQ(Call(L"setUninstallRegistryFromStub", kMethod, args, nullptr), S_OK);
        const REGSAM view = products[i].is64Bit ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
        ASSERT_TRUE(ReadMachineValue(products[i].key, L"DisplayIcon", view, type, text));
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        const std::wstring copy = copies[i] = text;
        // productFolder + 16 hex digits + "\" + the stub's own name.
        ASSERT_EQ(copy.size(), productFolder.size() + 17 + utils::FileNameOf(own).size()) << Narrow(copy);
        EXPECT_EQ(copy.compare(0, productFolder.size(), productFolder), 0) << Narrow(copy);
        EXPECT_EQ(utils::FileNameOf(copy), utils::FileNameOf(own));
        std::string copied, original;
        ASSERT_TRUE(testsupport::ReadFileBytes(copy, copied));
        ASSERT_TRUE(testsupport::ReadFileBytes(own, original));
        EXPECT_TRUE(copied == original);

        const struct { const wchar_t* name; DWORD type; std::wstring data; const wchar_t* mode; } kValues[] = {
            {L"UninstallString", REG_EXPAND_SZ, L"\"" + copy + L"\" /uninstall ", L"uninstall"},
            {L"ModifyPath", REG_EXPAND_SZ, L"\"" + copy + L"\" /modify ", L"modify"},
            {L"WindowsInstaller", REG_DWORD, L"0", L""},
        };
        for (const auto& value : kValues) {
            ASSERT_TRUE(ReadMachineValue(products[i].key, value.name, view, type, text)) << Narrow(value.name);
            EXPECT_EQ(type, value.type);
            EXPECT_EQ(text, value.data);
            if (!*value.mode) continue;
            const utils::ArgList args = utils::SplitCommandLine(text);
            ASSERT_FALSE(args.empty());
            EXPECT_EQ(args[0], copy);
            EXPECT_EQ(utils::ParseStartupSwitches(args, text).maintenanceMode, value.mode);
        }
        // The prefix is 64-bit: the two views are apart.
        ASSERT_TRUE(Wow64());
        EXPECT_FALSE(ReadMachineValue(products[i].key, L"UninstallString",
                                      products[i].is64Bit ? KEY_WOW64_32KEY : KEY_WOW64_64KEY, type, text));
    }
    EXPECT_NE(utils::ParentFolder(copies[0]), utils::ParentFolder(copies[1]));
    EXPECT_NE(Log().find("SetUninstallRegistryFromStub result: success"), std::string::npos);

    DeleteUninstallKey(L"{" + code32 + L"}", KEY_WOW64_32KEY);
    DeleteUninstallKey(code64, KEY_WOW64_64KEY);
    for (const std::wstring& copy : copies) utils::DeleteFolderTree(utils::ParentFolder(copy));
}

// The stub as the uninstall entry starts it, and as the user starts it.
struct ModeCase {
    const char* name;
    const wchar_t* argument;
    const wchar_t* option;   // "" when not a maintenance launch
};

class ModeLaunch : public MaintenanceRows, public testing::WithParamInterface<ModeCase> {
protected:
    ModeLaunch()
        : MaintenanceRows(utils::ParseStartupSwitches({L"C:\\ProgramData\\Zarvo\\Tandora\\S.exe", GetParam().argument},
                                                      L"")) {}
};

TEST_P(ModeLaunch, SetsTheOptionsOnlyForMaintenance) {
    BuildTable();
    Bridge().SetProperty(L"defaultOption", L"untouched");
    utils::ScopedVariant result;
    ASSERT_EQ(Call(L"isUninstallModeLaunch", kMethod, result.Receive()), S_OK);
    ASSERT_EQ(V_VT(&result.Get()), VT_BOOL);
    const std::wstring option = GetParam().option;
    EXPECT_EQ(V_BOOL(&result.Get()) == VARIANT_TRUE, !option.empty());
    EXPECT_EQ(Bridge().GetProperty(L"defaultOption"), option.empty() ? L"untouched" : option);
    if (!option.empty()) {
        EXPECT_EQ(Bridge().GetProperty(L"uninstallMode"), option);
    }
}

// Called as a statement, with no slot for the result: the properties are set all the same.
TEST_P(ModeLaunch, SetsTheOptionsWithoutAResultSlot) {
    BuildTable();
    Bridge().SetProperty(L"defaultOption", L"untouched");
    ASSERT_EQ(Call(L"isUninstallModeLaunch", kMethod, nullptr), S_OK);
    const std::wstring option = GetParam().option;
    EXPECT_EQ(Bridge().GetProperty(L"defaultOption"), option.empty() ? L"untouched" : option);
    EXPECT_EQ(Bridge().GetProperty(L"uninstallMode"), option);
}

INSTANTIATE_TEST_SUITE_P(Arguments, ModeLaunch,
                         testing::Values(ModeCase{"UninstallInCapitals", L"/UNINSTALL", L"uninstall"},
                                         ModeCase{"ModifyInsideOtherText", L"x/modifyy", L"modify"},
                                         ModeCase{"PlainRun", L"RESUME=INSTALLING", L""}),
                         [](const testing::TestParamInfo<ModeCase>& info) { return std::string(info.param.name); });

INSTALLSTATE ProbeState() { return ::MsiQueryProductStateW(kProbeCode); }

TEST_F(MaintenanceRun, RemoveProgramUninstallsThroughMsiexec) {
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH), 0u);
    const std::wstring msiexec = std::wstring(system) + L"\\msiexec.exe";
    DWORD exitCode = 0;
    ASSERT_TRUE(testsupport::RunChild(msiexec, L"msiexec.exe /i \"" + std::wstring(TANDORA_MAINTENANCE_PROBE_MSI) +
                                                   L"\" /qn", {}, 120000, exitCode));
    ASSERT_EQ(exitCode, 0u);
    ASSERT_EQ(ProbeState(), INSTALLSTATE_DEFAULT);

    htmluitest::Args args;
    args.Text(L"probe").Bool(true).Text(L"A47C3E92-1D5B-4F60-8E7A-3B9C2D1E0F45");
    ASSERT_EQ(Start(L"removeProgram", args), S_OK);
    EXPECT_EQ(WaitForResult(), 0);
    EXPECT_NE(ProbeState(), INSTALLSTATE_DEFAULT);
    EXPECT_EQ(Bridge().InstallCurrent(), 150u);
    EXPECT_EQ(Bridge().InstallTotal(), 150u);

    const std::string line = LogLineAfter(Log(), "Uninstall ");
    const std::regex expected("msiexec\\.exe /uninstall \\{A47C3E92-1D5B-4F60-8E7A-3B9C2D1E0F45\\} /qn /norestart "
                              "/l\\*v \"(.*remove_probe_[0-9]{14}\\.log)\", return 0, error handler 0");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, expected)) << line;
    EXPECT_EQ(match[1].str().rfind(Narrow(LogFolder()), 0), 0u) << line;
    // The installer's log goes with an error report when it was written.
    const std::string logText = match[1].str();
    const std::wstring logPath(logText.begin(), logText.end());
    const auto& files = App().Analytics().reportFiles();
    EXPECT_EQ(std::find(files.begin(), files.end(), logPath) != files.end(), utils::PathExists(logPath));

    if (ProbeState() == INSTALLSTATE_DEFAULT)
        testsupport::RunChild(msiexec, std::wstring(L"msiexec.exe /x ") + kProbeCode + L" /qn", {}, 120000, exitCode);
}

// A product with an uninstaller of its own: that one runs, with the silent switches appended.
TEST_F(MaintenanceRun, RemoveProgramPrefersTheRegisteredUninstaller) {
    testsupport::TempFolder folder;
    const std::wstring record = folder / L"command.txt";
    const std::wstring code = L"{" + UpperGuid() + L"}";
    const std::wstring key = L"HKEY_LOCAL_MACHINE\\" + std::wstring(kUninstall) + code;
    ASSERT_TRUE(utils::WriteFrameworkValue(key, L"UninstallString",
                                           L"\"" + std::wstring(TANDORA_EXIT_WITH) + L"\" 3010 " + record + L" ",
                                           true));

    htmluitest::Args args;
    args.Text(L"own").Bool(false).Text(code.c_str());
    ASSERT_EQ(Start(L"removeProgram", args), S_OK);
    EXPECT_EQ(WaitForResult(), 11);   // 3010: reboot required
    utils::ScopedVariant last;
    ASSERT_EQ(Call(L"getLastInstallError", kMethod, last.Receive()), S_OK);
    EXPECT_EQ(V_UI4(&last.Get()), 3010u);

    std::string bytes;
    ASSERT_TRUE(testsupport::ReadFileBytes(record, bytes));
    const std::wstring seen(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    const std::wregex tail(L".* 3010 .*command\\.txt /qn /norestart /l\\*v \".*remove_own_[0-9]{14}\\.log\"");
    EXPECT_TRUE(std::regex_match(seen, tail)) << Narrow(seen);

    DeleteUninstallKey(code, KEY_WOW64_64KEY);
}

// Wine's msiexec has no repair and answers 1: the command line and the mapping are what counts.
TEST_F(MaintenanceRun, RepairProgramRunsMsiexecRepair) {
    htmluitest::Args args;
    args.Text(L"probe").Text(L"A47C3E92-1D5B-4F60-8E7A-3B9C2D1E0F45");
    ASSERT_EQ(Start(L"repairProgram", args), S_OK);
    EXPECT_EQ(WaitForResult(), 1);

    const std::string folder = Narrow(LogFolder());
    const std::string line = LogLineAfter(Log(), "Uninstall ");
    const std::string head = "msiexec.exe /f {A47C3E92-1D5B-4F60-8E7A-3B9C2D1E0F45} /qn /norestart /l*v \"" + folder +
                             "repair_probe_";
    ASSERT_EQ(line.compare(0, head.size(), head), 0) << line;
    EXPECT_TRUE(std::regex_match(line.substr(head.size()),
                                 std::regex("[0-9]{14}\\.log\", return 1, error handler 1")))
        << line;
    utils::ScopedVariant last;
    ASSERT_EQ(Call(L"getLastInstallError", kMethod, last.Receive()), S_OK);
    EXPECT_EQ(V_UI4(&last.Get()), 1u);
}

class VerifyRun : public MaintenanceRun {
protected:
    void SetUp() override {
        root_ = folder_.Path().substr(0, folder_.Path().size() - 1);
        for (const wchar_t* sub : {L"\\A\\pkg", L"\\B\\pkg"}) ASSERT_TRUE(utils::CreateFolderTree(root_ + sub));
        // Same name outside "pkg" first, then the real one; B holds another file only.
        ASSERT_TRUE(testsupport::WriteFileBytes(root_ + L"\\A\\setup.msi", "x"));
        ASSERT_TRUE(testsupport::WriteFileBytes(root_ + L"\\A\\pkg\\setup.msi", "x"));
        ASSERT_TRUE(testsupport::WriteFileBytes(root_ + L"\\B\\pkg\\other.msi", "x"));
    }
    HRESULT Verify(const wchar_t* relativePath) {
        htmluitest::Args args;
        args.Text(root_.c_str()).Text(relativePath);
        return Start(L"verifyFileInSpecialDirectory", args);
    }
    testsupport::TempFolder folder_;
    std::wstring root_;
};

TEST_F(VerifyRun, FindsTheFolderHoldingThePackage) {
    ASSERT_EQ(Verify(L"pkg\\setup.msi"), S_OK);
    EXPECT_EQ(WaitForResult(), 0);
    EXPECT_EQ(Bridge().GetProperty(L"PackagePath"), root_ + L"\\A\\");

    ASSERT_EQ(Verify(L"pkg\\missing.msi"), S_OK);
    EXPECT_EQ(WaitForResult(), 4);
    EXPECT_EQ(Bridge().GetProperty(L"PackagePath"), L"");
}

TEST_F(VerifyRun, CancelGivesCancelledEvenWhenFound) {
    BuildTable();
    {
        // The worker cannot publish its result while the property map is held, so the cancel
        // surely lands while it runs.
        utils::ScopedLock hold(methods_->PropertyLock());
        ASSERT_EQ(Verify(L"pkg\\setup.msi"), S_OK);
        ASSERT_EQ(Call(L"cancelVerifyThread", kMethod), S_OK);
    }
    EXPECT_EQ(WaitForResult(), 9);
    EXPECT_NE(Log().find("EMCancelVerifyThread Finish"), std::string::npos);
}

} // namespace
