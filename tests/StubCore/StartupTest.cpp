// The three runs of the executable, as real processes with private temporary folders.
#include <gtest/gtest.h>

#include "stubframework/core/AppConfig.h"
#include "stubframework/core/ResumeCopy.h"
#include "stubframework/utils/CommandLineArgs.h"
#include "stubframework/utils/Ground.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/Registry.h"
#include "tests/StubCore/LogCheck.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LinuxSide.h"
#include "tests/support/TempFolder.h"

#include <vector>

using namespace stubframework;
using namespace testsupport;

namespace {
const DWORD kTimeout = 60000;

std::vector<std::wstring> ListFolder(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    utils::ScopedFindHandle find(::FindFirstFileW((folder + L"*").c_str(), &data));
    if (!find) return names;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (::FindNextFileW(find.Get(), &data));
    return names;
}

void DeleteFrameworkValue(const wchar_t* name) {
    HKEY root = nullptr;
    std::wstring sub;
    utils::SplitRegistryPath(core::AppConfig::DefaultFrameworkKeyPath(), root, sub);
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        utils::ScopedRegKey key;
        if (::RegOpenKeyExW(root, sub.c_str(), 0, KEY_SET_VALUE | view, key.Receive()) == ERROR_SUCCESS)
            ::RegDeleteValueW(key.Get(), name);
    }
}

std::wstring FrameworkValue(const wchar_t* name) {
    std::wstring value;
    utils::ReadFrameworkValue(core::AppConfig::DefaultFrameworkKeyPath(), name, value);
    return value;
}

class Startup : public testing::Test {
protected:
    void SetUp() override {
        options_.tempFolder = temp_.Path();
        DeleteFrameworkValue(L"status");
        DeleteFrameworkValue(L"selfupdate_code");
    }
    void TearDown() override { DeleteFrameworkValue(L"selfupdate_code"); }

    DWORD Run(const std::wstring& program, const std::wstring& arguments) {
        DWORD exitCode = 0xDEAD;
        EXPECT_TRUE(RunChild(program, L"\"" + program + L"\"" + arguments, options_, kTimeout, exitCode));
        return exitCode;
    }

    // The kept copy of the one log this run wrote, read and format-checked.
    std::vector<LogLine> KeptLog() {
        std::vector<LogLine> lines;
        const std::wstring kept = temp_.Path() + L"Tandora_log\\";
        const auto names = ListFolder(kept);
        EXPECT_EQ(names.size(), 1u);
        if (names.size() != 1) return lines;
        EXPECT_TRUE(IsLogFileName(names[0])) << "unexpected file in Tandora_log";
        EXPECT_TRUE(ReadLogLines(kept + names[0], lines));
        return lines;
    }

    static std::string Find(const std::vector<LogLine>& lines, const std::string& start) {
        for (const auto& line : lines)
            if (line.message.compare(0, start.size(), start) == 0) return line.message;
        return std::string();
    }

    TempFolder temp_;
    ChildOptions options_;
};

// The log is written in the ANSI code page.
utils::ArgList LoggedArguments(const std::string& commandLine) {
    const std::string raw = commandLine.substr(std::string("Command line: ").size());
    std::wstring wide(raw.size(), L'\0');
    const int length = raw.empty() ? 0 : ::MultiByteToWideChar(CP_ACP, 0, raw.data(), static_cast<int>(raw.size()),
                                                                &wide[0], static_cast<int>(wide.size()));
    wide.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return utils::SplitCommandLine(wide);
}
} // namespace

TEST_F(Startup, LauncherRunsUiInstanceAndCleansUp) {
    EXPECT_EQ(Run(TANDORA_SETUP_EXE, L""), 0u);

    // Only the kept log remains: the launcher's copy, the bundle and the log folder are gone.
    EXPECT_EQ(ListFolder(temp_.Path()), std::vector<std::wstring>{L"Tandora_log"});
    const auto lines = KeptLog();
    EXPECT_NE(Find(lines, "Load Resource from pe finished."), "");
    // The bundle was unpacked on the ground, where the user can neither write nor swap it.
    const std::string bundle = Find(lines, "load resource success, temporary folder path : ");
    const std::wstring ground = utils::GroundBase();
    const std::string base(ground.begin(), ground.end());
    EXPECT_NE(bundle.find(base), std::string::npos) << bundle << " not below " << base;
    // No HTML engine here: the window cannot be created and the run goes on to its end.
    EXPECT_NE(Find(lines, "HTML window creation failed."), "");

    const utils::ArgList args = LoggedArguments(Find(lines, "Command line: "));
    ASSERT_EQ(args.size(), 3u);
    EXPECT_EQ(args[0], L"");
    EXPECT_EQ(args[1], L"run=1");
    EXPECT_EQ(args[2], std::wstring(L"shortcut=") + TANDORA_SETUP_EXE);
    EXPECT_EQ(FrameworkValue(L"status"), L"4");
}

// The user's "<id>_log" folder replaced by a link to a folder of their choice: the elevated
// end of the run writes nothing through it.
TEST_F(Startup, KeptLogIsNeverWrittenThroughALink) {
    TempFolder victim;
    ASSERT_TRUE(MakeLinuxLink(victim.Path(), temp_.Path() + L"Tandora_log"));
    EXPECT_EQ(Run(TANDORA_SETUP_EXE, L""), 0u);
    EXPECT_TRUE(ListFolder(victim.Path()).empty());
}

TEST_F(Startup, LauncherPassesArgumentsFirst) {
    EXPECT_EQ(Run(TANDORA_SETUP_EXE, L" RESUME=INSTALLING"), 0u);
    const utils::ArgList args = LoggedArguments(Find(KeptLog(), "Command line: "));
    ASSERT_EQ(args.size(), 4u);
    EXPECT_EQ(args[1], L"RESUME=INSTALLING");
    EXPECT_EQ(args[2], L"run=1");
    EXPECT_EQ(args[3], std::wstring(L"shortcut=") + TANDORA_SETUP_EXE);
}

// The uninstall entry starts the stub's copy by its quoted path, which may hold blanks: the run
// is a maintenance run of the started copy, and the copy stays for the next one.
TEST_F(Startup, UninstallEntryStartsTheCopyInMaintenanceMode) {
    const std::wstring folder = temp_.Path() + L"My Stub\\";
    ASSERT_TRUE(utils::CreateFolderTree(folder));
    const std::wstring exe = folder + L"Setup.exe";
    ASSERT_TRUE(::CopyFileW(TANDORA_SETUP_EXE, exe.c_str(), FALSE));
    DWORD exitCode = 0xDEAD;
    ASSERT_TRUE(RunChild(exe, L"\"" + exe + L"\" /uninstall ", options_, kTimeout, exitCode));
    EXPECT_EQ(exitCode, 0u);
    const utils::ArgList args = LoggedArguments(Find(KeptLog(), "Command line: "));
    ASSERT_EQ(args.size(), 4u);
    EXPECT_EQ(args[1], L"/uninstall");
    EXPECT_EQ(args[2], L"run=1");
    EXPECT_EQ(args[3], L"shortcut=" + exe);
    EXPECT_EQ(utils::ParseStartupSwitches(args, L"").maintenanceMode, L"uninstall");
    EXPECT_TRUE(utils::PathExists(exe));
}

TEST_F(Startup, CapitalRunMarksUiInstance) {
    EXPECT_EQ(Run(TANDORA_SETUP_EXE, L" RUN=1"), 0u);
    const auto lines = KeptLog();
    EXPECT_EQ(LoggedArguments(Find(lines, "Command line: ")).size(), 2u);   // no launcher in between
    EXPECT_NE(Find(lines, "Load Resource from pe finished."), "");
}

TEST_F(Startup, SecondUiInstanceEndsAtOnce) {
    utils::ScopedHandle mutex(::CreateMutexW(nullptr, FALSE, L"ZarvoStubFramework"));
    ASSERT_TRUE(mutex);
    EXPECT_EQ(Run(TANDORA_SETUP_EXE, L" run=1"), 0u);
    EXPECT_TRUE(ListFolder(temp_.Path()).empty());   // no log, no bundle folder
}

TEST_F(Startup, MissingBundleEndsWithStatusTwoAndLogsProperties) {
    EXPECT_EQ(Run(TANDORA_BARE_EXE, L" run=1"), 0u);
    const auto lines = KeptLog();
    EXPECT_NE(Find(lines, "Load Resource from pe failed."), "");
    EXPECT_NE(Find(lines, "Property osbits: "), "");
    EXPECT_EQ(FrameworkValue(L"status"), L"2");
    EXPECT_EQ(ListFolder(temp_.Path()), std::vector<std::wstring>{L"Tandora_log"});
}

TEST_F(Startup, StaleSelfUpdateCodeBecomesExitCode) {
    ASSERT_TRUE(utils::WriteFrameworkValue(core::AppConfig::DefaultFrameworkKeyPath(), L"selfupdate_code",
                                           L"197800", false));
    EXPECT_EQ(Run(TANDORA_SETUP_EXE, L" run=1"), 197800u);
    // The launcher sees 197800 but no newer stub: it only cleans up.
    EXPECT_EQ(Run(TANDORA_SETUP_EXE, L""), 0u);
    const auto names = ListFolder(temp_.Path());
    EXPECT_EQ(names, std::vector<std::wstring>{L"Tandora_log"});
}

TEST_F(Startup, LocalRedirectionEndsWithOne) {
    const std::wstring exe = temp_.Path() + L"Setup.exe";
    ASSERT_TRUE(::CopyFileW(TANDORA_SETUP_EXE, exe.c_str(), FALSE));
    ASSERT_TRUE(::CreateDirectoryW((exe + L".local").c_str(), nullptr));
    EXPECT_EQ(Run(exe, L" run=1"), 1u);
    EXPECT_FALSE(utils::PathExists(temp_.Path() + L"Tandora_log"));
}

TEST_F(Startup, SelfReplaceWaitsForParentThenCopies) {
    const std::wstring started = temp_.Path() + L"Started.exe";
    ASSERT_TRUE(WriteFileBytes(started, "old stub"));

    // A parent that stays alive until the test ends it.
    wchar_t system[MAX_PATH];
    ::GetSystemDirectoryW(system, MAX_PATH);
    ChildOptions suspended = options_;
    suspended.creationFlags = CREATE_SUSPENDED;
    utils::ScopedHandle sleeper =
        StartChild(std::wstring(system) + L"\\cmd.exe", L"cmd.exe /c exit 0", suspended);
    ASSERT_TRUE(sleeper);

    const std::wstring args = L"\"" + std::wstring(TANDORA_SETUP_EXE) + L"\" run=1 shortcut=\"" + started +
                              L"\" newVersionExitCode=1603 parentProcessID=" +
                              std::to_wstring(::GetProcessId(sleeper.Get()));
    utils::ScopedHandle replace = StartChild(TANDORA_SETUP_EXE, args, options_);
    ASSERT_TRUE(replace);
    EXPECT_EQ(::WaitForSingleObject(replace.Get(), 1500), static_cast<DWORD>(WAIT_TIMEOUT));
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(started, bytes));
    EXPECT_EQ(bytes, "old stub");

    ::TerminateProcess(sleeper.Get(), 0);
    DWORD exitCode = 0;
    ASSERT_TRUE(WaitForExit(replace.Get(), kTimeout, exitCode));
    EXPECT_EQ(exitCode, 1603u);
    std::string copied, original;
    ASSERT_TRUE(ReadFileBytes(started, copied));
    ASSERT_TRUE(ReadFileBytes(TANDORA_SETUP_EXE, original));
    EXPECT_TRUE(copied == original);
    EXPECT_TRUE(ListFolder(temp_.Path()) == std::vector<std::wstring>{L"Started.exe"});   // no UI ran
}

// The user's own hive names folders for the elevated run to delete and run "setup.exe" from;
// only folders the stub made itself count.
TEST_F(Startup, ResumeRecordCannotAimTheRunAtUserFolders) {
    const std::wstring victim = temp_.Path() + L"victim";
    ASSERT_TRUE(utils::CreateFolderTree(victim + L"\\inner"));
    ASSERT_TRUE(WriteFileBytes(victim + L"\\inner\\keep.txt", "mine"));
    ASSERT_TRUE(WriteFileBytes(victim + L"\\setup.exe", "not a program"));
    const std::wstring record = core::AppConfig::DefaultFrameworkKeyPath() + L"\\ResumeRecord\\ExtractFolders";
    ASSERT_TRUE(utils::WriteFrameworkValue(record, L"C:\\pkg.zip__ZIP_Unzip_Folder__", victim, false));
    ASSERT_TRUE(utils::WriteFrameworkValue(record, L"C:\\pkg.zip__ZIP_EXE_Path__", victim, false));
    ASSERT_TRUE(utils::WriteFrameworkValue(record, L"C:\\two.zip__ZIP_Unzip_Folder__", victim + L"\\inner\\..", false));

    EXPECT_EQ(Run(TANDORA_SETUP_EXE, L" RESUME=INSTALLING"), 0u);
    EXPECT_TRUE(utils::PathExists(victim + L"\\inner\\keep.txt"));
    EXPECT_TRUE(utils::PathExists(victim + L"\\setup.exe"));
    EXPECT_NE(Find(KeptLog(), "Resume folder not made by this stub, ignored: C:\\pkg.zip__ZIP_Unzip_Folder__"), "");
}

// The run-once entry starts a copy kept where only administrators can write; the resumed run
// takes that copy away when it ends, though it was running from it.
TEST_F(Startup, ResumedRunRemovesTheCopyItRanFrom) {
    const std::wstring folder = core::ResumeCopyRoot() + L"0123456789abcdef\\";
    ASSERT_TRUE(utils::CreateFolderTree(folder));
    const std::wstring copy = folder + L"Tandora22_setup.exe";
    ASSERT_TRUE(::CopyFileW(TANDORA_SETUP_EXE, copy.c_str(), FALSE));
    EXPECT_EQ(Run(copy, L" RESUME=INSTALLING"), 0u);
    EXPECT_FALSE(utils::PathExists(copy));
    EXPECT_FALSE(utils::PathExists(folder));
    const utils::ArgList args = LoggedArguments(Find(KeptLog(), "Command line: "));
    ASSERT_EQ(args.size(), 4u);
    EXPECT_EQ(args[3], L"shortcut=" + copy);
}
