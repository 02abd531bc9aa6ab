#pragma once
// Small pieces of the look that the main window's source files share.

#include <QAction>
#include <QColor>
#include <QFont>
#include <QMenu>
#include <QPalette>
#include <QString>
#include <QWidget>
#include <cstddef>

#include "TAdvImage.h"

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

inline QFont arialFont(int pixels, bool bold, bool italic = false) {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

inline void setBackground(QWidget* w, const QColor& colour) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, colour);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

// A menu item named as the language table names it.
inline QAction* menuItem(QMenu* menu, const char* name, const QString& text) {
    QAction* item = menu->addAction(text);
    item->setObjectName(QLatin1String(name));
    return item;
}

// The preview and the slides alike: black, still, fitted and centred, decoded for speed.
// They differ in the scale, in colour and in showing a progressive JPEG in passes.
inline void setUpImageControl(TAdvImage* image, TJPEGScale scale, bool grayscale,
                              bool progressiveDisplay) {
    image->setColor(Qt::black);
    image->setGIFAnimate(false);
    image->setStretchRatio(true);
    image->setCenterView(true);
    image->setShowEmptyLabel(false);
    image->setJPEGPixelFormat(jf24Bit);
    image->setJPEGScale(scale);
    image->setJPEGGrayscale(grayscale);
    image->setJPEGPerformance(jpBestSpeed);
    image->setJPEGProgressiveDisplay(progressiveDisplay);
    image->setJPEGSmoothing(false);
    image->setContextMenuPolicy(Qt::CustomContextMenu);
}

} // namespace fenwa
