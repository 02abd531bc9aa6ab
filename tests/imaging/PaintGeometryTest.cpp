// Where the image view control draws a picture and which strips it fills.

#include "PaintGeometry.h"

#include <gtest/gtest.h>

namespace {

const TEdges kClient200{0, 0, 200, 200};

TPaintLayout layoutFor(const TEdges& client, int w, int h, bool stretch, bool centre) {
    return ComputePaintLayout(client, client.right, client.bottom, w, h, stretch, centre);
}

// The strips and the picture must tile the control exactly once (clipped to it).
void expectTiling(const TPaintLayout& layout, int controlWidth, int controlHeight) {
    for (int y = 0; y < controlHeight; y += 7) {
        for (int x = 0; x < controlWidth; x += 7) {
            auto inside = [&](const TEdges& e) {
                return x >= e.left && x < e.right && y >= e.top && y < e.bottom;
            };
            int covered = inside(layout.picture) ? 1 : 0;
            for (const TEdges& strip : layout.strips)
                covered += inside(strip) ? 1 : 0;
            ASSERT_EQ(covered, 1) << "at " << x << "," << y;
        }
    }
}

TEST(PaintGeometry, LandscapeStretchedAnchoredAtTop) {
    const TPaintLayout l = layoutFor(kClient200, 400, 300, true, true);
    EXPECT_TRUE(l.stretched);
    EXPECT_EQ(l.picture, (TEdges{0, 0, 200, 150}));
    EXPECT_EQ(l.strips[2], (TEdges{0, 150, 200, 200})); // below it
    expectTiling(l, 200, 200);
}

TEST(PaintGeometry, PortraitStretchedNotCentred) {
    const TPaintLayout l = layoutFor(kClient200, 300, 400, true, true);
    EXPECT_EQ(l.picture, (TEdges{0, 0, 150, 200}));
    expectTiling(l, 200, 200);
}

TEST(PaintGeometry, LandscapeTooTallIsEnlargedToFullWidthAndCut) {
    const TPaintLayout l = layoutFor({0, 0, 400, 200}, 300, 280, true, false);
    EXPECT_EQ(l.picture, (TEdges{0, 0, 400, 373}));
    expectTiling(l, 400, 200);
}

TEST(PaintGeometry, NaturalSizeCentredOrAtOrigin) {
    EXPECT_EQ(layoutFor(kClient200, 100, 50, false, true).picture, (TEdges{50, 75, 150, 125}));
    EXPECT_EQ(layoutFor(kClient200, 100, 50, false, false).picture, (TEdges{0, 0, 100, 50}));
    // A fitting picture is never stretched, even with StretchRatio on.
    const TPaintLayout fitting = layoutFor(kClient200, 100, 50, true, true);
    EXPECT_FALSE(fitting.stretched);
    EXPECT_EQ(fitting.picture, (TEdges{50, 75, 150, 125}));
    expectTiling(fitting, 200, 200);
}

TEST(PaintGeometry, LargePictureCentredIsCutOnBothSides) {
    const TPaintLayout l = layoutFor(kClient200, 1000, 800, false, true);
    EXPECT_EQ(l.picture, (TEdges{-400, -300, 600, 500}));
    expectTiling(l, 200, 200);
}

TEST(PaintGeometry, OddDifferencesTruncateTowardZero) {
    // (200 - 101) / 2 = 49; (200 - 1001) / 2 = -400 (not -401).
    EXPECT_EQ(layoutFor(kClient200, 101, 101, false, true).picture.left, 49);
    EXPECT_EQ(layoutFor(kClient200, 1001, 1001, false, true).picture.left, -400);
}

TEST(PaintGeometry, NoPicture) {
    EXPECT_FALSE(layoutFor(kClient200, 0, 0, true, true).hasPicture);
    EXPECT_FALSE(layoutFor(kClient200, 10, 0, true, true).hasPicture);
}

TEST(PaintGeometry, MulDivRoundsToNearest) {
    EXPECT_EQ(MulDiv(280, 400, 300), 373); // 373.33
    EXPECT_EQ(MulDiv(5, 3, 2), 8);         // 7.5 rounds away from zero
    EXPECT_EQ(MulDiv(-5, 3, 2), -8);
    EXPECT_EQ(MulDiv(100000, 100000, 100000), 100000); // needs 64 bits in the middle
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
}

} // namespace
