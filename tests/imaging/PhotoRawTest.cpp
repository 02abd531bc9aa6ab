// Camera RAW files, made at test time as DNG files from a drawn scene: the header
// facts, the embedded preview at reduced sizes, developing the sensor data when there is
// no preview, damaged files, and loading through the picture holder.

#include "JpegTestFiles.h"
#include "PictureHolder.h"
#include "PictureLoader.h"
#include "formats/PhotoFormat.h"
#include "madeupphoto.h"
#include "minidng.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace fenwa::imaging;

// Mean absolute difference per channel of two pictures brought to the same size.
double MeanDifference(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.scaled(a.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                         .convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * x.width() * x.height());
}

// A source over bytes that does not show them whole, as a file does, and counts what
// is read.
class CountingSource final : public PictureSource {
public:
    explicit CountingSource(const QByteArray& bytes) : inner_(bytes) {}
    int64_t size() const override { return inner_.size(); }
    int64_t readAt(void* buffer, size_t count, int64_t offset) override {
        const int64_t n = inner_.readAt(buffer, count, offset);
        read += std::max<int64_t>(n, 0);
        return n;
    }
    int64_t read = 0;

private:
    BytesSource inner_;
};

DngSpec SceneDng(QSize preview, int orientation = 1) {
    DngSpec spec;
    spec.picture = madeUpScene(31);
    spec.previewSize = preview;
    spec.orientation = orientation;
    spec.dateTimeOriginal = "2021:07:04 13:45:10";
    return spec;
}

TEST(RawPhoto, SniffsTheCameraKindsByTheirFirstBytes) {
    const struct {
        QByteArray head;
        bool raw;
    } cases[] = {
        {QByteArray("II*\0\x08\0\0\0", 8), true}, // DNG, CR2, NEF, ARW (and any TIFF)
        {QByteArray("MM\0*\0\0\0\x08", 8), true},
        {QByteArray("IIRO\x08\0\0\0", 8), true}, // ORF
        {QByteArray("MMOR\0\0\0\x08", 8), true},
        {QByteArray("IIU\0\x08\0\0\0", 8), true}, // RW2
        {"FUJIFILMCCD-RAW 0201", true},
        {QByteArray("\0\0\0\x18"
                    "ftypcrx \0\0\0\1",
                    16),
         true},
        {QByteArray("\0\0\0\x18"
                    "ftypheic\0\0\0\0",
                    16),
         false},
        {"FUJIFILM", false},
        {"\xFF\xD8\xFF\xE0", false},
        {"II", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RawFormat().sniff(c.head), c.raw) << c.head.toHex().constData();
    const PhotoFormat* cr3 = PhotoFormatFor("IMG_0001.CR3", QByteArray("\0\0\0\x18"
                                                                       "ftypcrx ",
                                                                       12));
    ASSERT_NE(cr3, nullptr);
    EXPECT_STREQ(cr3->kind, "camera RAW");
}

TEST(RawPhoto, DngWithAPreviewGivesItsHeaderAndItsPreviewReduced) {
    const DngSpec spec = SceneDng({320, 240}, 6);
    const QByteArray dng = MakeDng(spec);
    BytesSource source(dng);
    const std::optional<PhotoHeader> header = RawFormat().readHeader(source);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->width, 640);
    EXPECT_EQ(header->height, 480);
    EXPECT_EQ(header->orientation, 6);
    EXPECT_EQ(header->captureTime, "2021:07:04 13:45:10");

    // The smallest DCT scale whose shorter side reaches the request.
    const struct {
        int minShortSide;
        QSize size;
    } requests[] = {{0, {320, 240}},   {30, {40, 30}},    {31, {80, 60}},
                    {100, {160, 120}}, {200, {320, 240}}, {1000, {320, 240}}};
    for (const auto& r : requests) {
        const std::optional<PhotoImage> photo = RawFormat().decode(source, {r.minShortSide});
        ASSERT_TRUE(photo) << r.minShortSide;
        EXPECT_EQ(photo->image.size(), r.size) << r.minShortSide;
        EXPECT_EQ(photo->orientation, 6) << "the preview is stored as the sensor saw it";
        EXPECT_EQ(photo->fullWidth, 640);
        EXPECT_EQ(photo->fullHeight, 480);
        EXPECT_LT(MeanDifference(photo->image, spec.picture), 4) << r.minShortSide;
    }
}

TEST(RawPhoto, AnUncompressedPreviewIsCopied) {
    DngSpec spec = SceneDng({256, 192}, 3);
    spec.previewUncompressed = true;
    const QByteArray dng = MakeDng(spec);
    BytesSource source(dng);
    const std::optional<PhotoImage> photo = RawFormat().decode(source, {30});
    ASSERT_TRUE(photo);
    EXPECT_EQ(photo->image.size(), QSize(256, 192));
    EXPECT_EQ(photo->orientation, 3);
    EXPECT_LT(MeanDifference(photo->image, spec.picture), 4);
}

TEST(RawPhoto, APreviewsOwnOrientationWinsOverTheSensorsFlag) {
    const struct {
        int orientation;
        int previewExif;
        int shown;
    } cases[] = {{1, 0, 1}, {3, 0, 3}, {8, 0, 8}, {5, 0, 5}, {6, 1, 6}, {6, 3, 3}, {1, 8, 8}};
    for (const auto& c : cases) {
        DngSpec spec = SceneDng({160, 120}, c.orientation);
        spec.previewExifOrientation = c.previewExif;
        const QByteArray dng = MakeDng(spec);
        BytesSource source(dng);
        const std::optional<PhotoHeader> header = RawFormat().readHeader(source);
        const std::optional<PhotoImage> photo = RawFormat().decode(source, {});
        ASSERT_TRUE(header && photo) << c.orientation << " " << c.previewExif;
        EXPECT_EQ(header->orientation, c.orientation);
        EXPECT_EQ(photo->orientation, c.shown) << c.orientation << " " << c.previewExif;
    }
}

TEST(RawPhoto, AFileIsReadOnlyWhereThePreviewAndDirectoriesAre) {
    DngSpec spec = SceneDng({320, 240});
    spec.rawSize = {1600, 1200}; // 3.8 MB of sensor data after a small preview
    const QByteArray dng = MakeDng(spec);
    CountingSource source(dng);
    ASSERT_EQ(source.bytes(), nullptr);
    const std::optional<PhotoImage> photo = RawFormat().decode(source, {60});
    ASSERT_TRUE(photo);
    EXPECT_EQ(photo->image.size(), QSize(80, 60));
    EXPECT_EQ(photo->fullWidth, 1600);
    EXPECT_LT(source.read, 200 * 1024) << "of " << dng.size() << " bytes";
}

TEST(RawPhoto, DngWithoutAPreviewIsDevelopedFromItsSensorData) {
    DngSpec spec = SceneDng({}, 8);
    spec.dateTimeOriginal.clear();
    const QByteArray dng = MakeDng(spec);
    BytesSource source(dng);
    const std::optional<PhotoHeader> header = RawFormat().readHeader(source);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->captureTime, "");
    EXPECT_EQ(header->orientation, 8);

    CountingSource file(dng); // read through the window, not in place
    for (auto [minShortSide, size] :
         {std::pair{0, QSize(640, 480)}, {240, QSize(320, 240)}, {241, QSize(640, 480)}}) {
        const std::optional<PhotoImage> photo = RawFormat().decode(file, {minShortSide});
        ASSERT_TRUE(photo) << minShortSide;
        EXPECT_EQ(photo->image.size(), size) << "stored, not yet turned";
        EXPECT_EQ(photo->orientation, 8);
        EXPECT_EQ(photo->fullWidth, 640);
        // Demosaicing, the camera's colours and the tone curve all differ from the
        // drawing, so only a loose likeness holds.
        EXPECT_LT(MeanDifference(photo->image, spec.picture), 15) << minShortSide;
    }
}

TEST(RawPhoto, DamagedFilesAreRefusedWithoutACrash) {
    const QByteArray withPreview = MakeDng(SceneDng({320, 240}));
    const QByteArray withoutPreview = MakeDng(SceneDng({}));
    // The directories come first, then the preview, then the sensor data.
    const qsizetype previewAt = withPreview.indexOf("\xFF\xD8\xFF");
    ASSERT_GT(previewAt, 0);

    std::vector<std::pair<const char*, QByteArray>> damaged = {
        {"header only", withPreview.left(8)},
        {"cut in the directories", withPreview.left(previewAt / 2)},
        {"cut in the preview", withPreview.left(previewAt + 2000)},
        {"cut in the sensor data", withoutPreview.left(withoutPreview.size() * 3 / 4)},
        {"empty", QByteArray()},
    };
    QByteArray badPreview = withPreview;
    const qsizetype frameAt = badPreview.indexOf("\xFF\xC0", previewAt);
    ASSERT_GT(frameAt, previewAt);
    badPreview.replace(frameAt, 2, "\0\0", 2);
    damaged.emplace_back("preview without a frame, sensor data cut",
                         badPreview.left(badPreview.size() - 640 * 480 * 2 + 100));
    QByteArray scrambled = withPreview;
    for (qsizetype i = 8; i < previewAt; i += 7)
        scrambled[i] = char(scrambled[i] ^ 0x5A);
    damaged.emplace_back("directories scrambled", scrambled);

    for (const auto& [what, bytes] : damaged) {
        BytesSource source(bytes);
        EXPECT_FALSE(RawFormat().decode(source, {}).has_value()) << what;
        EXPECT_FALSE(RawFormat().decode(source, {128}).has_value()) << what;
    }
    // Cut files whose directories are whole still give their header.
    BytesSource cut(damaged[3].second);
    EXPECT_TRUE(RawFormat().readHeader(cut).has_value());
}

TEST(RawPhoto, HugeClaimedSizesAreRefusedBeforeAnythingIsAllocated) {
    // Beyond the bound on pixels, and on a side.
    for (QSize claim : {QSize(20000, 20000), QSize(70000, 100)}) {
        DngSpec spec = SceneDng({});
        spec.claimedRawSize = claim;
        const QByteArray dng = MakeDng(spec);
        BytesSource source(dng);
        EXPECT_FALSE(RawFormat().readHeader(source).has_value()) << claim.width();
        EXPECT_FALSE(RawFormat().decode(source, {}).has_value()) << claim.width();
    }
    // A preview claiming a huge frame is not decoded, and the sensor data shows instead.
    QByteArray dng = MakeDng(SceneDng({320, 240}));
    const qsizetype previewAt = dng.indexOf("\xFF\xD8\xFF");
    const qsizetype previewEnd = dng.indexOf("\xFF\xD9", previewAt) + 2;
    const QByteArray preview = dng.mid(previewAt, previewEnd - previewAt);
    dng.replace(previewAt, preview.size(), PatchJpegSize(preview, 60000, 60000));
    BytesSource source(dng);
    const std::optional<PhotoImage> photo = RawFormat().decode(source, {});
    ASSERT_TRUE(photo);
    EXPECT_EQ(photo->image.size(), QSize(640, 480));
}

TEST(RawPhoto, LoadsThroughThePictureHolderAtFullAndEighthScale) {
    QTemporaryDir dir;
    const QString path = dir.filePath("IMG_0042.DNG");
    ASSERT_TRUE(WriteFile(path, MakeDng(SceneDng({640, 480}, 6))));
    for (auto [scale, size] : {std::pair{jsFullSize, QSize(480, 640)}, {jsEighth, QSize(60, 80)}}) {
        TPicture picture;
        TPictureLoadSettings settings;
        settings.scale = scale;
        const TPictureLoadResult result =
            LoadPictureFile(picture, QFile::encodeName(path), settings);
        ASSERT_TRUE(result.loaded) << int(scale);
        EXPECT_EQ(QSize(result.width, result.height), size) << int(scale);
        const TDibBitmap bitmap = PictureBitmap(picture);
        EXPECT_EQ(QSize(bitmap.width(), bitmap.height()), size) << int(scale);
    }
}

} // namespace
