// The GIF file model and reader: versions, tables, extensions, the quiet endings, damaged
// and hostile files.

#include "GifErrors.h"
#include "GifFile.h"
#include "GifLimits.h"
#include "GifTestSupport.h"

#include <gtest/gtest.h>

#include "fifoswap.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace fenwa::gif;
using namespace fenwa::gif::test;

namespace {

// The smallest complete file: one blue pixel.
const Bytes kOnePixel87a = {
    'G',  'I',  'F',  '8',  '7', 'a', //
    0x01, 0x00, 0x01, 0x00,           // screen 1 x 1
    0x80,                             // global table of 2 colours
    0x00, 0x00,                       // background index, aspect ratio
    0xFF, 0x00, 0x00,                 // colour 0: red
    0x00, 0x00, 0xFF,                 // colour 1: blue
    0x2C,                             // image separator
    0x00, 0x00, 0x00, 0x00,           // left 0, top 0
    0x01, 0x00, 0x01, 0x00,           // 1 x 1
    0x00,                             // no local table, not interlaced
    0x02,                             // code size 2: clear 4, end 5
    0x02, 0x4C, 0x01,                 // one sub-block: clear 4, literal 1, end 5 (3 bits each)
    0x00,                             // block terminator
    0x3B,                             // trailer
};

std::unique_ptr<TGifFile> Read(const Bytes& bytes) {
    auto file = std::make_unique<TGifFile>();
    file->ReadGifStream(bytes);
    return file;
}

template <typename E> std::string MessageOf(const Bytes& bytes) {
    try {
        Read(bytes);
    } catch (const E& e) {
        return e.what();
    }
    return "no error";
}

std::vector<std::string> Texts(const TByteBuffer& blocks) {
    std::vector<std::string> texts;
    for (int32_t i = 1; i <= blocks.BlockCount(); ++i)
        texts.emplace_back(blocks.Block(i).begin(), blocks.Block(i).end());
    return texts;
}

GifSpec OneImage(ImageSpec image = {}) {
    GifSpec spec;
    spec.globalColors = Ramp(4);
    if (image.pixels.empty() && image.lzw.empty())
        image.pixels.assign(size_t{image.width} * image.height, 1);
    spec.images.push_back(image);
    return spec;
}

} // namespace

TEST(GifReader, SmallestFileDecodesOnePixel) {
    auto file = Read(kOnePixel87a);
    ASSERT_EQ(file->ImageCount(), 1);
    EXPECT_EQ(std::string(file->Version.begin(), file->Version.end()), "87a");
    EXPECT_TRUE(file->HasGlobalColorTable);
    EXPECT_EQ(file->GlobalColorTable.Count(), 2);
    EXPECT_EQ(file->GlobalColorTable.Colors[1], (TRgb{0, 0, 255}));
    TGifSubImage& image = file->GetImage(1);
    EXPECT_EQ(image.Width, 1);
    EXPECT_EQ(image.CodeSize, 2);
    EXPECT_EQ(image.Data.BlockCount(), 1);
    EXPECT_EQ(image.Pixels->RowData(1)[0], 1);
}

TEST(GifReader, AcceptsTheFourVersionSpellingsOnly) {
    for (const char* version : {"87a", "89a", "87A", "89A"}) {
        Bytes bytes = kOnePixel87a;
        std::copy(version, version + 3, bytes.begin() + 3);
        EXPECT_EQ(Read(bytes)->ImageCount(), 1) << version;
    }
    for (const char* version : {"88a", "89b", "87 "}) {
        Bytes bytes = kOnePixel87a;
        std::copy(version, version + 3, bytes.begin() + 3);
        EXPECT_EQ(MessageOf<EGifException>(bytes), "Gif Version must be 87a or 89a") << version;
    }
    // A header cut short has no version.
    EXPECT_EQ(MessageOf<EGifException>(Bytes(kOnePixel87a.begin(), kOnePixel87a.begin() + 5)),
              "Gif Version must be 87a or 89a");
    EXPECT_EQ(MessageOf<EGifException>({}), "Gif Version must be 87a or 89a");
}

TEST(GifReader, SignatureIsNotChecked) {
    Bytes bytes = kOnePixel87a;
    bytes[0] = 'X';
    auto file = Read(bytes);
    EXPECT_EQ(file->ImageCount(), 1);
    EXPECT_EQ(file->Signature[0], 'X');
}

TEST(GifReader, NoGlobalTableStillSetsItsCountAndKeepsBlackAndWhite) {
    GifSpec spec = OneImage();
    spec.globalColors.clear();
    spec.globalBitsWhenAbsent = 2; // 8 colours
    auto file = Read(BuildGif(spec));
    EXPECT_FALSE(file->HasGlobalColorTable);
    EXPECT_EQ(file->GlobalTableBits, 3);
    EXPECT_EQ(file->GlobalColorTable.Count(), 8);
    EXPECT_EQ(file->GlobalColorTable.Colors[0], (TRgb{0, 0, 0}));
    EXPECT_EQ(file->GlobalColorTable.Colors[1], (TRgb{255, 255, 255}));
    EXPECT_EQ(file->GlobalColorTable.Colors[2], (TRgb{0, 0, 0}));
}

TEST(GifReader, LocalTableAndInterlaceFlags) {
    ImageSpec image;
    image.width = 3;
    image.height = 5;
    image.interlaced = true;
    image.localColors = Ramp(8, 50);
    image.codeSize = 3;
    image.pixels = Noise(15, 8, 1);
    auto file = Read(BuildGif(OneImage(image)));
    TGifSubImage& sub = file->GetImage(1);
    EXPECT_TRUE(sub.HasLocalColorTable);
    EXPECT_TRUE(sub.Interlaced);
    EXPECT_EQ(sub.LocalTableBits, 3);
    EXPECT_EQ(sub.LocalColorTable.Count(), 8);
    EXPECT_EQ(sub.LocalColorTable.Colors[7], image.localColors[7]);
    for (int r = 1; r <= 5; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(sub.Pixels->RowData(r)[c], image.pixels[(r - 1) * 3 + c]);
}

TEST(GifReader, ExtensionsBelongToTheImageAfterThem) {
    ImageSpec image;
    image.extensions = CommentExtension("hello");
    const Bytes app = ApplicationExtension("NETSCAPE", "2.0", {1, 0, 0});
    image.extensions.insert(image.extensions.end(), app.begin(), app.end());
    const Bytes text = PlainTextExtension("Hi");
    image.extensions.insert(image.extensions.end(), text.begin(), text.end());
    const Bytes gce = GraphicControl(7);
    image.extensions.insert(image.extensions.end(), gce.begin(), gce.end());
    auto file = Read(BuildGif(OneImage(image)));
    const TExtensionList& list = file->GetImage(1).Extensions;
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(list[0].Kind, TExtensionKind::ekComment);
    EXPECT_EQ(Texts(list[0].Blocks), std::vector<std::string>{"hello"});
    EXPECT_EQ(list[1].Kind, TExtensionKind::ekApplication);
    EXPECT_EQ(list[1].Header.size(), 12u);
    EXPECT_EQ(std::string(list[1].Header.begin() + 1, list[1].Header.begin() + 9), "NETSCAPE");
    EXPECT_EQ(list[1].Blocks.BlockCount(), 1);
    EXPECT_EQ(list[2].Kind, TExtensionKind::ekPlainText);
    EXPECT_EQ(list[2].Header.size(), 13u);
    EXPECT_EQ(Texts(list[2].Blocks), std::vector<std::string>{"Hi"});
    EXPECT_EQ(list[3].Kind, TExtensionKind::ekGraphicControl);
    EXPECT_EQ(file->GetImage(1).Delay(), 7);
}

TEST(GifReader, UnrecognisedExtensionLabel) {
    ImageSpec image;
    image.extensions = {0x21, 0x02, 0x00};
    EXPECT_EQ(MessageOf<EGifException>(BuildGif(OneImage(image))),
              "Unrecognized extension block.\r\nCode = $02");
    image.extensions = {0x21, 0x0A, 0x00};
    EXPECT_EQ(MessageOf<EGifException>(BuildGif(OneImage(image))),
              "Unrecognized extension block.\r\nCode = $0A");
}

TEST(GifReader, GraphicControlAlwaysTakesSixBytes) {
    ImageSpec image;
    // Block size byte says 2, yet six bytes follow the label: 2, flags, delay 300, index 5, 0.
    image.extensions = {0x21, 0xF9, 0x02, 0x01, 0x2C, 0x01, 0x05, 0x00};
    auto file = Read(BuildGif(OneImage(image)));
    ASSERT_EQ(file->ImageCount(), 1);
    const TGraphicControl& gce = file->GetImage(1).Extensions[0].GraphicControl;
    EXPECT_EQ(gce.BlockSize, 2);
    EXPECT_EQ(gce.DelayTime, 300);
    EXPECT_EQ(gce.TransparentIndex, 5);
}

TEST(GifReader, ExtensionsWithoutImageAreDropped) {
    Bytes bytes = BuildGif(OneImage());
    bytes.pop_back(); // trailer
    const Bytes comment = CommentExtension("tail");
    bytes.insert(bytes.end(), comment.begin(), comment.end());
    bytes.push_back(0x3B);
    auto file = Read(bytes);
    EXPECT_EQ(file->ImageCount(), 1);
    EXPECT_EQ(file->GetImage(1).Extensions.Count(), 0);
}

TEST(GifReader, FileWithoutImages) {
    GifSpec spec;
    spec.globalColors = Ramp(2);
    auto file = Read(BuildGif(spec));
    EXPECT_EQ(file->ImageCount(), 0);
    try {
        file->GetImage(1);
        FAIL();
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (0)");
    }
}

TEST(GifReader, StrayByteEndsReadingQuietlyKeepingImages) {
    GifSpec spec = OneImage();
    spec.images.push_back(spec.images[0]);
    Bytes bytes = BuildGif(spec);
    const Bytes first = BuildGif(OneImage());
    // Replace the second image's separator with a stray byte.
    const size_t second = first.size() - 1;
    ASSERT_EQ(bytes[second], 0x2C);
    bytes[second] = 0x00;
    auto file = Read(bytes);
    EXPECT_EQ(file->ImageCount(), 1);
    // A stray byte after extensions ends reading as well.
    Bytes withExtension(first.begin(), first.end() - 1);
    const Bytes comment = CommentExtension("x");
    withExtension.insert(withExtension.end(), comment.begin(), comment.end());
    withExtension.push_back(0x99);
    withExtension.insert(withExtension.end(), bytes.begin() + static_cast<ptrdiff_t>(second + 1),
                         bytes.end());
    EXPECT_EQ(Read(withExtension)->ImageCount(), 1);
}

TEST(GifReader, CutInsideImageDataKeepsTheBlocksThatCame) {
    ImageSpec image;
    image.width = 40;
    image.height = 40;
    image.codeSize = 4;
    image.pixels = Noise(1600, 16, 3);
    GifSpec spec = OneImage(image);
    spec.globalColors = Ramp(16);
    Bytes bytes = BuildGif(spec);
    const size_t headerAndTable = 13 + 48 + 10 + 1; // up to and including the code size
    // Cut in the middle of the first sub-block (its length byte says 255).
    bytes.resize(headerAndTable + 1 + 100);
    auto file = Read(bytes);
    ASSERT_EQ(file->ImageCount(), 1);
    TGifSubImage& sub = file->GetImage(1);
    EXPECT_EQ(sub.Data.BlockCount(), 1);
    EXPECT_EQ(sub.Data.TotalSize(), 100);
    // The rows decoded from the bytes that came are right.
    auto full = Read(BuildGif(spec));
    EXPECT_EQ(sub.Pixels->RowData(1)[0], full->GetImage(1).Pixels->RowData(1)[0]);
}

TEST(GifReader, CutInsideOrAfterAnExtensionKeepsEarlierImages) {
    const Bytes first = BuildGif(OneImage());
    Bytes bytes(first.begin(), first.end() - 1);
    const Bytes comment = CommentExtension(std::string(300, 'c'));
    for (size_t cut = 0; cut <= comment.size(); ++cut) {
        Bytes cutBytes = bytes;
        cutBytes.insert(cutBytes.end(), comment.begin(),
                        comment.begin() + static_cast<ptrdiff_t>(cut));
        EXPECT_EQ(Read(cutBytes)->ImageCount(), 1) << cut;
    }
}

TEST(GifReader, ImageWithoutDataFails) {
    ImageSpec image;
    image.lzw = {0};
    Bytes bytes = BuildGif(OneImage(image));
    // Code size, then the terminator at once: no sub-block at all.
    const size_t codeSizeAt = 13 + 12 + 10;
    bytes.erase(bytes.begin() + static_cast<ptrdiff_t>(codeSizeAt + 1),
                bytes.begin() + static_cast<ptrdiff_t>(codeSizeAt + 3));
    ASSERT_EQ(bytes[codeSizeAt + 1], 0);
    EXPECT_EQ(MessageOf<EListError>(bytes), "List index out of bounds (0)");
}

TEST(GifReader, AnimationDelay) {
    ImageSpec image;
    image.extensions = GraphicControl(25);
    EXPECT_EQ(Read(BuildGif(OneImage(image)))->AnimationDelay(), 0); // one image
    GifSpec spec = OneImage(image);
    spec.images.push_back(spec.images[0]);
    spec.images[1].extensions = GraphicControl(40);
    spec.images.push_back(spec.images[0]);
    spec.images[2].extensions = GraphicControl(0);
    auto file = Read(BuildGif(spec));
    EXPECT_EQ(file->ImageCount(), 3);
    EXPECT_EQ(file->AnimationDelay(), 40); // the last non-zero delay
    spec.images[0].extensions = spec.images[1].extensions = GraphicControl(0);
    EXPECT_EQ(Read(BuildGif(spec))->AnimationDelay(), 0);
}

TEST(GifReader, ErrorInSecondImageKeepsTheFirst) {
    GifSpec spec = OneImage();
    spec.images.push_back(spec.images[0]);
    spec.images[1].codeSize = 10;
    TGifFile file;
    EXPECT_THROW(file.ReadGifStream(BuildGif(spec)), EGifException);
    EXPECT_EQ(file.ImageCount(), 1);
}

TEST(GifReader, EveryTruncationFailsCleanlyOrReadsWhatCame) {
    ImageSpec image;
    image.width = 7;
    image.height = 5;
    image.interlaced = true;
    image.localColors = Ramp(4);
    image.pixels = Noise(35, 4, 9);
    image.extensions = GraphicControl(3);
    const Bytes comment = CommentExtension("comment");
    image.extensions.insert(image.extensions.end(), comment.begin(), comment.end());
    GifSpec spec = OneImage(image);
    spec.images.push_back(spec.images[0]);
    const Bytes bytes = BuildGif(spec);
    for (size_t cut = 0; cut <= bytes.size(); ++cut) {
        TGifFile file;
        try {
            file.ReadGifStream(std::span(bytes.data(), cut));
        } catch (const std::exception&) {
            // Errors are fine; what matters is no crash, hang or wild read (run under ASan).
        }
        EXPECT_LE(file.ImageCount(), 2);
    }
    EXPECT_EQ(Read(bytes)->ImageCount(), 2);
}

TEST(GifReader, HugeDimensionsFailBeforeAllocating) {
    ImageSpec image;
    image.width = 65535;
    image.height = 65535;
    image.lzw = {0x4C, 0x01};
    try {
        Read(BuildGif(OneImage(image)));
        FAIL();
    } catch (const ENotEnoughMemory& e) {
        EXPECT_STREQ(e.what(), "error in TBigByteArray.create: Not enough contiguous memory "
                               "available\r\n requested memory block: 4294836225 bytes");
    }
}

TEST(GifReader, ManyLargeImagesHitTheFileBound) {
    // Each image alone is within the bound; together they exceed what one file may hold.
    ImageSpec image;
    image.width = 16384;
    image.height = 8192;
    image.lzw = {0x4C, 0x01};
    ASSERT_EQ(int64_t{image.width} * image.height, kMaxImagePixels);
    GifSpec spec = OneImage(image);
    spec.images.resize(static_cast<size_t>(kMaxFilePixels / kMaxImagePixels) + 1, spec.images[0]);
    TGifFile file;
    EXPECT_THROW(file.ReadGifStream(BuildGif(spec)), ENotEnoughMemory);
    EXPECT_EQ(file.ImageCount(), kMaxFilePixels / kMaxImagePixels);
}

TEST(GifReader, LoadFromFileTakesNativeBytePaths) {
    const auto dir =
        std::filesystem::temp_directory_path() /
        ("fenwa-gif-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::create_directories(dir);
    // A name that is not valid UTF-8.
    const std::string path = dir.string() + "/bild-\xE4\xFF.gif";
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(kOnePixel87a.data()),
                  static_cast<std::streamsize>(kOnePixel87a.size()));
    }
    TGifFile file;
    file.LoadFromFile(path);
    EXPECT_EQ(file.ImageCount(), 1);
    TGifFile missing;
    EXPECT_THROW(missing.LoadFromFile(dir.string() + "/missing.gif"), EFileError);
    TGifFile directory;
    EXPECT_THROW(directory.LoadFromFile(dir.string()), EFileError);
    // A FIFO with no writer is refused at once, never waited on.
    const std::string fifo = dir.string() + "/pipe.gif";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_TRUE(fenwa::testing::ReturnsBeforeDeadline(
        [&] { EXPECT_THROW(TGifFile().LoadFromFile(fifo), EFileError); }, fifo));
    std::filesystem::remove_all(dir);
}

TEST(GifReader, MillionsOfTinyBlocksAreRefused) {
    // Three-byte comments without data, then the trailer: each would cost an object.
    Bytes comments = BuildGif(OneImage());
    comments.pop_back();
    for (int i = 0; i <= kMaxExtensions; ++i)
        comments.insert(comments.end(), {0x21, 0xFE, 0x00});
    comments.push_back(0x3B);
    EXPECT_EQ(MessageOf<EGifException>(comments), "Too many extension blocks (more than 262144)");

    // One-pixel images, each a dozen bytes.
    GifSpec spec = OneImage();
    const Bytes one = BuildGif(spec);
    const Bytes image(one.begin() + 13 + 12, one.end() - 1);
    Bytes images(one.begin(), one.end() - 1);
    for (int i = 0; i < kMaxImages; ++i)
        images.insert(images.end(), image.begin(), image.end());
    images.push_back(0x3B);
    TGifFile file;
    try {
        file.ReadGifStream(images);
        FAIL();
    } catch (const EGifException& e) {
        EXPECT_STREQ(e.what(), "Too many images (more than 65536)");
    }
    EXPECT_EQ(file.ImageCount(), kMaxImages);
}

TEST(GifReader, FuzzCorpusReadsWithoutCrashing) {
    // The fuzz target's seed corpus: damaged files that once found new paths. Each must
    // read, fail with one of our exceptions, or stop quietly (the sanitizer build checks
    // that nothing is read or written out of bounds).
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(FENWA_GIF_FUZZ_CORPUS)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        TGifFile file;
        try {
            file.ReadGifStream(bytes);
        } catch (const std::exception&) {
        }
        if (file.ImageCount() > 0) {
            EXPECT_NO_THROW(file.GetImage(1).GetBitmap()) << entry.path();
        }
        ++files;
    }
    EXPECT_GT(files, 100);
}
