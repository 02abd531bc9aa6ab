// The codec's support types: colour tables, the 1-based byte arrays and their messages,
// the sub-block buffer and the image constructor's colour count.

#include "GifErrors.h"
#include "GifFile.h"
#include "GifLimits.h"

#include <gtest/gtest.h>

using namespace fenwa::gif;

template <typename E, typename F> std::string MessageOf(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return "no error";
}

TEST(GifColorTable, ConstructedContents) {
    for (int count : {0, 2}) {
        TColorTable table(count);
        EXPECT_EQ(table.Count(), count);
        EXPECT_EQ(table.Colors[0], (TRgb{0, 0, 0}));
        EXPECT_EQ(table.Colors[1], (TRgb{255, 255, 255}));
        EXPECT_EQ(table.Colors[2], (TRgb{0, 0, 0}));
    }
    TColorTable sixteen(16);
    EXPECT_EQ(sixteen.Colors[1], (TRgb{128, 0, 0}));
    EXPECT_EQ(sixteen.Colors[7], (TRgb{128, 128, 128}));
    EXPECT_EQ(sixteen.Colors[8], (TRgb{192, 192, 192}));
    EXPECT_EQ(sixteen.Colors[12], (TRgb{0, 0, 255}));
    EXPECT_EQ(sixteen.Colors[15], (TRgb{255, 255, 255}));
    EXPECT_EQ(sixteen.Colors[16], (TRgb{0, 0, 0}));
    TColorTable grey(256);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(grey.Colors[i], (TRgb{uint8_t(i), uint8_t(i), uint8_t(i)}));
    TColorTable other(8);
    EXPECT_EQ(other.Colors[1], (TRgb{0, 0, 0}));
    // Changing the count leaves the entries alone.
    grey.SetCount(4);
    EXPECT_EQ(grey.Count(), 4);
    EXPECT_EQ(grey.Colors[200], (TRgb{200, 200, 200}));
}

TEST(GifByteArrays, OneBasedIndexesAndTheirMessage) {
    TBigByteArray array(3);
    array.SetByte(1, 7);
    array.SetByte(3, 9);
    EXPECT_EQ(array.Bytes()[0], 7);
    EXPECT_EQ(array.Bytes()[2], 9);
    EXPECT_EQ(MessageOf<EIndexOutOfBounds>([&] { array.SetByte(0, 1); }),
              "Dynamic array index out of bounds");
    EXPECT_EQ(MessageOf<EIndexOutOfBounds>([&] { array.SetByte(4, 1); }),
              "Dynamic array index out of bounds");
    TBigByteArray empty(0);
    EXPECT_EQ(empty.Count(), 0);
    EXPECT_THROW(empty.SetByte(1, 0), EIndexOutOfBounds);
}

TEST(GifByteArrays, AllocationsBeyondTheBoundFailWithTheMemoryMessage) {
    EXPECT_EQ(MessageOf<ENotEnoughMemory>([] { TBigByteArray a(kMaxImagePixels + 1); }),
              "error in TBigByteArray.create: Not enough contiguous memory available\r\n "
              "requested memory block: 134217729 bytes");
    EXPECT_THROW(TByteArray2D(65535, 65535), ENotEnoughMemory);
    EXPECT_THROW(TByteArray2D(-1, 5), ENotEnoughMemory);
    EXPECT_NO_THROW(TByteArray2D(0, 0));
}

TEST(GifByteArrays, MatrixRows) {
    TByteArray2D matrix(3, 2);
    TBigByteArray row(3);
    row.SetByte(1, 1);
    row.SetByte(2, 2);
    row.SetByte(3, 3);
    matrix.SetRow(2, row);
    const auto copy = matrix.GetRow(2);
    EXPECT_EQ(copy->Count(), 3);
    EXPECT_EQ(copy->GetByte(3), 3);
    EXPECT_EQ(matrix.Cells().Bytes()[3], 1); // row 2 starts at byte 3
    EXPECT_EQ(matrix.GetRow(1)->GetByte(1), 0);
    EXPECT_EQ(MessageOf<EIndexOutOfBounds>([&] { matrix.SetRow(3, row); }),
              "Dynamic array index out of bounds");
    EXPECT_EQ(MessageOf<EIndexOutOfBounds>([&] { matrix.SetRow(0, row); }),
              "Dynamic array index out of bounds");
    EXPECT_EQ(MessageOf<std::runtime_error>([&] { matrix.SetRow(1, TBigByteArray(2)); }),
              "Row doesn't have equal number of elements as Matrix row");
}

TEST(GifByteBuffer, ReadsBlocksBackByteByByte) {
    TByteBuffer buffer;
    EXPECT_EQ(MessageOf<EListError>([&] { buffer.Reset(); }), "List index out of bounds (0)");
    const uint8_t a[] = {1, 2};
    const uint8_t b[] = {3};
    buffer.AddBlock(a);
    buffer.AddBlock(b);
    EXPECT_EQ(buffer.TotalSize(), 3);
    EXPECT_EQ(buffer.BlockCount(), 2);
    buffer.Reset();
    EXPECT_EQ(buffer.NextByte(), 1);
    EXPECT_EQ(buffer.NextByte(), 2);
    EXPECT_EQ(buffer.NextByte(), 3);
    EXPECT_EQ(buffer.BlockIndex(), 2);
    EXPECT_EQ(MessageOf<EListError>([&] { buffer.NextByte(); }), "List index out of bounds (2)");
}

TEST(GifSubImage, ColourCountGivesBitsAndCodeSize) {
    const std::pair<int, int> cases[] = {{2, 1}, {4, 2}, {8, 3}, {16, 4}, {256, 8}};
    for (auto [count, bits] : cases) {
        TGifSubImage image(count, nullptr);
        EXPECT_EQ(image.LocalTableBits, bits);
        EXPECT_EQ(image.CodeSize, bits == 1 ? 2 : bits);
        EXPECT_EQ(image.ImageFlags, 0);
        EXPECT_EQ(image.LocalColorTable.Count(), count);
    }
    EXPECT_EQ(MessageOf<EGifException>([] { TGifSubImage image(12, nullptr); }),
              "Number of colors (12) wrong; must be a power of 2");
    EXPECT_THROW(TGifSubImage(1, nullptr), EGifException);
    EXPECT_THROW(TGifSubImage(512, nullptr), EGifException);
}
