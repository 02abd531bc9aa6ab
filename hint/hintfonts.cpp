#include "hintfonts.h"

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
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    // With only the pan-CJK Noto faces and a C locale Qt picks Japanese glyph shapes, so the
    // Traditional Chinese faces are named explicitly.
    QFont::insertSubstitutions(MingFamily, {QStringLiteral("AR PL UMing TW"),
                                            QStringLiteral("Noto Serif CJK TC"),
                                            QStringLiteral("Noto Sans CJK TC")});
    QFont::insertSubstitutions(SansFamily,
                               {QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
                                QStringLiteral("Noto Sans CJK TC")});
}
