#include <gtest/gtest.h>

#include "layoutrules.h"

using fenwa::logoLeft;

TEST(LayoutRules, LogoIsCentredRightOfTheLastSeparator) {
    // 1000 wide, separator at 640 (2 wide), logo 115 wide: 243 free, 121 on the left.
    EXPECT_EQ(logoLeft(1000, 640, 2, 115), 640 + 121 + 2);
    // Exactly enough room: the logo touches the right edge.
    EXPECT_EQ(logoLeft(757, 640, 2, 115), 642 + 2);
    // Odd free space: division truncates (13 free, 6 on the left).
    EXPECT_EQ(logoLeft(770, 640, 2, 115), 640 + 6 + 2);
}

TEST(LayoutRules, NarrowWindowKeepsTheLogoTwoPixelsRightOfTheSeparator) {
    EXPECT_EQ(logoLeft(700, 640, 2, 115), 644);
    // Truncation toward zero of a negative half.
    EXPECT_EQ(logoLeft(756, 640, 2, 115), 644);
    EXPECT_EQ(logoLeft(0, 640, 2, 115), 644);
}

TEST(LayoutRules, ViewerScrollsByAFifthAndStopsAtTheEdges) {
    EXPECT_EQ(fenwa::scrollStep(1024), 205); // 204.8
    EXPECT_EQ(fenwa::scrollStep(768), 154);  // 153.6
    using fenwa::clampScroll;
    // A 2000 wide picture in a 1024 wide client scrolls left until its edge is at -976.
    int x = 0;
    for (int i = 0; i < 4; ++i)
        x += clampScroll(x, 2000, 1024, -205);
    EXPECT_EQ(x, -820);
    x += clampScroll(x, 2000, 1024, -205);
    EXPECT_EQ(x, -976);
    EXPECT_EQ(clampScroll(x, 2000, 1024, -205), 0);
    // Back to the left edge, never past it.
    EXPECT_EQ(clampScroll(-100, 2000, 1024, 205), 100);
    // A picture that fits does not move.
    EXPECT_EQ(clampScroll(0, 1024, 1024, 205), 0);
    EXPECT_EQ(clampScroll(0, 1024, 1024, -205), 0);
}
