#pragma once

#include <array>
#include <cstdint>
#include <memory>

namespace fenwa::gif {

// One colour of a colour table.
struct TRgb {
    uint8_t Red = 0;
    uint8_t Green = 0;
    uint8_t Blue = 0;
    bool operator==(const TRgb&) const = default;
};

// A colour table of up to 256 colours. The entries beyond Count keep the contents the
// constructor gave them; the picture layer writes all 256 entries into its palette.
class TColorTable {
public:
    // Pre-fills the entries for the count (0 or 2: black and white; 16: the sixteen
    // standard colours; 256: a grey ramp; other counts: all zero), then sets Count.
    explicit TColorTable(int32_t count);

    int32_t Count() const { return count_; }
    // Changes the number of colours in use without touching the entries.
    void SetCount(int32_t count) { count_ = count; }

    std::array<TRgb, 256> Colors{};

private:
    int32_t count_ = 0;
};

// A contiguous byte array with 1-based indexes.
class TBigByteArray {
public:
    // Raises ENotEnoughMemory for a count above kMaxImagePixels, a negative count or a
    // failed allocation. The bytes start as zero so that rows the decoder never reached
    // show colour index 0 rather than whatever the memory held.
    explicit TBigByteArray(int64_t count);

    int32_t Count() const { return count_; }
    uint8_t* Bytes() { return bytes_.get(); }
    const uint8_t* Bytes() const { return bytes_.get(); }

    // Index below 1 or above Count raises EIndexOutOfBounds.
    void SetByte(int64_t index, uint8_t value);
    uint8_t GetByte(int64_t index) const;

private:
    struct FreeBytes {
        void operator()(uint8_t* bytes) const;
    };
    std::unique_ptr<uint8_t[], FreeBytes> bytes_;
    int32_t count_ = 0;
};

// A matrix of bytes stored row by row in one block; rows and columns are 1-based.
class TByteArray2D {
public:
    TByteArray2D(int64_t columns, int64_t rows);

    int32_t Columns() const { return columns_; }
    int32_t Rows() const { return rows_; }
    const TBigByteArray& Cells() const { return cells_; }

    // A copy of row r, owned by the caller. Raises EIndexOutOfBounds for r outside 1..Rows.
    std::unique_ptr<TBigByteArray> GetRow(int64_t r) const;
    // Raises EIndexOutOfBounds for r outside 1..Rows and std::runtime_error when the
    // array's Count differs from Columns.
    void SetRow(int64_t r, const TBigByteArray& row);
    // Direct view of row r (1..Rows, unchecked), Columns bytes.
    const uint8_t* RowData(int32_t r) const {
        return cells_.Bytes() + static_cast<int64_t>(r - 1) * columns_;
    }

private:
    int32_t columns_;
    int32_t rows_;
    TBigByteArray cells_;
};

} // namespace fenwa::gif
