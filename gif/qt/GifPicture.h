#pragma once

#include <QByteArray>
#include <QImage>

namespace fenwa {

namespace gif {
class TIndexedBitmap;
}

// The GIF picture kind as the image view control sees it: the extension it is registered
// for, its description, and loaders that give a file's first image as an opaque QImage.

inline constexpr const char* kGifExtension = "gif";
inline constexpr const char* kGifDescription = "GIF-Format";

// The bitmap as an opaque QImage (Format_RGB32) of the same size: each pixel is its palette
// colour, so a transparent index shows that entry's colour. A 0-pixel bitmap gives a null
// image. Raises fenwa::gif::ENotEnoughMemory when the QImage cannot be allocated.
QImage toQImage(const gif::TIndexedBitmap& bitmap);

// Reads the GIF file at a native path (any bytes, not necessarily UTF-8) and returns its
// first image. Every failure raises an exception derived from std::exception: a file that
// cannot be read or is not a regular file, never waited on (EFileError), a format error
// (EGifException), a file without images (EListError), more data than the image
// (EIndexOutOfBounds), a size beyond our bounds (ENotEnoughMemory). Never processes window
// messages.
QImage loadGifFirstImage(const QByteArray& nativePath);

// The same for a GIF file held in memory (the picture kind's load from a stream).
QImage loadGifFirstImageFromData(const QByteArray& bytes);

} // namespace fenwa
