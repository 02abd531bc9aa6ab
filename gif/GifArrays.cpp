#include "GifArrays.h"

#include "GifErrors.h"
#include "GifLimits.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace fenwa::gif {

namespace {

constexpr std::array<TRgb, 16> kStandardColors = {{
    {0, 0, 0},
    {128, 0, 0},
    {0, 128, 0},
    {128, 128, 0},
    {0, 0, 128},
    {128, 0, 128},
    {0, 128, 128},
    {128, 128, 128},
    {192, 192, 192},
    {255, 0, 0},
    {0, 255, 0},
    {255, 255, 0},
    {0, 0, 255},
    {255, 0, 255},
    {0, 255, 255},
    {255, 255, 255},
}};

} // namespace

TColorTable::TColorTable(int32_t count) {
    switch (count) {
    case 0:
    case 2:
        Colors[1] = {255, 255, 255};
        break;
    case 16:
        std::copy(kStandardColors.begin(), kStandardColors.end(), Colors.begin());
        break;
    case 256:
        for (int i = 0; i < 256; ++i) {
            const auto v = static_cast<uint8_t>(i);
            Colors[i] = {v, v, v};
        }
        break;
    default:
        break;
    }
    count_ = count;
}

void TBigByteArray::FreeBytes::operator()(uint8_t* bytes) const {
    std::free(bytes);
}

TBigByteArray::TBigByteArray(int64_t count) {
    if (count < 0 || count > kMaxImagePixels)
        throw ENotEnoughMemory(NotEnoughMemoryMessage(count));
    if (count == 0)
        return;
    // calloc hands large blocks over as fresh zero pages, so the zeroing is nearly free.
    bytes_.reset(static_cast<uint8_t*>(std::calloc(static_cast<size_t>(count), 1)));
    if (!bytes_)
        throw ENotEnoughMemory(NotEnoughMemoryMessage(count));
    count_ = static_cast<int32_t>(count);
}

void TBigByteArray::SetByte(int64_t index, uint8_t value) {
    if (index < 1 || index > count_)
        throw EIndexOutOfBounds(kIndexOutOfBoundsMessage);
    bytes_[index - 1] = value;
}

uint8_t TBigByteArray::GetByte(int64_t index) const {
    if (index < 1 || index > count_)
        throw EIndexOutOfBounds(kIndexOutOfBoundsMessage);
    return bytes_[index - 1];
}

TByteArray2D::TByteArray2D(int64_t columns, int64_t rows)
    : columns_(static_cast<int32_t>(columns)), rows_(static_cast<int32_t>(rows)),
      // Factors up to 2^31 cannot overflow the 64-bit product.
      cells_(columns < 0 || rows < 0 || columns > INT32_MAX || rows > INT32_MAX ? -1
                                                                                : columns * rows) {}

std::unique_ptr<TBigByteArray> TByteArray2D::GetRow(int64_t r) const {
    if (r < 1 || r > rows_)
        throw EIndexOutOfBounds(kIndexOutOfBoundsMessage);
    auto row = std::make_unique<TBigByteArray>(columns_);
    if (columns_ > 0)
        std::memcpy(row->Bytes(), RowData(static_cast<int32_t>(r)), static_cast<size_t>(columns_));
    return row;
}

void TByteArray2D::SetRow(int64_t r, const TBigByteArray& row) {
    if (r < 1 || r > rows_)
        throw EIndexOutOfBounds(kIndexOutOfBoundsMessage);
    if (row.Count() != columns_)
        throw std::runtime_error(kRowSizeMessage);
    if (columns_ > 0)
        std::memcpy(cells_.Bytes() + (r - 1) * static_cast<int64_t>(columns_), row.Bytes(),
                    static_cast<size_t>(columns_));
}

} // namespace fenwa::gif
