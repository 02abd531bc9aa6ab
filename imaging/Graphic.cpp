#include "Graphic.h"
#include "GraphicErrors.h"

#include <QBuffer>
#include <QImageReader>
#include <string>

#include "readfile.h"

QByteArray ReadWholeFile(const QByteArray& nativePath) {
    QByteArray bytes;
    const fenwa::platform::ReadFileError error =
        fenwa::platform::readRegularFile(nativePath.toStdString(), MaxPictureBytes, bytes);
    if (error == fenwa::platform::ReadFileError::TooLarge)
        throw EInvalidGraphic("file too large for a picture");
    if (error != fenwa::platform::ReadFileError::None)
        throw EInvalidGraphic(std::string("cannot read file: ") +
                              fenwa::platform::readFileErrorText(error));
    return bytes;
}

namespace {

// Averages each 2 x 2 block of an image of Bytes bytes per pixel.
template <int Bytes> QImage halve(const QImage& image) {
    const int width = image.width() / 2;
    const int height = image.height() / 2;
    QImage out(width, height, image.format());
    for (int y = 0; y < height; ++y) {
        const uchar* top = image.constScanLine(2 * y);
        const uchar* bottom = image.constScanLine(2 * y + 1);
        uchar* row = out.scanLine(y);
        for (int i = 0; i < width * Bytes; i += Bytes) {
            const int a = 2 * i;
            for (int c = 0; c < Bytes; ++c)
                row[i + c] = uchar(
                    (top[a + c] + top[a + Bytes + c] + bottom[a + c] + bottom[a + Bytes + c] + 2) >>
                    2);
        }
    }
    return out;
}

QImage halve(const QImage& image) {
    return image.depth() == 24 ? halve<3>(image) : halve<4>(image);
}

} // namespace

QImage ScaleImageSmoothly(const QImage& image, const QSize& size) {
    if (image.isNull() || size.isEmpty())
        return {};
    QImage current = image;
    const int depth = current.depth();
    const bool halvable = (depth == 24 && (current.format() == QImage::Format_BGR888 ||
                                           current.format() == QImage::Format_RGB888)) ||
                          current.format() == QImage::Format_RGB32 ||
                          current.format() == QImage::Format_ARGB32_Premultiplied;
    if (current.width() >= 2 * size.width() && current.height() >= 2 * size.height()) {
        if (!halvable)
            current = current.convertToFormat(current.hasAlphaChannel()
                                                  ? QImage::Format_ARGB32_Premultiplied
                                                  : QImage::Format_RGB32);
        while (current.width() >= 2 * size.width() && current.height() >= 2 * size.height())
            current = halve(current);
    }
    return current.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

void DrawImageSmooth(QPainter& painter, const QRect& dest, const QImage& image, QImage& cache) {
    if (image.isNull() || dest.isEmpty())
        return;
    if (dest.size() == image.size()) {
        // Only the visible part: a large picture centred in a small control is mostly
        // outside it, and drawing converts the pixels it touches.
        QRect visible = dest;
        if (painter.hasClipping())
            visible &=
                painter.transform().inverted().mapRect(painter.clipBoundingRect()).toAlignedRect();
        else if (painter.device())
            visible &= painter.transform().inverted().mapRect(
                QRect(0, 0, painter.device()->width(), painter.device()->height()));
        if (!visible.isEmpty())
            painter.drawImage(visible.topLeft(), image, visible.translated(-dest.topLeft()));
        return;
    }
    if (cache.size() != dest.size())
        cache = ScaleImageSmoothly(image, dest.size());
    painter.drawImage(dest.topLeft(), cache);
}

void TBitmapGraphic::loadFromBytes(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format_);
    reader.setDecideFormatFromContent(format_.isEmpty());
    QImage image;
    if (!reader.read(&image) || image.isNull())
        throw EInvalidGraphic("cannot read bitmap");
    assign(image);
}

void TBitmapGraphic::assign(const QImage& image) {
    image_ = image;
    scaled_ = QImage();
    changed();
}

void TBitmapGraphic::draw(QPainter& painter, const QRect& dest) {
    DrawImageSmooth(painter, dest, image_, scaled_);
}

void TIconGraphic::loadFromBytes(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    // The image of the standard icon size (the deepest of them) when there is one,
    // otherwise the first image.
    const QSize standard(32, 32);
    QImage first;
    QImage best;
    const int count = std::max(1, reader.imageCount());
    for (int i = 0; i < count; ++i) {
        if (i > 0 && !reader.jumpToImage(i))
            break;
        QImage candidate;
        if (!reader.read(&candidate) || candidate.isNull())
            continue;
        if (first.isNull())
            first = candidate;
        if (candidate.size() == standard && (best.isNull() || candidate.depth() > best.depth()))
            best = candidate;
    }
    if (best.isNull())
        best = first;
    if (best.isNull())
        throw EInvalidGraphic("cannot read icon");
    image_ = best;
    changed();
}

void TIconGraphic::draw(QPainter& painter, const QRect& dest) {
    if (!image_.isNull())
        painter.drawImage(dest.topLeft(), image_);
}
