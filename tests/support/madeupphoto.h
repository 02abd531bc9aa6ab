#pragma once
// A photo-like picture for tests of similar pictures: a sky-to-ground gradient (every
// seed shares it, so the pictures are of one kind) under soft shapes placed by the seed.

#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRandomGenerator>

inline QImage madeUpScene(quint32 seed) {
    QRandomGenerator random(seed);
    QImage image(640, 480, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, 480);
    sky.setColorAt(0, QColor(250, 200, 120));
    sky.setColorAt(1, QColor(40, 30, 60));
    painter.fillRect(image.rect(), sky);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 12; ++i) {
        painter.setBrush(QColor::fromHsv(random.bounded(360), 80 + random.bounded(170),
                                         40 + random.bounded(215)));
        painter.drawEllipse(QPoint(random.bounded(640), random.bounded(480)),
                            20 + random.bounded(140), 20 + random.bounded(100));
    }
    painter.end();
    return image;
}
