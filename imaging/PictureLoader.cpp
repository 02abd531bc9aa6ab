#include "PictureLoader.h"
#include "JPEGImage.h"

#include <QPainter>
#include <cstring>
#include <filesystem>
#include <fstream>

void EnsureJpeExtension() {
    static const bool registered = [] {
        TPictureFormats::RegisterFileFormat(
            "jpe", "JPEG Image File", [] { return std::make_unique<TJPEGImage>(); }, "TJPEGImage");
        return true;
    }();
    (void)registered;
}

bool IsExistingFile(const QByteArray& nativePath) {
    if (nativePath.isEmpty())
        return false;
    std::error_code error;
    const bool regular =
        std::filesystem::is_regular_file(std::filesystem::path(nativePath.toStdString()), error);
    return regular && !error;
}

qint64 MeasureFile(const QByteArray& nativePath) {
    std::ifstream in(nativePath.toStdString(), std::ios::binary | std::ios::ate);
    if (!in)
        return 0;
    const std::streamoff size = in.tellg();
    return size < 0 ? 0 : qint64(size);
}

TPictureLoadResult LoadPictureFile(TPicture& picture, const QByteArray& nativePath,
                                   const TPictureLoadSettings& settings) {
    EnsureJpeExtension();
    TPictureLoadResult result;
    result.exists = IsExistingFile(nativePath);
    bool ok = result.exists;
    if (ok) {
        try {
            try {
                picture.loadFromFile(nativePath);
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
            }
            // For a JPEG picture at a reduced scale this reads the header again.
            result.width = picture.width();
            result.height = picture.height();
            // Decoding here rather than at the first paint keeps a damaged or
            // oversized picture from failing inside a paint event.
            if (TGraphic* graphic = picture.graphic())
                graphic->prepareForDraw();
        } catch (...) {
            ok = false;
        }
    }
    if (!ok || !picture.graphic()) {
        picture.clear();
        result.width = result.height = 0;
    }
    result.loaded = picture.graphic() != nullptr;
    result.fileSize = result.exists ? MeasureFile(nativePath) : 0;
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
