// The Qt side of the GIF picture: a file's first image as a QImage, and the image holder
// TGifImage with its loading flag, events, timer interval, animation steps and cursor.

#include "GifPicture.h"
#include "GifErrors.h"
#include "GifImage.h"
#include "GifTestSupport.h"

#include <QFile>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <functional>

using namespace fenwa;
using namespace fenwa::gif;
using namespace fenwa::gif::test;

namespace {

QRgb Rgb(const TRgb& c) {
    return qRgb(c.Red, c.Green, c.Blue);
}

GifSpec Frames(const std::vector<uint16_t>& delays) {
    GifSpec spec;
    spec.screenWidth = 4;
    spec.screenHeight = 3;
    spec.globalColors = Ramp(4, 20);
    for (size_t i = 0; i < delays.size(); ++i) {
        ImageSpec image;
        image.width = i == 0 ? 4 : 2;
        image.height = i == 0 ? 3 : 1;
        image.left = i == 0 ? 0 : 1;
        image.top = i == 0 ? 0 : 2;
        image.pixels.assign(size_t{image.width} * image.height, static_cast<uint8_t>(i % 4));
        image.extensions = GraphicControl(delays[i]);
        spec.images.push_back(image);
    }
    return spec;
}

} // namespace

class GifPictureTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    QByteArray Write(const QString& name, const Bytes& bytes) {
        return WritePath(QFile::encodeName(dir.filePath(name)), bytes);
    }
    QByteArray WritePath(const QByteArray& path, const Bytes& bytes) {
        // Written through the byte path: QString cannot hold every native name.
        std::ofstream out(path.toStdString(), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        if (!out)
            qFatal("cannot write %s", path.constData());
        return path;
    }

private slots:
    void firstImageAsOpaqueColours() {
        GifSpec spec = Frames({0, 0});
        spec.images[0].pixels = {0, 1, 2, 3, 3, 2, 1, 0, 2, 2, 2, 2};
        // Index 1 is transparent: it still shows its palette colour.
        spec.images[0].extensions = GraphicControl(0, 0x01, 1);
        const QImage image = loadGifFirstImage(Write("frames.gif", BuildGif(spec)));
        QCOMPARE(image.size(), QSize(4, 3));
        QVERIFY(!image.hasAlphaChannel());
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x)
                QCOMPARE(image.pixel(x, y),
                         Rgb(spec.globalColors[spec.images[0].pixels[y * 4 + x]]));
        const Bytes bytes = BuildGif(spec);
        QCOMPARE(loadGifFirstImageFromData(QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                                      qsizetype(bytes.size()))),
                 image);
    }

    void nativePathThatIsNotUtf8() {
        const QByteArray path = QFile::encodeName(dir.path()) + "/bild-\xE4\xFF.gif";
        WritePath(path, BuildGif(Frames({0})));
        const QSize size = loadGifFirstImage(path).size();
        std::remove(path.constData()); // QTemporaryDir cannot remove a name that is not UTF-8
        QCOMPARE(size, QSize(4, 3));
    }

    void failuresThrow() {
        QVERIFY_THROWS_EXCEPTION(EFileError,
                                 loadGifFirstImage(QFile::encodeName(dir.filePath("none.gif"))));
        GifSpec empty;
        empty.globalColors = Ramp(2);
        QVERIFY_THROWS_EXCEPTION(EListError,
                                 loadGifFirstImage(Write("empty.gif", BuildGif(empty))));
        QVERIFY_THROWS_EXCEPTION(
            EGifException,
            loadGifFirstImage(Write("text.gif", Bytes{'h', 'e', 'l', 'l', 'o', '!', '!'})));
    }

    void loadingFlagAndEvents() {
        TGifImage gif;
        QVERIFY(!gif.Loading());
        QStringList seen;
        connect(&gif, &TGifImage::OnImageLoading, this,
                [&] { seen << QString("loading %1").arg(gif.Loading()); });
        connect(&gif, &TGifImage::OnImageLoaded, this,
                [&] { seen << QString("loaded %1").arg(gif.Loading()); });
        gif.LoadFromFile(Write("one.gif", BuildGif(Frames({30}))));
        QCOMPARE(seen, QStringList({"loading 0", "loaded 0"}));
        QCOMPARE(gif.CurrentImage(), 1);
        QCOMPARE(gif.Picture().size(), QSize(4, 3));
        const QImage before = gif.Picture();

        // A failed load passes its error on; Loading stays set, the picture stays.
        seen.clear();
        QVERIFY_THROWS_EXCEPTION(
            EGifException, gif.LoadFromFile(Write("bad.gif", Bytes{'G', 'I', 'F', '9', '9', 'a'})));
        QCOMPARE(seen, QStringList({"loading 0"}));
        QVERIFY(gif.Loading());
        QCOMPARE(gif.Picture(), before);
        QVERIFY(gif.GifFile() != nullptr);
    }

    void timerInterval() {
        TGifImage gif;
        gif.SetStartImmediately(true);
        gif.Timer()->setInterval(1234);
        gif.LoadFromFile(Write("single.gif", BuildGif(Frames({50}))));
        QCOMPARE(gif.Timer()->interval(), 1234); // one image: untouched
        QVERIFY(!gif.Timer()->isActive());
        gif.LoadFromFile(Write("zero.gif", BuildGif(Frames({0, 0, 0}))));
        QCOMPARE(gif.Timer()->interval(), 0);
        QTest::qWait(20);
        QCOMPARE(gif.CurrentImage(), 1); // a delay of 0 never steps
        gif.LoadFromFile(Write("anim.gif", BuildGif(Frames({10, 40, 0}))));
        QCOMPARE(gif.Timer()->interval(), 400); // the last non-zero delay, in ms
        QVERIFY(gif.Timer()->isActive());
    }

    void everyReadEndsWithTheDefaultCursor() {
        const QByteArray good = Write("cursor.gif", BuildGif(Frames({0})));
        const QByteArray bad = Write("cursor-bad.gif", Bytes{'G', 'I', 'F', '9', '9', 'a'});
        const std::function<void()> reads[] = {
            [&] { loadGifFirstImage(good); },
            [&] { QVERIFY_THROWS_EXCEPTION(EGifException, loadGifFirstImage(bad)); },
            [&] { loadGifFirstImageFromData(QByteArray(12, 'x')); },
            [&] { TGifImage().LoadFromFile(good); },
            [&] { QVERIFY_THROWS_EXCEPTION(EGifException, TGifImage().LoadFromFile(bad)); },
        };
        for (const auto& read : reads) {
            QGuiApplication::setOverrideCursor(Qt::CrossCursor); // shown before the read
            try {
                read();
            } catch (const std::exception&) {
            }
            QVERIFY(!QGuiApplication::overrideCursor());
        }
    }

    void advanceDrawsLaterImagesAtTheirPlaceAndWraps() {
        const GifSpec spec = Frames({0, 0, 0});
        TGifImage gif;
        gif.Advance(); // no file: nothing happens
        QCOMPARE(gif.CurrentImage(), 0);
        gif.LoadFromFile(Write("three.gif", BuildGif(spec)));
        const QImage first = gif.Picture();
        gif.Advance();
        QCOMPARE(gif.CurrentImage(), 2);
        // Image 2 is 2 x 1 at (1, 2) in colour 1; the rest stays image 1.
        QCOMPARE(gif.Picture().pixel(1, 2), Rgb(spec.globalColors[1]));
        QCOMPARE(gif.Picture().pixel(2, 2), Rgb(spec.globalColors[1]));
        QCOMPARE(gif.Picture().pixel(0, 2), Rgb(spec.globalColors[0]));
        QCOMPARE(gif.Picture().pixel(3, 2), Rgb(spec.globalColors[0]));
        QCOMPARE(gif.Picture().size(), QSize(4, 3));
        gif.Advance();
        QCOMPARE(gif.CurrentImage(), 3);
        QCOMPARE(gif.Picture().pixel(1, 2), Rgb(spec.globalColors[2]));
        gif.Advance();
        QCOMPARE(gif.CurrentImage(), 1);
        QCOMPARE(gif.Picture(), first);
    }
};

QTEST_MAIN(GifPictureTest)
#include "GifPictureTest.moc"
