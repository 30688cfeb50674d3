// The pure rules of the registry and system rows: suffix lists and matches of the registry search, the
// decimal reading of WriteRegistryValue, the minimum-system names of checkOS. No Windows
// headers: native_pure.sh also builds these with the host compiler under the sanitizers.
#include <gtest/gtest.h>

#include "stubframework/core/OsRequirement.h"
#include "stubframework/utils/RegistryText.h"

#include <cstdint>
#include <string>
#include <vector>

using namespace stubframework;
using namespace stubframework::utils;

namespace {
std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }
} // namespace

TEST(RegistryText, SuffixListsKeepEmptyItemsAndMatchTextEndsAnyCase) {
    EXPECT_TRUE(SplitSuffixList(L"").empty());
    EXPECT_EQ(SplitSuffixList(L"a"), (std::vector<std::wstring>{L"a"}));
    EXPECT_EQ(SplitSuffixList(L"a;;b\\c;"), (std::vector<std::wstring>{L"a", L"", L"b\\c", L""}));

    EXPECT_TRUE(RelativePathHasSuffix(L"16.0\\Word\\InstallRoot\\", L"Word\\InstallRoot"));
    EXPECT_TRUE(RelativePathHasSuffix(L"16.0\\Word\\InstallRoot\\", L"wORD\\iNSTALLrOOT"));
    EXPECT_TRUE(RelativePathHasSuffix(L"16.0\\Word\\InstallRoot\\", L"16.0\\Word\\InstallRoot"));
    EXPECT_TRUE(RelativePathHasSuffix(L"16.0\\Word\\InstallRoot\\", L"Root"));   // a plain text suffix
    EXPECT_FALSE(RelativePathHasSuffix(L"16.0\\Word\\InstallRoot\\", L"Word"));
    EXPECT_FALSE(RelativePathHasSuffix(L"16.0\\Word\\InstallRoot\\", L"16.0\\Word\\InstallRoot\\"));
    EXPECT_FALSE(RelativePathHasSuffix(L"A\\", L"\\A"));
    EXPECT_TRUE(RelativePathHasSuffix(L"A\\", L""));
    EXPECT_FALSE(RelativePathHasSuffix(L"", L""));
}

TEST(RegistryText, DecimalTextReadsLikeStoi) {
    struct Case { const wchar_t* text; DecimalParse outcome; std::int32_t value; };
    const Case cases[] = {
        {L"0", DecimalParse::Ok, 0},
        {L"1603", DecimalParse::Ok, 1603},
        {L"  -12abc", DecimalParse::Ok, -12},
        {L"\t+7", DecimalParse::Ok, 7},
        {L"2147483647", DecimalParse::Ok, 2147483647},
        {L"-2147483648", DecimalParse::Ok, INT32_MIN},
        {L"2147483648", DecimalParse::OutOfRange, 0},
        {L"-2147483649", DecimalParse::OutOfRange, 0},
        {L"99999999999999999999999", DecimalParse::OutOfRange, 0},
        {L"", DecimalParse::Invalid, 0},
        {L"abc", DecimalParse::Invalid, 0},
        {L"-", DecimalParse::Invalid, 0},
        {L" + 1", DecimalParse::Invalid, 0},
    };
    for (const Case& c : cases) {
        std::int32_t value = 0;
        EXPECT_EQ(ParseDecimalPrefix(c.text, value), c.outcome) << Narrow(c.text);
        if (c.outcome == DecimalParse::Ok) {
            EXPECT_EQ(value, c.value) << Narrow(c.text);
        }
    }
}

TEST(OsRequirement, KnownNamesSetTheMinimumAndAnythingElseMeansWindows7) {
    struct Case { const wchar_t* name; unsigned major, minor; };
    const Case cases[] = {
        {L"Windows XP", 5, 1},  {L"Windows Vista", 6, 0}, {L"Windows 7", 6, 1},   {L"Windows 7 SP1", 6, 1},
        {L"Windows 8", 6, 2},   {L"Windows 8.1", 6, 3},   {L"Windows 10", 10, 0}, {L"Windows XP SP3", 6, 1},
        {L"Windows Server", 6, 1}, {L"windows 10", 6, 1}, {L"", 6, 1},
    };
    for (const Case& c : cases) {
        const core::OsVersionNumber v = core::RequiredOsVersion(c.name);
        EXPECT_EQ(v.major, c.major) << Narrow(c.name);
        EXPECT_EQ(v.minor, c.minor) << Narrow(c.name);
    }
    EXPECT_TRUE(core::OsMeetsRequirement({6, 1}, {6, 1}));    // "Windows 7 SP1" on Windows 7
    EXPECT_TRUE(core::OsMeetsRequirement({6, 3}, {10, 0}));
    EXPECT_TRUE(core::OsMeetsRequirement({6, 2}, {10, 0}));
    EXPECT_FALSE(core::OsMeetsRequirement({10, 0}, {6, 3}));
    EXPECT_FALSE(core::OsMeetsRequirement({6, 2}, {6, 1}));
    EXPECT_TRUE(core::OsMeetsRequirement({5, 1}, {6, 0}));
}
