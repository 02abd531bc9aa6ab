#include "LzwDecoder.h"

#include "GifErrors.h"
#include "GifFile.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

namespace fenwa::gif {

namespace {

constexpr uint32_t kTableSize = 4096; // codes 0..4095
constexpr uint32_t kMaxCodeWidth = 12;

// Interlaced rows come in four passes: every 8th row from 0, every 8th from 4, every 4th
// from 2, every 2nd from 1.
constexpr std::array<int32_t, 4> kPassStart = {0, 4, 2, 1};
constexpr std::array<int32_t, 4> kPassStep = {8, 8, 4, 2};

// Reads codes packed least significant bit first from the image data, taken as one run of
// bytes (the sub-block boundaries do not matter to the codes).
class TBitReader {
public:
    explicit TBitReader(std::span<const uint8_t> data) : data_(data.data()), size_(data.size()) {}

    // False when the data ends before a whole code.
    bool Read(uint32_t width, uint32_t& code) {
        if (count_ < width) {
            if (size_ - position_ >= 8) {
                // As many whole bytes as fit into the 64-bit buffer at once. The bits of the
                // next, partly loaded byte are the same ones its own load puts there later.
                uint64_t bytes;
                std::memcpy(&bytes, data_ + position_, 8);
                if constexpr (std::endian::native == std::endian::big)
                    bytes = __builtin_bswap64(bytes);
                buffer_ |= bytes << count_;
                const uint32_t taken = (63 - count_) >> 3;
                position_ += taken;
                count_ += taken * 8;
            } else {
                do {
                    if (position_ == size_)
                        return false;
                    buffer_ |= static_cast<uint64_t>(data_[position_++]) << count_;
                    count_ += 8;
                } while (count_ < width);
            }
        }
        code = static_cast<uint32_t>(buffer_) & ((1u << width) - 1);
        buffer_ >>= width;
        count_ -= width;
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
    uint64_t buffer_ = 0;
    uint32_t count_ = 0;
};

// Collects pixels in a row buffer and stores each completed row into the matrix, at the
// next row of the image or of the interlace passes.
class TRowWriter {
public:
    TRowWriter(TByteArray2D& pixels, bool interlaced)
        : pixels_(pixels), interlaced_(interlaced), buffer_(pixels.Columns()),
          width_(static_cast<uint32_t>(pixels.Columns())), height_(pixels.Rows()) {}

    // Writes a string of length bytes that the caller puts in place from its last byte back:
    // into the row directly when it fits, else through the stack and across rows.
    template <typename WriteBackwards>
    void Put(uint32_t length, uint8_t* stack, WriteBackwards&& write) {
        if (width_ == 0)
            throw EIndexOutOfBounds(kIndexOutOfBoundsMessage);
        uint8_t* row = buffer_.Bytes();
        if (column_ + length <= width_) {
            write(row + column_ + length - 1);
            column_ += length;
            if (column_ == width_)
                StoreRow();
            return;
        }
        write(stack + length - 1);
        const uint8_t* in = stack;
        while (length > 0) {
            const uint32_t n = std::min(length, width_ - column_);
            std::memcpy(row + column_, in, n);
            column_ += n;
            in += n;
            length -= n;
            if (column_ == width_)
                StoreRow();
        }
    }

private:
    void StoreRow() {
        // A row beyond the image (after the last row, or after the last interlace pass)
        // raises EIndexOutOfBounds here: the data holds more rows than the image.
        pixels_.SetRow(static_cast<int64_t>(row_) + 1, buffer_);
        column_ = 0;
        if (!interlaced_) {
            ++row_;
            return;
        }
        if (row_ + kPassStep[pass_] < height_) {
            row_ += kPassStep[pass_];
            return;
        }
        // Next pass; passes whose first row does not exist are skipped, so that 2, 3 or 4
        // rows come in the order 0, 2, 1, 3 as far as they exist.
        for (++pass_; pass_ < kPassStart.size(); ++pass_) {
            if (kPassStart[pass_] < height_) {
                row_ = kPassStart[pass_];
                return;
            }
        }
        row_ = height_; // no further row
    }

    TByteArray2D& pixels_;
    const bool interlaced_;
    TBigByteArray buffer_;
    const uint32_t width_;
    const int32_t height_;
    uint32_t column_ = 0; // 0-based column of the next pixel in the row buffer
    int32_t row_ = 0;     // 0-based row the buffer goes to
    size_t pass_ = 0;     // 0-based interlace pass
};

// The code table and the string stack: the decoder's whole working storage, fixed in size.
// Nothing is allocated per code; pixels go through one row buffer that is copied into the
// matrix once per row.
struct TCodeTable {
    // Each entry is its prefix code plus one suffix byte; the first byte and the length of
    // every string are kept too, so that a string is written straight to its place.
    std::array<uint16_t, kTableSize> prefix{};
    std::array<uint8_t, kTableSize> suffix{};
    std::array<uint8_t, kTableSize> first{};
    std::array<uint16_t, kTableSize> length{};
    // No string of a 4096-entry table is longer than 4096 bytes.
    std::array<uint8_t, kTableSize> stack{};
};

void Decode(uint8_t codeSize, std::span<const uint8_t> data, bool interlaced, TByteArray2D& pixels,
            TCodeTable& table) {
    const uint32_t clearCode = 1u << codeSize;
    const uint32_t endCode = clearCode + 1;
    const uint32_t highestLiteral = clearCode - 1;
    for (uint32_t literal = 0; literal < clearCode; ++literal) {
        // A code size of 9 has literals above 255; like every pixel they are stored as a
        // byte, so they keep their low eight bits.
        table.first[literal] = static_cast<uint8_t>(literal);
        table.length[literal] = 1;
    }

    TBitReader reader(data);
    TRowWriter writer(pixels, interlaced);
    uint32_t codeWidth = 0;
    uint32_t nextFree = 0;
    uint32_t limit = 0;
    bool overflowPending = false;
    uint32_t prevCode = 0;

    const auto resetTable = [&] {
        codeWidth = codeSize + 1u;
        nextFree = endCode + 1;
        limit = 1u << codeWidth;
    };
    const auto addEntry = [&](uint32_t prefix, uint8_t suffix) {
        if (nextFree >= kTableSize)
            return;
        table.prefix[nextFree] = static_cast<uint16_t>(prefix);
        table.suffix[nextFree] = suffix;
        table.first[nextFree] = table.first[prefix];
        table.length[nextFree] = static_cast<uint16_t>(table.length[prefix] + 1);
        ++nextFree;
        // The width grows as soon as the next free code needs one more bit. A full table is
        // not continued: the next code must be a clear code.
        if (nextFree >= limit) {
            if (codeWidth >= kMaxCodeWidth) {
                overflowPending = true;
            } else {
                limit <<= 1;
                ++codeWidth;
            }
        }
    };
    const auto emit = [&](uint32_t code) {
        writer.Put(table.length[code], table.stack.data(), [&](uint8_t* last) {
            while (code > highestLiteral) {
                *last-- = table.suffix[code];
                code = table.prefix[code];
            }
            *last = static_cast<uint8_t>(code);
        });
    };

    resetTable();
    uint32_t code = 0;
    if (!reader.Read(codeWidth, code))
        return;
    // Data that does not begin with a clear code is read as though it did: the table starts
    // empty and the first code makes no entry. A first code that is the end code gives an
    // empty image without an error.
    bool afterClear = code != clearCode;

    while (code != endCode) {
        if (code == clearCode || afterClear) {
            if (code == clearCode) {
                resetTable();
                // Several clear codes in a row count as one.
                do {
                    if (!reader.Read(codeWidth, code))
                        return;
                } while (code == clearCode);
                // An image of no pixels at all is refused.
                if (code == endCode)
                    throw EGifException("Bad code");
            }
            afterClear = false;
            // A first code that is not yet in the table is tolerated and decoded as colour
            // index 0 rather than refused.
            if (code >= nextFree)
                code = 0;
            prevCode = code;
            emit(code);
        } else if (code < nextFree) {
            addEntry(prevCode, table.first[code]);
            prevCode = code;
            emit(code);
        } else if (code == nextFree) {
            // The string of the previous code followed by its own first byte.
            addEntry(prevCode, table.first[prevCode]);
            prevCode = code;
            emit(code);
        } else {
            throw EGifException("Bad code");
        }
        if (!reader.Read(codeWidth, code))
            return; // the data ran out before the end code: keep the rows so far
        if (overflowPending && code != clearCode)
            throw EGifException("Code size overflow");
        overflowPending = false;
    }
}

} // namespace

void DecodeLzw(uint8_t codeSize, const TByteBuffer& data, bool interlaced, TByteArray2D& pixels) {
    if (codeSize < 2 || codeSize > 9)
        throw EGifException("Bad code Size");
    if (data.BlockCount() == 0)
        throw EListError(ListIndexMessage(0));
    // About 20 KiB of tables: on the heap rather than the caller's stack.
    auto table = std::make_unique<TCodeTable>();
    Decode(codeSize, data.Bytes(), interlaced, pixels, *table);
}

void TGifSubImage::Decode() {
    DecodeLzw(CodeSize, Data, Interlaced, *Pixels);
}

} // namespace fenwa::gif
