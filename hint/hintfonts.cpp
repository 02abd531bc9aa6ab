#include "hintfonts.h"

#include "fonts.h"

#include <QStringList>

namespace {
const QString MingFamily = QStringLiteral("新細明體");
const QString SansFamily = QStringLiteral("MS Sans Serif");
} // namespace

THintFont DefaultHintFont() {
    QFont font(SansFamily, 12, QFont::Bold, true);
    font.setStyleHint(QFont::SansSerif);
    return {font, QColor(0, 0, 255)};
}

THintFont MainWindowHintFont() {
    QFont font(MingFamily);
    font.setPixelSize(16);
    font.setStyleHint(QFont::Serif);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return {font, QColor(0, 0, 255)};
}

void RegisterHintFontSubstitutes() {
    // One list of substitutes serves the whole program.
    fenwa::platform::registerFontSubstitutes();
}
