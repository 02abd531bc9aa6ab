#include "PictureLoader.h"
#include "JPEGImage.h"

#include "ExifOrientation.h"
#include "GraphicErrors.h"
#include "formats/PhotoFormat.h"
#include "formats/PhotoGraphic.h"
#include "readfile.h"

#include <QPainter>
#include <climits>
#include <cstring>

void EnsureJpeExtension() {
    static const bool registered = [] {
        TPictureFormats::RegisterFileFormat(
            "jpe", "JPEG Image File", [] { return std::make_unique<TJPEGImage>(); }, "TJPEGImage");
        return true;
    }();
    (void)registered;
}

namespace {

quint32 littleEndian(const QByteArray& b, qsizetype at, int width) {
    quint32 v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = (v << 8) | quint8(b[at + i]);
    return v;
}

} // namespace

quint64 PictureHeaderPixels(const QByteArray& nativePath) {
    const TPictureHeaderFacts facts = PictureHeaderFacts(nativePath);
    return facts.width > 0 && facts.height > 0 ? quint64(facts.width) * quint64(facts.height) : 0;
}

TPictureHeaderFacts PictureHeaderFacts(const QByteArray& nativePath) {
    TPictureHeaderFacts facts;
    // Opened once without blocking: a FIFO or device at the name counts as no picture.
    fenwa::platform::RegularFile file;
    if (file.open(nativePath.toStdString()) != fenwa::platform::ReadFileError::None)
        return facts;
    // Markers of a JPEG file sit before its first scan, nearly always within this much.
    constexpr qint64 JpegHeaderBytes = 256 * 1024;
    QByteArray head;
    if (file.readSome(head, JpegHeaderBytes) != fenwa::platform::ReadFileError::None)
        return facts;
    const auto sized = [&](qint64 w, qint64 h, int orientation = 1) {
        if (w <= 0 || h <= 0 || w > INT_MAX || h > INT_MAX)
            return facts;
        const bool turned = OrientationSwapsAxes(orientation);
        facts.width = int(turned ? h : w);
        facts.height = int(turned ? w : h);
        return facts;
    };
    if (head.startsWith("\xFF\xD8")) {
        const auto fromJpeg = [&]() {
            const TJpegHeaderInfo info = JpegReadHeader(head);
            const fenwa::imaging::ExifFacts exif = JpegExifFacts(head);
            facts.captureTime = exif.captureTime;
            return sized(info.width, info.height, exif.orientation);
        };
        try {
            return fromJpeg();
        } catch (...) {
        }
        if (head.size() < JpegHeaderBytes)
            return facts;
        // Markers past the prefix: the rest of the file, still without decoding.
        if (file.readRest(head, MaxPictureBytes) != fenwa::platform::ReadFileError::None)
            return facts;
        try {
            return fromJpeg();
        } catch (...) {
            return facts;
        }
    }
    if ((head.startsWith("GIF87a") || head.startsWith("GIF89a")) && head.size() >= 10)
        return sized(littleEndian(head, 6, 2), littleEndian(head, 8, 2));
    if (head.startsWith("BM") && head.size() >= 26) {
        if (littleEndian(head, 14, 4) == 12) // the old core header: 16-bit sizes
            return sized(littleEndian(head, 18, 2), littleEndian(head, 20, 2));
        const auto height = qint32(littleEndian(head, 22, 4)); // negative: top-down rows
        return sized(qint32(littleEndian(head, 18, 4)), height < 0 ? -qint64(height) : height);
    }
    if (head.size() >= 8 && littleEndian(head, 0, 4) == 0x00010000 &&
        littleEndian(head, 4, 2) > 0) {
        // An icon's directory: a size byte of 0 stands for 256.
        const auto side = [&](qsizetype at) { return quint8(head[at]) ? quint8(head[at]) : 256; };
        return sized(side(6), side(7));
    }
    // The photo kinds read their headers at the offsets they need (a TIFF's directory
    // may lie at its end), still decoding nothing.
    if (const fenwa::imaging::PhotoFormat* photo = fenwa::imaging::PhotoFormatFor(
            nativePath.toStdString(), head.left(fenwa::imaging::PhotoSniffBytes))) {
        fenwa::imaging::FileSource source(file);
        if (const std::optional<fenwa::imaging::PhotoHeader> header = photo->readHeader(source)) {
            facts.captureTime = header->captureTime;
            return sized(header->width, header->height, header->orientation);
        }
    }
    return facts;
}

TPictureLoadResult LoadPictureFile(TPicture& picture, const QByteArray& nativePath,
                                   const TPictureLoadSettings& settings) {
    EnsureJpeExtension();
    TPictureLoadResult result;
    // The name is opened once, without blocking, and only a regular file is kept; the
    // loaders get its bytes, never the name, so a FIFO or device swapped in is not waited
    // on by this thread (the window's own, for the preview and the viewer).
    fenwa::platform::RegularFile file;
    const fenwa::platform::ReadFileError opened = file.open(nativePath.toStdString());
    // A file there that may not be read still exists: "not a picture", not "no file".
    result.exists = opened == fenwa::platform::ReadFileError::None ||
                    opened == fenwa::platform::ReadFileError::Unreadable;
    bool ok = file.isOpen();
    if (ok) {
        result.fileSize = file.size();
        try {
            try {
                // The kind comes from the name before anything is read.
                if (!TPictureFormats::Find(PictureExtension(nativePath)))
                    throw EInvalidGraphic("unknown picture file extension");
                QByteArray bytes;
                if (file.size() > MaxPictureBytes ||
                    file.readRest(bytes, MaxPictureBytes) != fenwa::platform::ReadFileError::None)
                    throw EInvalidGraphic("cannot read file");
                picture.loadFromBytes(bytes, nativePath);
            } catch (const EInvalidGraphic&) {
                // An unregistered extension or a file its kind cannot read.
                picture.clear();
            }
            if (auto* jpeg = dynamic_cast<TJPEGImage*>(picture.graphic())) {
                jpeg->setPixelFormat(settings.pixelFormat);
                jpeg->setScale(settings.scale);
                jpeg->setGrayscale(settings.grayscale);
                jpeg->setPerformance(settings.performance);
                jpeg->ProgressiveDisplay = settings.progressiveDisplay;
            } else if (TGraphic* graphic = picture.graphic()) {
                graphic->setPhotoDecoding(settings.scale, settings.grayscale);
            }
            // For a JPEG picture at a reduced scale this reads the header again.
            result.width = picture.width();
            result.height = picture.height();
            // Decoding here rather than at the first paint keeps a damaged or
            // oversized picture from failing inside a paint event.
            if (TGraphic* graphic = picture.graphic()) {
                try {
                    graphic->prepareForDraw();
                } catch (const EInvalidGraphic&) {
                    // A JPEG picture damaged part-way shows the rows it decoded.
                    auto* jpeg = dynamic_cast<TJPEGImage*>(graphic);
                    if (!jpeg || !jpeg->hasBitmap() || jpeg->width() <= 0)
                        throw;
                }
            }
        } catch (...) {
            ok = false;
        }
    }
    if (!ok || !picture.graphic()) {
        picture.clear();
        result.width = result.height = 0;
    }
    result.loaded = picture.graphic() != nullptr;
    return result;
}

TDibBitmap DibFromImage(const QImage& image) {
    TDibBitmap bitmap;
    if (image.isNull())
        return bitmap;
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    {
        QPainter painter(&flat);
        painter.drawImage(0, 0, image);
    }
    const QImage bgr = flat.convertToFormat(QImage::Format_BGR888);
    bitmap.allocate(bgr.width(), bgr.height(), 24);
    for (int y = 0; y < bgr.height(); ++y)
        std::memcpy(bitmap.scanLine(y), bgr.constScanLine(y), std::size_t(bgr.width()) * 3);
    return bitmap;
}

TDibBitmap PictureBitmap(const TPicture& picture) {
    TGraphic* graphic = picture.graphic();
    if (!graphic)
        return {};
    if (auto* jpeg = dynamic_cast<TJPEGImage*>(graphic))
        return jpeg->bitmap();
    if (auto* raster = dynamic_cast<TBitmapGraphic*>(graphic))
        return DibFromImage(raster->image());
    if (auto* photo = dynamic_cast<TPhotoGraphic*>(graphic))
        return DibFromImage(photo->decoded());
    const int width = graphic->width();
    const int height = graphic->height();
    if (!TDibBitmap::fitsBound(width, height, 24))
        return {};
    QImage canvas(width, height, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    {
        QPainter painter(&canvas);
        graphic->draw(painter, canvas.rect());
    }
    return DibFromImage(canvas);
}
