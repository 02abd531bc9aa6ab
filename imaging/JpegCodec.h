#pragma once
// The JPEG decoder over libjpeg-turbo: header facts, the output size at a reduced
// scale without decoding, and decoding straight into a TDibBitmap. All setjmp/longjmp
// handling of the library lives in JpegCodec.cpp; failures leave here as EJPEG.

#include "DibBitmap.h"
#include "GraphicErrors.h"

#include <QByteArray>
#include <QRect>
#include <QSize>
#include <functional>

enum TJPEGPixelFormat { jf24Bit, jf8Bit };
enum TJPEGScale { jsFullSize, jsHalf, jsQuarter, jsEighth };
enum TJPEGPerformance { jpBestQuality, jpBestSpeed };

// What the header says, read without decoding any pixels.
struct TJpegHeaderInfo {
    int width = 0;
    int height = 0;
    bool grayscale = false;   // the file's colour space is greyscale
    bool progressive = false; // the file has more than one scan
};

// Decode settings, turned into decoder parameters at each decode.
struct TJpegDecodeOptions {
    TJPEGScale scale = jsFullSize;
    bool smoothing = true;
    bool grayscale = false;
    TJPEGPixelFormat pixelFormat = jf24Bit;
    TJPEGPerformance performance = jpBestQuality;
    bool progressiveDisplay = false;
};

enum class TProgressStage { Starting, Running, Ending };
// Progress of a decode: stage, whole per cent, whether the rows in the rectangle are
// worth redrawing, the rows decoded since the last report.
using TProgressEvent =
    std::function<void(TProgressStage stage, int percent, bool redraw, const QRect& rows)>;

// Memory the library itself may use while decoding (coefficient buffers of
// progressive files, two-pass quantisation); past it the decode fails with EJPEG.
inline constexpr long kMaxJpegDecoderMemory = 1024L << 20;

// Reads the header of the whole-file bytes. Throws EJPEG (an empty input included).
TJpegHeaderInfo JpegReadHeader(const QByteArray& bytes);

// The size the decoder would deliver with these options, from the header alone.
QSize JpegOutputSize(const QByteArray& bytes, const TJpegDecodeOptions& options);

// Decodes into bitmap (8 bits with a palette, or 24 bits blue-green-red). A palette
// given in externalPalette is used as the colour map for 8-bit colour output.
// Returns whether the bitmap was given a palette made by the decoder. Throws EJPEG
// (libraryCode -1 when the bitmap would exceed its bound). When the library fails after
// decompression started, the bitmap keeps its size, the rows decoded so far and its
// palette, and rows no pass reached are zero (black); a failure before that leaves it
// empty.
bool JpegDecode(const QByteArray& bytes, const TJpegDecodeOptions& options,
                const TPalette* externalPalette, TDibBitmap& bitmap,
                const TProgressEvent& progress);
