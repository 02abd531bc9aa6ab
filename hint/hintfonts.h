#pragma once

#include <QColor>
#include <QFont>

// The font of the hint text: a face and the colour the text is drawn in.
struct THintFont {
    QFont font;
    QColor color;
    friend bool operator==(const THintFont&, const THintFont&) = default;
};

// The balloon component's own default: "MS Sans Serif", 12 points, bold italic, blue.
THintFont DefaultHintFont();

// The main window's hint font: 新細明體, characters 16 pixels high, no style, blue.
THintFont MainWindowHintFont();

// Registers faces that stand in for the hint fonts where they are not installed: Ming faces
// for 新細明體 (Traditional Chinese glyphs first) and sans faces for MS Sans Serif. Safe to
// call more than once; needs a QGuiApplication.
void RegisterHintFontSubstitutes();
