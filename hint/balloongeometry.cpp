#include "balloongeometry.h"

#include <QVector>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace balloon {

QSize WindowSize(QSize hintSize, THintDirection direction) {
    return {hintSize.width() + ExtraWidth,
            hintSize.height() + (IsUp(direction) ? ExtraHeightUp : ExtraHeightDown)};
}

namespace {

// Top-left corner of a balloon whose tail tip lands next to the cursor, in screen-relative
// coordinates.
QPoint CornerFor(THintDirection direction, int x, int y, int width, int heightUp) {
    const int left = IsRight(direction) ? x : x - width + 6;
    const int top = IsUp(direction) ? y - TipAboveCursor - heightUp : y + TipBelowCursor;
    return {left, top};
}

THintDirection Direction(bool up, bool right) {
    if (up)
        return right ? hdUpRight : hdUpLeft;
    return right ? hdDownRight : hdDownLeft;
}

} // namespace

Placement PlaceBalloon(QPoint cursor, QSize hintSize, const QRect& screen,
                       THintDirection preferred) {
    const int width = hintSize.width() + ExtraWidth;
    const int heightUp = hintSize.height() + ExtraHeightUp;
    const int heightDown = hintSize.height() + ExtraHeightDown;
    // Work relative to the screen so that a screen not at the origin behaves the same.
    const int x = cursor.x() - screen.left();
    const int y = cursor.y() - screen.top();
    const int screenWidth = screen.width();
    const int screenHeight = screen.height();

    const bool rightFits = x + width <= screenWidth;
    const bool leftFits = x - width + 6 >= 0;
    const bool upFits = y - TipAboveCursor - heightUp >= 0;
    const bool downFits = y + TipBelowCursor + heightDown <= screenHeight;

    // Each direction either takes the balloon or hands it to another; a direction met twice
    // means no side fits on one of the axes.
    bool visited[4] = {};
    THintDirection direction = preferred;
    while (!visited[direction]) {
        visited[direction] = true;
        const bool right = IsRight(direction);
        const bool up = IsUp(direction);
        if (!(right ? rightFits : leftFits)) {
            direction = Direction(up, !right);
            continue;
        }
        if (!(up ? upFits : downFits)) {
            // Going below keeps the side; going above from below does too.
            direction = Direction(!up, right);
            continue;
        }
        return {direction, screen.topLeft() + CornerFor(direction, x, y, width, heightUp)};
    }

    // No fit on at least one axis: keep the preferred side where it fits, else the side that
    // fits, else the side that overflows least; then keep the window on the screen.
    bool right = IsRight(preferred);
    if (rightFits != leftFits)
        right = rightFits;
    else if (!rightFits)
        right = screenWidth - x >= x + 6;
    bool up = IsUp(preferred);
    if (upFits != downFits)
        up = upFits;
    else if (!upFits)
        up = heightUp - (y - TipAboveCursor) <= heightDown - (screenHeight - y - TipBelowCursor);
    const THintDirection chosen = Direction(up, right);
    const QPoint corner = CornerFor(chosen, x, y, width, heightUp);
    const int height = up ? heightUp : heightDown;
    const int left = std::clamp(corner.x(), 0, std::max(0, screenWidth - width));
    const int top = std::clamp(corner.y(), 0, std::max(0, screenHeight - height));
    return {chosen, screen.topLeft() + QPoint(left, top), true};
}

Shape ShapeFor(QSize windowSize, THintDirection direction) {
    const int w = windowSize.width();
    const int h = windowSize.height();
    Shape shape;
    // Rectangles below are written with their exclusive right and bottom edges, then turned
    // into the pixels they cover.
    const auto pixels = [](int left, int top, int right, int bottom) {
        return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
    };
    const auto inclusive = [](int left, int top, int right, int bottom) {
        return QRect(QPoint(left, top), QPoint(right, bottom));
    };
    switch (direction) {
    case hdUpRight:
        shape.tail = QPolygon({{10, h - 15}, {20, h - 15}, {0, h}});
        shape.tailShadow = QPolygon({{12, h - 15}, {25, h - 15}, {12, h}});
        break;
    case hdUpLeft:
        shape.tail = QPolygon({{w - 26, h - 15}, {w - 16, h - 15}, {w - 6, h}});
        shape.tailShadow = QPolygon({{w - 33, h - 15}, {w - 11, h - 15}, {w - 6, h}});
        break;
    case hdDownRight:
        shape.tail = QPolygon({{10, 15}, {20, 15}, {0, 0}});
        break;
    case hdDownLeft:
        shape.tail = QPolygon({{w - 26, 15}, {w - 16, 15}, {w - 6, 0}});
        break;
    }
    if (IsUp(direction)) {
        shape.textRect = pixels(8, 3, w, h);
        shape.shadowBox = pixels(10, 8, w, h - 9);
        shape.shadowBands[0] = inclusive(w - 14, 8, w, h - 14);
        shape.shadowBands[1] = inclusive(10, h - 14, w, h - 9);
        const QPolygon& s = shape.tailShadow;
        shape.tailShadowBand = inclusive(s[0].x(), s[0].y(), s[1].x(), s[2].y());
        shape.box = pixels(0, 0, w - 6, h - 14);
    } else {
        shape.textRect = pixels(8, 18, w, h);
        shape.shadowBox = pixels(10, 23, w, h - 2);
        shape.shadowBands[0] = inclusive(w - 14, 23, w, h - 8);
        shape.shadowBands[1] = inclusive(10, h - 8, w, h - 2);
        shape.box = pixels(0, 15, w - 6, h - 8);
    }
    return shape;
}

QRegion RoundRectRegion(const QRect& pixels, int cornerDiameter) {
    if (pixels.isEmpty())
        return {};
    const double left = pixels.left();
    const double top = pixels.top();
    const double width = pixels.width();
    const double height = pixels.height();
    // A corner ellipse never exceeds the rectangle.
    const double rx = std::min<double>(cornerDiameter, width) / 2.0;
    const double ry = std::min<double>(cornerDiameter, height) / 2.0;
    QVector<QRect> rows;
    rows.reserve(pixels.height());
    for (int y = pixels.top(); y <= pixels.bottom(); ++y) {
        // Pixel centres inside the outline belong to the region.
        const double centre = y + 0.5;
        double dy = 0;
        if (centre < top + ry)
            dy = top + ry - centre;
        else if (centre > top + height - ry)
            dy = centre - (top + height - ry);
        double inset = 0;
        if (dy > 0 && ry > 0) {
            const double ratio = dy / ry;
            inset = rx - rx * std::sqrt(std::max(0.0, 1.0 - ratio * ratio));
        }
        const int first = static_cast<int>(std::ceil(left + inset - 0.5));
        const int last = static_cast<int>(std::floor(left + width - inset - 0.5));
        if (first <= last)
            rows.append(QRect(first, y, last - first + 1, 1));
    }
    QRegion region;
    region.setRects(rows.constData(), static_cast<int>(rows.size()));
    return region;
}

QRegion PolygonRegion(const QPolygon& polygon) {
    return QRegion(polygon, Qt::WindingFill);
}

QList<QPoint> LinePixels(QPoint from, QPoint to) {
    QList<QPoint> result;
    const int dx = std::abs(to.x() - from.x());
    const int dy = -std::abs(to.y() - from.y());
    const int stepX = from.x() < to.x() ? 1 : -1;
    const int stepY = from.y() < to.y() ? 1 : -1;
    int error = dx + dy;
    int x = from.x();
    int y = from.y();
    while (x != to.x() || y != to.y()) {
        result.append({x, y});
        const int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x += stepX;
        }
        if (twice <= dx) {
            error += dx;
            y += stepY;
        }
    }
    return result;
}

} // namespace balloon
