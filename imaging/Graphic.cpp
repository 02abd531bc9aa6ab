#include "Graphic.h"
#include "GraphicErrors.h"

#include <QBuffer>
#include <QImageReader>
#include <cstring>
#include <string>
#include <vector>

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

QImage StretchImage(const QImage& image, const QSize& size) {
    if (image.isNull() || size.isEmpty())
        return {};
    QImage source = image;
    const bool alpha = source.hasAlphaChannel();
    switch (source.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_BGR888:
    case QImage::Format_RGB888:
    case QImage::Format_Indexed8:
    case QImage::Format_Grayscale8:
        break;
    default:
        source = source.convertToFormat(alpha ? QImage::Format_ARGB32_Premultiplied
                                              : QImage::Format_RGB32);
        if (source.isNull())
            return {};
    }
    QImage out(size, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (out.isNull())
        return {};
    const QImage::Format format = source.format();
    const int sourceWidth = source.width();
    const int sourceHeight = source.height();
    const int width = size.width();
    const int height = size.height();
    // The source column and row under each destination pixel's centre.
    std::vector<int> columns(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x)
        columns[std::size_t(x)] = int((2 * qint64(x) + 1) * sourceWidth / (2 * qint64(width)));
    // 8-bit pixels through a table of finished colours.
    QRgb table[256];
    if (format == QImage::Format_Indexed8) {
        const QList<QRgb> colours = source.colorTable();
        for (int i = 0; i < 256; ++i) {
            const QRgb c = i < colours.size() ? colours[i] : qRgb(0, 0, 0);
            table[i] = alpha ? qPremultiply(c) : (c | 0xff000000u);
        }
    } else if (format == QImage::Format_Grayscale8) {
        for (int i = 0; i < 256; ++i)
            table[i] = qRgb(i, i, i);
    }
    int previousRow = -1;
    for (int y = 0; y < height; ++y) {
        const int sourceRow = int((2 * qint64(y) + 1) * sourceHeight / (2 * qint64(height)));
        auto* target = reinterpret_cast<QRgb*>(out.scanLine(y));
        if (sourceRow == previousRow) {
            // An enlarged picture repeats rows.
            std::memcpy(target, out.constScanLine(y - 1), std::size_t(width) * sizeof(QRgb));
            continue;
        }
        previousRow = sourceRow;
        const uchar* row = source.constScanLine(sourceRow);
        const auto* row32 = reinterpret_cast<const QRgb*>(row);
        switch (format) {
        case QImage::Format_Indexed8:
        case QImage::Format_Grayscale8:
            for (int x = 0; x < width; ++x)
                target[x] = table[row[columns[std::size_t(x)]]];
            break;
        case QImage::Format_BGR888:
            for (int x = 0; x < width; ++x) {
                const uchar* p = row + 3 * columns[std::size_t(x)];
                target[x] = qRgb(p[2], p[1], p[0]);
            }
            break;
        case QImage::Format_RGB888:
            for (int x = 0; x < width; ++x) {
                const uchar* p = row + 3 * columns[std::size_t(x)];
                target[x] = qRgb(p[0], p[1], p[2]);
            }
            break;
        case QImage::Format_ARGB32:
            for (int x = 0; x < width; ++x)
                target[x] = qPremultiply(row32[columns[std::size_t(x)]]);
            break;
        default: // RGB32 and ARGB32 premultiplied, as they are
            for (int x = 0; x < width; ++x)
                target[x] = row32[columns[std::size_t(x)]];
            break;
        }
    }
    return out;
}

void DrawImageStretched(QPainter& painter, const QRect& dest, const QImage& image, QImage& cache) {
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
        cache = StretchImage(image, dest.size());
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
    DrawImageStretched(painter, dest, image_, scaled_);
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
