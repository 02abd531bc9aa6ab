// The metafile player: small EMF and WMF files built record by record, played into
// an image and checked where their shapes must be.

#include "GraphicErrors.h"
#include "MetafileGraphic.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

void ensureApplication() {
    static int argc = 1;
    static char name[] = "metafile_test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QGuiApplication(argc, argv); // text drawing needs the font database
}

// Builds little-endian records.
class Bytes {
public:
    Bytes& u32(uint32_t v) {
        char b[4];
        qToLittleEndian(v, b);
        data.append(b, 4);
        return *this;
    }
    Bytes& i32(int32_t v) { return u32(uint32_t(v)); }
    Bytes& u16(uint16_t v) {
        char b[2];
        qToLittleEndian(v, b);
        data.append(b, 2);
        return *this;
    }
    Bytes& i16(int16_t v) { return u16(uint16_t(v)); }
    Bytes& raw(const QByteArray& b) {
        data.append(b);
        return *this;
    }
    QByteArray data;
};

// One EMF record: type, size, then the body.
QByteArray emfRecord(uint32_t type, const Bytes& body) {
    Bytes r;
    r.u32(type).u32(uint32_t(8 + body.data.size())).raw(body.data);
    return r.data;
}

// An EMF whose frame is 50 x 25 mm on a reference device of 4 pixels per mm, so the
// frame covers device pixels (0, 0)-(200, 100).
QByteArray emfFile(const QList<QByteArray>& records) {
    Bytes h;
    h.i32(0).i32(0).i32(199).i32(99);    // bounds
    h.i32(0).i32(0).i32(5000).i32(2500); // frame, 0.01 mm
    h.u32(0x464D4520).u32(0x10000);      // signature, version
    QByteArray body;
    for (const QByteArray& r : records)
        body.append(r);
    const QByteArray eof = emfRecord(14, Bytes().u32(0).u32(16).u32(20));
    h.u32(uint32_t(108 + body.size() + eof.size())); // nBytes
    h.u32(uint32_t(records.size() + 2));             // nRecords
    h.u16(8).u16(0);                                 // handles, reserved
    h.u32(0).u32(0).u32(0);                          // description, palette
    h.i32(1000).i32(1000);                           // device pixels
    h.i32(250).i32(250);                             // device millimetres
    h.u32(0).u32(0).u32(0);                          // pixel format, OpenGL
    h.i32(250000).i32(250000);                       // micrometres
    return emfRecord(1, h) + body + eof;
}

QByteArray colour(int r, int g, int b) {
    return QByteArray() + char(r) + char(g) + char(b) + char(0);
}

QImage play(TMetafileGraphic& graphic, QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    graphic.draw(painter, QRect(QPoint(0, 0), size));
    return image;
}

bool near(QRgb pixel, QColor expected, int tolerance = 40) {
    return qAbs(qRed(pixel) - expected.red()) <= tolerance &&
           qAbs(qGreen(pixel) - expected.green()) <= tolerance &&
           qAbs(qBlue(pixel) - expected.blue()) <= tolerance;
}

QByteArray shapesEmf() {
    return emfFile({
        emfRecord(39, Bytes().u32(1).u32(0).raw(colour(255, 0, 0)).u32(0)), // red brush
        emfRecord(37, Bytes().u32(1)),
        emfRecord(37, Bytes().u32(0x80000008)), // NULL_PEN
        emfRecord(43, Bytes().i32(0).i32(0).i32(100).i32(100)),
        emfRecord(39, Bytes().u32(2).u32(0).raw(colour(0, 0, 255)).u32(0)), // blue brush
        emfRecord(37, Bytes().u32(2)),
        emfRecord(42, Bytes().i32(100).i32(0).i32(200).i32(100)),
    });
}

TEST(Metafile, EmfSizeComesFromItsFrame) {
    TMetafileGraphic graphic;
    graphic.loadFromBytes(shapesEmf());
    EXPECT_EQ(graphic.kind(), TMetafileGraphic::Kind::Emf);
    EXPECT_EQ(graphic.width(), 189); // 50 mm at 96 pixels per inch
    EXPECT_EQ(graphic.height(), 94);
}

TEST(Metafile, EmfShapesArePlayedIntoTheRectangle) {
    ensureApplication();
    TMetafileGraphic graphic;
    graphic.loadFromBytes(shapesEmf());
    const QImage image = play(graphic, QSize(400, 200)); // twice the frame
    EXPECT_TRUE(near(image.pixel(100, 100), Qt::red));
    EXPECT_TRUE(near(image.pixel(10, 190), Qt::red));
    EXPECT_TRUE(near(image.pixel(300, 100), Qt::blue));
    EXPECT_TRUE(near(image.pixel(395, 5), Qt::white)); // outside the ellipse
}

TEST(Metafile, EmfMappingModeTextHatchAndBitmap) {
    ensureApplication();
    // MM_LOMETRIC: 0.1 mm units with y upwards; the frame's top-left is (0, 0), so the
    // drawing lives at negative y.
    const QByteArray text = QByteArray("H\0H\0H\0H\0", 8);
    Bytes textOut;
    textOut.i32(0).i32(0).i32(0).i32(0).u32(1).u32(0).u32(0); // bounds, mode, scales
    textOut.i32(20).i32(-150).u32(4).u32(76).u32(0);          // ref, chars, offString, options
    textOut.i32(0).i32(0).i32(0).i32(0).u32(0);               // rect, offDx
    textOut.raw(text);
    Bytes font;
    font.u32(3).i32(-60).i32(0).i32(0).i32(0).i32(700).u32(0).u32(0).u32(0).u32(0);
    font.raw(QByteArray(332 - 40, '\0'));
    // A 2 x 1 bitmap, bottom-up, 24 bits: green then black.
    Bytes dib;
    dib.u32(40).i32(2).i32(1).u16(1).u16(24).u32(0).u32(8).i32(0).i32(0).u32(0).u32(0);
    dib.raw(QByteArray("\x00\xff\x00\x00\x00\x00\x00\x00", 8));
    Bytes stretch;
    stretch.i32(0).i32(0).i32(0).i32(0);     // bounds
    stretch.i32(250).i32(-10);               // dest
    stretch.i32(0).i32(0).i32(2).i32(1);     // src, cSrc
    stretch.u32(80).u32(40).u32(120).u32(8); // offBmi, cbBmi, offBits, cbBits
    stretch.u32(0).u32(0x00CC0020);          // usage, SRCCOPY
    stretch.i32(200).i32(-200);              // cDest
    stretch.raw(dib.data);
    const QByteArray file = emfFile({
        emfRecord(17, Bytes().u32(2)),                                    // MM_LOMETRIC
        emfRecord(18, Bytes().u32(1)),                                    // TRANSPARENT
        emfRecord(39, Bytes().u32(1).u32(2).raw(colour(0, 0, 0)).u32(4)), // cross hatch
        emfRecord(37, Bytes().u32(1)),
        emfRecord(43, Bytes().i32(0).i32(0).i32(200).i32(-240)), // 20 x 24 mm
        emfRecord(82, font),
        emfRecord(37, Bytes().u32(3)),
        emfRecord(22, Bytes().u32(24)), // TA_BASELINE
        emfRecord(84, textOut),
        emfRecord(81, stretch),
    });
    TMetafileGraphic graphic;
    graphic.loadFromBytes(file);
    const QImage image = play(graphic, QSize(200, 100)); // one pixel per device pixel

    // The hatched rectangle covers x 0..80, y 0..96: both black lines and white gaps.
    int black = 0, white = 0;
    for (int y = 5; y < 90; ++y)
        for (int x = 5; x < 75; ++x)
            (qGray(image.pixel(x, y)) < 100 ? black : white)++;
    EXPECT_GT(black, 200);
    EXPECT_GT(white, 2000);
    // The bitmap lands at x 100..180 (0.1 mm * 4 px/mm), y 4..84: left half green.
    EXPECT_TRUE(near(image.pixel(120, 40), Qt::green));
    EXPECT_TRUE(near(image.pixel(170, 40), Qt::black));
    // Bold text around the reference point (8, 60) above the baseline.
    int dark = 0;
    for (int y = 44; y < 60; ++y)
        for (int x = 8; x < 60; ++x)
            dark += qGray(image.pixel(x, y)) < 100 ? 1 : 0;
    EXPECT_GT(dark, 30);
}

TEST(Metafile, RestoreDcReturnsOnlyToASavedState) {
    ensureApplication();
    // Blue brush, saved, then red: a level naming the one save brings blue back; any other
    // level (INT32_MIN included) changes nothing.
    const struct {
        int32_t level;
        bool restores;
    } cases[] = {{-1, true}, {1, true}, {-2, false}, {0, false}, {2, false}, {INT32_MIN, false}};
    for (const auto& c : cases) {
        TMetafileGraphic graphic;
        graphic.loadFromBytes(emfFile({
            emfRecord(39, Bytes().u32(1).u32(0).raw(colour(0, 0, 255)).u32(0)),
            emfRecord(37, Bytes().u32(1)),
            emfRecord(33, Bytes()), // SAVEDC
            emfRecord(39, Bytes().u32(2).u32(0).raw(colour(255, 0, 0)).u32(0)),
            emfRecord(37, Bytes().u32(2)),
            emfRecord(34, Bytes().i32(c.level)), // RESTOREDC
            emfRecord(43, Bytes().i32(0).i32(0).i32(200).i32(100)),
        }));
        const QImage image = play(graphic, QSize(200, 100));
        EXPECT_TRUE(near(image.pixel(100, 50), c.restores ? Qt::blue : Qt::red)) << c.level;
    }
}

// A placeable WMF: bounds (0, 0)-(1000, 500) at 1000 units per inch.
QByteArray wmfFile(const QList<QByteArray>& records) {
    Bytes placeable;
    placeable.u32(0x9AC6CDD7).u16(0).i16(0).i16(0).i16(1000).i16(500).u16(1000).u32(0);
    uint16_t checksum = 0;
    for (int i = 0; i < 10; ++i)
        checksum ^= qFromLittleEndian<uint16_t>(placeable.data.constData() + i * 2);
    placeable.u16(checksum);
    QByteArray body;
    uint32_t maxRecord = 3;
    for (const QByteArray& r : records) {
        body.append(r);
        maxRecord = std::max<uint32_t>(maxRecord, uint32_t(r.size() / 2));
    }
    body.append(Bytes().u32(3).u16(0).data); // EOF
    Bytes header;
    header.u16(1).u16(9).u16(0x300).u32(uint32_t(9 + body.size() / 2)).u16(4).u32(maxRecord).u16(0);
    return placeable.data + header.data + body;
}

QByteArray wmfRecord(uint16_t function, const Bytes& params) {
    Bytes r;
    r.u32(uint32_t(3 + params.data.size() / 2)).u16(function).raw(params.data);
    return r.data;
}

QByteArray shapesWmf() {
    return wmfFile({
        wmfRecord(0x020B, Bytes().i16(0).i16(0)),                        // window origin
        wmfRecord(0x020C, Bytes().i16(500).i16(1000)),                   // window extent (y, x)
        wmfRecord(0x02FC, Bytes().u16(0).raw(colour(0, 160, 0)).u16(0)), // green brush
        wmfRecord(0x012D, Bytes().u16(0)),
        wmfRecord(0x02FA, Bytes().u16(5).i16(0).i16(0).raw(colour(0, 0, 0))), // null pen
        wmfRecord(0x012D, Bytes().u16(1)),
        wmfRecord(0x041B, Bytes().i16(500).i16(500).i16(0).i16(0)), // bottom, right, top, left
        wmfRecord(0x01F0, Bytes().u16(0)),
        wmfRecord(0x02FC, Bytes().u16(0).raw(colour(200, 0, 200)).u16(0)), // reuses slot 0
        wmfRecord(0x012D, Bytes().u16(0)),
        wmfRecord(0x0324, Bytes().u16(3).i16(600).i16(100).i16(900).i16(100).i16(750).i16(400)),
    });
}

TEST(Metafile, WmfShapesAndObjectSlots) {
    ensureApplication();
    TMetafileGraphic graphic;
    graphic.loadFromBytes(shapesWmf());
    EXPECT_EQ(graphic.kind(), TMetafileGraphic::Kind::Wmf);
    EXPECT_EQ(graphic.width(), 96);
    EXPECT_EQ(graphic.height(), 48);
    const QImage image = play(graphic, QSize(200, 100));
    EXPECT_TRUE(near(image.pixel(50, 50), QColor(0, 160, 0)));
    EXPECT_TRUE(near(image.pixel(150, 35), QColor(200, 0, 200))); // inside the triangle
    EXPECT_TRUE(near(image.pixel(195, 95), Qt::white));
}

TEST(Metafile, WmfTextInItsCodePage) {
    ensureApplication();
    // A Big5 font (charset 136) writing two Chinese characters.
    Bytes font;
    font.i16(-120).i16(0).i16(0).i16(0).i16(400);
    font.raw(QByteArray("\0\0\0\x88\0\0\0\0", 8)).raw("Serif").raw(QByteArray(27, '\0'));
    const QByteArray big5("\xa4\xa4\xa4\xe5", 4); // 中文
    Bytes textOut;
    textOut.u16(4).raw(big5).i16(200).i16(50); // length, string, y, x
    const QByteArray file = wmfFile({
        wmfRecord(0x02FB, font),
        wmfRecord(0x012D, Bytes().u16(0)),
        wmfRecord(0x0102, Bytes().u16(1)), // transparent
        wmfRecord(0x0521, textOut),
    });
    TMetafileGraphic graphic;
    graphic.loadFromBytes(file);
    const QImage image = play(graphic, QSize(200, 100));
    int dark = 0;
    for (int y = 35; y < 70; ++y)
        for (int x = 5; x < 80; ++x)
            dark += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
    EXPECT_GT(dark, 40); // glyphs were drawn (tofu boxes would also pass; see screenshot)
}

TEST(Metafile, DamagedFilesDoNotLoad) {
    TMetafileGraphic graphic;
    EXPECT_THROW(graphic.loadFromBytes(QByteArray()), EInvalidGraphic);
    EXPECT_THROW(graphic.loadFromBytes(QByteArray(200, 'x')), EInvalidGraphic);

    QByteArray emf = shapesEmf();
    qToLittleEndian<uint32_t>(0x7FFFFFF0u, emf.data() + 108 + 4); // a record runs past the end
    EXPECT_THROW(graphic.loadFromBytes(emf), EInvalidGraphic);
    EXPECT_THROW(graphic.loadFromBytes(shapesEmf().left(150)), EInvalidGraphic); // no EOF

    QByteArray wmf = shapesWmf();
    qToLittleEndian<uint32_t>(0x00FFFFFFu, wmf.data() + 40); // first record's size
    EXPECT_THROW(graphic.loadFromBytes(wmf), EInvalidGraphic);
    EXPECT_TRUE(graphic.empty());
}

TEST(Metafile, LyingCountsInsideARecordAreHarmless) {
    ensureApplication();
    // A polygon claiming 60000 points in a record that holds three.
    const QByteArray file = wmfFile({
        wmfRecord(0x0324, Bytes().u16(60000).i16(0).i16(0).i16(10).i16(0).i16(5).i16(5)),
        wmfRecord(0x0538, Bytes().u16(3).u16(40000).u16(1).u16(1).i16(0).i16(0)),
    });
    TMetafileGraphic graphic;
    graphic.loadFromBytes(file);
    const QImage image = play(graphic, QSize(50, 50));
    EXPECT_FALSE(image.isNull());
}

TEST(Metafile, MutatedFilesNeverCrash) {
    ensureApplication();
    // Fixed-seed byte mutations of both formats: loading may fail, playing must not
    // read outside the file (run under the sanitizer build to see it).
    uint32_t seed = 12345;
    auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    int loaded = 0;
    for (const QByteArray& original : {shapesEmf(), shapesWmf()}) {
        for (int round = 0; round < 300; ++round) {
            QByteArray bytes = original;
            const int edits = 1 + int(next() % 4);
            for (int e = 0; e < edits; ++e)
                bytes[qsizetype(next() % uint32_t(bytes.size()))] = char(next());
            TMetafileGraphic graphic;
            try {
                graphic.loadFromBytes(bytes);
            } catch (const EInvalidGraphic&) {
                continue;
            }
            ++loaded;
            if (graphic.width() > 4000 || graphic.height() > 4000)
                continue;
            play(graphic, QSize(64, 48));
        }
    }
    EXPECT_GT(loaded, 50); // most mutations still make a playable file
}

// The part of an image that is not white.
QRect inkBounds(const QImage& image) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qRed(image.pixel(x, y)) < 250 || qGreen(image.pixel(x, y)) < 250 ||
                qBlue(image.pixel(x, y)) < 250)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

TEST(Metafile, LibreOfficeFilesLookLikeItsRendering) {
    ensureApplication();
    const QString data = QStringLiteral(FENWA_IMAGING_DATA);
    const QImage reference =
        QImage(data + "metafile_sample_reference.png").convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(reference.isNull());
    for (const char* name : {"metafile_sample.emf", "metafile_sample.wmf"}) {
        QFile file(data + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
        TMetafileGraphic graphic;
        graphic.loadFromBytes(file.readAll());
        // 98.6 x 72.1 mm at 96 pixels per inch.
        EXPECT_NEAR(graphic.width(), 372, 2) << name;
        EXPECT_NEAR(graphic.height(), 272, 2) << name;
        const QImage ours = play(graphic, QSize(graphic.width(), graphic.height()));
        const QRect ink = inkBounds(ours);
        ASSERT_FALSE(ink.isEmpty()) << name;
        EXPECT_NEAR(double(ink.width()) / ink.height(),
                    double(reference.width()) / reference.height(), 0.03)
            << name;
        const QImage scaled = ours.copy(ink).scaled(reference.size(), Qt::IgnoreAspectRatio,
                                                    Qt::SmoothTransformation);
        // Two renderers differ in antialiasing and text; each region's average colour
        // must still agree.
        const int columns = 12, rows = 9;
        int agreeing = 0;
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < columns; ++column) {
                const QRect cell(column * reference.width() / columns,
                                 row * reference.height() / rows, reference.width() / columns,
                                 reference.height() / rows);
                double difference = 0;
                for (int channel = 0; channel < 3; ++channel) {
                    double a = 0, b = 0;
                    for (int y = cell.top(); y <= cell.bottom(); ++y)
                        for (int x = cell.left(); x <= cell.right(); ++x) {
                            const QRgb p = scaled.pixel(x, y), q = reference.pixel(x, y);
                            a += channel == 0 ? qRed(p) : channel == 1 ? qGreen(p) : qBlue(p);
                            b += channel == 0 ? qRed(q) : channel == 1 ? qGreen(q) : qBlue(q);
                        }
                    const double area = double(cell.width()) * cell.height();
                    difference = std::max(difference, std::abs(a - b) / area);
                }
                agreeing += difference < 25 ? 1 : 0;
            }
        }
        EXPECT_GE(agreeing, columns * rows * 95 / 100) << name;
    }
}

} // namespace
