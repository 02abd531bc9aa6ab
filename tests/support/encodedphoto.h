#pragma once
// Photos in today's formats for tests, made at test time by the encoders Debian ships
// (heif-enc, cwebp, avifenc, cjxl, ImageMagick's convert), so nothing large is committed.
// The picture is written as PNG into a temporary folder, the encoder runs on it, and the
// encoded file's bytes come back; empty bytes and a message on standard error when the
// encoder is missing or fails, which a test reports as its failure.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>

// `arguments` gets the input and output paths and gives the encoder's arguments.
inline QByteArray
EncodeWithTool(const QImage& picture, const QString& program, const QString& outputSuffix,
               const std::function<QStringList(const QString& in, const QString& out)>& arguments) {
    QTemporaryDir dir;
    const QString in = dir.filePath("in.png");
    const QString out = dir.filePath("out." + outputSuffix);
    if (!dir.isValid() || !picture.save(in, "PNG"))
        return {};
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments(in, out));
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), process.readAll().constData());
        return {};
    }
    QFile file(out);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The usual encodings: "png", "tiff", "webp", "heic", "avif", "jxl".
inline QByteArray EncodePhoto(const QImage& picture, const QString& kind) {
    using Args = std::function<QStringList(const QString&, const QString&)>;
    struct Encoder {
        const char* kind;
        const char* program;
        Args arguments;
    };
    const Encoder encoders[] = {
        {"png", "convert",
         [](auto& in, auto& out) {
             return QStringList{in, out};
         }},
        {"tiff", "convert",
         [](auto& in, auto& out) {
             return QStringList{in, "-compress", "lzw", out};
         }},
        {"webp", "cwebp",
         [](auto& in, auto& out) { return QStringList{"-quiet", "-q", "90", in, "-o", out}; }},
        {"heic", "heif-enc",
         [](auto& in, auto& out) {
             return QStringList{"-q", "85", in, "-o", out};
         }},
        {"avif", "avifenc",
         [](auto& in, auto& out) {
             return QStringList{"-s", "8", in, out};
         }},
        {"jxl", "cjxl",
         [](auto& in, auto& out) {
             return QStringList{"-q", "90", in, out};
         }},
    };
    for (const Encoder& e : encoders)
        if (kind == e.kind)
            return EncodeWithTool(picture, e.program, kind, e.arguments);
    return {};
}
