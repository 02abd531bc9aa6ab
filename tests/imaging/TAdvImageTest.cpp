// The image view control: loads and their events, sizes, failures, the setters'
// repaint rule and what it paints.

#include "TAdvImage.h"
#include "JPEGImage.h"
#include "JpegTestFiles.h"
#include "PictureLoader.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QSet>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <filesystem>
#include <fstream>

namespace {

QImage solid(int width, int height, QColor colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

bool near(QRgb a, QColor b) {
    return qAbs(qRed(a) - b.red()) < 8 && qAbs(qGreen(a) - b.green()) < 8 &&
           qAbs(qBlue(a) - b.blue()) < 8;
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

class TAdvImageTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString path(const QString& name) const { return dir_.filePath(name); }
    QString writeJpeg(const QString& name, int width, int height) {
        JpegEncodeOptions o;
        o.width = width;
        o.height = height;
        const QString p = path(name);
        WriteFile(p, EncodeTestJpeg(o));
        return p;
    }
    QString writeImage(const QString& name, const QImage& image, const char* format) {
        const QString p = path(name);
        QImageWriter writer(p, format);
        if (!writer.write(image))
            qWarning() << writer.errorString();
        return p;
    }
    // An icon file of several images: each written as an icon of its own, the entries
    // then joined under one directory.
    QString writeIcon(const QString& name, const QList<int>& sides) {
        QByteArray entries, data;
        const int dataStart = 6 + 16 * int(sides.size());
        for (int side : sides) {
            QByteArray one;
            QBuffer buffer(&one);
            buffer.open(QIODevice::WriteOnly);
            QImageWriter(&buffer, "ico").write(solid(side, side, Qt::blue));
            QByteArray entry = one.mid(6, 16);
            qToLittleEndian<quint32>(quint32(dataStart + data.size()), entry.data() + 12);
            entries += entry;
            data += one.mid(qFromLittleEndian<quint32>(one.constData() + 18));
        }
        const QByteArray header("\0\0\1\0", 4);
        QByteArray count(2, '\0');
        count[0] = char(sides.size());
        const QString p = path(name);
        QFile f(p);
        f.open(QIODevice::WriteOnly);
        f.write(header + count + entries + data);
        return p;
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void eventsBracketTheLoad() {
        const QString first = writeJpeg("first.jpg", 64, 48);
        const QString second = writeJpeg("second.JPEG", 80, 60);
        TAdvImage image;
        image.setFileName(first);

        QStringList log;
        connect(&image, &TAdvImage::imageLoading, [&](TAdvImage* sender) {
            QCOMPARE(sender, &image);
            log << QString("loading %1 %2 %3")
                       .arg(QFileInfo(image.FileName()).fileName())
                       .arg(image.Loading())
                       .arg(image.ImageWidth());
        });
        connect(&image, &TAdvImage::imageLoaded, [&](TAdvImage* sender) {
            QCOMPARE(sender, &image);
            log << QString("loaded %1 %2 %3")
                       .arg(QFileInfo(image.FileName()).fileName())
                       .arg(image.Loading())
                       .arg(image.ImageWidth());
        });
        image.setFileName(second);
        QCOMPARE(log, QStringList({"loading first.jpg 1 64", "loaded second.JPEG 0 80"}));
        QCOMPARE(image.Loading(), false);

        // Writing the same name loads again.
        log.clear();
        image.setFileName(second);
        QCOMPARE(log.size(), 2);
    }

    void failedLoadsLeaveTheControlEmpty_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("exists");
        const QByteArray jpeg = EncodeTestJpeg({});
        QTest::addRow("empty name") << QString() << QByteArray() << false;
        QTest::addRow("missing file") << "missing.jpg" << QByteArray() << false;
        QTest::addRow("png extension") << "photo.png" << jpeg << true;
        QTest::addRow("no extension") << "photo" << jpeg << true;
        QTest::addRow("empty jpeg") << "empty.jpg" << QByteArray() << true;
        QTest::addRow("garbage jpeg") << "garbage.jpe" << QByteArray(500, 'x') << true;
        QTest::addRow("truncated header") << "cut.jpg" << jpeg.left(30) << true;
        QTest::addRow("huge header") << "huge.jpg" << PatchJpegSize(jpeg, 60000, 60000) << true;
        QTest::addRow("jpeg named bmp") << "photo.bmp" << jpeg << true;
        QTest::addRow("garbage icon") << "bad.ico" << QByteArray(100, '\1') << true;
        QTest::addRow("garbage metafile") << "bad.emf" << QByteArray(100, '\1') << true;
    }

    void failedLoadsLeaveTheControlEmpty() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(bool, exists);
        const QString full = name.isEmpty() ? QString() : path(name);
        if (exists)
            QVERIFY(WriteFile(full, content));

        TAdvImage image;
        image.resize(100, 100);
        image.setFileName(writeJpeg("good.jpg", 64, 48));
        QCOMPARE(image.ImageWidth(), 64);

        int loading = 0;
        int loaded = 0;
        connect(&image, &TAdvImage::imageLoading, [&] { ++loading; });
        connect(&image, &TAdvImage::imageLoaded, [&] { ++loaded; });
        image.setFileName(full);
        QCOMPARE(loading, 1);
        QCOMPARE(loaded, 1);
        QCOMPARE(image.FileName(), full);
        QCOMPARE(image.ImageWidth(), 0);
        QCOMPARE(image.ImageHeight(), 0);
        QCOMPARE(image.Picture().graphic(), nullptr);
        QCOMPARE(image.FileSize(), exists ? qint64(content.size()) : qint64(0));
        QVERIFY(!image.grab().isNull()); // painting an empty control is harmless
    }

    void aDirectoryIsNotAFile() {
        QVERIFY(QDir(dir_.path()).mkpath("folder.jpg"));
        TAdvImage image;
        image.setFileName(path("folder.jpg"));
        QCOMPARE(image.ImageWidth(), 0);
        QCOMPARE(image.FileSize(), qint64(0));
    }

    void sizesOfEachKind() {
        TAdvImage image;
        image.setJPEGScale(jsEighth);
        const QString jpeg = writeJpeg("big.jpg", 1600, 1200);
        image.setFileName(jpeg);
        QCOMPARE(image.ImageWidth(), 200);
        QCOMPARE(image.ImageHeight(), 150);
        QCOMPARE(image.FileSize(), QFileInfo(jpeg).size());

        image.setFileName(writeImage("picture.BMP", solid(40, 30, Qt::red), "bmp"));
        QCOMPARE(image.ImageWidth(), 40);
        QCOMPARE(image.ImageHeight(), 30);

        image.setFileName(writeImage("icon.ico", solid(32, 32, Qt::blue), "ico"));
        QCOMPARE(image.ImageWidth(), 32);
        QCOMPARE(image.ImageHeight(), 32);
        // Of several images the standard 32 x 32 one, else the first.
        const std::pair<QList<int>, int> icons[] = {{{16, 32, 48}, 32}, {{48, 16}, 48}};
        for (const auto& [sides, shown] : icons) {
            image.setFileName(writeIcon("several.ico", sides));
            QCOMPARE(image.ImageWidth(), shown);
            QCOMPARE(image.ImageHeight(), shown);
        }

        for (const char* name : {"metafile_sample.EMF", "metafile_sample.wmf"}) {
            const QString copy = path(name);
            QFile::copy(QStringLiteral(FENWA_IMAGING_DATA) + QString(name).toLower(), copy);
            image.setFileName(copy);
            QVERIFY2(qAbs(image.ImageWidth() - 372) <= 1, name);
            QVERIFY2(qAbs(image.ImageHeight() - 272) <= 1, name);
        }
    }

    void jpegSettingsAreHandedToTheNextLoad() {
        const QString jpeg = writeJpeg("settings.jpg", 160, 120);
        TAdvImage image;
        image.setJPEGGrayscale(true);
        image.setJPEGPerformance(jpBestSpeed);
        image.setFileName(jpeg);
        auto* picture = dynamic_cast<TJPEGImage*>(image.Picture().graphic());
        QVERIFY(picture);
        QVERIFY(picture->Grayscale());
        QCOMPARE(picture->Performance(), jpBestSpeed);
        QVERIFY(picture->hasBitmap()); // decoded inside the load
        QCOMPARE(picture->bitmap().bitsPerPixel(), 8);

        // A change after the load keeps the loaded picture as it is.
        image.setJPEGScale(jsHalf);
        QCOMPARE(image.ImageWidth(), 160);
        image.setFileName(jpeg);
        QCOMPARE(image.ImageWidth(), 80);
    }

    void namesThatAreNotUtf8() {
        const QByteArray native = QFile::encodeName(dir_.path()) + "/\xff\xfe photo.jpg";
        {
            std::ofstream out(native.toStdString(), std::ios::binary);
            const QByteArray bytes = EncodeTestJpeg({});
            out.write(bytes.constData(), bytes.size());
        }
        TAdvImage image;
        image.loadNativeFile(native);
        QCOMPARE(image.NativeFileName(), native);
        QCOMPARE(image.ImageWidth(), 64);
        QVERIFY(image.FileSize() > 0);
        // QTemporaryDir cannot name this file to remove it.
        std::filesystem::remove(native.toStdString());
    }

    void aLibraryCanAddGifFiles() {
        RegisterImageLoader("gif", "GIF Image", [](const QByteArray& bytes) {
            return bytes == "GIF89a" ? solid(12, 7, Qt::green) : QImage();
        });
        QVERIFY(WriteFile(path("anim.GIF"), "GIF89a"));
        TAdvImage image;
        image.setFileName(path("anim.GIF"));
        QCOMPARE(image.ImageWidth(), 12);
        QCOMPARE(image.ImageHeight(), 7);
    }

    void settersRepaintOnlyOnChange() {
        TAdvImage image;
        image.resize(50, 50);
        image.show();
        QVERIFY(QTest::qWaitForWindowExposed(&image));
        PaintCounter counter;
        image.installEventFilter(&counter);

        image.setStretchRatio(image.StretchRatio());
        image.setCenterView(image.CenterView());
        image.setJPEGScale(image.JPEGScale());
        image.setColor(image.Color());
        QCOMPARE(counter.paints, 0);

        image.setStretchRatio(!image.StretchRatio());
        QVERIFY(counter.paints >= 1); // painted at once, not later
        const int afterOne = counter.paints;
        image.setJPEGGrayscale(true);
        QVERIFY(counter.paints > afterOne);
    }

    void paintsTheStretchedPictureAndFillsTheRest() {
        TAdvImage image;
        image.resize(200, 200);
        image.setColor(Qt::blue);
        image.setStretchRatio(true);
        image.setCenterView(true);
        image.setFileName(writeImage("wide.bmp", solid(400, 300, Qt::red), "bmp"));
        const QImage shot = image.grab().toImage();
        QVERIFY(near(shot.pixel(100, 10), Qt::red));
        QVERIFY(near(shot.pixel(199, 148), Qt::red));
        QVERIFY(near(shot.pixel(100, 152), Qt::blue));
        QVERIFY(near(shot.pixel(5, 195), Qt::blue));
    }

    void paintsLargePicturesCentredAndCut() {
        QImage picture = solid(1000, 800, Qt::red);
        QPainter(&picture).fillRect(400, 300, 200, 200, Qt::green);
        TAdvImage image;
        image.resize(200, 200);
        image.setColor(Qt::blue);
        image.setCenterView(true);
        image.setFileName(writeImage("large.bmp", picture, "bmp"));
        const QImage shot = image.grab().toImage();
        QVERIFY(near(shot.pixel(0, 0), Qt::green));
        QVERIFY(near(shot.pixel(199, 199), Qt::green));
    }

    void paintsSmallPicturesCentredWithStrips() {
        TAdvImage image;
        image.resize(200, 200);
        image.setColor(Qt::blue);
        image.setCenterView(true);
        image.setFileName(writeImage("small.bmp", solid(100, 50, Qt::red), "bmp"));
        QImage shot = image.grab().toImage();
        QVERIFY(near(shot.pixel(50, 75), Qt::red));
        QVERIFY(near(shot.pixel(149, 124), Qt::red));
        for (QPoint p : {QPoint(49, 75), QPoint(150, 75), QPoint(100, 74), QPoint(100, 125)})
            QVERIFY2(near(shot.pixel(p), Qt::blue),
                     qPrintable(QString("%1,%2").arg(p.x()).arg(p.y())));

        image.setCenterView(false);
        shot = image.grab().toImage();
        QVERIFY(near(shot.pixel(0, 0), Qt::red));
        QVERIFY(near(shot.pixel(100, 0), Qt::blue));
    }

    void paintsAJpegPicture() {
        TAdvImage image;
        image.resize(100, 100);
        image.setColor(Qt::blue);
        image.setStretchRatio(true);
        image.setFileName(writeJpeg("shown.jpg", 320, 160));
        const QImage shot = image.grab().toImage();
        // Drawn into (0, 0, 100, 50): the test pattern's green is 0 in its top row.
        QVERIFY(qGreen(shot.pixel(50, 1)) < 60);
        QVERIFY(near(shot.pixel(50, 80), Qt::blue));
    }

    void exifOrientationTurnsThePicture() {
        // Four solid quarters: red top-left, green top-right, blue bottom-left, white
        // bottom-right, saved by Qt and tagged "turn a quarter clockwise".
        QImage quarters(64, 48, QImage::Format_RGB32);
        quarters.fill(Qt::white);
        QPainter painter(&quarters);
        painter.fillRect(0, 0, 32, 24, Qt::red);
        painter.fillRect(32, 0, 32, 24, Qt::green);
        painter.fillRect(0, 24, 32, 24, Qt::blue);
        painter.end();
        QByteArray plain;
        QBuffer buffer(&plain);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(quarters.save(&buffer, "JPG", 95));
        const QString file = path("turned.jpg");
        QVERIFY(WriteFile(file, WithExifOrientation(plain, 6, true)));

        TAdvImage image;
        image.resize(100, 100);
        image.setColor(Qt::black);
        image.setFileName(file);
        QCOMPARE(image.ImageWidth(), 48);
        QCOMPARE(image.ImageHeight(), 64);
        const QImage shot = image.grab().toImage();
        QVERIFY(near(shot.pixel(44, 3), Qt::red)); // was top-left, now top-right
        QVERIFY(near(shot.pixel(3, 3), Qt::blue));
        QVERIFY(near(shot.pixel(44, 60), Qt::green));
        QVERIFY(near(shot.pixel(3, 60), Qt::white));
        QVERIFY(near(shot.pixel(60, 3), Qt::black)); // beyond the turned width

        // The slides' eighth scale turns the small bitmap and its size alike.
        image.setJPEGScale(jsEighth);
        image.setFileName(file);
        QCOMPARE(image.ImageWidth(), 6);
        QCOMPARE(image.ImageHeight(), 8);
        const QImage small = PictureBitmap(image.Picture()).toQImage();
        QCOMPARE(small.size(), QSize(6, 8));
        QVERIFY(near(small.pixel(5, 0), Qt::red));
        QVERIFY(near(small.pixel(0, 0), Qt::blue));

        // Without the tag the same picture loads as stored.
        image.setJPEGScale(jsFullSize);
        const QString untagged = path("untagged.jpg");
        QVERIFY(WriteFile(untagged, plain));
        image.setFileName(untagged);
        QCOMPARE(image.ImageWidth(), 64);
        QCOMPARE(image.ImageHeight(), 48);
        QVERIFY(near(image.grab().toImage().pixel(3, 3), Qt::red));
    }

    // Pictures drawn at another size are stretched without filtering: every pixel
    // drawn is one of the picture's own colours, for each kind of picture, enlarged and
    // reduced.
    void stretchedPicturesKeepTheirOwnColours_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("grey");
        QTest::addColumn<QSize>("control");
        // Cells of 16 pixels, in black and white for JPEG files so that the decoded
        // picture itself has sharp edges and few colours.
        QImage colours(64, 48, QImage::Format_RGB32);
        QImage blackWhite = colours;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                const bool odd = (x / 16 + y / 16) % 2;
                colours.setPixel(x, y, odd ? qRgb(220, 20, 20) : qRgb(20, 20, 220));
                blackWhite.setPixel(x, y, odd ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
            }
        const QString bmp = writeImage("cells.bmp", colours, "bmp");
        const QString png = writeImage("cells.png", colours, "png");
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        blackWhite.save(&buffer, "JPG", 100);
        const QString jpg = path("cells.jpg");
        WriteFile(jpg, jpeg);
        // 64 x 48 does not fit 300 x 40 (and is enlarged to 300 x 225) nor 50 x 50.
        const std::pair<const char*, QSize> sizes[] = {{"enlarged", QSize(300, 40)},
                                                       {"reduced", QSize(50, 50)}};
        for (const auto& [how, control] : sizes) {
            QTest::addRow("bitmap %s", how) << bmp << false << control;
            QTest::addRow("jpeg %s", how) << jpg << false << control;
            QTest::addRow("grey jpeg %s", how) << jpg << true << control;
            QTest::addRow("photo kind %s", how) << png << false << control;
        }
    }

    void stretchedPicturesKeepTheirOwnColours() {
        QFETCH(QString, file);
        QFETCH(bool, grey);
        QFETCH(QSize, control);
        TAdvImage image;
        image.resize(control);
        image.setColor(Qt::green);
        image.setStretchRatio(true);
        image.setJPEGGrayscale(grey);
        image.setFileName(file);
        QCOMPARE(image.ImageWidth(), 64);
        const QImage source =
            PictureBitmap(image.Picture()).toQImage().convertToFormat(QImage::Format_RGB32);
        QSet<QRgb> own;
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x)
                own.insert(source.pixel(x, y));
        QVERIFY(!own.contains(qRgb(0, 255, 0)));

        const QImage shot = image.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const int pictureHeight = qMin(control.height(), qRound(48.0 * control.width() / 64));
        int drawn = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) {
                const QRgb pixel = shot.pixel(x, y);
                if (pixel == qRgb(0, 255, 0))
                    continue;
                ++drawn;
                if (!own.contains(pixel))
                    QFAIL(qPrintable(QString("(%1, %2) is #%3, not a colour of the picture")
                                         .arg(x)
                                         .arg(y)
                                         .arg(pixel & 0xFFFFFF, 6, 16, QChar('0'))));
            }
        QCOMPARE(drawn, control.width() * pictureHeight);
    }

    // A JPEG file whose decoding fails part-way shows the rows that were decoded, on
    // the first paint and on later ones; one that fails before any row shows nothing.
    void aJpegDamagedPartWayShowsWhatWasDecoded() {
        JpegEncodeOptions o;
        o.width = 160;
        o.height = 128;
        const QByteArray intact = EncodeTestJpeg(o);
        QVERIFY(WriteFile(path("intact.jpg"), intact));
        QVERIFY(WriteFile(path("damaged.jpg"), WithStrayStartMarker(intact, 0, 0.5)));
        TAdvImage image;
        image.resize(200, 150);
        image.setColor(Qt::blue);
        image.setFileName(path("intact.jpg"));
        const QImage expected = image.grab().toImage().copy(0, 0, 160, 32);

        image.setFileName(path("damaged.jpg"));
        QCOMPARE(image.ImageWidth(), 160);
        QCOMPARE(image.ImageHeight(), 128);
        QVERIFY(image.Picture().graphic());
        for (int paint = 0; paint < 2; ++paint) {
            const QImage shot = image.grab().toImage();
            QCOMPARE(shot.copy(0, 0, 160, 32), expected);
            QVERIFY(!near(shot.pixel(80, 127), Qt::blue)); // the picture's own rows
            QVERIFY(near(shot.pixel(80, 140), Qt::blue));
        }

        // Progressive, damaged after its fourth scan, decoded in one go as the slides
        // decode: every scan is read before the first row, so nothing is shown.
        o.progressive = true;
        QVERIFY(WriteFile(path("damaged-progressive.jpg"),
                          WithStrayStartMarker(EncodeTestJpeg(o), 3, 1.0)));
        image.setFileName(path("damaged-progressive.jpg"));
        QCOMPARE(image.ImageWidth(), 0);
        QCOMPARE(image.Picture().graphic(), nullptr);
        // Shown pass by pass, as the preview and the viewer show it, its earlier passes show.
        image.setJPEGProgressiveDisplay(true);
        image.setFileName(path("damaged-progressive.jpg"));
        QCOMPARE(image.ImageWidth(), 160);
        QVERIFY(!near(image.grab().toImage().pixel(80, 120), Qt::blue));
    }

    void emptyLabel() {
        TAdvImage image;
        image.resize(120, 60);
        image.setColor(Qt::yellow);
        image.setShowEmptyLabel(true);
        image.setFileName(QString());
        const QImage shot = image.grab().toImage();
        // The label's box is filled with the control's colour; the rest is not painted.
        const QFontMetrics metrics(image.font());
        QVERIFY(near(shot.pixel(60, (60 - metrics.height()) / 2), Qt::yellow));
        QVERIFY(!near(shot.pixel(1, 1), Qt::yellow));
    }
};

QTEST_MAIN(TAdvImageTest)
#include "TAdvImageTest.moc"
