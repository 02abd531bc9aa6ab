#include "balloonpainter.h"

#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <vector>

namespace balloon {

namespace {

QString LayoutText(const QString& text) {
    QString result = text;
    result.replace(QLatin1String("\r\n"), QString(QChar::LineSeparator));
    result.replace(QLatin1Char('\n'), QChar::LineSeparator);
    result.replace(QLatin1Char('\r'), QChar::LineSeparator);
    return result;
}

// Lays the text out in lines of at most `width` pixels; answers the size the lines take.
QSizeF LayOut(QTextLayout& layout, qreal width) {
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    qreal height = 0;
    qreal widest = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, height));
        height += line.height();
        widest = std::max(widest, line.naturalTextWidth());
    }
    layout.endLayout();
    return {widest, height};
}

void SetPixel(QImage& image, int x, int y, QRgb colour) {
    if (image.rect().contains(x, y))
        reinterpret_cast<QRgb*>(image.scanLine(y))[x] = colour;
}

// Sets the shadow dots of a band that fall inside a region.
void PaintShadowDots(QImage& image, const QRegion& region, const QRect& band, QRgb colour) {
    const QRect area = band.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (IsShadowDot(x, y) && region.contains(QPoint(x, y)))
                SetPixel(image, x, y, colour);
}

// Fills the box and draws its outline: the pixels of the box with a neighbour outside it.
void PaintBox(QImage& image, const QRect& box, QRgb fill, QRgb outline) {
    const QRegion region = RoundRectRegion(box, BoxCornerDiameter);
    const QRect bounds = box.adjusted(-1, -1, 1, 1);
    std::vector<char> inside(static_cast<size_t>(bounds.width()) * bounds.height(), 0);
    const auto index = [&](int x, int y) {
        return static_cast<size_t>(y - bounds.top()) * bounds.width() + (x - bounds.left());
    };
    for (const QRect& row : region)
        for (int y = row.top(); y <= row.bottom(); ++y)
            for (int x = row.left(); x <= row.right(); ++x)
                inside[index(x, y)] = 1;
    for (int y = box.top(); y <= box.bottom(); ++y) {
        for (int x = box.left(); x <= box.right(); ++x) {
            if (!inside[index(x, y)])
                continue;
            const bool edge = !inside[index(x - 1, y)] || !inside[index(x + 1, y)] ||
                              !inside[index(x, y - 1)] || !inside[index(x, y + 1)];
            SetPixel(image, x, y, edge ? outline : fill);
        }
    }
}

void PaintLine(QImage& image, QPoint from, QPoint to, QRgb colour) {
    for (const QPoint& p : LinePixels(from, to))
        SetPixel(image, p.x(), p.y(), colour);
}

} // namespace

QSize MeasureHintText(const QFont& font, const QString& text, int maxWidth) {
    QTextLayout layout(LayoutText(text), font);
    const QSizeF size = LayOut(layout, std::max(1, maxWidth));
    return {static_cast<int>(std::ceil(size.width())), static_cast<int>(std::ceil(size.height()))};
}

void DrawHintText(QPainter& painter, const QRect& rect, const THintFont& font,
                  const QString& text) {
    QTextLayout layout(LayoutText(text), font.font);
    LayOut(layout, std::max(1, rect.width()));
    painter.save();
    painter.setPen(font.color);
    painter.setClipRect(rect);
    layout.draw(&painter, rect.topLeft());
    painter.restore();
}

QImage PaintBalloon(const QImage& background, THintDirection direction, const BalloonLook& look,
                    const QString& text) {
    QImage image = background.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return image;
    const Shape shape = ShapeFor(image.size(), direction);
    const QRgb fill = qPremultiply(look.color.rgba());
    const QRgb shadow = qPremultiply(look.shadowColor.rgba());
    const QRgb black = qRgb(0, 0, 0);

    // The dithered shadow right of and below the box, then under the tail.
    const QRegion shadowRegion = RoundRectRegion(shape.shadowBox, ShadowCornerDiameter);
    for (const QRect& band : shape.shadowBands)
        PaintShadowDots(image, shadowRegion, band, shadow);
    if (!shape.tailShadow.isEmpty())
        PaintShadowDots(image, PolygonRegion(shape.tailShadow), shape.tailShadowBand, shadow);

    PaintBox(image, shape.box, fill, black);

    // Open the box's outline where the tail joins it, fill the tail and draw its two outer
    // edges.
    const QPoint baseStart = shape.tail[0];
    const QPoint baseEnd = shape.tail[1];
    const QPoint tip = shape.tail[2];
    PaintLine(image, baseStart, baseEnd, fill);
    for (const QRect& row : PolygonRegion(shape.tail))
        for (int y = row.top(); y <= row.bottom(); ++y)
            for (int x = row.left(); x <= row.right(); ++x)
                SetPixel(image, x, y, fill);
    PaintLine(image, baseEnd, tip, black);
    PaintLine(image, tip, baseStart, black);

    QPainter painter(&image);
    DrawHintText(painter, shape.textRect, look.font, text);
    return image;
}

} // namespace balloon
