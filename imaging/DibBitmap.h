#pragma once
// TDibBitmap is the bitmap that decoders produce: 8-bit paletted or 24-bit
// blue-green-red, rows top-down and each row padded to a multiple of 4 bytes, the
// layout of a device-independent bitmap. It knows nothing of widgets; toQImage()
// adapts it for drawing.
//
// Pixel memory comes from a small process-wide pool: decoding a large picture into
// fresh memory costs tens of milliseconds of page faults, and pictures of one size
// follow each other (slides, paging through a folder of photos).

#include <QByteArray>
#include <QImage>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

struct TPaletteEntry {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    bool operator==(const TPaletteEntry&) const = default;
};

using TPalette = std::vector<TPaletteEntry>;

class TDibBitmap {
public:
    // The largest pixel memory a bitmap may hold: 512 MiB, about 178 megapixels at
    // 24 bits. Larger pictures are refused before anything is allocated.
    static constexpr std::size_t kMaxPixelBytes = std::size_t(512) << 20;

    TDibBitmap() = default;
    ~TDibBitmap();
    TDibBitmap(const TDibBitmap& other);
    TDibBitmap& operator=(const TDibBitmap& other);
    TDibBitmap(TDibBitmap&& other) noexcept;
    TDibBitmap& operator=(TDibBitmap&& other) noexcept;

    // Bytes per row for a width and depth (4-byte aligned), or 0 when out of range.
    static std::size_t strideFor(int width, int bitsPerPixel);
    // True when a bitmap of this size fits the bound.
    static bool fitsBound(int width, int height, int bitsPerPixel);

    // Allocates uninitialised pixels; throws std::length_error beyond the bound and
    // std::bad_alloc when memory runs out. Keeps the palette.
    void allocate(int width, int height, int bitsPerPixel);
    void clear();

    bool empty() const { return width_ <= 0 || height_ <= 0; }
    int width() const { return width_; }
    int height() const { return height_; }
    int bitsPerPixel() const { return bitsPerPixel_; }
    std::size_t stride() const { return stride_; }
    uint8_t* scanLine(int row) { return pixels_.get() + std::size_t(row) * stride_; }
    const uint8_t* scanLine(int row) const { return pixels_.get() + std::size_t(row) * stride_; }

    const TPalette& palette() const { return palette_; }
    void setPalette(TPalette palette) { palette_ = std::move(palette); }

    // A QImage over this bitmap's memory, valid while the bitmap lives unchanged.
    QImage toQImage() const;
    // The bitmap as a .bmp file (BITMAPINFOHEADER, bottom-up rows, palette for 8 bits).
    QByteArray toBmpFile() const;
    // The same bytes written to an open file; false when a write fails.
    bool writeBmpFile(std::FILE* file) const;

private:
    QByteArray bmpHeader() const;

    int width_ = 0;
    int height_ = 0;
    int bitsPerPixel_ = 24;
    std::size_t stride_ = 0;
    std::size_t capacity_ = 0;
    std::unique_ptr<uint8_t[]> pixels_;
    TPalette palette_;
};
