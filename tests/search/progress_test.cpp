#include <gtest/gtest.h>

#include "progress.h"

using namespace fenwa;

TEST(Progress, RoundsToNearestWithTiesToEven) {
    EXPECT_EQ(ProgressPercent(0, 3), 33);
    EXPECT_FALSE(ProgressRepaints(33));
    EXPECT_EQ(ProgressPercent(0, 8), 12); // 12.5
    EXPECT_TRUE(ProgressRepaints(12));
    EXPECT_EQ(ProgressPercent(1, 8), 25);
    EXPECT_FALSE(ProgressRepaints(25));
    EXPECT_EQ(ProgressPercent(2, 8), 38); // 37.5
    EXPECT_TRUE(ProgressRepaints(38));
    EXPECT_EQ(ProgressPercent(1, 3), 67);
    EXPECT_EQ(ProgressPercent(2, 3), 100);
    EXPECT_EQ(ProgressPercent(0, 1), 100);
    EXPECT_EQ(ProgressPercent(0, 200), 0); // 0.5 rounds to 0
    EXPECT_EQ(ProgressPercent(2, 200), 2); // 1.5 rounds to 2
    EXPECT_EQ(ProgressPercent(0, 0), 0);
    // No overflow for counts far beyond a million.
    EXPECT_EQ(ProgressPercent(4'999'999'999ull, 10'000'000'000ull), 50);
}
