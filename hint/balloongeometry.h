#pragma once

#include <QList>
#include <QPoint>
#include <QPolygon>
#include <QRect>
#include <QRegion>
#include <QSize>

#include <cstdint>

// Side of the cursor a balloon stands on. The tail sits at the corner nearest the cursor:
// bottom-left for hdUpRight, bottom-right for hdUpLeft, top-left for hdDownRight and
// top-right for hdDownLeft. Stored as one byte.
enum THintDirection : std::uint8_t {
    hdUpRight = 0,
    hdUpLeft = 1,
    hdDownRight = 2,
    hdDownLeft = 3,
};

// Geometry of a balloon, free of any window: where it goes on the screen, how big its window
// is, and which pixels its parts cover. Rectangles given as QRect hold exactly the pixels of
// the part (right and bottom included).
namespace balloon {

// Room around the hint text for the outline, the tail and the shadow.
inline constexpr int ExtraWidth = 16;
inline constexpr int ExtraHeightUp = 20;
inline constexpr int ExtraHeightDown = 29; // the tail above the box needs 9 more rows

// How far the tail tip lands from the cursor point: above it, or below it (past the cursor
// image).
inline constexpr int TipAboveCursor = 5;
inline constexpr int TipBelowCursor = 15;

inline bool IsUp(THintDirection direction) {
    return direction == hdUpRight || direction == hdUpLeft;
}
inline bool IsRight(THintDirection direction) {
    return direction == hdUpRight || direction == hdDownRight;
}

// Window size of a balloon around a hint rectangle of the given size.
QSize WindowSize(QSize hintSize, THintDirection direction);

struct Placement {
    THintDirection direction = hdUpRight;
    QPoint topLeft;
    // True when the balloon fitted on no side of the cursor and was pushed onto the screen.
    bool clamped = false;
};

// Chooses the side of the cursor and the window's top-left corner. Starting from the
// preferred direction, a balloon that would leave the screen sideways flips to the other
// side, and one that would leave it at the top (bottom) goes below (above) the cursor. When
// no side fits, the flips would go round for ever; then each axis takes the side with the
// most room and the window is kept on the screen.
Placement PlaceBalloon(QPoint cursor, QSize hintSize, const QRect& screen,
                       THintDirection preferred);

// Where each part of a balloon window of the given size lies.
struct Shape {
    QRect textRect;
    QPolygon tail;        // base start, base end (on the box edge), tip (a window corner)
    QPolygon tailShadow;  // base start, base end, tip; empty below the cursor
    QRect tailShadowBand; // pixels that may take the tail's shadow dots
    QRect shadowBox;      // the box shadow's rounded rectangle
    QRect shadowBands[2]; // the parts of the shadow box that take shadow dots
    QRect box;            // the balloon's rounded rectangle, outline included
};
inline constexpr int ShadowCornerDiameter = 8;
inline constexpr int BoxCornerDiameter = 9;

Shape ShapeFor(QSize windowSize, THintDirection direction);

// The pixels of a rectangle with its corners rounded by quarter ellipses of the given
// diameter.
QRegion RoundRectRegion(const QRect& pixels, int cornerDiameter);

// Pixels of a polygon filled by the winding rule.
QRegion PolygonRegion(const QPolygon& polygon);

// Pixels of a one-pixel line from `from` up to `to`, the end point left out, so that lines
// drawn end to end set each joint once.
QList<QPoint> LinePixels(QPoint from, QPoint to);

// Shadow dots fall on a checkerboard: x and y both even or both odd.
inline bool IsShadowDot(int x, int y) {
    return ((x + y) & 1) == 0;
}

} // namespace balloon
