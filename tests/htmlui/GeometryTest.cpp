// Placement arithmetic of the host window.
#include <gtest/gtest.h>

#include "stubframework/htmlui/WindowGeometry.h"

using namespace stubframework::htmlui;

namespace stubframework { namespace htmlui {
bool operator==(const Box& a, const Box& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
std::ostream& operator<<(std::ostream& out, const Box& b) {
    return out << "(" << b.left << "," << b.top << "," << b.right << "," << b.bottom << ")";
}
}} // namespace stubframework::htmlui

TEST(WindowGeometry, ScalesByDpiTruncating) {
    EXPECT_EQ(ScaleToDpi(400, 96), 400);
    EXPECT_EQ(ScaleToDpi(400, 144), 600);
    EXPECT_EQ(ScaleToDpi(200, 144), 300);
    EXPECT_EQ(ScaleToDpi(401, 120), 501);   // 501.25
    EXPECT_EQ(ScaleToDpi(3, 100), 3);       // 3.125
}

TEST(WindowGeometry, CentresOnTheReferenceAndStaysInsideTheWorkArea) {
    const Box work = {0, 0, 1280, 984};
    EXPECT_EQ(PlaceOuterSize(400, 200, work, work), (Box{440, 392, 840, 592}));

    // A reference near the right and bottom edges pushes the window back inside.
    const Box nearCorner = {1100, 900, 1300, 1000};
    EXPECT_EQ(PlaceOuterSize(400, 200, nearCorner, work), (Box{880, 784, 1280, 984}));
    // Near the left and top edges.
    const Box nearOrigin = {-50, -40, 50, 40};
    EXPECT_EQ(PlaceOuterSize(400, 200, nearOrigin, work), (Box{0, 0, 400, 200}));
    // Larger than the work area: left and top win.
    EXPECT_EQ(PlaceOuterSize(1500, 1100, work, work), (Box{0, 0, 1500, 1100}));
    // A second monitor left of the primary one.
    const Box left = {-1920, 0, 0, 1040};
    EXPECT_EQ(PlaceOuterSize(600, 300, left, left), (Box{-1260, 370, -660, 670}));
}
