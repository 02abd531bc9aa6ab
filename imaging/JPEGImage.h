#pragma once
// TJPEGImage is the picture kind for JPEG files. It keeps the file's compressed
// bytes (shared between copies through TJPEGData), learns size and colour space from
// the header at load time, and decodes into a TDibBitmap only when the picture is
// first drawn or its bitmap is asked for. Changing a decode setting drops the bitmap;
// the next draw decodes again with the new settings. A decode that fails part-way
// still keeps its bitmap (the rows decoded, the rest black) and throws; later draws
// show that bitmap.
//
// A file with an EXIF orientation is shown the right way up: the decoded bitmap is
// turned after decoding, and width() and height() give the turned size even before
// any decoding.

#include "DibBitmap.h"
#include "Graphic.h"
#include "JpegCodec.h"

#include <QByteArray>
#include <memory>
#include <optional>

// The compressed bytes and header facts of one JPEG file, shared by the pictures
// copied from one another and never changed once loaded.
struct TJPEGData {
    QByteArray bytes;
    bool hasBytes = false; // false for the empty data of a new picture
    int height = 0;
    int width = 0;
    bool grayscale = false;
    bool progressive = false;
    // The EXIF orientation (1..8); width and height above are as stored.
    int orientation = 1;
};

using TJPEGQualityRange = int; // 1..100

class TJPEGImage : public TGraphic {
public:
    // Settings every new picture starts with.
    struct Defaults {
        TJPEGQualityRange compressionQuality = 90;
        bool grayscale = false;
        TJPEGPerformance performance = jpBestQuality;
        TJPEGPixelFormat pixelFormat = jf24Bit; // screens here have more than 8 bits
        bool progressiveDisplay = false;
        bool progressiveEncoding = false;
        TJPEGScale scale = jsFullSize;
        bool smoothing = true;
    };
    static Defaults& ClassDefaults();

    TJPEGImage();

    void loadFromBytes(const QByteArray& bytes) override;

    int width() override;
    int height() override;
    bool empty() override;
    void draw(QPainter& painter, const QRect& dest) override;
    void prepareForDraw() override { DIBNeeded(); }

    // Resizing is not something a JPEG picture can do.
    [[noreturn]] void setWidth(int);
    [[noreturn]] void setHeight(int);

    TJPEGPixelFormat PixelFormat() const { return pixelFormat_; }
    void setPixelFormat(TJPEGPixelFormat value);
    bool Grayscale() const { return grayscale_; }
    void setGrayscale(bool value);
    TJPEGPerformance Performance() const { return performance_; }
    void setPerformance(TJPEGPerformance value);
    TJPEGScale Scale() const { return scale_; }
    void setScale(TJPEGScale value);
    bool Smoothing() const { return smoothing_; }
    void setSmoothing(bool value);
    // Plain fields: the image view control writes ProgressiveDisplay directly.
    bool ProgressiveDisplay = false;
    bool ProgressiveEncoding = false;
    TJPEGQualityRange CompressionQuality = 90;

    // The decoded bitmap, decoding first if needed.
    const TDibBitmap& bitmap();
    void DIBNeeded();
    bool hasBitmap() const { return bitmap_.has_value(); }

    // The palette: the bitmap's, else the temporary palette, else none.
    std::optional<TPalette> palette() const;
    // A palette to decode 8-bit output against.
    void setPalette(const TPalette& palette);
    bool paletteModified() const { return paletteModified_; }

    // Two pictures are equal when they share one data object.
    bool equals(const TJPEGImage& other) const { return data_ == other.data_; }
    // Shares other's data; takes a copy of its bitmap if it has one.
    void assign(const TJPEGImage& other);
    // New empty data and a copy of the bitmap.
    void assign(const TDibBitmap& bitmap);
    // The decoded bitmap into target (decoding first).
    void assignTo(TDibBitmap& target);

    const TJPEGData& data() const { return *data_; }

private:
    void freeBitmap();
    // Turns a decoded bitmap by the EXIF orientation and keeps it as the picture's.
    void keepBitmap(TDibBitmap&& bitmap);
    TJpegDecodeOptions decodeOptions() const;
    // The decoder's output size at the current scale, as stored in the file.
    QSize storedOutputSize();

    std::shared_ptr<const TJPEGData> data_;
    std::optional<TDibBitmap> bitmap_;
    QImage scaled_;
    int scaledWidth_ = 0;
    int scaledHeight_ = 0;
    std::optional<TPalette> temporaryPalette_;
    bool smoothing_ = true;
    bool grayscale_ = false;
    TJPEGPixelFormat pixelFormat_ = jf24Bit;
    TJPEGPerformance performance_ = jpBestQuality;
    TJPEGScale scale_ = jsFullSize;
    bool needRecalculate_ = true;
    bool paletteModified_ = false;
};
