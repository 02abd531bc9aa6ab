#include "balloongeometry.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace balloon;

namespace {

const QRect Screen(0, 0, 1024, 768);
const QSize Hint(100, 30);
const THintDirection AllDirections[] = {hdUpRight, hdUpLeft, hdDownRight, hdDownLeft};

// Where the tail tip of a placed balloon lands on the screen.
QPoint TipOnScreen(const Placement& placement, QSize hint) {
    const Shape shape = ShapeFor(WindowSize(hint, placement.direction), placement.direction);
    return placement.topLeft + shape.tail[2];
}

QRect WindowRect(const Placement& placement, QSize hint) {
    return {placement.topLeft, WindowSize(hint, placement.direction)};
}

} // namespace

TEST(BalloonGeometry, WindowGrowsByTheTailAndShadow) {
    for (THintDirection d : AllDirections) {
        const QSize size = WindowSize(Hint, d);
        EXPECT_EQ(size.width(), 116);
        EXPECT_EQ(size.height(), IsUp(d) ? 50 : 59) << int(d);
    }
}

TEST(BalloonGeometry, RoomEverywhereKeepsThePreferredSideAndTipsAtTheCursor) {
    const QPoint cursor(500, 400);
    for (THintDirection d : AllDirections) {
        const Placement p = PlaceBalloon(cursor, Hint, Screen, d);
        EXPECT_EQ(p.direction, d);
        EXPECT_FALSE(p.clamped);
        // The tip is 5 pixels above the cursor point, or 15 below it.
        EXPECT_EQ(TipOnScreen(p, Hint), cursor + QPoint(0, IsUp(d) ? -5 : 15)) << int(d);
        const QRect window = WindowRect(p, Hint);
        EXPECT_EQ(IsUp(d), window.bottom() < cursor.y()) << int(d);
        EXPECT_EQ(IsRight(d), window.left() == cursor.x()) << int(d);
    }
}

TEST(BalloonGeometry, FallsBackNearEachEdge) {
    struct Case {
        QPoint cursor;
        THintDirection preferred;
        THintDirection shown;
    };
    const Case cases[] = {
        {{1000, 400}, hdUpRight, hdUpLeft},        // right edge
        {{500, 40}, hdUpRight, hdDownRight},       // top edge
        {{1000, 40}, hdUpRight, hdDownLeft},       // top-right corner
        {{20, 400}, hdUpLeft, hdUpRight},          // left edge
        {{20, 400}, hdDownLeft, hdDownRight},      // left edge, below
        {{500, 740}, hdDownRight, hdUpRight},      // bottom edge
        {{500, 740}, hdDownLeft, hdUpLeft},        // bottom edge, left side
        {{20, 740}, hdDownLeft, hdUpRight},        // bottom-left corner
        {{1000, 740}, hdDownRight, hdUpLeft},      // bottom-right corner
        {{1024 - 116, 400}, hdUpRight, hdUpRight}, // just fits on the right
        {{110, 400}, hdUpLeft, hdUpLeft},          // just fits on the left (tip 6 px in)
        {{500, 55}, hdUpRight, hdUpRight},         // just fits above
    };
    for (const Case& c : cases) {
        const Placement p = PlaceBalloon(c.cursor, Hint, Screen, c.preferred);
        EXPECT_EQ(p.direction, c.shown) << c.cursor.x() << "," << c.cursor.y();
        EXPECT_FALSE(p.clamped);
        EXPECT_TRUE(Screen.contains(WindowRect(p, Hint))) << c.cursor.x() << "," << c.cursor.y();
        EXPECT_EQ(TipOnScreen(p, Hint), c.cursor + QPoint(0, IsUp(p.direction) ? -5 : 15));
    }
}

TEST(BalloonGeometry, BelowTheCursorTheWindowIsNinePixelsTaller) {
    const Placement above = PlaceBalloon({500, 400}, Hint, Screen, hdUpRight);
    const Placement below = PlaceBalloon({500, 40}, Hint, Screen, hdUpRight);
    ASSERT_EQ(below.direction, hdDownRight);
    EXPECT_EQ(WindowRect(below, Hint).height(), WindowRect(above, Hint).height() + 9);
}

TEST(BalloonGeometry, ScreenAwayFromTheOriginIsMeasuredFromItsOwnEdges) {
    const QRect second(1024, 100, 800, 600);
    const Placement p = PlaceBalloon({1024 + 790, 400}, Hint, second, hdUpRight);
    EXPECT_EQ(p.direction, hdUpLeft);
    const Placement top = PlaceBalloon({1300, 130}, Hint, second, hdUpRight);
    EXPECT_EQ(top.direction, hdDownRight);
}

TEST(BalloonGeometry, NoFitSidewaysTakesTheRoomierSideAndStaysOnScreen) {
    const QRect narrow(0, 0, 300, 768);
    // Too wide for either side of the cursor: the flips would go back and forth.
    for (int x : {40, 150, 260}) {
        const Placement p = PlaceBalloon({x, 400}, QSize(400, 30), narrow, hdUpRight);
        EXPECT_TRUE(p.clamped);
        EXPECT_TRUE(IsUp(p.direction));
        EXPECT_EQ(IsRight(p.direction), 300 - x >= x + 6) << x;
        EXPECT_EQ(p.topLeft.x(), 0) << x; // wider than the screen: its left edge shows
    }
    // Wider than the room on both sides but narrower than the screen.
    const Placement p = PlaceBalloon({150, 400}, QSize(200, 30), narrow, hdUpLeft);
    EXPECT_TRUE(p.clamped);
    EXPECT_TRUE(narrow.contains(WindowRect(p, QSize(200, 30))));
}

TEST(BalloonGeometry, NoFitUpOrDownTakesTheSideThatOverflowsLeast) {
    const QRect flat(0, 0, 1024, 200);
    const QSize tall(100, 120); // 140 high above, 149 below
    const Placement nearTop = PlaceBalloon({500, 60}, tall, flat, hdUpRight);
    EXPECT_TRUE(nearTop.clamped);
    EXPECT_EQ(nearTop.direction, hdDownRight);
    EXPECT_TRUE(flat.contains(WindowRect(nearTop, tall)));
    const Placement nearBottom = PlaceBalloon({500, 120}, tall, flat, hdDownLeft);
    EXPECT_TRUE(nearBottom.clamped);
    EXPECT_EQ(nearBottom.direction, hdUpLeft);
    EXPECT_TRUE(flat.contains(WindowRect(nearBottom, tall)));
    // Neither way nor sideways: still one answer, on the screen as far as it can be.
    const Placement neither = PlaceBalloon({10, 100}, QSize(2000, 1000), flat, hdUpRight);
    EXPECT_TRUE(neither.clamped);
    EXPECT_EQ(neither.topLeft, QPoint(0, 0));
}

TEST(BalloonGeometry, TailJoinsTheBoxAndTipsAtTheCursorCorner) {
    for (THintDirection d : AllDirections) {
        const QSize window = WindowSize(Hint, d);
        const Shape s = ShapeFor(window, d);
        // The base lies on the box's outline row, inside the box's width.
        const int edge = IsUp(d) ? s.box.bottom() : s.box.top();
        EXPECT_EQ(s.tail[0].y(), edge) << int(d);
        EXPECT_EQ(s.tail[1].y(), edge) << int(d);
        EXPECT_TRUE(s.box.contains(s.tail[0]) && s.box.contains(s.tail[1])) << int(d);
        // The tip is the window corner on the cursor's side, just outside the window when up.
        const QPoint tip = s.tail[2];
        EXPECT_EQ(tip.y(), IsUp(d) ? window.height() : 0) << int(d);
        EXPECT_EQ(tip.x(), IsRight(d) ? 0 : window.width() - 6) << int(d);
        EXPECT_EQ(s.tailShadow.isEmpty(), !IsUp(d));
        // The text starts clear of the tail and the box's left outline.
        EXPECT_GT(s.textRect.left(), s.box.left());
        EXPECT_GT(s.textRect.top(), s.box.top());
        // The shadow lies right of and below the box.
        EXPECT_GT(s.shadowBox.right(), s.box.right());
        EXPECT_GT(s.shadowBox.bottom(), s.box.bottom());
    }
}

TEST(BalloonGeometry, RoundRectRegionCutsTheCornersSymmetrically) {
    const QRect rect(10, 20, 40, 30);
    const QRegion region = RoundRectRegion(rect, 9);
    EXPECT_EQ(region.boundingRect(), rect);
    for (QPoint corner : {rect.topLeft(), rect.topRight(), rect.bottomLeft(), rect.bottomRight()})
        EXPECT_FALSE(region.contains(corner));
    EXPECT_TRUE(region.contains(QPoint(rect.left(), rect.center().y())));
    EXPECT_TRUE(region.contains(QPoint(rect.center().x(), rect.top())));
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const bool in = region.contains(QPoint(x, y));
            EXPECT_EQ(in, region.contains(QPoint(rect.left() + rect.right() - x, y)));
            EXPECT_EQ(in, region.contains(QPoint(x, rect.top() + rect.bottom() - y)));
        }
    }
    // Diameter zero leaves the plain rectangle.
    const QRegion plain = RoundRectRegion(rect, 0);
    EXPECT_TRUE(plain.xored(QRegion(rect)).isEmpty());
}

TEST(BalloonGeometry, LinesLeaveOutTheirEndAndStepOnePixelAtATime) {
    const QPoint from(20, 35);
    const QPoint to(0, 50);
    const QList<QPoint> line = LinePixels(from, to);
    ASSERT_EQ(line.size(), 20);
    EXPECT_EQ(line.first(), from);
    EXPECT_FALSE(line.contains(to));
    for (qsizetype i = 1; i < line.size(); ++i) {
        EXPECT_LE(std::abs(line[i].x() - line[i - 1].x()), 1);
        EXPECT_LE(std::abs(line[i].y() - line[i - 1].y()), 1);
    }
    EXPECT_LE(std::abs(line.last().x() - to.x()), 1);
    EXPECT_LE(std::abs(line.last().y() - to.y()), 1);
    EXPECT_TRUE(LinePixels(to, to).isEmpty());
}
