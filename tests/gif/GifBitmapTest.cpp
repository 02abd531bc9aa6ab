// The conversion of a decoded image into an 8-bit bottom-up BMP stream.

#include "GifBitmap.h"
#include "GifErrors.h"
#include "GifFile.h"
#include "GifTestSupport.h"

#include <gtest/gtest.h>

using namespace fenwa::gif;
using namespace fenwa::gif::test;

namespace {

uint32_t Long(const std::vector<uint8_t>& s, size_t at) {
    return s[at] | s[at + 1] << 8 | s[at + 2] << 16 | uint32_t(s[at + 3]) << 24;
}
uint16_t Word(const std::vector<uint8_t>& s, size_t at) {
    return uint16_t(s[at] | s[at + 1] << 8);
}

std::unique_ptr<TGifFile> Read(const GifSpec& spec) {
    auto file = std::make_unique<TGifFile>();
    file->ReadGifStream(BuildGif(spec));
    return file;
}

GifSpec Image(uint16_t width, uint16_t height, Bytes pixels) {
    GifSpec spec;
    spec.globalColors = Ramp(4, 100);
    ImageSpec image;
    image.width = width;
    image.height = height;
    image.pixels = std::move(pixels);
    spec.images.push_back(image);
    return spec;
}

} // namespace

TEST(GifBitmap, HeaderPaletteAndBottomUpPaddedRows) {
    // 3 x 2: rows are 3 bytes plus one zero byte of padding.
    auto file = Read(Image(3, 2, {0, 1, 2, 3, 2, 1}));
    const auto& s = file->GetImage(1).GetBitmap().Stream();
    ASSERT_EQ(s.size(), 1078u + 2 * 4);
    EXPECT_EQ(s[0], 'B');
    EXPECT_EQ(s[1], 'M');
    EXPECT_EQ(Long(s, 2), 1078u + 8); // file size
    EXPECT_EQ(Long(s, 6), 0u);        // two reserved words
    EXPECT_EQ(Long(s, 10), 1078u);    // offset of pixel data
    EXPECT_EQ(Long(s, 14), 40u);      // header size
    EXPECT_EQ(Long(s, 18), 3u);       // width
    EXPECT_EQ(Long(s, 22), 2u);       // height, positive: bottom-up
    EXPECT_EQ(Word(s, 26), 1);        // planes
    EXPECT_EQ(Word(s, 28), 8);        // bits per pixel
    EXPECT_EQ(Long(s, 30), 0u);       // no compression
    EXPECT_EQ(Long(s, 34), 0u);       // image size
    EXPECT_EQ(Long(s, 38), 143u);     // horizontal pixels per metre
    EXPECT_EQ(Long(s, 42), 143u);     // vertical pixels per metre
    EXPECT_EQ(Long(s, 46), 0u);       // colours used
    EXPECT_EQ(Long(s, 50), 0u);       // important colours
    const TRgb c1 = file->GlobalColorTable.Colors[1];
    EXPECT_EQ(s[54 + 4], c1.Blue);
    EXPECT_EQ(s[54 + 5], c1.Green);
    EXPECT_EQ(s[54 + 6], c1.Red);
    EXPECT_EQ(s[54 + 7], 0);
    // Bottom row first.
    EXPECT_EQ(std::vector<uint8_t>(s.begin() + 1078, s.end()),
              (std::vector<uint8_t>{3, 2, 1, 0, 0, 1, 2, 0}));
}

TEST(GifBitmap, RowsOfFourNeedNoPadding) {
    auto file = Read(Image(4, 1, {1, 2, 3, 0}));
    const auto& s = file->GetImage(1).GetBitmap().Stream();
    EXPECT_EQ(s.size(), 1078u + 4);
    EXPECT_EQ(std::vector<uint8_t>(s.begin() + 1078, s.end()), (std::vector<uint8_t>{1, 2, 3, 0}));
}

TEST(GifBitmap, PaletteComesFromLocalThenGlobalTable) {
    GifSpec spec = Image(1, 1, {1});
    spec.images[0].localColors = Ramp(2, 7);
    auto local = Read(spec);
    EXPECT_EQ(local->GetImage(1).GetBitmap().PaletteColor(1),
              0xFF000000u | uint32_t(spec.images[0].localColors[1].Red) << 16 |
                  uint32_t(spec.images[0].localColors[1].Green) << 8 |
                  spec.images[0].localColors[1].Blue);
    auto global = Read(Image(1, 1, {1}));
    const TRgb g = global->GlobalColorTable.Colors[1];
    EXPECT_EQ(global->GetImage(1).GetBitmap().PaletteColor(1),
              0xFF000000u | uint32_t(g.Red) << 16 | uint32_t(g.Green) << 8 | g.Blue);
    // All 256 entries are written: beyond the global table's four colours they are zero.
    EXPECT_EQ(global->GetImage(1).GetBitmap().PaletteColor(200), 0xFF000000u);
    // Neither table: black and white, the rest zero.
    GifSpec none = Image(2, 1, {0, 1});
    none.globalColors.clear();
    auto bare = Read(none);
    const auto& bitmap = bare->GetImage(1).GetBitmap();
    EXPECT_EQ(bitmap.PaletteColor(0), 0xFF000000u);
    EXPECT_EQ(bitmap.PaletteColor(1), 0xFFFFFFFFu);
    EXPECT_EQ(bitmap.PaletteColor(2), 0xFF000000u);
    EXPECT_EQ(bitmap.ToArgb32(), (std::vector<uint32_t>{0xFF000000u, 0xFFFFFFFFu}));
}

TEST(GifBitmap, BuiltOnce) {
    auto file = Read(Image(1, 1, {1}));
    const TIndexedBitmap& first = file->GetImage(1).GetBitmap();
    EXPECT_EQ(&file->GetImage(1).GetBitmap(), &first);
}

TEST(GifBitmap, TransparentIndexShowsItsPaletteColour) {
    GifSpec spec = Image(2, 1, {2, 3});
    spec.images[0].extensions = GraphicControl(0, 0x01, 2); // index 2 transparent
    auto file = Read(spec);
    const TRgb c = file->GlobalColorTable.Colors[2];
    EXPECT_EQ(file->GetImage(1).GetBitmap().ToArgb32()[0],
              0xFF000000u | uint32_t(c.Red) << 16 | uint32_t(c.Green) << 8 | c.Blue);
}

TEST(GifBitmap, FirstImageOfAFileWithoutImagesIsAListError) {
    GifSpec spec;
    spec.globalColors = Ramp(2);
    const Bytes bytes = BuildGif(spec);
    try {
        LoadFirstGifBitmap(bytes);
        FAIL();
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (0)");
    }
}

TEST(GifBitmap, TopDownRowsMatchThePixels) {
    const Bytes pixels = Noise(5 * 3, 4, 2);
    const auto bitmap = LoadFirstGifBitmap(BuildGif(Image(5, 3, pixels)));
    EXPECT_EQ(bitmap.Width(), 5);
    EXPECT_EQ(bitmap.Height(), 3);
    for (int y = 0; y < 3; ++y) {
        const auto row = bitmap.Row(y);
        EXPECT_EQ(std::vector<uint8_t>(row.begin(), row.end()),
                  Bytes(pixels.begin() + y * 5, pixels.begin() + y * 5 + 5));
    }
}
