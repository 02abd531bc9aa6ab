// EXIF orientation: the tag reader on hand-built and hostile bytes, the eight turns
// of a bitmap, and JPEG pictures that carry the tag.

#include "ExifOrientation.h"
#include "JPEGImage.h"
#include "JpegTestFiles.h"

#include <QImage>
#include <QTransform>
#include <gtest/gtest.h>
#include <vector>

namespace {

const QByteArray kSoi("\xFF\xD8", 2);
const QByteArray kScanStart("\xFF\xDA\x00\x02", 4);

// A file start with the segments, then a scan marker.
QByteArray fileWith(const QByteArray& segments) {
    return kSoi + segments + kScanStart;
}

QByteArray be16(int value) {
    QByteArray out;
    out.append(char((value >> 8) & 0xFF)).append(char(value & 0xFF));
    return out;
}

// Writes a 32-bit value into a TIFF block in its byte order.
void patch32(QByteArray& tiff, int at, quint32 value) {
    const bool big = tiff.startsWith("MM");
    for (int i = 0; i < 4; ++i) {
        const int shift = big ? 24 - 8 * i : 8 * i;
        tiff[at + i] = char((value >> shift) & 0xFF);
    }
}

// --- The tag reader -------------------------------------------------------------

TEST(ExifReader, EveryValueInBothByteOrders) {
    for (bool big : {false, true})
        for (int value = 1; value <= 8; ++value)
            EXPECT_EQ(JpegExifOrientation(fileWith(ExifSegment(ExifTiffBlock(value, big)))), value)
                << "big-endian " << big << " value " << value;
}

TEST(ExifReader, ValuesOutsideTheRangeOrOfAnotherTypeCountAsOne) {
    for (bool big : {false, true}) {
        for (int value : {0, 9, 0x0600, 0xFFFF})
            EXPECT_EQ(JpegExifOrientation(fileWith(ExifSegment(ExifTiffBlock(value, big)))), 1);
        // A LONG or BYTE entry is not the tag as written by cameras.
        EXPECT_EQ(JpegExifOrientation(fileWith(ExifSegment(ExifTiffBlock(6, big, 4)))), 1);
        EXPECT_EQ(JpegExifOrientation(fileWith(ExifSegment(ExifTiffBlock(6, big, 1)))), 1);
    }
}

TEST(ExifReader, FindsTheBlockAmongOtherSegments) {
    const QByteArray jfif =
        QByteArray("\xFF\xE0", 2) + be16(16) + QByteArray("JFIF\0", 5) + QByteArray(9, '\0');
    const QByteArray xmpPayload("http://ns.adobe.com/xap/1.0/\0<x/>", 34);
    const QByteArray xmp =
        QByteArray("\xFF\xE1", 2) + be16(2 + int(xmpPayload.size())) + xmpPayload;
    const QByteArray exif = ExifSegment(ExifTiffBlock(8, true));
    EXPECT_EQ(JpegExifOrientation(fileWith(jfif + xmp + exif)), 8);
    // Fill bytes before a marker are allowed.
    EXPECT_EQ(JpegExifOrientation(fileWith(jfif + QByteArray("\xFF\xFF", 2) + exif)), 8);
    // A block after the first scan is not part of the header.
    EXPECT_EQ(JpegExifOrientation(kSoi + jfif + kScanStart + exif), 1);
}

TEST(ExifReader, MissingOrGarbageBlocks) {
    EXPECT_EQ(JpegExifOrientation(QByteArray()), 1);
    EXPECT_EQ(JpegExifOrientation(kSoi), 1);
    EXPECT_EQ(JpegExifOrientation(QByteArray("not a JPEG file at all")), 1);
    // Without the start marker the bytes are not read as a JPEG file.
    EXPECT_EQ(JpegExifOrientation(ExifSegment(ExifTiffBlock(6, false)) + kScanStart), 1);
    EXPECT_EQ(JpegExifOrientation(EncodeTestJpeg({})), 1);

    QByteArray tiff = ExifTiffBlock(6, false);
    tiff[0] = 'X';
    EXPECT_EQ(JpegExifOrientation(fileWith(ExifSegment(tiff))), 1);
    tiff = ExifTiffBlock(6, true);
    tiff[3] = 43; // not the TIFF magic number
    EXPECT_EQ(JpegExifOrientation(fileWith(ExifSegment(tiff))), 1);
    // "Exif" without its two zero bytes.
    QByteArray bad = ExifSegment(ExifTiffBlock(6, false));
    bad[9] = 'x';
    EXPECT_EQ(JpegExifOrientation(fileWith(bad)), 1);
    // A segment length below 2 or past the end of the data.
    EXPECT_EQ(JpegExifOrientation(fileWith(QByteArray("\xFF\xE1\x00\x01", 4))), 1);
    EXPECT_EQ(JpegExifOrientation(kSoi + QByteArray("\xFF\xE1\xFF\xF0", 4) + "Exif"), 1);
}

TEST(ExifReader, TruncatedBlocksReadOnlyWhatIsThere) {
    // The orientation entry ends 34 bytes into the block; any shorter block (with a
    // segment length that agrees) has no usable entry.
    const QByteArray tiff = ExifTiffBlock(6, false);
    for (int length = 0; length <= tiff.size(); ++length) {
        const int expected = length >= 34 ? 6 : 1;
        EXPECT_EQ(JpegExifOrientation(fileWith(ExifSegment(tiff.left(length)))), expected)
            << "block of " << length << " bytes";
    }
    // And files cut anywhere inside the segment itself. Each is copied into memory
    // of exactly its size so a memory checker sees any read past the end.
    const QByteArray whole = kSoi + ExifSegment(tiff);
    for (int cut = 0; cut < whole.size(); ++cut) {
        const QByteArray exact(whole.constData(), cut);
        EXPECT_EQ(JpegExifOrientation(exact), 1) << "cut at " << cut;
    }
}

TEST(ExifReader, OffsetsPointingOutside) {
    for (bool big : {false, true}) {
        for (quint32 offset : {quint32(40), quint32(41), quint32(1000), quint32(0x7FFFFFFF),
                               quint32(0xFFFFFFF8), quint32(0xFFFFFFFF)}) {
            QByteArray tiff = ExifTiffBlock(6, big);
            patch32(tiff, 4, offset);
            EXPECT_EQ(JpegExifOrientation(fileWith(ExifSegment(tiff))), 1) << offset;
        }
        // A directory that claims more entries than the block holds, without the tag.
        QByteArray tiff = ExifTiffBlock(6, big);
        tiff[8] = tiff[9] = char(0xFF);
        tiff[22] = tiff[23] = 0x01; // the orientation entry becomes tag 0x0101
        EXPECT_EQ(JpegExifOrientation(fileWith(ExifSegment(tiff))), 1);
        // The same claim with the tag present still finds it.
        QByteArray many = ExifTiffBlock(3, big);
        many[8] = many[9] = char(0xFF);
        EXPECT_EQ(JpegExifOrientation(fileWith(ExifSegment(many))), 3);
    }
}

// --- The eight turns ------------------------------------------------------------

// A 3 x 2 bitmap whose pixels are 1..6 row by row (8 bits) or the same values in
// each of the three bytes plus 0, 100 and 200 (24 bits).
TDibBitmap tinyBitmap(int bitsPerPixel) {
    TDibBitmap bitmap;
    bitmap.setPalette({{1, 2, 3}, {4, 5, 6}});
    bitmap.allocate(3, 2, bitsPerPixel);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const int value = 1 + y * 3 + x;
            uint8_t* p = bitmap.scanLine(y) + x * (bitsPerPixel / 8);
            if (bitsPerPixel == 8) {
                p[0] = uint8_t(value);
            } else {
                p[0] = uint8_t(value);
                p[1] = uint8_t(value + 100);
                p[2] = uint8_t(value + 200);
            }
        }
    return bitmap;
}

std::vector<std::vector<int>> pixelsOf(const TDibBitmap& bitmap) {
    std::vector<std::vector<int>> rows;
    const int bytes = bitmap.bitsPerPixel() / 8;
    for (int y = 0; y < bitmap.height(); ++y) {
        std::vector<int> row;
        for (int x = 0; x < bitmap.width(); ++x) {
            const uint8_t* p = bitmap.scanLine(y) + x * bytes;
            // The three bytes of a 24-bit pixel must travel together.
            if (bytes == 3 && (p[1] != p[0] + 100 || p[2] != p[0] + 200))
                row.push_back(-1);
            else
                row.push_back(p[0]);
        }
        rows.push_back(row);
    }
    return rows;
}

TEST(OrientedBitmap, EveryOrientationPutsEachPixelInItsPlace) {
    using Rows = std::vector<std::vector<int>>;
    const Rows expected[9] = {
        {},
        {{1, 2, 3}, {4, 5, 6}},   // as stored
        {{3, 2, 1}, {6, 5, 4}},   // mirrored left-right
        {{6, 5, 4}, {3, 2, 1}},   // half turn
        {{4, 5, 6}, {1, 2, 3}},   // mirrored top-bottom
        {{1, 4}, {2, 5}, {3, 6}}, // mirrored about the main diagonal
        {{4, 1}, {5, 2}, {6, 3}}, // quarter turn clockwise
        {{6, 3}, {5, 2}, {4, 1}}, // mirrored about the other diagonal
        {{3, 6}, {2, 5}, {1, 4}}, // quarter turn anticlockwise
    };
    for (int bits : {8, 24}) {
        const TDibBitmap source = tinyBitmap(bits);
        for (int orientation = 1; orientation <= 8; ++orientation) {
            const TDibBitmap turned = OrientedBitmap(source, orientation);
            EXPECT_EQ(turned.bitsPerPixel(), bits);
            EXPECT_EQ(turned.palette(), source.palette());
            EXPECT_EQ(pixelsOf(turned), expected[orientation])
                << bits << " bits, orientation " << orientation;
        }
        // Values the tag cannot have leave the bitmap as it is.
        EXPECT_EQ(pixelsOf(OrientedBitmap(source, 0)), expected[1]);
        EXPECT_EQ(pixelsOf(OrientedBitmap(source, 9)), expected[1]);
    }
}

// Larger bitmaps than one tile, with padded rows, against Qt's own turns.
TEST(OrientedBitmap, LargeBitmapsMatchQtTransforms) {
    const QTransform quarter = QTransform().rotate(90);
    const auto reference = [&](const QImage& image, int orientation) {
        switch (orientation) {
        case 2:
            return image.mirrored(true, false);
        case 3:
            return image.mirrored(true, true);
        case 4:
            return image.mirrored(false, true);
        case 5:
            return image.transformed(quarter).mirrored(true, false);
        case 6:
            return image.transformed(quarter);
        case 7:
            return image.transformed(quarter).mirrored(false, true);
        case 8:
            return image.transformed(QTransform().rotate(270));
        default:
            return image;
        }
    };
    for (int bits : {8, 24}) {
        TDibBitmap source;
        TPalette palette;
        for (int i = 0; i < 256; ++i)
            palette.push_back({uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)});
        source.setPalette(palette);
        source.allocate(131, 67, bits);
        for (int y = 0; y < source.height(); ++y)
            for (int i = 0; i < source.width() * bits / 8; ++i)
                source.scanLine(y)[i] = uint8_t((y * 31 + i * 17 + (i * i) % 13) & 0xFF);
        const QImage image = source.toQImage().convertToFormat(QImage::Format_RGB32);
        for (int orientation = 1; orientation <= 8; ++orientation) {
            const QImage turned = OrientedBitmap(source, orientation)
                                      .toQImage()
                                      .convertToFormat(QImage::Format_RGB32);
            EXPECT_EQ(turned, reference(image, orientation).convertToFormat(QImage::Format_RGB32))
                << bits << " bits, orientation " << orientation;
        }
    }
}

TEST(OrientedBitmap, RectanglesFollowThePixels) {
    const QSize stored(3, 2);
    // The top row of the stored picture.
    const QRect top(0, 0, 3, 1);
    EXPECT_EQ(OrientedRect(top, stored, 1), top);
    EXPECT_EQ(OrientedRect(top, stored, 3), QRect(0, 1, 3, 1));
    EXPECT_EQ(OrientedRect(top, stored, 6), QRect(1, 0, 1, 3)); // right column
    EXPECT_EQ(OrientedRect(top, stored, 8), QRect(0, 0, 1, 3)); // left column
    EXPECT_EQ(OrientedRect(QRect(), stored, 6), QRect());
}

// --- JPEG pictures with the tag --------------------------------------------------

struct DecodeSetting {
    const char* name;
    TJPEGScale scale;
    bool grey;
    TJPEGPixelFormat format;
    bool progressive;
};

TEST(JpegOrientation, SizesAndPixelsFollowTheTagAtEveryScaleAndFormat) {
    const DecodeSetting settings[] = {
        {"full", jsFullSize, false, jf24Bit, false},
        {"half", jsHalf, false, jf24Bit, false},
        {"quarter grey", jsQuarter, true, jf24Bit, false},
        {"eighth", jsEighth, false, jf24Bit, false},
        {"eighth eight-bit", jsEighth, false, jf8Bit, false},
        {"full eight-bit progressive", jsFullSize, false, jf8Bit, true},
    };
    JpegEncodeOptions o;
    o.width = 203;
    o.height = 97;
    for (const DecodeSetting& s : settings) {
        o.progressive = s.progressive;
        const QByteArray plain = EncodeTestJpeg(o);
        const auto configure = [&](TJPEGImage& image) {
            image.setScale(s.scale);
            image.setGrayscale(s.grey);
            image.setPixelFormat(s.format);
            image.ProgressiveDisplay = s.progressive;
        };
        TJPEGImage reference;
        reference.loadFromBytes(plain);
        configure(reference);
        const QSize storedSize(reference.width(), reference.height());
        const TDibBitmap& stored = reference.bitmap();

        for (int orientation = 1; orientation <= 8; ++orientation) {
            SCOPED_TRACE(std::string(s.name) + ", orientation " + std::to_string(orientation));
            TJPEGImage image;
            image.loadFromBytes(WithExifOrientation(plain, orientation, orientation % 2 == 0));
            EXPECT_EQ(image.data().orientation, orientation);
            configure(image);
            const QSize expected = orientation >= 5 ? storedSize.transposed() : storedSize;
            EXPECT_EQ(QSize(image.width(), image.height()), expected);
            EXPECT_FALSE(image.hasBitmap()) << "sizing must not decode";
            const TDibBitmap& bitmap = image.bitmap();
            EXPECT_EQ(QSize(bitmap.width(), bitmap.height()), expected);
            EXPECT_EQ(bitmap.toQImage(), OrientedBitmap(stored, orientation).toQImage());
        }
    }
}

} // namespace
