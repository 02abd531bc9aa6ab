#include <cctype>
#include <gtest/gtest.h>

#include "contentcheck.h"
#include "filerecord.h"

using namespace fenwa;

TEST(FileRecord, ImageNamesAreThoseWhoseExtensionOccursInTheList) {
    for (const char* yes : {"photo.jpg", "ICON.Ico", "x.jpe", "a.jp", "b.G", "c.em", "d.JPEG",
                            "e.wmf", "f.bmp", "g.gif", "odd."})
        EXPECT_TRUE(IsImageName(yes)) << yes;
    for (const char* no : {"README", "a.jp2", "x.jpg.txt", "a.BMPX"})
        EXPECT_FALSE(IsImageName(no)) << no;
}

TEST(FileRecord, PhotoExtensionsCountOnlyWhole) {
    for (const char* yes : {"a.png", "b.TIF", "c.tiff", "d.webp", "e.HEIC", "f.heif", "g.avif",
                            "h.jxl", "i.dng", "j.CR3", "k.nef", "l.arw", "m.rw2", "n.raf"})
        EXPECT_TRUE(IsImageName(yes)) << yes;
    for (const char* no : {"a.pn", "b.ti", "c.webpx", "d.hei", "e.NG", "f.cr", "g.PNG.txt"})
        EXPECT_FALSE(IsImageName(no)) << no;
}

TEST(FileRecord, ImageNameMatchesAnyPieceOfTheExtensionList) {
    // Short extensions take a table, long ones a text search: both must agree with the
    // list's own text, piece by piece.
    const std::string_view list = ImageExtensionList;
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i] != '.')
            continue;
        for (size_t n = 1; i + n <= list.size(); ++n) {
            std::string lower = "x" + std::string(list.substr(i, n));
            for (char& c : lower)
                c = char(std::tolower(static_cast<unsigned char>(c)));
            if (lower.find('.', 2) != std::string::npos)
                continue; // the extension is only what follows the last dot
            EXPECT_TRUE(IsImageName(lower)) << lower;
        }
    }
    for (const char* no : {"a.JPEGS", "a.GIFJPG", "a.JPEGJPEG", "a.EMFWMF", "a.ICONS", "a.BMP.txt"})
        EXPECT_FALSE(IsImageName(no)) << no;
}

TEST(FileRecord, MinuteFormat) {
    EXPECT_EQ(formatMinute(0), "1970/01/01 00:00");
    // 2024-02-29 13:05 is 19782 days and 785 minutes after the epoch.
    EXPECT_EQ(formatMinute(19782 * 1440 + 13 * 60 + 5), "2024/02/29 13:05");
    EXPECT_EQ(formatMinute(-1), "1969/12/31 23:59");
    // Years outside four digits take the general path.
    EXPECT_EQ(formatMinute(int32_t(-62198755200LL / 60)), "-001/01/01 00:00");
    EXPECT_EQ(formatMinute(INT32_MAX), "6053/01/23 02:07");
}

TEST(FileRecord, StoreKeepsFieldsAndDerivesTexts) {
    FileRecordStore store;
    uint32_t d = store.internDirectory("/pics");
    EXPECT_EQ(store.internDirectory("/pics"), d);
    store.append(d, "archive.tar.gz", 0, 60);
    store.append(d, "photo.JPG", int64_t(4) * 1024 * 1024 * 1024 + 100, 0);
    ASSERT_EQ(store.size(), 2u);
    EXPECT_EQ(store.text(0, ColName), "archive.tar.gz");
    EXPECT_EQ(store.text(0, ColDirectory), "/pics");
    EXPECT_EQ(store.text(0, ColSize), "0");
    EXPECT_EQ(store.text(0, ColType), ".gz");
    EXPECT_EQ(store.text(0, ColTime), "1970/01/01 01:00");
    EXPECT_EQ(store.icon(0), IconOtherFile);
    // Sizes are 64-bit: a 4 GiB + 100 byte file is not "the same size" as 100 bytes.
    EXPECT_EQ(store.text(1, ColSize), "4294967396");
    EXPECT_EQ(store.icon(1), IconImageFile);
    EXPECT_EQ(store.fullPath(1), "/pics/photo.JPG");
}

TEST(FileRecord, RemovePermuteRenameAndCopy) {
    FileRecordStore store;
    uint32_t a = store.internDirectory("/a");
    uint32_t b = store.internDirectory("/b/");
    for (int i = 0; i < 5; ++i)
        store.append(i % 2 ? b : a, "f" + std::to_string(i) + ".txt", i, i);
    store.removeRows({false, true, false, true, false});
    ASSERT_EQ(store.size(), 3u);
    EXPECT_EQ(store.name(1), "f2.txt");
    store.permute({2, 0, 1});
    EXPECT_EQ(store.name(0), "f4.txt");
    EXPECT_EQ(store.name(2), "f2.txt");
    store.rename(0, "new.gif");
    EXPECT_EQ(store.name(0), "new.gif");
    EXPECT_EQ(store.type(0), ".gif");
    EXPECT_EQ(store.icon(0), IconImageFile);

    FileRecordStore other;
    other.append(other.internDirectory("/x"), "keep.bmp", 7, 3);
    other.appendRows(store, std::vector<uint32_t>{1});
    EXPECT_EQ(other.fullPath(1), "/a/f0.txt");
    store.appendAll(std::move(other));
    EXPECT_TRUE(other.empty());
    ASSERT_EQ(store.size(), 5u);
    EXPECT_EQ(store.fullPath(3), "/x/keep.bmp");
    EXPECT_EQ(store.fullPath(4), "/a/f0.txt");
}

TEST(FileRecordStore, JoiningStoresKeepsEachRowsContentHash) {
    FileRecordStore store;
    store.append(store.internDirectory("/a"), "one", 4, 0);
    store.append(store.internDirectory("/a"), "two", 4, 0);
    store.setContentHash(1, ContentHash{1, 2});

    FileRecordStore other;
    other.append(other.internDirectory("/b"), "three", 4, 0);
    other.append(other.internDirectory("/b"), "four", 4, 0);
    other.setContentHash(0, ContentHash{3, 4});
    store.appendAll(std::move(other));

    ASSERT_EQ(store.size(), 4u);
    EXPECT_EQ(store.contentHash(0), nullptr);
    ASSERT_NE(store.contentHash(1), nullptr);
    EXPECT_EQ(*store.contentHash(1), (ContentHash{1, 2}));
    ASSERT_NE(store.contentHash(2), nullptr);
    EXPECT_EQ(*store.contentHash(2), (ContentHash{3, 4}));
    EXPECT_EQ(store.contentHash(3), nullptr);
    EXPECT_EQ(store.fullPath(2), "/b/three");
}

TEST(SimilarLeftOut, KindsAreCountedCaseFoldedAndDescribedCommonestFirst) {
    SimilarLeftOut left;
    for (const char* name : {"a.MP4", "b.mp4", "c.txt", "README", "d.pdf", "e.mp4", "f.doc"})
        left.add(LeftOutReason::NotPicture, name, [] { return std::string(); });
    EXPECT_EQ(left.notPictures, 7u);
    EXPECT_TRUE(left.files.empty()) << "paths are kept only when asked for";
    EXPECT_EQ(DescribeLeftOutKinds(left.kinds[0], 2),
              "3 .mp4, 1 without extension and 3 other kinds");
    EXPECT_EQ(DescribeLeftOutKinds(left.kinds[0], 1), "3 .mp4 and 4 other kinds");
}
