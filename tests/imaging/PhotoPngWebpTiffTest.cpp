// PNG, WebP and TIFF through their libraries, and the EXIF blocks those files carry.

#include "PictureHolder.h"
#include "PictureLoader.h"
#include "formats/PhotoFormat.h"
#include "formats/PhotoGraphic.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <tuple>

#include "encodedphoto.h"
#include "madeupphoto.h"

using namespace fenwa::imaging;

namespace {

// A TIFF structure written by hand in either byte order: directories of entries whose
// values longer than four bytes follow the directory.
class TiffWriter {
public:
    struct Entry {
        uint16_t tag;
        uint16_t type;
        uint32_t count;
        QByteArray value; // already in the writer's byte order
    };

    explicit TiffWriter(bool bigEndian) : big_(bigEndian) {
        bytes.append(big_ ? "MM" : "II");
        put16(42);
        put32(0); // the first directory, set by setFirst
    }
    void put16(uint16_t v) { bytes.append(encode16(v)); }
    void put32(uint32_t v) { bytes.append(encode32(v)); }
    QByteArray encode16(uint16_t v) const {
        QByteArray b(2, 0);
        big_ ? qToBigEndian(v, b.data()) : qToLittleEndian(v, b.data());
        return b;
    }
    QByteArray encode32(uint32_t v) const {
        QByteArray b(4, 0);
        big_ ? qToBigEndian(v, b.data()) : qToLittleEndian(v, b.data());
        return b;
    }
    Entry shortEntry(uint16_t tag, uint16_t v) const { return {tag, 3, 1, encode16(v)}; }
    Entry longEntry(uint16_t tag, uint32_t v) const { return {tag, 4, 1, encode32(v)}; }
    static Entry ascii(uint16_t tag, const QByteArray& text) {
        return {tag, 2, uint32_t(text.size() + 1), text + '\0'};
    }
    uint32_t append(const QByteArray& data) {
        const uint32_t at = uint32_t(bytes.size());
        bytes.append(data);
        return at;
    }
    // Writes a directory (entries sorted by tag) and its long values; its offset.
    uint32_t addDirectory(std::vector<Entry> entries) {
        std::sort(entries.begin(), entries.end(),
                  [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
        const uint32_t at = uint32_t(bytes.size());
        uint32_t values = at + 2 + uint32_t(entries.size()) * 12 + 4;
        QByteArray tail;
        put16(uint16_t(entries.size()));
        for (const Entry& e : entries) {
            put16(e.tag);
            put16(e.type);
            put32(e.count);
            if (e.value.size() <= 4) {
                bytes.append(e.value.leftJustified(4, '\0'));
            } else {
                put32(values + uint32_t(tail.size()));
                tail.append(e.value);
                if (tail.size() % 2)
                    tail.append('\0');
            }
        }
        put32(0);
        bytes.append(tail);
        return at;
    }
    void setFirst(uint32_t offset) { bytes.replace(4, 4, encode32(offset)); }

    QByteArray bytes;

private:
    bool big_;
};

// An EXIF block: IFD0 with the orientation and DateTime, and an EXIF directory with
// DateTimeOriginal, each left out when empty or 0.
QByteArray exifBlock(bool bigEndian, int orientation, const QByteArray& dateTime,
                     const QByteArray& original) {
    TiffWriter w(bigEndian);
    uint32_t exif = 0;
    if (!original.isEmpty())
        exif = w.addDirectory({TiffWriter::ascii(0x9003, original)});
    std::vector<TiffWriter::Entry> ifd0 = {TiffWriter::ascii(0x010f, "Camera")};
    if (orientation)
        ifd0.push_back(w.shortEntry(0x0112, uint16_t(orientation)));
    if (!dateTime.isEmpty())
        ifd0.push_back(TiffWriter::ascii(0x0132, dateTime));
    if (exif)
        ifd0.push_back(w.longEntry(0x8769, exif));
    w.setFirst(w.addDirectory(ifd0));
    return w.bytes;
}

// Changes the 32-bit value at `at` in the block's byte order.
QByteArray patched32(QByteArray block, qsizetype at, uint32_t value) {
    const bool big = block.startsWith("MM");
    big ? qToBigEndian(value, block.data() + at) : qToLittleEndian(value, block.data() + at);
    return block;
}

// The offset of the value field of the entry with `tag` in the first directory.
qsizetype valueField(const QByteArray& block, uint16_t tag) {
    const bool big = block.startsWith("MM");
    auto u16 = [&](qsizetype at) {
        return big ? qFromBigEndian<uint16_t>(block.constData() + at)
                   : qFromLittleEndian<uint16_t>(block.constData() + at);
    };
    const qsizetype ifd = big ? qFromBigEndian<uint32_t>(block.constData() + 4)
                              : qFromLittleEndian<uint32_t>(block.constData() + 4);
    for (int i = 0; i < u16(ifd); ++i)
        if (u16(ifd + 2 + i * 12) == tag)
            return ifd + 2 + i * 12 + 8;
    return -1;
}

TEST(ExifBlock, ReadsOrientationAndCaptureTimeWithinTheBlock) {
    const QByteArray le = exifBlock(false, 6, "2021:01:02 03:04:05", "2020:06:07 08:09:10");
    const QByteArray be = exifBlock(true, 8, "2021:01:02 03:04:05", "2020:06:07 08:09:10");
    const QByteArray dateOnly = exifBlock(false, 3, "2021:01:02 03:04:05", {});
    // The EXIF pointer sent back to the first directory.
    const QByteArray loop =
        patched32(le, valueField(le, 0x8769), qFromLittleEndian<uint32_t>(le.constData() + 4));
    struct Case {
        const char* name;
        QByteArray block;
        int orientation;
        const char* captureTime;
    } cases[] = {
        {"little-endian", le, 6, "2020:06:07 08:09:10"},
        {"big-endian", be, 8, "2020:06:07 08:09:10"},
        {"after Exif\\0\\0", QByteArray("Exif\0\0", 6) + be, 8, "2020:06:07 08:09:10"},
        {"DateTime without an EXIF directory", dateOnly, 3, "2021:01:02 03:04:05"},
        {"nothing but a make", exifBlock(true, 0, {}, {}), 1, ""},
        {"orientation out of range", exifBlock(false, 9, {}, {}), 1, ""},
        {"orientation of type LONG",
         patched32(dateOnly, valueField(dateOnly, 0x0112) - 6, 4 | 1u << 16), 1,
         "2021:01:02 03:04:05"},
        {"an unset clock", exifBlock(false, 2, "0000:00:00 00:00:00", "    :  :     :  :  "), 2,
         ""},
        {"first directory past the end", patched32(le, 4, uint32_t(le.size()) - 1), 1, ""},
        {"first directory at 0xffffffff", patched32(le, 4, 0xffffffffu), 1, ""},
        {"EXIF directory past the end", patched32(le, valueField(le, 0x8769), 0xfffffff0u), 6,
         "2021:01:02 03:04:05"},
        {"date past the end", patched32(dateOnly, valueField(dateOnly, 0x0132), 0xfffffff0u), 3,
         ""},
        {"date count past the end",
         patched32(dateOnly, valueField(dateOnly, 0x0132) - 4, 0xffffffffu), 3, ""},
        {"EXIF pointer back to the first directory", loop, 6, "2021:01:02 03:04:05"},
        {"not TIFF", QByteArray("Exif\0\0XX*\0", 10), 1, ""},
    };
    for (const Case& c : cases) {
        const ExifFacts facts = ReadExifBlock(c.block);
        EXPECT_EQ(facts.orientation, c.orientation) << c.name;
        EXPECT_EQ(facts.captureTime, QString(c.captureTime)) << c.name;
    }
    // Every cut of a block reads only what is there.
    for (qsizetype n = 0; n <= le.size(); ++n) {
        const ExifFacts facts = ReadExifBlock(le.left(n));
        EXPECT_TRUE(facts.orientation == 1 || facts.orientation == 6) << n;
    }
}

// --- the three kinds ---

const PhotoFormat& formatFor(const QString& kind) {
    return kind == "png" ? PngFormat() : kind == "webp" ? WebpFormat() : TiffFormat();
}

// Compared premultiplied: what shows, not the colour under transparent pixels.
double meanDifference(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (x.size() != y.size())
        return 1e9;
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col)
            sum +=
                std::abs(qRed(p[col]) - qRed(q[col])) + std::abs(qGreen(p[col]) - qGreen(q[col])) +
                std::abs(qBlue(p[col]) - qBlue(q[col])) + std::abs(qAlpha(p[col]) - qAlpha(q[col]));
    }
    return sum / (4.0 * x.width() * x.height());
}

QImage withAlpha(const QImage& image) {
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            line[x] = qRgba(qRed(line[x]), qGreen(line[x]), qBlue(line[x]), 255 * x / out.width());
    }
    return out;
}

struct Variant {
    const char* name;
    QImage picture;
};

std::vector<Variant> variants() {
    const QImage scene = madeUpScene(7);
    return {{"colour", scene},
            {"grey", scene.convertToFormat(QImage::Format_Grayscale8)},
            {"alpha", withAlpha(scene.scaled(320, 240))},
            {"odd size", scene.copy(3, 5, 201, 133)}};
}

TEST(PhotoKinds, HeaderAndFullDecodeMatchTheEncodedPicture) {
    for (const QString kind : {"png", "webp", "tiff"}) {
        const PhotoFormat& format = formatFor(kind);
        // WebP is lossy; the others give back the very pixels.
        const double tolerance = kind == "webp" ? 4.0 : 0.5;
        for (const Variant& v : variants()) {
            SCOPED_TRACE(qPrintable(kind + " " + v.name));
            const QByteArray bytes = EncodePhoto(v.picture, kind);
            ASSERT_FALSE(bytes.isEmpty());
            EXPECT_TRUE(format.sniff(bytes.left(PhotoSniffBytes)));
            const PhotoFormat* sniffed = PhotoFormatForHead(bytes.left(PhotoSniffBytes));
            ASSERT_NE(sniffed, nullptr);
            EXPECT_STREQ(sniffed->kind, format.kind);
            BytesSource source(bytes);
            const std::optional<PhotoHeader> header = format.readHeader(source);
            ASSERT_TRUE(header);
            EXPECT_EQ(QSize(header->width, header->height), v.picture.size());
            EXPECT_EQ(header->orientation, 1);
            const std::optional<PhotoImage> photo = format.decode(source, {});
            ASSERT_TRUE(photo);
            EXPECT_EQ(photo->image.size(), v.picture.size());
            EXPECT_EQ(QSize(photo->fullWidth, photo->fullHeight), v.picture.size());
            EXPECT_LE(meanDifference(photo->image, v.picture), tolerance);
            EXPECT_EQ(photo->image.hasAlphaChannel(), v.picture.hasAlphaChannel());
            // The fingerprint tells grey pictures by their format.
            if (kind != "webp") {
                EXPECT_EQ(photo->image.format() == QImage::Format_Grayscale8,
                          v.picture.format() == QImage::Format_Grayscale8);
            }
        }
    }
}

TEST(PhotoKinds, DamagedFilesFailOrDecodeAtTheirSize) {
    for (const QString kind : {"png", "webp", "tiff"}) {
        SCOPED_TRACE(qPrintable(kind));
        const PhotoFormat& format = formatFor(kind);
        const QByteArray bytes = EncodePhoto(madeUpScene(3).scaled(160, 120), kind);
        ASSERT_FALSE(bytes.isEmpty());
        // Each cut loses pixels (a cut in the trailer alone may keep them all).
        for (const qsizetype cut :
             {qsizetype(12), qsizetype(40), bytes.size() / 2, bytes.size() * 3 / 4}) {
            const QByteArray truncated = bytes.left(cut);
            BytesSource source(truncated);
            EXPECT_FALSE(format.decode(source, {})) << cut;
            EXPECT_FALSE(format.decode(source, {40})) << cut;
            (void)format.readHeader(source);
        }
        for (const qsizetype at : {bytes.size() / 3, bytes.size() / 2, qsizetype(20)}) {
            QByteArray corrupted = bytes;
            for (qsizetype i = at; i < std::min(at + 24, corrupted.size()); ++i)
                corrupted[i] = char(corrupted[i] ^ 0x5a);
            BytesSource source(corrupted);
            const std::optional<PhotoHeader> header = format.readHeader(source);
            if (const std::optional<PhotoImage> photo = format.decode(source, {})) {
                ASSERT_TRUE(header) << at;
                EXPECT_EQ(photo->image.size(), QSize(header->width, header->height)) << at;
            }
        }
    }
}

// A little-endian TIFF whose directories after the first are marked as reduced-resolution
// subfiles (ImageMagick's pyramid marks each level as a page of its own).
QByteArray markedReduced(QByteArray tiff) {
    auto u32 = [&](qsizetype at) { return qFromLittleEndian<uint32_t>(tiff.constData() + at); };
    uint32_t ifd = u32(4);
    for (int index = 0; ifd != 0 && index < 16; ++index) {
        const int count = qFromLittleEndian<uint16_t>(tiff.constData() + ifd);
        for (int i = 0; i < count; ++i) {
            const qsizetype entry = ifd + 2 + i * 12;
            if (qFromLittleEndian<uint16_t>(tiff.constData() + entry) == 254)
                qToLittleEndian(uint32_t(index == 0 ? 0 : 1), tiff.data() + entry + 8);
        }
        ifd = u32(ifd + 2 + count * 12);
    }
    return tiff;
}

TEST(PhotoKinds, ReducedDecodingNeverGoesBelowTheRequest) {
    const QImage scene = madeUpScene(11); // 640 x 480
    const QByteArray webp = EncodePhoto(scene, "webp");
    // Levels of 640 x 480, 320 x 240, 160 x 120 and 80 x 60.
    const QByteArray pages = EncodeWithTool(scene, "convert", "tif", [](auto& in, auto& out) {
        return QStringList{in, "-compress", "lzw", "PTIF:" + out};
    });
    ASSERT_FALSE(webp.isEmpty());
    ASSERT_TRUE(pages.startsWith("II"));
    const QByteArray pyramid = markedReduced(pages);
    struct Case {
        const QByteArray& bytes;
        const PhotoFormat& format;
        int minShortSide;
        int shortSide; // what comes back
    } cases[] = {
        {webp, WebpFormat(), 0, 480},      {webp, WebpFormat(), 60, 60},
        {webp, WebpFormat(), 479, 479},    {webp, WebpFormat(), 480, 480},
        {webp, WebpFormat(), 5000, 480},   {pyramid, TiffFormat(), 0, 480},
        {pyramid, TiffFormat(), 100, 120}, // the pyramid's halves: 240, 120, 60 ...
        {pyramid, TiffFormat(), 121, 240}, {pyramid, TiffFormat(), 481, 480},
        {pages, TiffFormat(), 100, 480}, // other pages may be other pictures
    };
    for (const Case& c : cases) {
        BytesSource source(c.bytes);
        const std::optional<PhotoImage> photo = c.format.decode(source, {c.minShortSide});
        ASSERT_TRUE(photo) << c.format.kind << " " << c.minShortSide;
        EXPECT_EQ(std::min(photo->image.width(), photo->image.height()), c.shortSide)
            << c.format.kind << " " << c.minShortSide;
        EXPECT_NEAR(double(photo->image.width()) / photo->image.height(), 640.0 / 480, 0.02);
        EXPECT_EQ(QSize(photo->fullWidth, photo->fullHeight), scene.size());
    }
}

TEST(PhotoKinds, OrientedTiffShowsUpright) {
    const QImage stored = madeUpScene(5).scaled(60, 40);
    const char* names[] = {"TopLeft", "TopRight", "BottomRight", "BottomLeft",
                           "LeftTop", "RightTop", "RightBottom", "LeftBottom"};
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const QString name = names[orientation - 1];
        const QByteArray tiff = EncodeWithTool(stored, "convert", "tif", [&](auto& in, auto& out) {
            return QStringList{in, "-orient", name, out};
        });
        ASSERT_FALSE(tiff.isEmpty());
        TPhotoGraphic graphic(TiffFormat());
        graphic.loadFromBytes(tiff);
        EXPECT_EQ(graphic.header().orientation, orientation);
        const QImage upright = OrientedImage(stored, orientation);
        EXPECT_EQ(graphic.width(), upright.width());
        EXPECT_EQ(meanDifference(graphic.decoded(), upright), 0.0);
    }
}

// A PNG chunk with its CRC.
QByteArray pngChunk(const QByteArray& type, const QByteArray& data) {
    QByteArray chunk(4, 0);
    qToBigEndian(uint32_t(data.size()), chunk.data());
    const QByteArray body = type + data;
    uint32_t crc = 0xffffffffu;
    for (const char c : body) {
        crc ^= uint8_t(c);
        for (int k = 0; k < 8; ++k)
            crc = crc & 1 ? 0xedb88320u ^ (crc >> 1) : crc >> 1;
    }
    QByteArray tail(4, 0);
    qToBigEndian(~crc, tail.data());
    return chunk + body + tail;
}

TEST(PhotoKinds, CaptureTimeAndOrientationFromExif) {
    const QImage picture = madeUpScene(9).scaled(64, 48);
    const QByteArray exif = exifBlock(true, 6, "2019:05:06 07:08:09", "2018:01:02 03:04:05");

    QByteArray png = EncodePhoto(picture, "png");
    ASSERT_FALSE(png.isEmpty());
    png.insert(8 + 25, pngChunk("eXIf", exif)); // right after IHDR

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile exifFile(dir.filePath("block.exif"));
    ASSERT_TRUE(exifFile.open(QIODevice::WriteOnly) && exifFile.write(exif) == exif.size());
    exifFile.close();
    const QByteArray webp = EncodeWithTool(picture, "sh", "webp", [&](auto& in, auto& out) {
        return QStringList{"-c",
                           "cwebp -quiet \"$1\" -o \"$2.plain\" && webpmux -set exif \"$3\" "
                           "\"$2.plain\" -o \"$2\"",
                           "sh",
                           in,
                           out,
                           exifFile.fileName()};
    });
    ASSERT_FALSE(webp.isEmpty());

    // A TIFF of 2 x 1 grey pixels whose EXIF directory holds the capture time.
    TiffWriter w(false);
    const uint32_t pixels = w.append(QByteArray("\x10\xf0", 2));
    const uint32_t exifIfd = w.addDirectory({TiffWriter::ascii(0x9003, "2018:01:02 03:04:05")});
    w.setFirst(w.addDirectory({w.longEntry(256, 2), w.longEntry(257, 1), w.shortEntry(258, 8),
                               w.shortEntry(259, 1), w.shortEntry(262, 1), w.longEntry(273, pixels),
                               w.shortEntry(274, 6), w.shortEntry(277, 1), w.longEntry(278, 1),
                               w.longEntry(279, 2), TiffWriter::ascii(306, "2019:05:06 07:08:09"),
                               w.longEntry(0x8769, exifIfd)}));

    for (const auto& [format, bytes] : std::vector<std::pair<const PhotoFormat*, QByteArray>>{
             {&PngFormat(), png}, {&WebpFormat(), webp}, {&TiffFormat(), w.bytes}}) {
        SCOPED_TRACE(format->kind);
        BytesSource source(bytes);
        const std::optional<PhotoHeader> header = format->readHeader(source);
        ASSERT_TRUE(header);
        EXPECT_EQ(header->orientation, 6);
        EXPECT_EQ(header->captureTime, "2018:01:02 03:04:05");
        const std::optional<PhotoImage> photo = format->decode(source, {});
        ASSERT_TRUE(photo);
        EXPECT_EQ(OrientedImage(photo->image, photo->orientation).size(),
                  QSize(header->height, header->width));
    }
}

TEST(PhotoKinds, PictureFilesLoadAtFullAndEighthScale) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QImage picture = madeUpScene(13).copy(0, 0, 333, 250);
    for (const QString kind : {"png", "webp"}) {
        const QString path = dir.filePath("photo." + kind);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(EncodePhoto(picture, kind));
        file.close();
        // The slides' settings: an eighth, in grey, as for a JPEG picture.
        for (const auto& [scale, size, grey] : {std::tuple{jsFullSize, QSize(333, 250), false},
                                                std::tuple{jsEighth, QSize(42, 32), false},
                                                std::tuple{jsEighth, QSize(42, 32), true}}) {
            SCOPED_TRACE(
                qPrintable(kind + " " + QString::number(size.width()) + (grey ? " grey" : "")));
            TPicture holder;
            TPictureLoadSettings settings;
            settings.scale = scale;
            settings.grayscale = grey;
            const TPictureLoadResult result =
                LoadPictureFile(holder, QFile::encodeName(path), settings);
            ASSERT_TRUE(result.loaded);
            EXPECT_EQ(QSize(result.width, result.height), size);
            auto* graphic = dynamic_cast<TPhotoGraphic*>(holder.graphic());
            ASSERT_NE(graphic, nullptr);
            // Decoded, the picture is the size the header promised at that scale.
            EXPECT_EQ(graphic->decoded().size(), size);
            EXPECT_EQ(graphic->decoded().isGrayscale(), grey);
            QImage expected = picture.scaled(graphic->decoded().size(), Qt::IgnoreAspectRatio,
                                             Qt::SmoothTransformation);
            if (grey)
                expected = expected.convertToFormat(QImage::Format_Grayscale8);
            EXPECT_LE(meanDifference(graphic->decoded(), expected), 8.0);
        }
    }
}

} // namespace
