// Our decoder against giflib, bit for bit: on files that giflib's own encoder writes, on
// files of our test encoder (full 4096-entry tables followed by a clear code), and on the
// files of other encoders under tests/data/gif. The palette and the pixel indexes of every
// image must be the same.

#include "GifBitmap.h"
#include "GifFile.h"
#include "GifTestSupport.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace fenwa::gif;
using namespace fenwa::gif::test;

namespace {

struct MemoryReader {
    const Bytes* bytes;
    size_t position = 0;
};

int ReadFromMemory(GifFileType* gif, GifByteType* out, int count) {
    auto* reader = static_cast<MemoryReader*>(gif->UserData);
    const size_t n = std::min(static_cast<size_t>(count), reader->bytes->size() - reader->position);
    std::memcpy(out, reader->bytes->data() + reader->position, n);
    reader->position += n;
    return static_cast<int>(n);
}

int WriteToMemory(GifFileType* gif, const GifByteType* data, int count) {
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), data, data + count);
    return count;
}

// Decodes with giflib and compares every image with ours.
void ExpectSameAsGiflib(const Bytes& bytes, const std::string& name) {
    SCOPED_TRACE(name);
    MemoryReader reader{&bytes};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, ReadFromMemory, &error);
    ASSERT_NE(gif, nullptr) << GifErrorString(error);
    ASSERT_EQ(DGifSlurp(gif), GIF_OK) << GifErrorString(gif->Error);

    TGifFile ours;
    ours.ReadGifStream(bytes);
    ASSERT_EQ(ours.ImageCount(), gif->ImageCount);
    ASSERT_GE(ours.ImageCount(), 1);
    for (int i = 0; i < gif->ImageCount; ++i) {
        SCOPED_TRACE("image " + std::to_string(i + 1));
        const SavedImage& theirs = gif->SavedImages[i];
        TGifSubImage& image = ours.GetImage(i + 1);
        ASSERT_EQ(image.Width, theirs.ImageDesc.Width);
        ASSERT_EQ(image.Height, theirs.ImageDesc.Height);
        EXPECT_EQ(image.Interlaced, theirs.ImageDesc.Interlace);
        const ColorMapObject* map =
            theirs.ImageDesc.ColorMap ? theirs.ImageDesc.ColorMap : gif->SColorMap;
        ASSERT_NE(map, nullptr);
        const TColorTable& table =
            image.HasLocalColorTable ? image.LocalColorTable : ours.GlobalColorTable;
        ASSERT_EQ(table.Count(), map->ColorCount);
        for (int c = 0; c < map->ColorCount; ++c) {
            const GifColorType& color = map->Colors[c];
            ASSERT_EQ(table.Colors[c], (TRgb{color.Red, color.Green, color.Blue})) << c;
        }
        const size_t count = size_t{image.Width} * image.Height;
        const uint8_t* cells = image.Pixels->Cells().Bytes();
        ASSERT_EQ(0, std::memcmp(cells, theirs.RasterBits, count)) << "pixel indexes differ";
        // The bitmap carries the same indexes, bottom-up.
        if (i == 0) {
            const auto& bitmap = image.GetBitmap();
            for (int y = 0; y < image.Height; ++y)
                ASSERT_EQ(0, std::memcmp(bitmap.Row(y).data(), theirs.RasterBits + y * image.Width,
                                         image.Width));
        }
    }
    DGifCloseFile(gif, &error);
}

ColorMapObject* MakeMap(int count, uint8_t seed) {
    std::vector<GifColorType> colors;
    for (const TRgb& c : Ramp(count, seed))
        colors.push_back({c.Red, c.Green, c.Blue});
    return GifMakeMapObject(count, colors.data());
}

struct GiflibImage {
    int width;
    int height;
    int colourBits; // 1..8: the table size, and so the code size
    bool interlaced = false;
    bool local = false;
    int left = 0;
    int top = 0;
};

// Writes a file with giflib's encoder: optional global table, extensions, images.
Bytes WriteWithGiflib(const std::vector<GiflibImage>& images, bool global, bool extensions) {
    Bytes out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, WriteToMemory, &error);
    EXPECT_NE(gif, nullptr);
    EGifSetGifVersion(gif, true);
    ColorMapObject* globalMap = global ? MakeMap(1 << images[0].colourBits, 1) : nullptr;
    EXPECT_EQ(EGifPutScreenDesc(gif, 300, 300, 8, 0, globalMap), GIF_OK);
    if (extensions) {
        EXPECT_EQ(EGifPutComment(gif, "a comment before the first image"), GIF_OK);
        const uint8_t loop[] = {1, 0, 0};
        EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE);
        EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0");
        EGifPutExtensionBlock(gif, 3, loop);
        EGifPutExtensionTrailer(gif);
        const uint8_t text[] = {0, 0, 0, 0, 8, 0, 8, 0, 8, 8, 1, 0};
        EGifPutExtensionLeader(gif, PLAINTEXT_EXT_FUNC_CODE);
        EGifPutExtensionBlock(gif, 12, text);
        EGifPutExtensionBlock(gif, 5, "hello");
        EGifPutExtensionTrailer(gif);
    }
    uint32_t seed = 1;
    for (const GiflibImage& spec : images) {
        if (extensions) {
            const uint8_t gce[] = {0, static_cast<uint8_t>(seed), 0, 0};
            EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, gce);
        }
        ColorMapObject* localMap =
            spec.local || !global ? MakeMap(1 << spec.colourBits, static_cast<uint8_t>(seed * 40))
                                  : nullptr;
        EXPECT_EQ(EGifPutImageDesc(gif, spec.left, spec.top, spec.width, spec.height,
                                   spec.interlaced, localMap),
                  GIF_OK);
        Bytes pixels = Noise(size_t(spec.width) * spec.height, 1 << spec.colourBits, seed++);
        if (spec.interlaced)
            pixels = InterlaceRows(pixels, spec.width, spec.height);
        for (int y = 0; y < spec.height; ++y)
            EXPECT_EQ(EGifPutLine(gif, pixels.data() + y * spec.width, spec.width), GIF_OK);
        GifFreeMapObject(localMap);
    }
    EXPECT_EQ(EGifCloseFile(gif, &error), GIF_OK);
    GifFreeMapObject(globalMap);
    return out;
}

} // namespace

TEST(GifOracle, GiflibEncodedEveryCodeSizeAndShape) {
    const std::pair<int, int> shapes[] = {{1, 1}, {3, 1}, {1, 9}, {13, 7}, {101, 37}, {64, 64}};
    for (int bits = 1; bits <= 8; ++bits) {
        for (auto [w, h] : shapes) {
            for (bool interlaced : {false, true}) {
                for (bool global : {true, false}) {
                    GiflibImage image{w, h, bits, interlaced, !global};
                    ExpectSameAsGiflib(WriteWithGiflib({image}, global, false),
                                       "bits " + std::to_string(bits) + " " + std::to_string(w) +
                                           "x" + std::to_string(h) +
                                           (interlaced ? " interlaced" : "") +
                                           (global ? " global" : " local"));
                }
            }
        }
    }
}

TEST(GifOracle, GiflibEncodedExtensionsAndSeveralImages) {
    std::vector<GiflibImage> images = {
        {40, 30, 8}, {17, 5, 3, true, true, 4, 6}, {200, 120, 8, false, true, 1, 2}};
    ExpectSameAsGiflib(WriteWithGiflib(images, true, true), "three images with extensions");
}

TEST(GifOracle, FullTablesFollowedByClearCodes) {
    // Noise fills the 4096-entry table many times; our encoder then sends a clear code.
    for (int codeSize = 2; codeSize <= 8; ++codeSize) {
        GifSpec spec;
        spec.globalColors = Ramp(1 << codeSize);
        ImageSpec image;
        image.width = 257;
        image.height = 131;
        image.codeSize = static_cast<uint8_t>(codeSize);
        image.pixels = Noise(size_t{image.width} * image.height, 1 << codeSize, codeSize);
        spec.images.push_back(image);
        image.interlaced = true;
        image.localColors = Ramp(1 << codeSize, 9);
        spec.images.push_back(image);
        ExpectSameAsGiflib(BuildGif(spec), "code size " + std::to_string(codeSize));
    }
}

TEST(GifOracle, FilesOfOtherEncoders) {
    // The folder given by the test environment, else the one this test was built from.
    const char* data = std::getenv("FENWA_TEST_DATA");
    if (!data)
        data = FENWA_GIF_TEST_DATA;
    int files = 0;
    int interlaced = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(data) / "gif")) {
        if (entry.path().extension() != ".gif" ||
            entry.path().filename().string().rfind("bad_", 0) == 0)
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ExpectSameAsGiflib(bytes, entry.path().filename().string());
        TGifFile file;
        file.ReadGifStream(bytes);
        interlaced += file.GetImage(1).Interlaced;
        ++files;
    }
    EXPECT_GE(files, 10);
    EXPECT_GE(interlaced, 2);
}
