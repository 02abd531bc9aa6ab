#pragma once

#include "GifArrays.h"

#include <cstdint>
#include <span>
#include <vector>

namespace fenwa::gif {

class TGifSubImage;

// A decoded GIF image as an 8-bit palette bitmap in the Windows BMP layout: a 1078-byte
// header and 256-entry palette, then the rows bottom-up, each padded to a multiple of 4
// bytes. Transparency, the background colour, the logical screen and disposal are not
// applied: the bitmap is opaque and has the image's own size.
class TIndexedBitmap {
public:
    static constexpr int32_t kHeaderSize = 1078;

    explicit TIndexedBitmap(std::vector<uint8_t> stream);

    // The BMP file, byte for byte.
    const std::vector<uint8_t>& Stream() const { return stream_; }
    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    int32_t RowStride() const { return (width_ + 3) & ~3; }
    // Palette entry i (0..255; higher bits are ignored) as 0xFFRRGGBB.
    uint32_t PaletteColor(int32_t i) const;
    // Colour indexes of row y, counted from the top (0..Height-1), Width bytes.
    std::span<const uint8_t> Row(int32_t y) const;
    // The pixels as 0xFFRRGGBB, top row first, Width per row.
    std::vector<uint32_t> ToArgb32() const;
    // Fills rows of Width pixels of 0xFFRRGGBB, top row first, rows strideInPixels apart.
    void FillArgb32(uint32_t* pixels, int64_t strideInPixels) const;

private:
    std::vector<uint8_t> stream_;
    int32_t width_ = 0;
    int32_t height_ = 0;
};

// Builds the bitmap of an image: its local colour table if it has one, otherwise the
// owner file's global table; all 256 entries are written whatever the table's Count.
TIndexedBitmap BuildIndexedBitmap(const TGifSubImage& image);

// Reads a whole GIF file held in memory and returns its first image as a bitmap. A file
// without images raises EListError; any error of the reader or decoder passes on.
TIndexedBitmap LoadFirstGifBitmap(std::span<const uint8_t> bytes);

} // namespace fenwa::gif
