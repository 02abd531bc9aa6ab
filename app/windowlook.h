#pragma once
// Small pieces of the look that the main window's source files share.

#include <QColor>
#include <QPalette>
#include <QString>
#include <QWidget>
#include <cstddef>

namespace fenwa {

inline void setTextColour(QWidget* w, const QColor& colour) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, colour);
    w->setPalette(p);
}

// The caption of slide panel i (0 to 4) while no slide covers it: the program's name.
inline QString slideCaption(size_t i) {
    static constexpr char letters[] = "FENWA";
    return QString(QLatin1Char(letters[i]));
}

} // namespace fenwa
