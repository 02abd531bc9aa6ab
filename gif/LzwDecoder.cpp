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

// The decoder's whole working storage is fixed in size: the code table, the string stack
// and the bit reader. Nothing is allocated per code; pixels go through one row buffer that
// is copied into the matrix once per row.
class TLzwDecoder {
public:
    TLzwDecoder(uint8_t codeSize, std::span<const uint8_t> data, bool interlaced,
                TByteArray2D& pixels)
        : codeSize_(codeSize), data_(data), interlaced_(interlaced), pixels_(pixels),
          width_(static_cast<uint32_t>(pixels.Columns())), height_(pixels.Rows()) {}

    void Run();

private:
    bool ReadCode(uint32_t& code);
    void ResetTable();
    void AddEntry(uint32_t prefix, uint8_t suffix);
    void Emit(uint32_t code);
    void StoreRow();

    const uint8_t codeSize_;
    const std::span<const uint8_t> data_;
    const bool interlaced_;
    TByteArray2D& pixels_;
    const uint32_t width_;
    const int32_t height_;

    // Bit reader: codes are packed least significant bit first.
    size_t position_ = 0;
    uint64_t bitBuffer_ = 0;
    uint32_t bitCount_ = 0;
    uint32_t codeWidth_ = 0;

    uint32_t clearCode_ = 0;
    uint32_t endCode_ = 0;
    uint32_t highestLiteral_ = 0;
    uint32_t nextFree_ = 0;
    uint32_t limit_ = 0;
    bool overflowPending_ = false;
    uint32_t prevCode_ = 0;

    // Each entry is its prefix code plus one suffix byte; the first byte and the length of
    // every string are kept too, so that a string is written straight to its place.
    std::array<uint16_t, kTableSize> prefix_{};
    std::array<uint8_t, kTableSize> suffix_{};
    std::array<uint8_t, kTableSize> first_{};
    std::array<uint16_t, kTableSize> length_{};
    // No string of a 4096-entry table is longer than 4096 bytes.
    std::array<uint8_t, kTableSize> stack_{};

    std::unique_ptr<TBigByteArray> rowBuffer_;
    uint32_t column_ = 0; // 0-based column of the next pixel in the row buffer
    int32_t row_ = 0;     // 0-based row the row buffer goes to
    size_t pass_ = 0;     // 0-based interlace pass
};

inline bool TLzwDecoder::ReadCode(uint32_t& code) {
    if (bitCount_ < codeWidth_) {
        if (data_.size() - position_ >= 8) {
            // Takes as many whole bytes as fit into the 64-bit buffer at once. The bits of
            // the next, partly loaded byte are the same ones the next load puts there.
            uint64_t bytes;
            std::memcpy(&bytes, data_.data() + position_, 8);
            if constexpr (std::endian::native == std::endian::big)
                bytes = __builtin_bswap64(bytes);
            bitBuffer_ |= bytes << bitCount_;
            const uint32_t taken = (63 - bitCount_) >> 3;
            position_ += taken;
            bitCount_ += taken * 8;
        } else {
            do {
                if (position_ == data_.size())
                    return false;
                bitBuffer_ |= static_cast<uint64_t>(data_[position_++]) << bitCount_;
                bitCount_ += 8;
            } while (bitCount_ < codeWidth_);
        }
    }
    code = static_cast<uint32_t>(bitBuffer_) & ((1u << codeWidth_) - 1);
    bitBuffer_ >>= codeWidth_;
    bitCount_ -= codeWidth_;
    return true;
}

void TLzwDecoder::ResetTable() {
    codeWidth_ = codeSize_ + 1u;
    nextFree_ = endCode_ + 1;
    limit_ = 1u << codeWidth_;
}

void TLzwDecoder::AddEntry(uint32_t prefix, uint8_t suffix) {
    if (nextFree_ >= kTableSize)
        return;
    prefix_[nextFree_] = static_cast<uint16_t>(prefix);
    suffix_[nextFree_] = suffix;
    first_[nextFree_] = first_[prefix];
    length_[nextFree_] = static_cast<uint16_t>(length_[prefix] + 1);
    ++nextFree_;
    // The width grows as soon as the next free code needs one more bit. A full table is not
    // continued: the next code must be a clear code.
    if (nextFree_ >= limit_) {
        if (codeWidth_ >= kMaxCodeWidth) {
            overflowPending_ = true;
        } else {
            limit_ <<= 1;
            ++codeWidth_;
        }
    }
}

inline void TLzwDecoder::Emit(uint32_t code) {
    if (width_ == 0)
        throw EIndexOutOfBounds(kIndexOutOfBoundsMessage);
    uint32_t length = length_[code];
    uint8_t* row = rowBuffer_->Bytes();
    if (column_ + length <= width_) {
        // The usual case: the string fits in the current row and is written in place,
        // from its last byte back to its first.
        uint8_t* out = row + column_ + length - 1;
        while (code > highestLiteral_) {
            *out-- = suffix_[code];
            code = prefix_[code];
        }
        *out = static_cast<uint8_t>(code);
        column_ += length;
        if (column_ == width_)
            StoreRow();
        return;
    }
    uint8_t* out = stack_.data() + length - 1;
    while (code > highestLiteral_) {
        *out-- = suffix_[code];
        code = prefix_[code];
    }
    *out = static_cast<uint8_t>(code);
    const uint8_t* in = stack_.data();
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

void TLzwDecoder::StoreRow() {
    // A row beyond the image (after the last row, or after the last interlace pass) raises
    // EIndexOutOfBounds here: the data holds more rows than the image.
    pixels_.SetRow(static_cast<int64_t>(row_) + 1, *rowBuffer_);
    column_ = 0;
    if (!interlaced_) {
        ++row_;
        return;
    }
    if (row_ + kPassStep[pass_] < height_) {
        row_ += kPassStep[pass_];
        return;
    }
    // Next pass; passes whose first row does not exist are skipped, so that 2, 3 or 4 rows
    // come in the order 0, 2, 1, 3 as far as they exist.
    for (++pass_; pass_ < kPassStart.size(); ++pass_) {
        if (kPassStart[pass_] < height_) {
            row_ = kPassStart[pass_];
            return;
        }
    }
    row_ = height_; // no further row
}

void TLzwDecoder::Run() {
    clearCode_ = 1u << codeSize_;
    endCode_ = clearCode_ + 1;
    highestLiteral_ = clearCode_ - 1;
    for (uint32_t literal = 0; literal < clearCode_; ++literal) {
        // A code size of 9 has literals above 255; like every pixel they are stored as a
        // byte, so they keep their low eight bits.
        first_[literal] = static_cast<uint8_t>(literal);
        length_[literal] = 1;
    }
    rowBuffer_ = std::make_unique<TBigByteArray>(width_);
    ResetTable();

    uint32_t code = 0;
    if (!ReadCode(code))
        return;
    // Data that does not begin with a clear code is read as though it did: the table starts
    // empty and the first code makes no entry. A first code that is the end code gives an
    // empty image without an error.
    bool afterClear = code != clearCode_;

    while (code != endCode_) {
        if (code == clearCode_ || afterClear) {
            if (code == clearCode_) {
                ResetTable();
                // Several clear codes in a row count as one.
                do {
                    if (!ReadCode(code))
                        return;
                } while (code == clearCode_);
                // An image of no pixels at all is refused.
                if (code == endCode_)
                    throw EGifException("Bad code");
            }
            afterClear = false;
            // A first code that is not yet in the table is tolerated and decoded as colour
            // index 0 rather than refused.
            if (code >= nextFree_)
                code = 0;
            prevCode_ = code;
            Emit(code);
        } else if (code < nextFree_) {
            AddEntry(prevCode_, first_[code]);
            prevCode_ = code;
            Emit(code);
        } else if (code == nextFree_) {
            // The string of the previous code followed by its own first byte.
            AddEntry(prevCode_, first_[prevCode_]);
            prevCode_ = code;
            Emit(code);
        } else {
            throw EGifException("Bad code");
        }
        if (!ReadCode(code))
            return; // data ran out before the end code: keep the rows so far
        if (overflowPending_ && code != clearCode_)
            throw EGifException("Code size overflow");
        overflowPending_ = false;
    }
}

} // namespace

void DecodeLzw(uint8_t codeSize, const TByteBuffer& data, bool interlaced, TByteArray2D& pixels) {
    if (codeSize < 2 || codeSize > 9)
        throw EGifException("Bad code Size");
    if (data.BlockCount() == 0)
        throw EListError(ListIndexMessage(0));
    // About 22 KiB of tables: on the heap rather than the stack of the caller.
    auto decoder = std::make_unique<TLzwDecoder>(codeSize, data.Bytes(), interlaced, pixels);
    decoder->Run();
}

void TGifSubImage::Decode() {
    DecodeLzw(CodeSize, Data, Interlaced, *Pixels);
}

} // namespace fenwa::gif
