#include <gtest/gtest.h>

#include "stubframework/core/StatusCodes.h"

using namespace stubframework::core;

TEST(FinalStatus, StartedCountsAsCanceledAndMaintenanceAddsItsTens) {
    EXPECT_EQ(FinalStatus(0, L""), 3);
    EXPECT_EQ(FinalStatus(0, L"Repair"), 83);
    EXPECT_EQ(FinalStatus(1, L"Remove"), 91);
    EXPECT_EQ(FinalStatus(2, L"Modify"), 72);
    EXPECT_EQ(FinalStatus(1, L"remove"), 1);      // exact, case-sensitive option names
    EXPECT_EQ(FinalStatus(4, L"Remove"), 4);
    EXPECT_EQ(FinalStatus(6, L"Repair"), 6);
    EXPECT_EQ(FinalStatus(-1, L""), -1);
}

TEST(MajorVersion, IsTheTextBeforeTheFirstDot) {
    EXPECT_EQ(MajorVersion(L"22.0.0"), L"22");
    EXPECT_EQ(MajorVersion(L"7"), L"7");
    EXPECT_EQ(MajorVersion(L""), L"");
}
