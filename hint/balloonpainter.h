#pragma once

#include "balloongeometry.h"
#include "hintfonts.h"

#include <QColor>
#include <QImage>
#include <QString>

class QPainter;

// Colours and font a balloon is painted with.
struct BalloonLook {
    QColor color;
    QColor shadowColor;
    THintFont font;
};

namespace balloon {

// Size the hint text takes in the given font when wrapped at word boundaries (or anywhere,
// for a word longer than a line) to at most maxWidth pixels. Line breaks in the text are
// kept; ampersands are ordinary characters.
QSize MeasureHintText(const QFont& font, const QString& text, int maxWidth);

// Draws the text wrapped to the rectangle's width from its top-left corner, the same way
// MeasureHintText measures it.
void DrawHintText(QPainter& painter, const QRect& rect, const THintFont& font, const QString& text);

// Paints a balloon over a copy of the background (the picture of the screen behind the
// window, or a transparent image where there is none) and returns it. Everything outside the
// balloon's shape and between the shadow dots keeps the background.
QImage PaintBalloon(const QImage& background, THintDirection direction, const BalloonLook& look,
                    const QString& text);

} // namespace balloon
