// The process-wide registry of picture kinds and the picture holder.

#include "GraphicErrors.h"
#include "JPEGImage.h"
#include "JpegTestFiles.h"
#include "PictureHolder.h"
#include "PictureLoader.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "fifoswap.h"

namespace {

TEST(PictureRegistry, BuiltInKindsAndCaseInsensitiveLookup) {
    for (const char* ext :
         {"bmp", "ICO", "Wmf", "emf", "JPEG", "jpg", ".JpG", "png", "HEIC", "dng"})
        EXPECT_TRUE(TPictureFormats::Find(ext).has_value()) << ext;
    EXPECT_FALSE(TPictureFormats::Find("txt").has_value());
    EXPECT_FALSE(TPictureFormats::Find("").has_value());
    EXPECT_EQ(TPictureFormats::Find("JPG")->description, "JPEG Image File");
}

TEST(PictureRegistry, MostRecentRegistrationWinsAndKindsUnregister) {
    auto factory = [] { return std::make_unique<TBitmapGraphic>(); };
    TPictureFormats::RegisterFileFormat("tst", "first", factory, "FirstKind");
    TPictureFormats::RegisterFileFormat("TST", "second", factory, "SecondKind");
    EXPECT_EQ(TPictureFormats::Find("tst")->description, "second");
    TPictureFormats::UnregisterKind("SecondKind");
    EXPECT_EQ(TPictureFormats::Find("tst")->description, "first");
    TPictureFormats::UnregisterKind("FirstKind");
    EXPECT_FALSE(TPictureFormats::Find("tst").has_value());
}

TEST(PictureRegistry, ExtensionOfTheLastPathElement) {
    EXPECT_EQ(PictureExtension("/photos/a.b/picture.JPG"), ".JPG");
    EXPECT_EQ(PictureExtension("/photos/a.b/picture"), "");
    EXPECT_EQ(PictureExtension("archive.tar.gz"), ".gz");
}

TEST(PictureHolder, LoadsByExtensionAndRefusesUnknownOnes) {
    QTemporaryDir dir;
    const QByteArray jpeg = EncodeTestJpeg({});
    const QString upper = dir.filePath("photo.JPE");
    ASSERT_TRUE(WriteFile(dir.filePath("photo.jpeg"), jpeg));
    ASSERT_TRUE(WriteFile(dir.filePath("photo.png"), jpeg));

    TPicture picture;
    picture.loadFromFile(QFile::encodeName(dir.filePath("photo.jpeg")));
    EXPECT_NE(dynamic_cast<TJPEGImage*>(picture.graphic()), nullptr);
    EXPECT_EQ(picture.width(), 64);
    EXPECT_THROW(picture.loadFromFile(QFile::encodeName(dir.filePath("photo.png"))),
                 EInvalidGraphic);
    EXPECT_EQ(picture.width(), 64) << "a failed load leaves the held picture to the caller";
    picture.clear();
    EXPECT_EQ(picture.width(), 0);
}

TEST(PictureHolder, ALibraryCanRegisterALoaderForItsExtension) {
    QTemporaryDir dir;
    const QString path = dir.filePath("anim.xyz");
    ASSERT_TRUE(WriteFile(path, "whatever"));
    QByteArray seenBytes;
    RegisterImageLoader("xyz", "Test pictures", [&](const QByteArray& bytes) {
        seenBytes = bytes;
        QImage image(30, 20, QImage::Format_RGB32);
        image.fill(Qt::green);
        return image;
    });
    TPicture picture;
    picture.loadFromFile(QFile::encodeName(path));
    EXPECT_EQ(seenBytes, "whatever") << "the loader gets the bytes, never the name to open";
    EXPECT_EQ(picture.width(), 30);
    EXPECT_EQ(picture.height(), 20);

    RegisterImageLoader("xyz", "Failing", [](const QByteArray&) { return QImage(); });
    EXPECT_THROW(picture.loadFromFile(QFile::encodeName(path)), EInvalidGraphic);
}

} // namespace

namespace {

TEST(PictureLoader, LoadsWithTheJpegSettingsAndGivesTheBitmap) {
    QTemporaryDir dir;
    JpegEncodeOptions o;
    o.width = 160;
    o.height = 120;
    const QString path = dir.filePath("photo.JPE");
    ASSERT_TRUE(WriteFile(path, EncodeTestJpeg(o)));

    TPicture picture;
    TPictureLoadSettings settings;
    settings.scale = jsQuarter;
    settings.pixelFormat = jf8Bit;
    const TPictureLoadResult result = LoadPictureFile(picture, QFile::encodeName(path), settings);
    EXPECT_TRUE(result.loaded);
    EXPECT_EQ(result.width, 40);
    EXPECT_EQ(result.height, 30);
    EXPECT_EQ(result.fileSize, QFileInfo(path).size());
    const TDibBitmap bitmap = PictureBitmap(picture);
    EXPECT_EQ(bitmap.width(), 40);
    EXPECT_EQ(bitmap.bitsPerPixel(), 8);
}

TEST(PictureLoader, OtherKindsBecome24BitBitmaps) {
    QTemporaryDir dir;
    QImage image(30, 20, QImage::Format_RGB32);
    image.fill(QColor(10, 200, 30));
    const QString path = dir.filePath("plain.bmp");
    ASSERT_TRUE(image.save(path, "BMP"));
    TPicture picture;
    ASSERT_TRUE(LoadPictureFile(picture, QFile::encodeName(path), {}).loaded);
    const TDibBitmap bitmap = PictureBitmap(picture);
    ASSERT_EQ(bitmap.bitsPerPixel(), 24);
    const uint8_t* px = bitmap.scanLine(19) + 3 * 29;
    EXPECT_EQ(px[0], 30); // blue, green, red
    EXPECT_EQ(px[1], 200);
    EXPECT_EQ(px[2], 10);
}

TEST(PictureLoader, FailuresLeaveTheHolderEmpty) {
    QTemporaryDir dir;
    TPicture picture;
    picture.assign(QImage(5, 5, QImage::Format_RGB32));
    const QString bad = dir.filePath("bad.jpg");
    ASSERT_TRUE(WriteFile(bad, "not a jpeg"));
    TPictureLoadResult result = LoadPictureFile(picture, QFile::encodeName(bad), {});
    EXPECT_TRUE(result.exists);
    EXPECT_FALSE(result.loaded);
    EXPECT_EQ(result.fileSize, 10);
    EXPECT_EQ(picture.graphic(), nullptr);
    EXPECT_TRUE(PictureBitmap(picture).empty());

    result = LoadPictureFile(picture, QFile::encodeName(dir.filePath("missing.bmp")), {});
    EXPECT_FALSE(result.exists);
    EXPECT_EQ(result.fileSize, 0);
    result = LoadPictureFile(picture, QFile::encodeName(dir.path()), {});
    EXPECT_FALSE(result.exists) << "a directory is not a file";
}

// The preview's loader, the "most pixels" header reader and the holder's own load, with
// the picture turning into a FIFO between any check and any open: each gives the
// picture or nothing, and never waits for a writer.
TEST(PictureLoader, AFifoSwappedInForThePictureIsNeverWaitedOn) {
    QTemporaryDir dir;
    QImage image(30, 20, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bmp;
    QBuffer buffer(&bmp);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(image.save(&buffer, "BMP"));
    const QByteArray path = QFile::encodeName(dir.filePath("x.bmp"));
    const std::function<void()> readers[] = {
        [&] {
            TPicture picture;
            const TPictureLoadResult r = LoadPictureFile(picture, path, {});
            EXPECT_EQ(r.loaded ? r.width * r.height : 0, r.loaded ? 600 : 0);
        },
        [&] {
            const quint64 pixels = PictureHeaderPixels(path);
            EXPECT_TRUE(pixels == 0 || pixels == 600) << pixels;
        },
        [&] {
            TPicture picture;
            try {
                picture.loadFromFile(path);
            } catch (const EInvalidGraphic&) {
            }
        },
    };
    const char* names[] = {"picture loader", "header pixels", "holder"};
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(fenwa::testing::ReaderSurvivesFifoSwaps(path.toStdString(), bmp.toStdString(),
                                                            readers[i]))
            << names[i] << " waited on a FIFO";
}

} // namespace

namespace {

TEST(SmoothScaling, LargeReductionsAverageBlocks) {
    // Columns alternate black and white: any filtered reduction is mid-grey, while a
    // nearest-neighbour one would be all black or all white.
    for (QImage::Format format :
         {QImage::Format_BGR888, QImage::Format_RGB32, QImage::Format_Indexed8}) {
        QImage stripes(400, 300, QImage::Format_RGB32);
        for (int y = 0; y < 300; ++y)
            for (int x = 0; x < 400; ++x)
                stripes.setPixel(x, y, x % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
        const QImage source = stripes.convertToFormat(format);
        const QImage scaled = ScaleImageSmoothly(source, QSize(37, 23));
        ASSERT_EQ(scaled.size(), QSize(37, 23));
        for (QPoint p : {QPoint(0, 0), QPoint(18, 11), QPoint(36, 22)})
            EXPECT_NEAR(qGray(scaled.pixel(p)), 128, 6) << int(format);
    }
    // Enlarging keeps the picture's colours.
    QImage red(3, 2, QImage::Format_RGB32);
    red.fill(Qt::red);
    EXPECT_EQ(ScaleImageSmoothly(red, QSize(30, 20)).pixel(15, 10), qRgb(255, 0, 0));
}

} // namespace
