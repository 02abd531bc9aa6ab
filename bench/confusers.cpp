// Pictures a fingerprint confuses although they differ: pages of different text, pages
// that differ in a few words, screenshots of one layout with other contents, two-colour
// gradients, and photo-like scenes beside the same scene with an object pasted in or a
// line of red text across it. Each is a source of its own (its file name is its label),
// so `fenwa-bench-similar --write-corpus` makes their honest copies and `--corpus` counts
// every pair of different sources it groups as a false pair.
//
//   fenwa-bench-confusers DIR      writes the sources into DIR as PNG files

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRandomGenerator>
#include <QStringList>
#include <cstdio>

#include "madeupphoto.h"

namespace {

const QStringList Words = {"agreement", "party",   "payment", "invoice", "delivery", "term",
                           "signed",    "account", "balance", "notice",  "schedule", "total",
                           "services",  "period",  "amount",  "date",    "section",  "clause"};

QString sentence(QRandomGenerator& random, int words) {
    QStringList out;
    for (int i = 0; i < words; ++i)
        out << Words[int(random.bounded(Words.size()))];
    return out.join(' ');
}

// A white A4-shaped page: a title and lines of text, the text chosen by `seed`.
QImage textPage(quint32 seed, const QString& amount = {}, const QString& month = {}) {
    QImage page(1240, 1754, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter p(&page);
    p.setPen(Qt::black);
    QRandomGenerator random(seed);
    p.setFont(QFont("DejaVu Serif", 40, QFont::Bold));
    p.drawText(QRect(100, 90, 1040, 80), Qt::AlignHCenter, sentence(random, 3));
    p.setFont(QFont("DejaVu Serif", 22));
    for (int line = 0; line < 30; ++line)
        p.drawText(120, 260 + line * 44, sentence(random, 7));
    if (!amount.isEmpty()) {
        p.drawText(120, 260 + 31 * 44, QStringLiteral("Amount due: ") + amount);
        p.drawText(120, 260 + 32 * 44, QStringLiteral("Payable in ") + month);
    }
    return page;
}

// An editor: a dark side bar of file names, a tab bar, and lines of code.
QImage screenshot(quint32 seed) {
    QImage shot(1600, 1000, QImage::Format_RGB32);
    shot.fill(QColor(30, 30, 30));
    QPainter p(&shot);
    QRandomGenerator random(seed);
    p.fillRect(0, 0, 260, 1000, QColor(37, 37, 38));
    p.fillRect(260, 0, 1340, 36, QColor(45, 45, 45));
    p.setFont(QFont("DejaVu Sans Mono", 13));
    p.setPen(QColor(200, 200, 200));
    for (int i = 0; i < 24; ++i)
        p.drawText(16, 60 + i * 26, Words[int(random.bounded(Words.size()))] + ".cpp");
    const QColor colours[] = {QColor(86, 156, 214), QColor(206, 145, 120), QColor(181, 206, 168),
                              QColor(220, 220, 170)};
    for (int line = 0; line < 44; ++line) {
        int x = 300 + 24 * int(random.bounded(4));
        for (int token = 0; token < 1 + int(random.bounded(6)); ++token) {
            const QString word = Words[int(random.bounded(Words.size()))];
            p.setPen(colours[random.bounded(4)]);
            p.drawText(x, 64 + line * 21, word);
            x += 10 * int(word.size()) + 12;
        }
    }
    return shot;
}

QImage gradient(QColor from, QColor to) {
    QImage image(1200, 800, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, 1200, 800);
    g.setColorAt(0, from);
    g.setColorAt(1, to);
    p.fillRect(image.rect(), g);
    return image;
}

// The scene with a figure standing in it: a head and a body over a fifth of the picture.
QImage withPerson(QImage scene) {
    QPainter p(&scene);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(230, 190, 160));
    p.drawEllipse(QPointF(420, 150), 40, 50);
    p.setBrush(QColor(40, 60, 160));
    p.drawRoundedRect(QRectF(370, 200, 100, 230), 30, 30);
    return scene;
}

QImage withRedText(QImage scene) {
    QPainter p(&scene);
    p.setPen(Qt::red);
    p.setFont(QFont("DejaVu Sans", 26, QFont::Bold));
    p.drawText(scene.rect(), Qt::AlignCenter, QStringLiteral("Do not delete: signed copy"));
    return scene;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fenwa-bench-confusers DIR\n");
        return 1;
    }
    QGuiApplication app(argc, argv);
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(dir.path());
    int written = 0, failed = 0;
    const auto save = [&](const QImage& image, const QString& name) {
        (image.save(dir.filePath(name + ".png")) ? written : failed)++;
    };
    for (quint32 s = 1; s <= 6; ++s)
        save(textPage(s), QString("page%1").arg(s));
    // Contracts: one text, a few amounts and months apart.
    save(textPage(77, "1,250.00 EUR", "March"), "contractA");
    save(textPage(77, "1,850.00 EUR", "March"), "contractB");
    save(textPage(77, "1,250.00 EUR", "May"), "contractC");
    for (quint32 s = 1; s <= 4; ++s)
        save(screenshot(s), QString("editor%1").arg(s));
    save(gradient(Qt::white, Qt::black), "gradientWhiteBlack");
    save(gradient(Qt::yellow, QColor(128, 0, 128)), "gradientYellowPurple");
    save(gradient(Qt::white, Qt::gray), "gradientWhiteGrey");
    save(gradient(Qt::red, Qt::blue), "gradientRedBlue");
    for (quint32 s = 1; s <= 3; ++s) {
        const QImage scene = madeUpScene(s);
        save(scene, QString("scene%1").arg(s));
        save(withPerson(scene), QString("scene%1person").arg(s));
        save(withRedText(scene), QString("scene%1marked").arg(s));
    }
    std::printf("%d sources written to %s\n", written, qPrintable(dir.path()));
    return failed == 0 ? 0 : 1;
}
