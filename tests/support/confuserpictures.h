#pragma once
// Pictures a 64-bit fingerprint confuses although they differ: pages of other words,
// contracts a few amounts apart, screenshots of one layout with other contents, two-colour
// gradients, and a scene with something pasted in. Drawn alike for the tests and the
// bench's corpus, in fonts every build machine has (fonts-dejavu-core).

#include <QColor>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRandomGenerator>
#include <QStringList>
#include <QTransform>
#include <algorithm>
#include <utility>
#include <vector>

namespace fenwa::testing {

inline QString confuserSentence(QRandomGenerator& random, int words) {
    static const QStringList pool = {"agreement", "party",   "payment",  "invoice", "delivery",
                                     "term",      "signed",  "account",  "balance", "notice",
                                     "schedule",  "total",   "services", "period",  "amount",
                                     "date",      "section", "clause"};
    QStringList out;
    for (int i = 0; i < words; ++i)
        out << pool[int(random.bounded(pool.size()))];
    return out.join(' ');
}

// A white A4-shaped page: a title and 30 lines of words chosen by `seed`.
inline QImage textPage(quint32 seed) {
    QImage page(1240, 1754, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter p(&page);
    p.setPen(Qt::black);
    QRandomGenerator random(seed);
    p.setFont(QFont("DejaVu Serif", 40, QFont::Bold));
    p.drawText(QRect(100, 90, 1040, 80), Qt::AlignHCenter, confuserSentence(random, 3));
    p.setFont(QFont("DejaVu Serif", 22));
    for (int line = 0; line < 30; ++line)
        p.drawText(120, 260 + line * 44, confuserSentence(random, 7));
    return page;
}

// One contract's page: the same words every time, a date line and a table of items whose
// five prices and total are `amounts` (six of them), as two versions of a contract differ.
inline QImage contractPage(const QStringList& amounts, const QString& month) {
    QImage page(1240, 1754, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter p(&page);
    p.setPen(Qt::black);
    QRandomGenerator random(77);
    p.setFont(QFont("DejaVu Serif", 36, QFont::Bold));
    p.drawText(QRect(100, 90, 1040, 80), Qt::AlignHCenter, QStringLiteral("Service agreement"));
    p.setFont(QFont("DejaVu Serif", 22));
    p.drawText(120, 230, QStringLiteral("Date: 14 ") + month + QStringLiteral(" 2024"));
    for (int line = 0; line < 12; ++line)
        p.drawText(120, 300 + line * 44, confuserSentence(random, 7));
    const QStringList items = {"Design",  "Delivery", "Installation",
                               "Support", "Training", "Total"};
    for (int row = 0; row < int(items.size()) && row < int(amounts.size()); ++row) {
        const int y = 880 + row * 56;
        p.setFont(QFont("DejaVu Serif", 22, row == 5 ? QFont::Bold : QFont::Normal));
        p.drawLine(120, y + 14, 1120, y + 14);
        p.drawText(140, y, items[row]);
        p.drawText(QRect(700, y - 34, 400, 44), Qt::AlignRight | Qt::AlignVCenter,
                   amounts[row] + QStringLiteral(" EUR"));
    }
    p.setFont(QFont("DejaVu Serif", 22));
    for (int line = 0; line < 8; ++line)
        p.drawText(120, 1280 + line * 44, confuserSentence(random, 7));
    return page;
}

// The contract with some of its prices changed (row, price; rows 0 to 5, 5 the total).
inline QImage contractVersion(const std::vector<std::pair<int, QString>>& changes,
                              const QString& month) {
    QStringList prices = {"1,250.00", "480.00", "2,300.00", "760.00", "390.00", "5,180.00"};
    for (const auto& [row, price] : changes)
        prices[row] = price;
    return contractPage(prices, month);
}

// The page as a scanner gives it: on slightly grey, noisy paper, turned by `degrees`.
inline QImage scannedPage(quint32 seed, double degrees) {
    QImage out(1240, 1754, QImage::Format_RGB32);
    out.fill(Qt::white);
    {
        QPainter p(&out);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.translate(620, 877);
        p.rotate(degrees);
        p.translate(-620, -877);
        p.drawImage(0, 0, textPage(seed));
    }
    QRandomGenerator random(seed * 7919 + 1);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const int v = (228 + int(random.bounded(17)) - 8) * qGray(line[x]) / 255;
            line[x] = qRgb(v, v, std::max(0, v - 6));
        }
    }
    return out;
}

// A code editor: a dark side bar of file names, a tab bar, and lines of code. The lines'
// indents and lengths are one file's; `seed` picks the names and words, as in two
// versions of one source file.
inline QImage editorScreenshot(quint32 seed) {
    QImage shot(1600, 1000, QImage::Format_RGB32);
    shot.fill(QColor(30, 30, 30));
    QPainter p(&shot);
    QRandomGenerator random(seed), shape(1);
    p.fillRect(0, 0, 260, 1000, QColor(37, 37, 38));
    p.fillRect(260, 0, 1340, 36, QColor(45, 45, 45));
    p.setFont(QFont("DejaVu Sans Mono", 13));
    p.setPen(QColor(200, 200, 200));
    for (int i = 0; i < 24; ++i)
        p.drawText(16, 60 + i * 26, confuserSentence(random, 1) + ".cpp");
    const QColor colours[] = {QColor(86, 156, 214), QColor(206, 145, 120), QColor(181, 206, 168),
                              QColor(220, 220, 170)};
    for (int line = 0; line < 44; ++line) {
        int x = 300 + 24 * int(shape.bounded(4));
        for (int token = 0, tokens = 1 + int(shape.bounded(6)); token < tokens; ++token) {
            const QString word = confuserSentence(random, 1);
            p.setPen(colours[random.bounded(4)]);
            p.drawText(x, 64 + line * 21, word);
            x += 10 * int(word.size()) + 12;
        }
    }
    return shot;
}

// A web page in a browser: the address bar, a coloured banner with a heading, a column of
// paragraphs, a side box and a button; the words chosen by `seed`.
inline QImage webPageScreenshot(quint32 seed) {
    QImage shot(1440, 900, QImage::Format_RGB32);
    shot.fill(Qt::white);
    QPainter p(&shot);
    QRandomGenerator random(seed);
    p.fillRect(0, 0, 1440, 70, QColor(222, 225, 230));
    p.fillRect(120, 18, 1200, 34, Qt::white);
    p.setPen(QColor(60, 60, 60));
    p.setFont(QFont("DejaVu Sans", 13));
    p.drawText(136, 42, "https://example.org/" + confuserSentence(random, 2).replace(' ', '/'));
    p.fillRect(0, 70, 1440, 160, QColor(28, 78, 140));
    p.setPen(Qt::white);
    p.setFont(QFont("DejaVu Sans", 30, QFont::Bold));
    p.drawText(80, 170, confuserSentence(random, 3));
    p.setPen(QColor(40, 40, 40));
    p.setFont(QFont("DejaVu Sans", 15));
    for (int line = 0; line < 22; ++line)
        if (line % 6 != 5)
            p.drawText(80, 290 + line * 27, confuserSentence(random, 8));
    p.fillRect(1040, 270, 320, 360, QColor(240, 242, 245));
    for (int line = 0; line < 10; ++line)
        p.drawText(1060, 310 + line * 30, confuserSentence(random, 2));
    p.fillRect(1060, 660, 200, 50, QColor(220, 90, 40));
    p.setPen(Qt::white);
    p.drawText(QRect(1060, 660, 200, 50), Qt::AlignCenter, confuserSentence(random, 1));
    return shot;
}

inline QImage twoColourGradient(QColor from, QColor to) {
    QImage image(1200, 800, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, 1200, 800);
    g.setColorAt(0, from);
    g.setColorAt(1, to);
    p.fillRect(image.rect(), g);
    return image;
}

// The scene (640 × 480, as madeUpScene) with a figure standing in it: a head and a body
// over about a fifth of the picture.
inline QImage withPerson(QImage scene) {
    QPainter p(&scene);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(230, 190, 160));
    p.drawEllipse(QPointF(420, 115), 55, 65);
    p.setBrush(QColor(120, 90, 70));
    p.drawRoundedRect(QRectF(345, 185, 150, 295), 40, 40);
    return scene;
}

inline QImage withRedText(QImage scene) {
    QPainter p(&scene);
    p.setPen(Qt::red);
    p.setFont(QFont("DejaVu Sans", 26, QFont::Bold));
    p.drawText(scene.rect(), Qt::AlignCenter, QStringLiteral("Do not delete: signed copy"));
    return scene;
}

} // namespace fenwa::testing
