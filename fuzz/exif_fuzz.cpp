// libFuzzer target for the EXIF orientation reader: any bytes as a JPEG file. The
// reader must answer 1..8 and read only the bytes that are there.

#include "ExifOrientation.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly the input's length, so that AddressSanitizer sees any read past it.
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const int orientation = JpegExifOrientation(bytes);
    if (orientation < 1 || orientation > 8)
        __builtin_trap();
    const QSize stored(7, 3);
    const QRect rows = OrientedRect(QRect(0, 1, 7, 2), stored, orientation);
    if (!QRect(QPoint(0, 0), OrientedSize(stored, orientation)).contains(rows))
        __builtin_trap();
    return 0;
}
