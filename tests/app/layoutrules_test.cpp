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
