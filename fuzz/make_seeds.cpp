// Writes the seed corpora of the fuzz targets: small valid JPEG files of every kind
// the decoder handles (baseline, progressive, grey, four-component, restart markers,
// odd sizes, EXIF orientations in both byte orders), made with libjpeg-turbo's own
// compressor. Usage: fenwa-fuzz-seeds <folder>; writes <folder>/jpeg and <folder>/exif.

#include "JpegTestFiles.h"

#include <QDir>
#include <QString>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    if (!root.mkpath("jpeg") || !root.mkpath("exif"))
        return 1;
    bool ok = true;
    auto put = [&](const char* folder, const QString& name, const QByteArray& bytes) {
        ok = WriteFile(root.filePath(QString::fromLatin1(folder) + '/' + name), bytes) && ok;
    };

    struct Kind {
        const char* name;
        JpegEncodeOptions options;
    };
    const Kind kinds[] = {
        {"baseline", {.width = 32, .height = 24}},
        {"progressive", {.width = 32, .height = 24, .progressive = true}},
        {"grey", {.width = 24, .height = 16, .grayscale = true}},
        {"grey_progressive", {.width = 17, .height = 9, .grayscale = true, .progressive = true}},
        {"cmyk", {.width = 16, .height = 16, .cmyk = true}},
        {"restarts", {.width = 40, .height = 40, .restartInterval = 1}},
        {"odd_size", {.width = 13, .height = 7, .quality = 30}},
        {"one_pixel", {.width = 1, .height = 1}},
        {"best_quality", {.width = 16, .height = 8, .quality = 100}},
    };
    for (const Kind& kind : kinds) {
        const QByteArray jpeg = EncodeTestJpeg(kind.options);
        put("jpeg", QString::fromLatin1(kind.name) + ".jpg", jpeg);
        put("jpeg", QString::fromLatin1(kind.name) + "_turned.jpg",
            WithExifOrientation(jpeg, 6, kind.options.progressive));
    }

    const QByteArray small = EncodeTestJpeg({.width = 8, .height = 8, .quality = 10});
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const bool big = orientation % 2 == 0;
        put("exif", QString("orientation_%1_%2.jpg").arg(orientation).arg(big ? "mm" : "ii"),
            WithExifOrientation(small, orientation, big));
    }
    put("exif", "long_type.jpg", InsertJpegSegment(small, ExifSegment(ExifTiffBlock(6, true, 4))));
    return ok ? 0 : 1;
}
