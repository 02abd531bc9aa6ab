#include "GifBitmap.h"

#include "GifErrors.h"
#include "GifFile.h"

#include <cstring>

namespace fenwa::gif {

namespace {

constexpr int32_t kPixelsPerMetre = 143;

void PutWord(uint8_t*& out, uint16_t value) {
    *out++ = static_cast<uint8_t>(value);
    *out++ = static_cast<uint8_t>(value >> 8);
}

void PutLong(uint8_t*& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        *out++ = static_cast<uint8_t>(value >> shift);
}

uint32_t GetLong(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                                 bytes[at + 3] << 24);
}

} // namespace

TIndexedBitmap::TIndexedBitmap(std::vector<uint8_t> stream) : stream_(std::move(stream)) {
    if (stream_.size() < static_cast<size_t>(kHeaderSize))
        throw EGifException("Bitmap stream too short");
    width_ = static_cast<int32_t>(GetLong(stream_, 18));
    height_ = static_cast<int32_t>(GetLong(stream_, 22));
    if (width_ < 0 || height_ < 0 ||
        stream_.size() != kHeaderSize + static_cast<size_t>(height_) * RowStride())
        throw EGifException("Bitmap stream does not match its header");
}

uint32_t TIndexedBitmap::PaletteColor(int32_t i) const {
    const uint8_t* entry = stream_.data() + 54 + 4 * static_cast<size_t>(i & 0xFF);
    return 0xFF000000u | static_cast<uint32_t>(entry[2]) << 16 |
           static_cast<uint32_t>(entry[1]) << 8 | entry[0];
}

std::span<const uint8_t> TIndexedBitmap::Row(int32_t y) const {
    const size_t offset =
        kHeaderSize + static_cast<size_t>(height_ - 1 - y) * static_cast<size_t>(RowStride());
    return std::span(stream_).subspan(offset, static_cast<size_t>(width_));
}

void TIndexedBitmap::FillArgb32(uint32_t* pixels, int64_t strideInPixels) const {
    std::array<uint32_t, 256> palette;
    for (int32_t i = 0; i < 256; ++i)
        palette[i] = PaletteColor(i);
    for (int32_t y = 0; y < height_; ++y) {
        const auto row = Row(y);
        uint32_t* out = pixels + y * strideInPixels;
        for (const uint8_t index : row)
            *out++ = palette[index];
    }
}

std::vector<uint32_t> TIndexedBitmap::ToArgb32() const {
    std::vector<uint32_t> pixels(static_cast<size_t>(width_) * static_cast<size_t>(height_));
    FillArgb32(pixels.data(), width_);
    return pixels;
}

TIndexedBitmap BuildIndexedBitmap(const TGifSubImage& image) {
    const TByteArray2D& pixels = *image.Pixels;
    const int32_t width = pixels.Columns();
    const int32_t height = pixels.Rows();
    const size_t stride = (static_cast<size_t>(width) + 3) & ~size_t{3};
    const size_t size = TIndexedBitmap::kHeaderSize + static_cast<size_t>(height) * stride;

    std::vector<uint8_t> stream(size); // zero: the row padding stays zero
    uint8_t* out = stream.data();
    *out++ = 'B';
    *out++ = 'M';
    PutLong(out, static_cast<uint32_t>(size));
    PutWord(out, 0);
    PutWord(out, 0);
    PutLong(out, TIndexedBitmap::kHeaderSize);
    PutLong(out, 40);
    PutLong(out, static_cast<uint32_t>(width));
    PutLong(out, static_cast<uint32_t>(height)); // positive: rows stored bottom-up
    PutWord(out, 1);
    PutWord(out, 8);
    PutLong(out, 0); // no compression
    PutLong(out, 0);
    PutLong(out, kPixelsPerMetre);
    PutLong(out, kPixelsPerMetre);
    PutLong(out, 0);
    PutLong(out, 0);

    const TColorTable& table = image.HasLocalColorTable || !image.Owner
                                   ? image.LocalColorTable
                                   : image.Owner->GlobalColorTable;
    for (const TRgb& color : table.Colors) {
        *out++ = color.Blue;
        *out++ = color.Green;
        *out++ = color.Red;
        *out++ = 0;
    }
    for (int32_t r = height; r >= 1; --r) {
        if (width > 0)
            std::memcpy(out, pixels.RowData(r), static_cast<size_t>(width));
        out += stride;
    }
    return TIndexedBitmap(std::move(stream));
}

TIndexedBitmap LoadFirstGifBitmap(std::span<const uint8_t> bytes) {
    TGifFile file;
    file.ReadGifStream(bytes);
    return BuildIndexedBitmap(file.GetImage(1));
}

} // namespace fenwa::gif
