#include <gtest/gtest.h>

#include "stubframework/utils/CommandLine.h"
#include "stubframework/utils/CommandLineArgs.h"

using namespace stubframework::utils;

TEST(CommandLine, ArgValueSkipsProgramAndMatchesCaseSensitively) {
    const ArgList args = {L"parentProcessID=1", L"newversionexitcode=3", L"newVersionExitCode=5",
                          L"newVersionExitCode=6"};
    EXPECT_EQ(GetArgValue(args, L"newVersionExitCode"), L"5");
    EXPECT_EQ(GetArgValue(args, L"parentProcessID"), L"");   // only element 0 has it
    EXPECT_EQ(GetArgValue(args, L"missing"), L"");
}

TEST(CommandLine, QuotedValueNeedsItsExactNameAndAClosingQuote) {
    const std::wstring raw = L"x.exe passthrough=\"/a /b\" passthro=\"c\" broken=\"open";
    EXPECT_EQ(GetQuotedArgValue(raw, L"passthrough"), L"/a /b");
    EXPECT_EQ(GetQuotedArgValue(raw, L"passthro"), L"c");
    EXPECT_EQ(GetQuotedArgValue(raw, L"broken"), L"");
    EXPECT_EQ(GetQuotedArgValue(raw, L"absent"), L"");
}

TEST(CommandLine, SwitchesSkipTheProgramAndTheFirstResumeDecides) {
    const std::wstring raw =
        L"\"C:\\t\\S.exe\" RUN=1 Update=0 RESUME=installing shortcut=C:\\d\\S.exe "
        L"passthrough=\"/x\" passthro=\"/y\" newVersionExitCode=7 parentProcessID=42";
    const StartupSwitches s = ParseStartupSwitches(SplitCommandLine(raw), raw);
    EXPECT_TRUE(s.uiInstance);
    EXPECT_TRUE(s.noSelfUpdate);
    EXPECT_EQ(s.resumeMode, 2);
    EXPECT_TRUE(s.hasShortcut);
    EXPECT_EQ(s.shortcut, L"C:\\d\\S.exe");
    EXPECT_EQ(s.passThrough, L"/x /y");
    EXPECT_EQ(s.newVersionExitCode, L"7");
    EXPECT_EQ(s.parentProcessId, L"42");
    EXPECT_EQ(s.maintenanceMode, L"");

    const std::wstring plain = L"S.exe Shortcut=C:\\x RESUME=DOWNLOADING passthro=\"\"";
    const StartupSwitches p = ParseStartupSwitches(SplitCommandLine(plain), plain);
    EXPECT_FALSE(p.uiInstance);
    EXPECT_FALSE(p.hasShortcut);           // "shortcut=" is matched case-sensitively
    EXPECT_EQ(p.resumeMode, 1);
    EXPECT_EQ(p.passThrough, L"");

    // The first resume switch decides; the program path is never one.
    EXPECT_EQ(ParseStartupSwitches({L"S.exe", L"RESUME=INSTALLING", L"RESUME=DOWNLOADING"}, L"").resumeMode, 2);
    EXPECT_EQ(ParseStartupSwitches({L"RESUME=INSTALLING", L"x"}, L"").resumeMode, 0);
}

TEST(CommandLine, MaintenanceModeFromFirstArgumentNamingIt) {
    ArgList args = {L"C:\\p\\S.exe", L"/Modify", L"/UNINSTALL"};
    EXPECT_EQ(ParseStartupSwitches(args, L"").maintenanceMode, L"modify");
    args = {L"C:\\p\\S.exe", L"/modify/UNINSTALL"};
    EXPECT_EQ(ParseStartupSwitches(args, L"").maintenanceMode, L"uninstall");
    args = {L"C:\\p\\S.exe", L"x/modifyx"};
    EXPECT_EQ(ParseStartupSwitches(args, L"").maintenanceMode, L"modify");
    args = {L"C:\\p\\S.exe", L"run=1"};
    EXPECT_EQ(ParseStartupSwitches(args, L"").maintenanceMode, L"");
}

TEST(CommandLine, ArgumentsAreCutAfterAQuotedOrBareProgramPath) {
    EXPECT_EQ(ArgumentsAfterProgram(L"\"C:\\a b\\S.exe\" RESUME=INSTALLING"), L" RESUME=INSTALLING");
    EXPECT_EQ(ArgumentsAfterProgram(L"\"C:\\a b\\S.exe\""), L"");
    // The system starts an uninstall entry as an unquoted path.
    EXPECT_EQ(ArgumentsAfterProgram(L"C:\\ProgramData\\S.exe /uninstall "), L" /uninstall ");
    EXPECT_EQ(ArgumentsAfterProgram(L"S.exe\t/x"), L"\t/x");
    EXPECT_EQ(ArgumentsAfterProgram(L"S.exe"), L"");
    EXPECT_EQ(ArgumentsAfterProgram(L"\"S.exe\"run=0"), L" run=0");
    EXPECT_EQ(ArgumentsAfterProgram(L""), L"");
}

// The command the launcher gives its copy, read back by the system's own parser.
TEST(CommandLine, LauncherCommandKeepsArgumentOrder) {
    const std::wstring own = L"C:\\Users\\u\\Downloads\\Tandora22_setup.exe";

    ArgList a = SplitCommandLine(BuildStubCommand(ArgumentsAfterProgram(L"\"" + own + L"\""), L" run=1", own));
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[0], L"");
    EXPECT_EQ(a[1], L"run=1");
    EXPECT_EQ(a[2], L"shortcut=" + own);

    a = SplitCommandLine(
        BuildStubCommand(ArgumentsAfterProgram(L"\"" + own + L"\" RESUME=INSTALLING"), L" run=1", own));
    ASSERT_EQ(a.size(), 4u);
    EXPECT_EQ(a[1], L"RESUME=INSTALLING");
    EXPECT_EQ(a[2], L"run=1");
    EXPECT_EQ(a[3], L"shortcut=" + own);

    a = SplitCommandLine(BuildStubCommand(ArgumentsAfterProgram(own + L" /uninstall "), L" run=1", own));
    ASSERT_EQ(a.size(), 4u);
    EXPECT_EQ(a[1], L"/uninstall");
    EXPECT_EQ(ParseStartupSwitches(a, L"").maintenanceMode, L"uninstall");
}
