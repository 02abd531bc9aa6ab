#pragma once
// Loading a picture file the way the image view control does, without a widget: the
// file is checked, loaded by extension, given the JPEG settings, sized and decoded.
// Any failure leaves the picture holder empty, except a JPEG file whose decoding
// failed part-way: its picture keeps the rows decoded. Command-line tools use this to
// load a file exactly as the control would.

#include "DibBitmap.h"
#include "JpegCodec.h"
#include "PictureHolder.h"

#include <QByteArray>
#include <QImage>

struct TPictureLoadSettings {
    TJPEGPixelFormat pixelFormat = jf24Bit;
    TJPEGScale scale = jsFullSize;
    bool grayscale = false;
    TJPEGPerformance performance = jpBestQuality;
    bool progressiveDisplay = false;
};

struct TPictureLoadResult {
    bool exists = false; // the name is an existing regular file (fileSize is its length)
    bool loaded = false; // the holder now has a picture
    int width = 0;
    int height = 0;
    qint64 fileSize = 0;
};

// Registers "jpe" for JPEG pictures, once; the image view control does at its first
// construction, and LoadPictureFile does too.
void EnsureJpeExtension();

// A picture's width times height from its header alone, without decoding: JPEG (as a
// JPEG picture reads it), GIF, BMP, icons (the first image) and the photo kinds of
// formats/PhotoFormat.h (a RAW file's sensor size); 0 for anything else or a
// header that cannot be read, and for anything but a regular file (a FIFO or device at
// the name is never waited on).
quint64 PictureHeaderPixels(const QByteArray& nativePath);

// What a picture's header tells a user deciding between copies, read the same way and
// as cheaply: the size as the picture is shown (its orientation applied), and when it
// was taken as its EXIF block (or the format's own) writes it, "YYYY:MM:DD HH:MM:SS".
// Width and height 0 for anything that is no readable picture; captureTime empty when
// the file does not say.
struct TPictureHeaderFacts {
    int width = 0;
    int height = 0;
    QString captureTime;
};
TPictureHeaderFacts PictureHeaderFacts(const QByteArray& nativePath);

// Replaces the holder's picture with the file's. Never throws for a bad or missing
// file; the picture is then empty. The name is opened once without blocking and only
// a regular file is read, so a FIFO or device there gives an empty picture at once.
TPictureLoadResult LoadPictureFile(TPicture& picture, const QByteArray& nativePath,
                                   const TPictureLoadSettings& settings);

// The bitmap of the held picture: a JPEG picture's decoded bitmap (8-bit paletted or
// 24-bit), other rasters as 24 bits, a metafile played at its natural size on white.
// Empty when the holder is empty.
TDibBitmap PictureBitmap(const TPicture& picture);

// A 24-bit bitmap of an image (alpha dropped onto white).
TDibBitmap DibFromImage(const QImage& image);
