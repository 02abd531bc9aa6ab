#include "DibBitmap.h"

#include <cstdio>

#include <QtEndian>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace {

// Released pixel blocks kept for the next bitmap of the same size. Two blocks cover
// the usual pattern (the picture being replaced and its successor); the byte cap keeps
// a couple of huge pictures from pinning memory for ever.
class PixelPool {
public:
    std::unique_ptr<uint8_t[]> take(std::size_t bytes) {
        std::lock_guard lock(mutex_);
        for (auto it = blocks_.begin(); it != blocks_.end(); ++it) {
            if (it->bytes == bytes) {
                auto block = std::move(it->memory);
                heldBytes_ -= it->bytes;
                blocks_.erase(it);
                return block;
            }
        }
        return nullptr;
    }

    void give(std::unique_ptr<uint8_t[]> memory, std::size_t bytes) {
        if (!memory || bytes == 0 || bytes > kMaxHeldBytes)
            return;
        std::lock_guard lock(mutex_);
        while (!blocks_.empty() &&
               (blocks_.size() >= kMaxBlocks || heldBytes_ + bytes > kMaxHeldBytes)) {
            heldBytes_ -= blocks_.front().bytes;
            blocks_.erase(blocks_.begin());
        }
        blocks_.push_back({std::move(memory), bytes});
        heldBytes_ += bytes;
    }

private:
    static constexpr std::size_t kMaxBlocks = 2;
    static constexpr std::size_t kMaxHeldBytes = std::size_t(256) << 20;
    struct Block {
        std::unique_ptr<uint8_t[]> memory;
        std::size_t bytes;
    };
    std::mutex mutex_;
    std::vector<Block> blocks_;
    std::size_t heldBytes_ = 0;
};

PixelPool& pool() {
    static PixelPool instance;
    return instance;
}

void putLE16(QByteArray& out, int offset, uint16_t value) {
    qToLittleEndian<uint16_t>(value, out.data() + offset);
}
void putLE32(QByteArray& out, int offset, uint32_t value) {
    qToLittleEndian<uint32_t>(value, out.data() + offset);
}

} // namespace

TDibBitmap::~TDibBitmap() {
    clear();
}

TDibBitmap::TDibBitmap(const TDibBitmap& other) {
    *this = other;
}

TDibBitmap& TDibBitmap::operator=(const TDibBitmap& other) {
    if (this == &other)
        return *this;
    palette_ = other.palette_;
    if (other.empty()) {
        clear();
        bitsPerPixel_ = other.bitsPerPixel_;
        return *this;
    }
    allocate(other.width_, other.height_, other.bitsPerPixel_);
    std::memcpy(pixels_.get(), other.pixels_.get(), stride_ * std::size_t(height_));
    return *this;
}

TDibBitmap::TDibBitmap(TDibBitmap&& other) noexcept {
    *this = std::move(other);
}

TDibBitmap& TDibBitmap::operator=(TDibBitmap&& other) noexcept {
    if (this == &other)
        return *this;
    clear();
    width_ = std::exchange(other.width_, 0);
    height_ = std::exchange(other.height_, 0);
    bitsPerPixel_ = other.bitsPerPixel_;
    stride_ = std::exchange(other.stride_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    pixels_ = std::move(other.pixels_);
    palette_ = std::move(other.palette_);
    return *this;
}

std::size_t TDibBitmap::strideFor(int width, int bitsPerPixel) {
    if (width <= 0 || (bitsPerPixel != 8 && bitsPerPixel != 24))
        return 0;
    const std::size_t rowBytes = std::size_t(width) * std::size_t(bitsPerPixel / 8);
    return (rowBytes + 3) & ~std::size_t(3);
}

bool TDibBitmap::fitsBound(int width, int height, int bitsPerPixel) {
    const std::size_t stride = strideFor(width, bitsPerPixel);
    if (stride == 0 || height <= 0)
        return false;
    return std::size_t(height) <= kMaxPixelBytes / stride;
}

void TDibBitmap::allocate(int width, int height, int bitsPerPixel) {
    if (!fitsBound(width, height, bitsPerPixel))
        throw std::length_error("bitmap too large");
    const std::size_t stride = strideFor(width, bitsPerPixel);
    const std::size_t bytes = stride * std::size_t(height);
    if (bytes != capacity_) {
        pool().give(std::move(pixels_), capacity_);
        capacity_ = 0;
        pixels_ = pool().take(bytes);
        if (!pixels_)
            pixels_.reset(new uint8_t[bytes]);
        capacity_ = bytes;
    }
    width_ = width;
    height_ = height;
    bitsPerPixel_ = bitsPerPixel;
    stride_ = stride;
}

void TDibBitmap::clear() {
    pool().give(std::move(pixels_), capacity_);
    pixels_.reset();
    capacity_ = 0;
    width_ = height_ = 0;
    stride_ = 0;
}

QImage TDibBitmap::toQImage() const {
    if (empty())
        return {};
    if (bitsPerPixel_ == 24)
        return QImage(pixels_.get(), width_, height_, qsizetype(stride_), QImage::Format_BGR888);
    QImage image(pixels_.get(), width_, height_, qsizetype(stride_), QImage::Format_Indexed8);
    QList<QRgb> colours;
    colours.reserve(256);
    for (const TPaletteEntry& entry : palette_)
        colours.append(qRgb(entry.red, entry.green, entry.blue));
    // Indexes past the palette would read outside the colour table when drawn.
    while (colours.size() < 256)
        colours.append(qRgb(0, 0, 0));
    image.setColorTable(colours);
    return image;
}

QByteArray TDibBitmap::bmpHeader() const {
    const int paletteCount = bitsPerPixel_ == 8 ? int(palette_.size()) : 0;
    const uint32_t headerBytes = 14 + 40 + uint32_t(paletteCount) * 4;
    const std::size_t pixelBytes = stride_ * std::size_t(height_);
    QByteArray out(qsizetype(headerBytes), '\0');
    out[0] = 'B';
    out[1] = 'M';
    putLE32(out, 2, uint32_t(headerBytes + pixelBytes));
    putLE32(out, 10, headerBytes);
    putLE32(out, 14, 40);
    putLE32(out, 18, uint32_t(width_));
    putLE32(out, 22, uint32_t(height_)); // positive: rows stored bottom-up
    putLE16(out, 26, 1);
    putLE16(out, 28, uint16_t(bitsPerPixel_));
    putLE32(out, 34, uint32_t(pixelBytes));
    putLE32(out, 38, 2835); // 72 dpi
    putLE32(out, 42, 2835);
    putLE32(out, 46, uint32_t(paletteCount));
    char* entry = out.data() + 54;
    for (int i = 0; i < paletteCount; ++i, entry += 4) {
        entry[0] = char(palette_[i].blue);
        entry[1] = char(palette_[i].green);
        entry[2] = char(palette_[i].red);
    }
    return out;
}

QByteArray TDibBitmap::toBmpFile() const {
    if (empty())
        return {};
    QByteArray out = bmpHeader();
    const qsizetype headerBytes = out.size();
    out.resize(headerBytes + qsizetype(stride_ * std::size_t(height_)));
    char* rows = out.data() + headerBytes;
    for (int row = 0; row < height_; ++row)
        std::memcpy(rows + std::size_t(height_ - 1 - row) * stride_, scanLine(row), stride_);
    return out;
}

bool TDibBitmap::writeBmpFile(std::FILE* file) const {
    if (empty() || !file)
        return false;
    // Straight from the rows, bottom row first: no second copy of a large picture.
    const QByteArray header = bmpHeader();
    if (std::fwrite(header.constData(), 1, std::size_t(header.size()), file) !=
        std::size_t(header.size()))
        return false;
    for (int row = height_; row-- > 0;)
        if (std::fwrite(scanLine(row), 1, stride_, file) != stride_)
            return false;
    return true;
}
