#include <gtest/gtest.h>

#include "stubframework/utils/WideFormat.h"

using namespace stubframework::utils;

// Wide formats follow the Windows rules: %s is UTF-16, %S is 8-bit.
TEST(WideFormat, LowerSIsUtf16CapitalSIs8BitAndLongTextIsWhole) {
    EXPECT_EQ(FormatWide(L"%s|%S|%d|%x|%u", L"wide", "narrow", -3, 0x304A8, 7u), L"wide|narrow|-3|304a8|7");
    const std::wstring big(5000, L'x');
    EXPECT_EQ(FormatWide(L"<%s>", big.c_str()).size(), 5002u);
    EXPECT_EQ(FormatWide(nullptr), L"");
}

TEST(WideFormat, AnsiConversionReplacesMissingCharacters) {
    EXPECT_EQ(ToAnsi(L"abc"), "abc");
    EXPECT_EQ(ToAnsi(L"a\u4e2d\u0416b"), "a??b");
}
