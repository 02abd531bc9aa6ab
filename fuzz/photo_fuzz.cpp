// libFuzzer target for the photo kinds: the input's last byte picks the kind (PNG, WebP,
// TIFF, HEIF, JPEG XL, camera RAW, in the order of PhotoFormats), the rest is the file.
// Its header is read and it is decoded whole and reduced; every answer must be a
// picture within the bounds, in one of the formats the kinds promise.

#include "formats/PhotoFormat.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>

using namespace fenwa::imaging;

namespace {

void check(const std::optional<PhotoImage>& photo, int minShortSide, bool preview) {
    if (!photo)
        return;
    const QImage& image = photo->image;
    const QImage::Format format = image.format();
    if (image.isNull() || !PhotoFitsBound(image.width(), image.height()) ||
        photo->orientation < 1 || photo->orientation > 8 ||
        (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 &&
         format != QImage::Format_RGB888 && format != QImage::Format_Grayscale8))
        __builtin_trap();
    // A whole decode is the stored size, but for a camera's embedded preview, which may
    // be smaller than its sensor.
    if (minShortSide == 0 && !preview && photo->fullWidth > 0 &&
        (image.width() != photo->fullWidth || image.height() != photo->fullHeight))
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const std::vector<PhotoFormat>& formats = PhotoFormats();
    const PhotoFormat& format = formats[data[size - 1] % formats.size()];
    // A copy of exactly the file's length, so that AddressSanitizer sees any read past it.
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size - 1));
    (void)format.sniff(bytes.left(PhotoSniffBytes));
    BytesSource source(bytes);
    const std::optional<PhotoHeader> header = format.readHeader(source);
    if (header && (header->orientation < 1 || header->orientation > 8))
        __builtin_trap();
    // Pictures above 4 megapixels as stored are not decoded here: the sanitizers make
    // each such decode take seconds, and the size bounds have their own tests.
    if (header && int64_t(header->width) * header->height > (int64_t(4) << 20))
        return 0;
    for (const int minShortSide : {0, 128})
        check(format.decode(source, {minShortSide}), minShortSide,
              format.decode == RawFormat().decode);
    return 0;
}
