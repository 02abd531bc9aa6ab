#include "ExifOrientation.h"
#include "formats/PhotoFormat.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// Source pixel (x, y) of a width x height bitmap lands at displayed pixel (dx, dy).
QPoint orientPoint(int x, int y, int width, int height, int orientation) {
    switch (orientation) {
    case 2:
        return {width - 1 - x, y};
    case 3:
        return {width - 1 - x, height - 1 - y};
    case 4:
        return {x, height - 1 - y};
    case 5:
        return {y, x};
    case 6:
        return {height - 1 - y, x};
    case 7:
        return {height - 1 - y, width - 1 - x};
    case 8:
        return {y, width - 1 - x};
    default:
        return {x, y};
    }
}

// Copies every pixel to base + origin + x * stepX + y * stepY, in square tiles so
// that the quarter turns write a few destination rows at a time rather than one byte
// in every row for each source row.
template <int Bytes>
void scatterPixels(const TDibBitmap& source, uint8_t* base, std::ptrdiff_t origin,
                   std::ptrdiff_t stepX, std::ptrdiff_t stepY) {
    constexpr int kTile = 64;
    const int width = source.width();
    const int height = source.height();
    for (int top = 0; top < height; top += kTile) {
        const int bottom = std::min(top + kTile, height);
        for (int left = 0; left < width; left += kTile) {
            const int right = std::min(left + kTile, width);
            for (int y = top; y < bottom; ++y) {
                const uint8_t* in = source.scanLine(y) + std::ptrdiff_t(left) * Bytes;
                std::ptrdiff_t at = origin + std::ptrdiff_t(y) * stepY + left * stepX;
                for (int x = left; x < right; ++x, in += Bytes, at += stepX)
                    std::memcpy(base + at, in, Bytes);
            }
        }
    }
}

} // namespace

int JpegExifOrientation(const QByteArray& jpeg) {
    return JpegExifFacts(jpeg).orientation;
}

fenwa::imaging::ExifFacts JpegExifFacts(const QByteArray& jpeg) {
    const auto* data = reinterpret_cast<const uint8_t*>(jpeg.constData());
    const std::size_t size = std::size_t(jpeg.size());
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return {};
    std::size_t pos = 2;
    // The EXIF block sits among the markers before the first scan.
    while (pos + 4 <= size) {
        if (data[pos] != 0xFF)
            return {};
        const uint8_t marker = data[pos + 1];
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)
            return {};
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) { // no length field
            pos += 2;
            continue;
        }
        const std::size_t length = std::size_t(data[pos + 2]) << 8 | data[pos + 3];
        if (length < 2 || length > size - pos - 2)
            return {};
        const uint8_t* payload = data + pos + 4;
        const std::size_t payloadSize = length - 2;
        static const char kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
        if (marker == 0xE1 && payloadSize >= 6 && std::memcmp(payload, kExif, 6) == 0) {
            // The TIFF structure after "Exif\0\0" is read as every kind's EXIF block is.
            return fenwa::imaging::ReadExifBlock(QByteArray::fromRawData(
                reinterpret_cast<const char*>(payload + 6), qsizetype(payloadSize - 6)));
        }
        pos += 2 + length;
    }
    return {};
}

QRect OrientedRect(const QRect& rect, QSize storedSize, int orientation) {
    if (rect.isEmpty())
        return rect;
    const int w = storedSize.width(), h = storedSize.height();
    const QPoint a = orientPoint(rect.left(), rect.top(), w, h, orientation);
    const QPoint b = orientPoint(rect.right(), rect.bottom(), w, h, orientation);
    return QRect(QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
                 QPoint(std::max(a.x(), b.x()), std::max(a.y(), b.y())));
}

TDibBitmap OrientedBitmap(const TDibBitmap& source, int orientation) {
    if (orientation < 2 || orientation > 8 || source.empty())
        return source;
    const int width = source.width();
    const int height = source.height();
    TDibBitmap out;
    out.setPalette(source.palette());
    const QSize size = OrientedSize(QSize(width, height), orientation);
    out.allocate(size.width(), size.height(), source.bitsPerPixel());

    // Where source (0, 0) lands, and how far one step right or down in the source
    // moves in the destination, in bytes.
    const std::ptrdiff_t px = source.bitsPerPixel() / 8;
    const std::ptrdiff_t row = std::ptrdiff_t(out.stride());
    const QPoint corner = orientPoint(0, 0, width, height, orientation);
    const QPoint right = width > 1 ? orientPoint(1, 0, width, height, orientation) : corner;
    const QPoint down = height > 1 ? orientPoint(0, 1, width, height, orientation) : corner;
    auto offset = [&](QPoint p) { return std::ptrdiff_t(p.y()) * row + p.x() * px; };
    const std::ptrdiff_t origin = offset(corner);
    // With one column or row the step is never taken; any value serves.
    const std::ptrdiff_t stepX = offset(right) - origin;
    const std::ptrdiff_t stepY = offset(down) - origin;
    if (px == 3)
        scatterPixels<3>(source, out.scanLine(0), origin, stepX, stepY);
    else
        scatterPixels<1>(source, out.scanLine(0), origin, stepX, stepY);
    return out;
}
