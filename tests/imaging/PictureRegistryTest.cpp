// The process-wide registry of picture kinds and the picture holder.

#include "GraphicErrors.h"
#include "JPEGImage.h"
#include "JpegTestFiles.h"
#include "PictureHolder.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(PictureRegistry, BuiltInKindsAndCaseInsensitiveLookup) {
    for (const char* ext : {"bmp", "ICO", "Wmf", "emf", "JPEG", "jpg", ".JpG"})
        EXPECT_TRUE(TPictureFormats::Find(ext).has_value()) << ext;
    EXPECT_FALSE(TPictureFormats::Find("png").has_value());
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
    QByteArray seenPath;
    RegisterImageLoader("xyz", "Test pictures", [&](const QByteArray& nativePath) {
        seenPath = nativePath;
        QImage image(30, 20, QImage::Format_RGB32);
        image.fill(Qt::green);
        return image;
    });
    TPicture picture;
    picture.loadFromFile(QFile::encodeName(path));
    EXPECT_EQ(seenPath, QFile::encodeName(path));
    EXPECT_EQ(picture.width(), 30);
    EXPECT_EQ(picture.height(), 20);

    RegisterImageLoader("xyz", "Failing", [](const QByteArray&) { return QImage(); });
    EXPECT_THROW(picture.loadFromFile(QFile::encodeName(path)), EInvalidGraphic);
}

} // namespace
