// The LZW decoder on hand-made code streams: code widths, clear codes, the table limit,
// interlacing, and what it does with malformed data.

#include "LzwDecoder.h"
#include "GifErrors.h"
#include "GifFile.h"
#include "GifTestSupport.h"

#include <gtest/gtest.h>

using namespace fenwa::gif;
using namespace fenwa::gif::test;

namespace {

// Gives each code the width the decoder reads it with, following its table: a clear code
// resets, the first code after it makes no entry, every later code makes one.
std::vector<Code> AutoWidths(int codeSize, const std::vector<uint32_t>& codes) {
    const uint32_t clear = 1u << codeSize;
    uint32_t width = codeSize + 1;
    uint32_t nextFree = clear + 2;
    bool afterClear = true;
    std::vector<Code> out;
    for (uint32_t code : codes) {
        out.push_back({code, width});
        if (code == clear) {
            width = codeSize + 1;
            nextFree = clear + 2;
            afterClear = true;
        } else if (afterClear) {
            afterClear = false;
        } else if (nextFree < 4096 && ++nextFree == (1u << width) && width < 12) {
            ++width;
        }
    }
    return out;
}

struct Decoded {
    TByteArray2D pixels;
    std::string error; // empty when decoding succeeded

    std::vector<uint8_t> Row(int r) const {
        const uint8_t* row = pixels.RowData(r);
        return {row, row + pixels.Columns()};
    }
    std::vector<uint8_t> All() const {
        const uint8_t* cells = pixels.Cells().Bytes();
        return {cells, cells + pixels.Cells().Count()};
    }
};

Decoded Decode(int codeSize, const Bytes& data, int width, int height, bool interlaced = false,
               size_t blockSize = 255) {
    Decoded result{TByteArray2D(width, height), {}};
    TByteBuffer buffer;
    for (size_t i = 0; i < data.size(); i += blockSize)
        buffer.AddBlock(std::span(data).subspan(i, std::min(blockSize, data.size() - i)));
    try {
        DecodeLzw(static_cast<uint8_t>(codeSize), buffer, interlaced, result.pixels);
    } catch (const std::exception& e) {
        result.error = e.what();
    }
    return result;
}

Decoded DecodeCodes(int codeSize, const std::vector<uint32_t>& codes, int width, int height,
                    bool interlaced = false) {
    return Decode(codeSize, PackCodes(AutoWidths(codeSize, codes)), width, height, interlaced);
}

} // namespace

TEST(LzwDecoder, OnePixelWithCodeSizeTwo) {
    // Clear 4, literal 3, end 5, three bits each.
    const auto d = Decode(2, PackCodes({{4, 3}, {3, 3}, {5, 3}}), 1, 1);
    EXPECT_EQ(d.error, "");
    EXPECT_EQ(d.Row(1), std::vector<uint8_t>{3});
}

TEST(LzwDecoder, CodeSizeMustBeTwoToNine) {
    EXPECT_EQ(Decode(1, PackCodes({{2, 2}, {1, 2}, {3, 2}}), 1, 1).error, "Bad code Size");
    EXPECT_EQ(Decode(10, PackCodes({{1024, 11}, {1, 11}, {1025, 11}}), 1, 1).error,
              "Bad code Size");
    // 9 is accepted; its literals above 255 keep their low eight bits as the pixel.
    const auto d = Decode(9, PackCodes({{512, 10}, {300, 10}, {7, 10}, {513, 10}}), 2, 1);
    EXPECT_EQ(d.error, "");
    EXPECT_EQ(d.Row(1), (std::vector<uint8_t>{300 & 0xFF, 7}));
}

TEST(LzwDecoder, SeveralClearCodesCountAsOne) {
    // After clear clear: 1, 2 (entry 6 = "1 2"), 6 (entry 7; the width grows to 4 bits).
    const auto d = Decode(2, PackCodes({{4, 3}, {4, 3}, {1, 3}, {2, 3}, {6, 3}, {5, 4}}), 4, 1);
    EXPECT_EQ(d.error, "");
    EXPECT_EQ(d.Row(1), (std::vector<uint8_t>{1, 2, 1, 2}));
}

TEST(LzwDecoder, ClearFollowedByEndIsBadCode) {
    EXPECT_EQ(Decode(2, PackCodes({{4, 3}, {5, 3}}), 1, 1).error, "Bad code");
    EXPECT_EQ(Decode(2, PackCodes({{4, 3}, {4, 3}, {5, 3}}), 1, 1).error, "Bad code");
}

TEST(LzwDecoder, CodeEqualToNextFreeRepeatsPreviousStringPlusItsFirstByte) {
    // clear, 1, then 6 before it exists: "1" + "1". 6 again is "1 1" (making entry 7), and
    // 8, the next free code once more, is "1 1" + "1".
    const auto d = DecodeCodes(2, {4, 1, 6, 6, 8, 5}, 8, 1);
    EXPECT_EQ(d.error, "");
    EXPECT_EQ(d.Row(1), std::vector<uint8_t>(8, 1));
    // The same with different bytes shows the first byte is taken, not the last:
    // 1 | 2 | 6 = "1 2" | 8 = "1 2" + "1".
    const auto e = DecodeCodes(2, {4, 1, 2, 6, 8, 5}, 7, 1);
    EXPECT_EQ(e.error, "");
    EXPECT_EQ(e.Row(1), (std::vector<uint8_t>{1, 2, 1, 2, 1, 2, 1}));
}

TEST(LzwDecoder, WidthGrowsRightAfterEntryTwoToTheWidthMinusOne) {
    // Entries 6 and 7 are made by codes 1 and 2; 7 = 2^3 - 1, so code 3 is read with 4 bits.
    const auto d = Decode(2, PackCodes({{4, 3}, {0, 3}, {1, 3}, {2, 3}, {3, 4}, {5, 4}}), 4, 1);
    EXPECT_EQ(d.error, "");
    EXPECT_EQ(d.Row(1), (std::vector<uint8_t>{0, 1, 2, 3}));
    // Reading code 3 with three bits would have taken a different value.
    const auto wrong = Decode(2, PackCodes({{4, 3}, {0, 3}, {1, 3}, {2, 3}, {3, 3}, {5, 3}}), 4, 1);
    EXPECT_NE(wrong.error.empty() ? wrong.Row(1) : std::vector<uint8_t>{},
              (std::vector<uint8_t>{0, 1, 2, 3}));
}

namespace {

// clear, then 4091 zeros: every zero after the first makes an entry, so the table holds all
// 4096 entries after them; then the given tail.
std::vector<uint32_t> FillTable(std::vector<uint32_t> tail) {
    std::vector<uint32_t> codes = {4};
    codes.insert(codes.end(), 4091, 0);
    codes.insert(codes.end(), tail.begin(), tail.end());
    return codes;
}

} // namespace

TEST(LzwDecoder, FullTableThenClearContinues) {
    std::vector<Code> codes = AutoWidths(2, FillTable({}));
    EXPECT_EQ(codes.back().width, 12u);
    codes.push_back({4, 12}); // the clear code, still 12 bits wide
    codes.push_back({1, 3});
    codes.push_back({2, 3});
    codes.push_back({5, 3});
    const auto d = Decode(2, PackCodes(codes), 4093, 1);
    EXPECT_EQ(d.error, "");
    std::vector<uint8_t> expected(4091, 0);
    expected.push_back(1);
    expected.push_back(2);
    EXPECT_EQ(d.Row(1), expected);
}

TEST(LzwDecoder, FullTableThenAnythingButClearOverflows) {
    for (uint32_t next : {5u, 0u, 6u}) {
        std::vector<Code> codes = AutoWidths(2, FillTable({}));
        codes.push_back({next, 12});
        codes.push_back({5, 12});
        EXPECT_EQ(Decode(2, PackCodes(codes), 5000, 1).error, "Code size overflow") << next;
    }
}

TEST(LzwDecoder, DataCutShortKeepsCompletedRowsOnly) {
    // Row 1 = 1 2 3 1, then 2 3 of row 2, then the data ends without an end code.
    auto data = PackCodes(AutoWidths(2, {4, 1, 2, 3, 1, 2, 3}));
    const auto d = Decode(2, data, 4, 3);
    EXPECT_EQ(d.error, "");
    EXPECT_EQ(d.Row(1), (std::vector<uint8_t>{1, 2, 3, 1}));
    EXPECT_EQ(d.Row(2), (std::vector<uint8_t>{0, 0, 0, 0})); // the partial row is not stored
    // Every shorter cut ends quietly too.
    for (size_t cut = 1; cut < data.size(); ++cut)
        EXPECT_EQ(
            Decode(2, Bytes(data.begin(), data.begin() + static_cast<ptrdiff_t>(cut)), 4, 3).error,
            "");
}

TEST(LzwDecoder, SubBlockBoundariesDoNotMatter) {
    const Bytes pixels = Noise(30 * 20, 16, 5);
    const Bytes data = EncodeLzw(pixels, 4);
    for (size_t blockSize : {1u, 2u, 7u, 255u}) {
        const auto d = Decode(4, data, 30, 20, false, blockSize);
        EXPECT_EQ(d.error, "");
        EXPECT_EQ(d.All(), pixels) << blockSize;
    }
}

TEST(LzwDecoder, InterlacedRowOrder) {
    const auto order = [](int height) {
        // Row k of the data holds the value 10 + k; find where each one went.
        std::vector<uint32_t> codes = {32};
        for (int k = 0; k < height; ++k)
            codes.push_back(static_cast<uint32_t>(10 + k));
        codes.push_back(33);
        const auto d = DecodeCodes(5, codes, 1, height, true);
        EXPECT_EQ(d.error, "");
        std::vector<int> rows(static_cast<size_t>(height));
        for (int r = 1; r <= height; ++r)
            rows[static_cast<size_t>(d.Row(r)[0] - 10)] = r - 1;
        return rows;
    };
    EXPECT_EQ(order(8), (std::vector<int>{0, 4, 2, 6, 1, 3, 5, 7}));
    EXPECT_EQ(order(3), (std::vector<int>{0, 2, 1}));
    EXPECT_EQ(order(4), (std::vector<int>{0, 2, 1, 3}));
    EXPECT_EQ(order(2), (std::vector<int>{0, 1}));
    EXPECT_EQ(order(1), (std::vector<int>{0}));
    EXPECT_EQ(order(10), (std::vector<int>{0, 8, 4, 2, 6, 1, 3, 5, 7, 9}));
}

TEST(LzwDecoder, OneRowMoreThanTheImageFails) {
    auto d = DecodeCodes(2, {4, 1, 2, 3, 5}, 1, 2);
    EXPECT_EQ(d.error, "Dynamic array index out of bounds");
    EXPECT_EQ(d.All(), (std::vector<uint8_t>{1, 2})); // the rows before the error stay
    // Interlaced: after the last pass there is no further row.
    d = DecodeCodes(2, {4, 1, 2, 3, 1, 5}, 1, 3, true);
    EXPECT_EQ(d.error, "Dynamic array index out of bounds");
    EXPECT_EQ(d.All(), (std::vector<uint8_t>{1, 3, 2}));
    // A partial extra row at the end is not an error.
    EXPECT_EQ(DecodeCodes(2, {4, 1, 2, 3, 5}, 2, 1).error, "");
}

TEST(LzwDecoder, ImageWithoutWidthOrHeightFailsOnTheFirstPixel) {
    EXPECT_EQ(DecodeCodes(2, {4, 1, 5}, 0, 1).error, "Dynamic array index out of bounds");
    EXPECT_EQ(DecodeCodes(2, {4, 1, 5}, 1, 0).error, "Dynamic array index out of bounds");
}

TEST(LzwDecoder, UnknownFirstCodeAfterClearIsColourZero) {
    // After a clear the table has no entries: codes 6 and 7 are decoded as index 0.
    auto d = Decode(2, PackCodes({{4, 3}, {7, 3}, {3, 3}, {5, 3}}), 2, 1);
    EXPECT_EQ(d.error, "");
    EXPECT_EQ(d.Row(1), (std::vector<uint8_t>{0, 3}));
}

TEST(LzwDecoder, CodeAboveNextFreeIsBadCode) {
    EXPECT_EQ(DecodeCodes(2, {4, 1, 7, 5}, 4, 1).error, "Bad code");
}

TEST(LzwDecoder, DataWithoutLeadingClearReadsAsIfItHadOne) {
    const auto with = DecodeCodes(2, {4, 1, 2, 6, 7, 5}, 6, 1);
    const auto without = Decode(2, PackCodes(AutoWidths(2, {1, 2, 6, 7, 5})), 6, 1);
    EXPECT_EQ(with.error, "");
    EXPECT_EQ(without.error, "");
    EXPECT_EQ(with.Row(1), (std::vector<uint8_t>{1, 2, 1, 2, 2, 1}));
    EXPECT_EQ(without.Row(1), with.Row(1));
    // An end code before anything else is an empty image, not an error.
    auto empty = Decode(2, PackCodes({{5, 3}}), 1, 1);
    EXPECT_EQ(empty.error, "");
    EXPECT_EQ(empty.Row(1), std::vector<uint8_t>{0});
}

TEST(LzwDecoder, NoDataBlockIsAListError) {
    TByteArray2D pixels(1, 1);
    TByteBuffer empty;
    try {
        DecodeLzw(2, empty, false, pixels);
        FAIL();
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (0)");
    }
}

TEST(LzwDecoder, RoundTripsEveryCodeSize) {
    for (int codeSize = 2; codeSize <= 8; ++codeSize) {
        const int colours = 1 << codeSize;
        for (auto [w, h] : {std::pair{1, 1}, {3, 5}, {17, 9}, {61, 67}}) {
            const Bytes pixels = Noise(static_cast<size_t>(w * h), colours, w + codeSize);
            const auto d = Decode(codeSize, EncodeLzw(pixels, codeSize), w, h);
            EXPECT_EQ(d.error, "") << codeSize << " " << w;
            EXPECT_EQ(d.All(), pixels) << codeSize << " " << w;
        }
    }
}
