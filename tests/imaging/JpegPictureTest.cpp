// The JPEG picture: header-only sizes, decode settings and their bitmaps, pixels
// against djpeg, and bad input.

#include "GraphicErrors.h"
#include "JPEGImage.h"
#include "JpegCodec.h"
#include "JpegTestFiles.h"

#include <QImage>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

QImage toRgb(const TDibBitmap& bitmap) {
    return bitmap.toQImage().convertToFormat(QImage::Format_RGB888);
}

// Number of pixels that differ between two images of equal size, or -1 when the
// sizes differ.
qint64 differingPixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return -1;
    const QImage x = a.convertToFormat(QImage::Format_RGB888);
    const QImage y = b.convertToFormat(QImage::Format_RGB888);
    qint64 count = 0;
    for (int row = 0; row < x.height(); ++row) {
        const uchar* p = x.constScanLine(row);
        const uchar* q = y.constScanLine(row);
        for (int col = 0; col < x.width(); ++col, p += 3, q += 3)
            count += (p[0] != q[0] || p[1] != q[1] || p[2] != q[2]) ? 1 : 0;
    }
    return count;
}

TJPEGImage* loaded(TJPEGImage& image, const QByteArray& bytes) {
    image.loadFromBytes(bytes);
    return &image;
}

struct ScaleCase {
    int width, height;
    TJPEGScale scale;
    int expectedWidth, expectedHeight;
};

class JpegScaleTest : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(JpegScaleTest, HeaderSizeMatchesDecodedSize) {
    const ScaleCase c = GetParam();
    JpegEncodeOptions o;
    o.width = c.width;
    o.height = c.height;
    const QByteArray bytes = EncodeTestJpeg(o);

    TJPEGImage image;
    image.loadFromBytes(bytes);
    image.setScale(c.scale);
    EXPECT_FALSE(image.hasBitmap());
    EXPECT_EQ(image.width(), c.expectedWidth);
    EXPECT_EQ(image.height(), c.expectedHeight);
    EXPECT_FALSE(image.hasBitmap()) << "sizing must not decode";

    const TDibBitmap& bitmap = image.bitmap();
    EXPECT_EQ(bitmap.width(), c.expectedWidth);
    EXPECT_EQ(bitmap.height(), c.expectedHeight);
    EXPECT_EQ(image.width(), c.expectedWidth);
}

INSTANTIATE_TEST_SUITE_P(AllScales, JpegScaleTest,
                         ::testing::Values(ScaleCase{1600, 1200, jsFullSize, 1600, 1200},
                                           ScaleCase{1600, 1200, jsHalf, 800, 600},
                                           ScaleCase{1600, 1200, jsQuarter, 400, 300},
                                           ScaleCase{1600, 1200, jsEighth, 200, 150},
                                           ScaleCase{1601, 1201, jsHalf, 801, 601},
                                           ScaleCase{1601, 1201, jsQuarter, 401, 301},
                                           ScaleCase{1601, 1201, jsEighth, 201, 151},
                                           ScaleCase{7, 5, jsEighth, 1, 1}),
                         [](const ::testing::TestParamInfo<ScaleCase>& testCase) {
                             const ScaleCase& c = testCase.param;
                             return std::to_string(c.width) + "x" + std::to_string(c.height) +
                                    "_over_" + std::to_string(1 << int(c.scale));
                         });

TEST(JpegPicture, HeaderFactsAtLoad) {
    JpegEncodeOptions o;
    o.width = 120;
    o.height = 90;
    o.grayscale = true;
    o.progressive = true;
    TJPEGImage image;
    image.loadFromBytes(EncodeTestJpeg(o));
    EXPECT_EQ(image.data().width, 120);
    EXPECT_EQ(image.data().height, 90);
    EXPECT_TRUE(image.data().grayscale);
    EXPECT_TRUE(image.ProgressiveEncoding);
    EXPECT_FALSE(image.empty());
    EXPECT_FALSE(image.hasBitmap());
}

TEST(JpegPicture, ChangingScaleDiscardsBitmapAndResizes) {
    JpegEncodeOptions o;
    o.width = 160;
    o.height = 120;
    TJPEGImage image;
    image.loadFromBytes(EncodeTestJpeg(o));
    image.DIBNeeded();
    EXPECT_EQ(image.width(), 160);
    int changes = 0;
    image.OnChange = [&] { ++changes; };
    image.setScale(jsQuarter);
    EXPECT_FALSE(image.hasBitmap());
    EXPECT_EQ(image.width(), 40);
    EXPECT_EQ(changes, 1);
    image.setScale(jsQuarter); // the same value does nothing
    EXPECT_EQ(changes, 1);
}

TEST(JpegPicture, OutputFormatsAndPalettes) {
    JpegEncodeOptions colour;
    colour.width = 97;
    colour.height = 61;
    const QByteArray colourFile = EncodeTestJpeg(colour);
    JpegEncodeOptions grey = colour;
    grey.grayscale = true;
    const QByteArray greyFile = EncodeTestJpeg(grey);

    auto checkGreyPalette = [](const TDibBitmap& bitmap) {
        EXPECT_EQ(bitmap.bitsPerPixel(), 8);
        ASSERT_FALSE(bitmap.palette().empty());
        EXPECT_LE(bitmap.palette().size(), 236u);
        for (const TPaletteEntry& e : bitmap.palette()) {
            EXPECT_EQ(e.red, e.green);
            EXPECT_EQ(e.green, e.blue);
        }
    };

    { // colour file, 24-bit: no palette
        TJPEGImage image;
        loaded(image, colourFile);
        EXPECT_EQ(image.bitmap().bitsPerPixel(), 24);
        EXPECT_EQ(image.bitmap().stride() % 4, 0u);
        EXPECT_FALSE(image.palette().has_value());
    }
    for (TJPEGPixelFormat format : {jf24Bit, jf8Bit}) { // grey output whatever the format
        TJPEGImage image;
        loaded(image, colourFile);
        image.setPixelFormat(format);
        image.setGrayscale(true);
        checkGreyPalette(image.bitmap());
    }
    { // a greyscale file with 24-bit output still decodes to a grey palette
        TJPEGImage image;
        loaded(image, greyFile);
        checkGreyPalette(image.bitmap());
    }
    { // 8-bit colour: at most 236 entries, and not all grey
        TJPEGImage image;
        loaded(image, colourFile);
        image.setPixelFormat(jf8Bit);
        const TDibBitmap& bitmap = image.bitmap();
        EXPECT_EQ(bitmap.bitsPerPixel(), 8);
        EXPECT_LE(bitmap.palette().size(), 236u);
        EXPECT_GT(bitmap.palette().size(), 16u);
        bool coloured = false;
        for (const TPaletteEntry& e : bitmap.palette())
            coloured = coloured || e.red != e.blue;
        EXPECT_TRUE(coloured);
        EXPECT_TRUE(image.paletteModified());
    }
}

TEST(JpegPicture, SettingTheSizeFails) {
    TJPEGImage image;
    image.loadFromBytes(EncodeTestJpeg({}));
    try {
        image.setWidth(10);
        FAIL() << "setWidth must throw";
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_STREQ(e.what(), "Cannot change the size of a JPEG image");
    }
    EXPECT_THROW(image.setHeight(10), EInvalidGraphicOperation);
}

TEST(JpegPicture, CopiesShareDataAndBitmap) {
    TJPEGImage first;
    first.loadFromBytes(EncodeTestJpeg({}));
    first.DIBNeeded();
    TJPEGImage second;
    EXPECT_FALSE(second.equals(first));
    second.assign(first);
    EXPECT_TRUE(second.equals(first));
    EXPECT_TRUE(second.hasBitmap());
    EXPECT_EQ(differingPixels(toRgb(first.bitmap()), toRgb(second.bitmap())), 0);
}

TEST(JpegPicture, ColourSamplesAreBlueGreenRed) {
    // A file that is pure red at its left edge decodes with red in the third byte.
    JpegEncodeOptions o;
    o.width = 64;
    o.height = 64;
    TJPEGImage image;
    image.loadFromBytes(EncodeTestJpeg(o));
    const TDibBitmap& bitmap = image.bitmap();
    const uint8_t* right = bitmap.scanLine(0) + 3 * 60; // red ramp near its top
    EXPECT_GT(right[2], 200);                           // red
    EXPECT_LT(right[1], 40);                            // green is 0 in row 0
}

TEST(JpegPicture, FourComponentFilesDecodeToColour) {
    JpegEncodeOptions o;
    o.width = 48;
    o.height = 32;
    o.cmyk = true;
    TJPEGImage image;
    image.loadFromBytes(EncodeTestJpeg(o));
    const TDibBitmap& bitmap = image.bitmap();
    EXPECT_EQ(bitmap.bitsPerPixel(), 24);
    EXPECT_EQ(bitmap.width(), 48);
    // The pattern's right edge is red-ish at the top (no cyan ink inverted: full red).
    const uint8_t* px = bitmap.scanLine(0) + 3 * 46;
    EXPECT_GT(px[2], 180);
    image.setGrayscale(true);
    EXPECT_EQ(image.bitmap().bitsPerPixel(), 8);
}

TEST(JpegPicture, ProgressIsReportedAroundEveryDecode) {
    JpegEncodeOptions o;
    o.width = 64;
    o.height = 64;
    TJPEGImage image;
    image.loadFromBytes(EncodeTestJpeg(o));
    std::vector<std::pair<TProgressStage, int>> reports;
    image.OnProgress = [&](TProgressStage stage, int percent, bool, const QRect&) {
        reports.emplace_back(stage, percent);
    };
    image.DIBNeeded();
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(reports.front(), std::make_pair(TProgressStage::Starting, 0));
    EXPECT_EQ(reports.back(), std::make_pair(TProgressStage::Ending, 100));

    // A failed decode still ends its report, at 0.
    TJPEGImage broken;
    broken.loadFromBytes(PatchJpegSize(EncodeTestJpeg(o), 60000, 60000));
    reports.clear();
    broken.OnProgress = image.OnProgress;
    EXPECT_THROW(broken.DIBNeeded(), EJPEG);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), std::make_pair(TProgressStage::Ending, 0));
}

TEST(JpegPicture, EightBitOutputAgainstAGivenPalette) {
    JpegEncodeOptions o;
    o.width = 80;
    o.height = 60;
    TJPEGImage image;
    image.loadFromBytes(EncodeTestJpeg(o));
    const TPalette palette = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    image.setPixelFormat(jf8Bit);
    image.setPalette(palette);
    const TDibBitmap& bitmap = image.bitmap();
    EXPECT_EQ(bitmap.bitsPerPixel(), 8);
    EXPECT_EQ(bitmap.palette(), palette);
    for (int y = 0; y < bitmap.height(); ++y)
        for (int x = 0; x < bitmap.width(); ++x)
            ASSERT_LT(bitmap.scanLine(y)[x], palette.size());
    // Near the top-right corner the pattern is red.
    EXPECT_EQ(bitmap.scanLine(0)[78], 1);
}

// --- Bad input -------------------------------------------------------------------

TEST(JpegBadInput, EmptyDataLoadsButHasNoScaledSize) {
    TJPEGImage image;
    image.loadFromBytes(QByteArray());
    EXPECT_EQ(image.width(), 0);
    EXPECT_EQ(image.height(), 0);
    image.setScale(jsEighth);
    EXPECT_THROW(image.width(), EJPEG);
    EXPECT_THROW(image.DIBNeeded(), EJPEG);
}

TEST(JpegBadInput, GarbageIsAnEJPEGWithTheLibraryCode) {
    TJPEGImage image;
    try {
        image.loadFromBytes(QByteArray("this is not a JPEG file at all"));
        FAIL() << "garbage must not load";
    } catch (const EJPEG& e) {
        EXPECT_GT(e.libraryCode, 0);
        EXPECT_EQ(std::string(e.what()), "JPEG error #" + std::to_string(e.libraryCode));
    }
}

TEST(JpegBadInput, TruncatedFilesDecodeWithoutCrashing) {
    JpegEncodeOptions o;
    o.width = 200;
    o.height = 150;
    for (bool progressive : {false, true}) {
        o.progressive = progressive;
        const QByteArray full = EncodeTestJpeg(o);
        for (qsizetype cut : {full.size() / 2, full.size() - 10, qsizetype(700)}) {
            TJPEGImage image;
            image.loadFromBytes(full.left(cut));
            image.ProgressiveDisplay = progressive;
            // The library fills what is missing; it must either decode or throw EJPEG.
            try {
                EXPECT_EQ(image.bitmap().width(), 200);
            } catch (const EJPEG&) {
            }
        }
        TJPEGImage headerOnly;
        EXPECT_THROW(headerOnly.loadFromBytes(full.left(20)), EJPEG);
    }
}

TEST(JpegBadInput, HugeHeaderIsRefusedBeforeAllocating) {
    JpegEncodeOptions o;
    o.width = 64;
    o.height = 64;
    TJPEGImage image;
    image.loadFromBytes(PatchJpegSize(EncodeTestJpeg(o), 60000, 60000));
    EXPECT_EQ(image.width(), 60000); // the header alone says so
    EXPECT_THROW(image.DIBNeeded(), EJPEG);
    EXPECT_FALSE(image.hasBitmap());

    // A progressive file needs whole-image coefficient buffers at any scale; the
    // decoder's memory bound refuses them.
    o.progressive = true;
    TJPEGImage progressive;
    progressive.loadFromBytes(PatchJpegSize(EncodeTestJpeg(o), 60000, 60000));
    progressive.setScale(jsEighth);
    EXPECT_EQ(progressive.width(), 7500);
    EXPECT_THROW(progressive.DIBNeeded(), EJPEG);
}

TEST(JpegBadInput, MutatedFilesFailCleanly) {
    JpegEncodeOptions o;
    o.width = 40;
    o.height = 30;
    uint32_t seed = 777;
    auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    for (bool progressive : {false, true}) {
        o.progressive = progressive;
        const QByteArray original = EncodeTestJpeg(o);
        for (int round = 0; round < 150; ++round) {
            QByteArray bytes = original;
            for (int e = 0; e < 3; ++e)
                bytes[qsizetype(next() % uint32_t(bytes.size()))] = char(next());
            TJPEGImage image;
            try {
                image.loadFromBytes(bytes);
                image.setScale(TJPEGScale(round % 4));
                image.ProgressiveDisplay = progressive;
                image.setPixelFormat(round % 3 == 0 ? jf8Bit : jf24Bit);
                const int width = image.width();
                const int height = image.height();
                if (width > 2000 || height > 2000)
                    continue; // a mutated size field; decoding it is the bound's job
                image.DIBNeeded();
                // Whatever the damage, the bitmap has the size the header promised.
                EXPECT_EQ(image.bitmap().width(), width);
                EXPECT_EQ(image.bitmap().height(), height);
            } catch (const EJPEG&) {
            }
        }
    }
}

// Mean difference per sample between two images of one size.
double meanDifference(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_RGB888);
    const QImage y = b.convertToFormat(QImage::Format_RGB888);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int i = 0; i < x.width() * 3; ++i)
            sum += std::abs(int(x.constScanLine(row)[i]) - int(y.constScanLine(row)[i]));
    return sum / (double(x.width()) * x.height() * 3);
}

// A decode the library gives up part-way keeps the bitmap it was decoding into; later
// draws show it and do not decode again.
TEST(JpegBadInput, DecodingThatFailsPartWayKeepsWhatWasDecoded) {
    struct Case {
        const char* name;
        bool progressive;
        bool progressiveDisplay;
        int scan;        // the scan damaged (from 0)
        double damageAt; // within its data
        int exactRows;   // rows from the top equal to the undamaged picture's
        bool shown;      // false: failed before any row, the bitmap stays empty
    };
    const Case cases[] = {
        {"baseline damaged halfway", false, false, 0, 0.5, 32, true},
        // The passes before the damaged scan show the whole picture, coarser.
        {"progressive after its fourth scan, shown pass by pass", true, true, 3, 1.0, 0, true},
        // Decoded in one go: every scan is read before the first row is made.
        {"progressive after its fourth scan, in one go", true, false, 3, 1.0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JpegEncodeOptions o;
        o.width = 160;
        o.height = 128;
        o.progressive = c.progressive;
        const QByteArray intact = EncodeTestJpeg(o);
        const QByteArray damaged = WithStrayStartMarker(intact, c.scan, c.damageAt);
        ASSERT_FALSE(damaged.isEmpty());
        TJPEGImage whole;
        whole.loadFromBytes(intact);
        const QImage expected = toRgb(whole.bitmap());

        TJPEGImage image;
        image.loadFromBytes(damaged);
        image.ProgressiveDisplay = c.progressiveDisplay;
        std::vector<std::pair<TProgressStage, int>> reports;
        image.OnProgress = [&](TProgressStage stage, int percent, bool, const QRect&) {
            reports.emplace_back(stage, percent);
        };
        int changes = 0;
        image.OnChange = [&] { ++changes; };
        try {
            image.DIBNeeded();
            ADD_FAILURE() << "the damaged file decoded without an error";
        } catch (const EJPEG& e) {
            EXPECT_GT(e.libraryCode, 0);
        }
        ASSERT_FALSE(reports.empty());
        EXPECT_EQ(reports.back(), std::make_pair(TProgressStage::Ending, 0));
        ASSERT_TRUE(image.hasBitmap());
        EXPECT_EQ(changes, 1);

        // Later draws take the kept bitmap as it is, without a second decode.
        reports.clear();
        const TDibBitmap& kept = image.bitmap();
        EXPECT_TRUE(reports.empty());
        if (!c.shown) {
            EXPECT_TRUE(kept.empty());
            EXPECT_EQ(image.width(), 0);
            continue;
        }
        ASSERT_EQ(kept.width(), 160);
        ASSERT_EQ(kept.height(), 128);
        const QImage shown = toRgb(kept);
        if (c.exactRows > 0) {
            EXPECT_EQ(differingPixels(shown.copy(0, 0, 160, c.exactRows),
                                      expected.copy(0, 0, 160, c.exactRows)),
                      0);
            EXPECT_GT(differingPixels(shown.copy(0, 120, 160, 8), expected.copy(0, 120, 160, 8)),
                      0);
        }
        // Close to the picture everywhere it was decoded: far closer than flat grey.
        QImage grey(160, 128, QImage::Format_RGB888);
        grey.fill(qRgb(128, 128, 128));
        const int decodedRows = c.exactRows > 0 ? c.exactRows : 128;
        EXPECT_LT(meanDifference(shown.copy(0, 0, 160, decodedRows),
                                 expected.copy(0, 0, 160, decodedRows)) *
                      4,
                  meanDifference(grey.copy(0, 0, 160, decodedRows),
                                 expected.copy(0, 0, 160, decodedRows)));

        // A new scale drops the kept bitmap; the next decode fails and keeps its own.
        image.setScale(jsHalf);
        EXPECT_FALSE(image.hasBitmap());
        EXPECT_THROW(image.DIBNeeded(), EJPEG);
        EXPECT_EQ(image.bitmap().width(), 80);
    }
}

// --- Pixels against djpeg --------------------------------------------------------

struct ReferenceCase {
    const char* name;
    JpegEncodeOptions file;
    TJpegDecodeOptions decode;
    QStringList djpegArguments;
};

void PrintTo(const ReferenceCase& c, std::ostream* out) {
    *out << c.name;
}
void PrintTo(const ScaleCase& c, std::ostream* out) {
    *out << c.width << "x" << c.height << " scale " << int(c.scale);
}

class JpegReferenceTest : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(JpegReferenceTest, PixelsEqualDjpeg) {
    const ReferenceCase& c = GetParam();
    const QByteArray bytes = EncodeTestJpeg(c.file);
    const QImage reference = DecodeWithDjpeg(bytes, c.djpegArguments);
    ASSERT_FALSE(reference.isNull()) << "djpeg (libjpeg-turbo-progs) failed or is missing";

    TJPEGImage image;
    image.loadFromBytes(bytes);
    image.setScale(c.decode.scale);
    image.setGrayscale(c.decode.grayscale);
    image.setPixelFormat(c.decode.pixelFormat);
    image.setPerformance(c.decode.performance);
    image.ProgressiveDisplay = c.decode.progressiveDisplay;
    EXPECT_EQ(differingPixels(toRgb(image.bitmap()), reference), 0);
}

JpegEncodeOptions fileOf(int width, int height, bool grey = false, bool progressive = false,
                         int restart = 0) {
    JpegEncodeOptions o;
    o.width = width;
    o.height = height;
    o.grayscale = grey;
    o.progressive = progressive;
    o.restartInterval = restart;
    return o;
}

TJpegDecodeOptions decodeOf(TJPEGScale scale, bool grey = false, TJPEGPixelFormat format = jf24Bit,
                            TJPEGPerformance performance = jpBestQuality,
                            bool progressiveDisplay = false) {
    TJpegDecodeOptions d;
    d.scale = scale;
    d.grayscale = grey;
    d.pixelFormat = format;
    d.performance = performance;
    d.progressiveDisplay = progressiveDisplay;
    return d;
}

const QStringList kFast = {"-dct", "fast", "-dither", "ordered", "-onepass"};

INSTANTIATE_TEST_SUITE_P(
    Corpus, JpegReferenceTest,
    ::testing::Values(
        ReferenceCase{"baseline_full", fileOf(320, 240), decodeOf(jsFullSize), {}},
        ReferenceCase{"baseline_half", fileOf(320, 240), decodeOf(jsHalf), {"-scale", "1/2"}},
        ReferenceCase{"baseline_quarter", fileOf(320, 240), decodeOf(jsQuarter), {"-scale", "1/4"}},
        ReferenceCase{"baseline_eighth", fileOf(320, 240), decodeOf(jsEighth), {"-scale", "1/8"}},
        ReferenceCase{"odd_size_half", fileOf(333, 177), decodeOf(jsHalf), {"-scale", "1/2"}},
        ReferenceCase{
            "restart_markers", fileOf(250, 130, false, false, 1), decodeOf(jsFullSize), {}},
        ReferenceCase{"progressive", fileOf(203, 151, false, true), decodeOf(jsFullSize), {}},
        ReferenceCase{"progressive_display",
                      fileOf(203, 151, false, true),
                      decodeOf(jsHalf, false, jf24Bit, jpBestQuality, true),
                      {"-scale", "1/2"}},
        ReferenceCase{"progressive_display_eight_bit",
                      fileOf(203, 151, false, true),
                      decodeOf(jsFullSize, false, jf8Bit, jpBestQuality, true),
                      {"-colors", "236"}},
        ReferenceCase{"progressive_display_grey_fast", fileOf(203, 151, false, true),
                      decodeOf(jsQuarter, true, jf24Bit, jpBestSpeed, true),
                      QStringList{"-scale", "1/4", "-grayscale", "-colors", "236"} + kFast},
        ReferenceCase{
            "greyscale_file", fileOf(150, 100, true), decodeOf(jsFullSize), {"-colors", "236"}},
        ReferenceCase{"grey_output_eighth_fast", fileOf(320, 240),
                      decodeOf(jsEighth, true, jf24Bit, jpBestSpeed),
                      QStringList{"-scale", "1/8", "-grayscale", "-colors", "236"} + kFast},
        ReferenceCase{"eight_bit_quality",
                      fileOf(160, 120),
                      decodeOf(jsFullSize, false, jf8Bit),
                      {"-colors", "236"}},
        ReferenceCase{"eight_bit_fast", fileOf(160, 120),
                      decodeOf(jsFullSize, false, jf8Bit, jpBestSpeed),
                      QStringList{"-colors", "236"} + kFast},
        ReferenceCase{"fast_24_bit",
                      fileOf(160, 120),
                      decodeOf(jsHalf, false, jf24Bit, jpBestSpeed),
                      {"-scale", "1/2", "-dct", "fast"}}),
    [](const ::testing::TestParamInfo<ReferenceCase>& testCase) { return testCase.param.name; });

TEST(DibBitmap, BmpFileRoundTrips) {
    TJPEGImage image;
    JpegEncodeOptions o;
    o.width = 35; // rows need padding
    o.height = 20;
    image.loadFromBytes(EncodeTestJpeg(o));
    for (TJPEGPixelFormat format : {jf24Bit, jf8Bit}) {
        image.setPixelFormat(format);
        const TDibBitmap& bitmap = image.bitmap();
        const QImage read = QImage::fromData(bitmap.toBmpFile(), "BMP");
        ASSERT_FALSE(read.isNull());
        EXPECT_EQ(read.depth() == 8, format == jf8Bit);
        EXPECT_EQ(differingPixels(read, toRgb(bitmap)), 0);
    }
}

TEST(DibBitmap, SizeBound) {
    EXPECT_TRUE(TDibBitmap::fitsBound(6000, 4000, 24));
    EXPECT_FALSE(TDibBitmap::fitsBound(60000, 60000, 24));
    EXPECT_FALSE(TDibBitmap::fitsBound(0, 10, 24));
    TDibBitmap bitmap;
    EXPECT_THROW(bitmap.allocate(60000, 60000, 8), std::length_error);
    EXPECT_TRUE(bitmap.empty());
}

} // namespace
