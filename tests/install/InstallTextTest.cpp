// The text rules of the install: parameters, interpreted switches and progress messages.
#include "stubframework/core/InstallText.h"

#include <gtest/gtest.h>

using namespace stubframework::core;
using stubframework::utils::ArgList;

TEST(InstallParameters, PassThroughThenPageTextAndQuietOnlyForAWholeQnArgument) {
    EXPECT_EQ(ComposeInstallParameters(L"", {L"stub.exe", L"run=1"}, L"PROP=1"), L" PROP=1");
    EXPECT_EQ(ComposeInstallParameters(L"A=1 B=2", {L"stub.exe", L"/qn"}, L"PROP=1"), L"A=1 B=2 PROP=1 /qn");
    // The program itself and arguments that merely contain the switch do not count.
    EXPECT_EQ(ComposeInstallParameters(L"", {L"/QN", L"/qnx", L"x/qn"}, L""), L" ");

    EXPECT_TRUE(HasWholeArgument(ArgList{L"", L"/V/qn"}, L"/v/QN"));
    EXPECT_FALSE(HasWholeArgument(ArgList{L"/qn2", L"a/qn"}, L"/QN"));
}

TEST(InstallParameters, SwitchRemovalTakesTheTokenAndItsModeLettersEverywhere) {
    std::wstring parameters = L" /qn /l*v $LOGFILE$ PROP=1 /QN";
    RemoveSwitchToken(parameters, L"/qn");
    RemoveSwitchToken(parameters, L"/l");
    RemoveSwitchToken(parameters, L"$LOGFILE$");
    EXPECT_EQ(parameters, L"    PROP=1 ");

    std::wstring last = L"A=1 /L*V";
    RemoveSwitchToken(last, L"/l");
    EXPECT_EQ(last, L"A=1 ");

    std::wstring text = L"x $LOGFILE$ y $LOGFILE$";
    EXPECT_TRUE(ReplaceFirst(text, L"$LOGFILE$", L"\"C:\\l.txt\""));
    EXPECT_EQ(text, L"x \"C:\\l.txt\" y $LOGFILE$");
    EXPECT_FALSE(ReplaceFirst(text, L"$STUBPATH$", L"\"\""));
}

// The files parameters name, as the installer will split them: what must lie on the ground,
// and the transforms the stub takes from its cache.
TEST(InstallParameters, FilesTheParametersNameAreFoundInEveryForm) {
    using Names = std::vector<std::wstring>;
    const struct {
        ArgList args;
        bool msi;
        Names transforms;
        Names paths;
    } cases[] = {
        {{L"/qf", L"TRANSFORMS=1031.mst", L"ALLUSERS=1", L"INSTALLDIR=D:\\Apps x"}, true, {L"1031.mst"}, {}},
        // The installer takes the last assignment; secure-transform marks go, embedded ones stay.
        {{L"TRANSFORMS=a.mst", L"transforms=@b.mst;:Embedded;|C:\\t\\c.mst;"}, true,
         {L"b.mst", L":Embedded", L"C:\\t\\c.mst"}, {}},
        {{L"PATCH=a.msp;\\\\server\\share\\b.msp", L"PROP=C:/x.ini", L"/log:D:\\l.txt", L"\\\\server\\s\\y"}, true, {},
         {L"a.msp", L"\\\\server\\share\\b.msp", L"C:/x.ini", L"D:\\l.txt", L"\\\\server\\s\\y"}},
        // Not a Windows Installer package: its TRANSFORMS is an argument like any other.
        {{L"0", L"C:\\marker.txt", L"TRANSFORMS=E:\\t.mst", L"/q", L"C:relative", L"INSTALLDIR=C:\\x"}, false, {},
         {L"C:\\marker.txt", L"E:\\t.mst"}},
    };
    for (const auto& c : cases) {
        const InstallFileNames names = NamedInstallFiles(c.args, c.msi);
        EXPECT_EQ(names.transforms, c.transforms) << testing::PrintToString(c.args);
        EXPECT_EQ(names.paths, c.paths) << testing::PrintToString(c.args);
    }

    // Every assignment goes, quoted values with blanks included; the rest stays as it was.
    std::wstring parameters = L"/qn TRANSFORMS=\"a b.mst\" A=1 \"Transforms=c.mst\" B=\"TRANSFORMS=x\"";
    RemoveProperty(parameters, L"TRANSFORMS");
    EXPECT_EQ(parameters, L"/qn  A=1  B=\"TRANSFORMS=x\"");

    EXPECT_EQ(QuotedProperty(L"INSTALLDIR", L"D:\\Apps x\\"), L" INSTALLDIR=\"D:\\Apps x\\\"");
    for (const wchar_t* folder : {L"", L"x\" TRANSFORMS=\"e.mst", L"D:\\a\nb", L"D:\\a\tb"})
        EXPECT_FALSE(IsQuotableFolder(folder)) << testing::PrintToString(std::wstring(folder));
    EXPECT_TRUE(IsQuotableFolder(L"D:\\Program Files (x86)\\T\u00e4ndora 22\\"));
}

TEST(MsiProgress, PairsAreReadUntilTheEndABadPairOrAFieldAboveThree) {
    MsiProgressFields fields;
    ASSERT_TRUE(ParseMsiProgress(L"1: 2 2: 1500 3: 1 4: 7 ", fields));
    EXPECT_EQ(fields.kind, 2);
    EXPECT_EQ(fields.amount, 1500);
    EXPECT_EQ(fields.flag, 1);

    ASSERT_TRUE(ParseMsiProgress(L"1: 0 2: 9 3: 0 4: 1 5: 3 2: 5", fields));
    EXPECT_EQ(fields.amount, 9) << "field 5 ends the message";
    EXPECT_TRUE(fields.hasPhase);
    EXPECT_EQ(fields.phase, 1);
    ASSERT_TRUE(ParseMsiProgress(L"1: 1 2: x 3: 1", fields));
    EXPECT_EQ(fields.kind, 1);
    EXPECT_EQ(fields.flag, 0) << "reading stops at the bad value";
    ASSERT_TRUE(ParseMsiProgress(L"1: 2 2: -5", fields));
    EXPECT_EQ(fields.amount, -5);
    // Values past 32 bits are bad values, not wrapped ones (2^32 + 100 would read as 100).
    for (const wchar_t* text : {L"1: 2 2: 4294967396", L"1: 2 2: 2147483648", L"1: 2 2: 99999999999999999999"}) {
        ASSERT_TRUE(ParseMsiProgress(text, fields)) << text;
        EXPECT_EQ(fields.amount, 0) << text;
    }
    ASSERT_TRUE(ParseMsiProgress(L"1: 2 2: 2147483647", fields));
    EXPECT_EQ(fields.amount, 2147483647);
    EXPECT_FALSE(ParseMsiProgress(L"4294967297: 1", fields));

    EXPECT_FALSE(ParseMsiProgress(L"", fields));
    EXPECT_FALSE(ParseMsiProgress(L"progress", fields));
    EXPECT_FALSE(ParseMsiProgress(L"70000: 1", fields)) << "field numbers are 16-bit";
    EXPECT_FALSE(ParseMsiProgress(L"1:", fields));
}

TEST(MsiProgress, TheSecondResetSetsTheTotalAndOnlyThenProgressCounts) {
    MsiTicks ticks{1, 0, 0};
    auto apply = [&](const wchar_t* text) {
        MsiProgressFields fields;
        ASSERT_TRUE(ParseMsiProgress(text, fields));
        ApplyMsiProgress(fields, ticks);
    };
    apply(L"1: 0 2: 50 3: 0 4: 1");     // script generation: total stays
    apply(L"1: 2 2: 10");               // too early to count
    EXPECT_EQ(ticks.total, 1u);
    EXPECT_EQ(ticks.current, 0u);
    apply(L"1: 0 2: 1000 3: 0");        // the install script
    EXPECT_EQ(ticks.total, 1000u);
    apply(L"1: 1 2: 24 3: 1");          // action adds ticks of its own
    apply(L"1: 1 2: 99 3: 0");          // this one does not
    EXPECT_EQ(ticks.total, 1024u);
    apply(L"1: 2 2: 300");
    apply(L"1: 2 2: 200");
    apply(L"1: 3 2: 500");              // other kinds are ignored
    EXPECT_EQ(ticks.current, 500u);
    apply(L"1: 0 2: 7 3: 0");           // later resets leave the total alone
    EXPECT_EQ(ticks.total, 1024u);
    EXPECT_EQ(ticks.resets, 3);

    // Without a script phase the first reset is the execution's.
    ticks = MsiTicks{1, 0, 0};
    apply(L"1: 0 2: 38408 3: 0 4: 0");
    apply(L"1: 2 2: 24000 3: 0 4: 0");
    EXPECT_EQ(ticks.total, 38408u);
    EXPECT_EQ(ticks.current, 24000u);

    MsiTicks empty{0, 0, 2};
    MsiProgressFields action;
    ASSERT_TRUE(ParseMsiProgress(L"1: 1 2: 24 3: 1", action));
    ApplyMsiProgress(action, empty);
    EXPECT_EQ(empty.total, 0u) << "no total yet: action ticks are not added";
}
