// Pictures a fingerprint confuses although they differ: pages of different text, contract
// pages that differ in a few amounts and a month (and one pair in a single digit), scanned
// pages, screenshots of one layout with other contents, two-colour gradients, and
// photo-like scenes beside the same scene with a figure pasted in or a line of red text
// across it. Each is a source of its own (its file name is its label), so
// `fenwa-bench-similar --write-corpus` makes their honest copies and `--corpus` counts
// every pair of different sources it groups as a false pair.
//
//   fenwa-bench-confusers DIR      writes the sources into DIR as PNG files

#include <QDir>
#include <QGuiApplication>
#include <cstdio>

#include "confuserpictures.h"
#include "madeupphoto.h"

using namespace fenwa::testing;

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
    // Contracts of one text: B has three other amounts, C another month and one other
    // amount, OneDigit a single digit changed in one price.
    save(contractVersion({}, "March"), "contractA");
    save(contractVersion({{1, "520.00"}, {3, "810.00"}, {5, "5,270.00"}}, "March"), "contractB");
    save(contractVersion({{2, "2,150.00"}}, "May"), "contractC");
    save(contractVersion({{4, "398.00"}}, "March"), "contractOneDigit");
    save(scannedPage(101, 0.8), "scan1");
    save(scannedPage(102, -0.6), "scan2");
    for (quint32 s = 1; s <= 4; ++s)
        save(editorScreenshot(s), QString("editor%1").arg(s));
    save(webPageScreenshot(3), "webpage3");
    save(webPageScreenshot(4), "webpage4");
    save(twoColourGradient(Qt::white, Qt::black), "gradientWhiteBlack");
    save(twoColourGradient(Qt::yellow, QColor(128, 0, 128)), "gradientYellowPurple");
    save(twoColourGradient(Qt::white, Qt::gray), "gradientWhiteGrey");
    save(twoColourGradient(Qt::red, Qt::blue), "gradientRedBlue");
    for (quint32 s = 1; s <= 4; ++s) {
        const QImage scene = madeUpScene(s);
        save(scene, QString("scene%1").arg(s));
        save(withPerson(scene), QString("scene%1person").arg(s));
        save(withRedText(scene), QString("scene%1marked").arg(s));
    }
    std::printf("%d sources written to %s\n", written, qPrintable(dir.path()));
    return failed == 0 ? 0 : 1;
}
