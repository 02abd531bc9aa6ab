// libFuzzer target for the JPEG picture: loads any bytes as a JPEG file (header and
// EXIF orientation), asks the size at every scale, then decodes at one scale with
// settings taken from the input's last byte, as the image view control would. Every
// failure must be one of the picture's exceptions; anything else (a crash, a sanitizer
// report, a hang, running out of memory) is a finding.

#include "GraphicErrors.h"
#include "JPEGImage.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <exception>

namespace {

// Larger pictures are refused by the bitmap's bound, which the unit tests cover;
// decoding them here would only slow the search down. The bound applies to the stored
// size as well: a file of several scans keeps all its coefficients whatever the scale.
constexpr int64_t kMaxDecodedPixels = int64_t(1) << 22;

int64_t pixels(TJPEGImage& picture) {
    return int64_t(picture.width()) * picture.height();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    TJPEGImage picture;
    try {
        picture.loadFromBytes(bytes);
    } catch (const std::exception&) {
        return 0;
    }
    int64_t stored = 0;
    for (TJPEGScale scale : {jsFullSize, jsHalf, jsQuarter, jsEighth}) {
        try {
            picture.setScale(scale);
            if (picture.width() < 0 || picture.height() < 0)
                __builtin_trap(); // sizes come from unsigned header fields
            if (scale == jsFullSize)
                stored = pixels(picture);
        } catch (const std::exception&) {
        }
    }
    if (stored > kMaxDecodedPixels)
        return 0;

    const uint8_t settings = size > 0 ? data[size - 1] : 0;
    try {
        picture.setScale(TJPEGScale(settings & 3));
        picture.setGrayscale(settings & 4);
        picture.setPixelFormat(settings & 8 ? jf8Bit : jf24Bit);
        picture.setPerformance(settings & 16 ? jpBestSpeed : jpBestQuality);
        picture.ProgressiveDisplay = settings & 32;
        if (settings & 64)
            picture.OnProgress = [](TProgressStage, int, bool, const QRect&) {};
        const TDibBitmap& bitmap = picture.bitmap();
        if (bitmap.width() != picture.width() || bitmap.height() != picture.height())
            __builtin_trap(); // the size promised before decoding must be the size delivered
    } catch (const std::exception&) {
    }
    return 0;
}
