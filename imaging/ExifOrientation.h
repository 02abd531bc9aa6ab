#pragma once
// Pictures from cameras and phones are often stored sideways with an EXIF tag saying
// how to turn them for display. This reads that one tag from a JPEG file's bytes and
// turns a decoded bitmap accordingly, so the picture shows the right way up.
//
// Orientation values are those of the tag: 1 as stored, 2 mirrored left-right,
// 3 turned half round, 4 mirrored top-bottom, 5 mirrored about the main diagonal,
// 6 turned a quarter clockwise, 7 mirrored about the other diagonal, 8 turned a
// quarter anticlockwise.

#include "DibBitmap.h"

#include <QByteArray>
#include <QRect>
#include <QSize>

// The orientation a JPEG file's EXIF block asks for: 1..8, and 1 when the file has
// no EXIF block, no orientation tag, a value outside 1..8 or a damaged block. Reads
// only the bytes that are there, whatever the offsets inside the file claim.
int JpegExifOrientation(const QByteArray& jpeg);

namespace fenwa::imaging {
struct ExifFacts;
}
// Everything the JPEG file's EXIF block says that Fenwa uses (orientation 1 and no
// capture time when it has none).
fenwa::imaging::ExifFacts JpegExifFacts(const QByteArray& jpeg);

// True for the orientations that exchange width and height (5..8).
inline bool OrientationSwapsAxes(int orientation) {
    return orientation >= 5 && orientation <= 8;
}

// The displayed size of a picture stored at storedSize.
inline QSize OrientedSize(QSize storedSize, int orientation) {
    return OrientationSwapsAxes(orientation) ? storedSize.transposed() : storedSize;
}

// Where a rectangle of the stored picture lands in the displayed one.
QRect OrientedRect(const QRect& rect, QSize storedSize, int orientation);

// The bitmap as displayed for the orientation (8-bit paletted or 24-bit; the palette
// is kept). Orientation 1 and values outside 1..8 return a plain copy. Throws
// std::length_error when the turned bitmap would exceed the size bound (its padded
// rows can be longer) and std::bad_alloc when memory runs out.
TDibBitmap OrientedBitmap(const TDibBitmap& source, int orientation);
