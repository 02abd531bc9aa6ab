#include <gtest/gtest.h>

#include "pathrules.h"

using namespace fenwa::platform;

namespace {
constexpr auto Win = PathStyle::Windows;
constexpr auto Posix = PathStyle::Posix;
} // namespace

TEST(PathRules, JoinPathAddsOneSeparatorUnlessPresent) {
    EXPECT_EQ(JoinPath(Win, "C:\\Pics", "a.jpg"), "C:\\Pics\\a.jpg");
    EXPECT_EQ(JoinPath(Win, "C:\\", "a.jpg"), "C:\\a.jpg");
    EXPECT_EQ(JoinPath(Win, "C:\\Photos\\", "name"), "C:\\Photos\\name");
    EXPECT_EQ(JoinPath(Posix, "/pics", "a.jpg"), "/pics/a.jpg");
    EXPECT_EQ(JoinPath(Posix, "/", "a.jpg"), "/a.jpg");
    EXPECT_EQ(JoinPath(Posix, "/photos/", "name"), "/photos/name");
    // A backslash is an ordinary character in a POSIX name.
    EXPECT_EQ(JoinPath(Posix, "/odd\\", "n"), "/odd\\/n");
}

TEST(PathRules, ExtensionIsFromTheLastDotOfTheLastComponent) {
    for (PathStyle s : {Win, Posix}) {
        EXPECT_EQ(extensionOf(s, "archive.tar.gz"), ".gz");
        EXPECT_EQ(extensionOf(s, ".profile"), ".profile");
        EXPECT_EQ(extensionOf(s, "README"), "");
        EXPECT_EQ(extensionOf(s, "photo.JPG"), ".JPG");
        EXPECT_EQ(extensionOf(s, "trailing."), ".");
    }
    EXPECT_EQ(extensionOf(Win, "C:\\dir.d\\file"), "");
    EXPECT_EQ(extensionOf(Win, "C:x.bmp"), ".bmp");
    EXPECT_EQ(extensionOf(Posix, "/dir.d/file"), "");
}

TEST(PathRules, DrivePartAndRoots) {
    EXPECT_EQ(drivePart(Win, "C:\\Pics"), "C:");
    EXPECT_EQ(drivePart(Win, "\\\\server\\share\\dir"), "\\\\server\\share");
    EXPECT_EQ(drivePart(Win, "\\\\server\\share"), "\\\\server\\share");
    EXPECT_EQ(drivePart(Win, "relative\\dir"), "");
    EXPECT_EQ(drivePart(Posix, "/home"), "/");
    EXPECT_EQ(drivePart(Posix, "home"), "");
    EXPECT_TRUE(isRoot(Win, "D:"));
    EXPECT_TRUE(isRoot(Win, "D:\\"));
    EXPECT_TRUE(isRoot(Win, "\\\\server\\share\\"));
    EXPECT_FALSE(isRoot(Win, "D:\\Sub"));
    EXPECT_TRUE(isRoot(Posix, "/"));
    EXPECT_FALSE(isRoot(Posix, "/home"));
}

TEST(PathRules, NormalizeDirectory) {
    EXPECT_EQ(normalizeDirectory(Win, "C:\\Photos\\"), "C:\\Photos");
    EXPECT_EQ(normalizeDirectory(Win, "C:\\Photos"), "C:\\Photos");
    EXPECT_EQ(normalizeDirectory(Win, "D:"), "D:\\");
    EXPECT_EQ(normalizeDirectory(Win, "D:\\"), "D:\\");
    EXPECT_EQ(normalizeDirectory(Win, "\\\\server\\share"), "\\\\server\\share\\");
    EXPECT_EQ(normalizeDirectory(Win, "\\\\server\\share\\"), "\\\\server\\share\\");
    EXPECT_EQ(normalizeDirectory(Win, "\\\\server\\share\\sub\\"), "\\\\server\\share\\sub");
    // Only one trailing separator goes.
    EXPECT_EQ(normalizeDirectory(Win, "C:\\Photos\\\\"), "C:\\Photos\\");
    EXPECT_EQ(normalizeDirectory(Posix, "/photos/"), "/photos");
    EXPECT_EQ(normalizeDirectory(Posix, "/photos"), "/photos");
    EXPECT_EQ(normalizeDirectory(Posix, "/"), "/");
    EXPECT_EQ(normalizeDirectory(Posix, "relative/"), "relative");
}

TEST(PathRules, DirectoryOfAPickedFile) {
    EXPECT_EQ(directoryOfFile(Win, "C:\\Pics\\a.jpg"), "C:\\Pics");
    EXPECT_EQ(directoryOfFile(Win, "C:\\a.jpg"), "C:\\");
    EXPECT_EQ(directoryOfFile(Win, "C:a.jpg"), "C:");
    EXPECT_EQ(directoryOfFile(Win, "\\\\srv\\share\\x\\a.jpg"), "\\\\srv\\share\\x");
    // Multi-byte characters are never split: every UTF-8 byte of them is >= 0x80.
    EXPECT_EQ(directoryOfFile(Win, "C:\\相片\\表.jpg"), "C:\\相片");
    EXPECT_EQ(directoryOfFile(Posix, "/pics/a.jpg"), "/pics");
    EXPECT_EQ(directoryOfFile(Posix, "/a.jpg"), "/");
    EXPECT_EQ(directoryOfFile(Posix, "a.jpg"), "");
}

TEST(PathRules, TrimRemovesBlanksAndControlCharacters) {
    EXPECT_EQ(trimmed("  \t/pics \r\n"), "/pics");
    EXPECT_EQ(trimmed("\x01/p\x01q\x1f"), "/p\x01q");
    EXPECT_EQ(trimmed("   "), "");
    EXPECT_EQ(trimmed("相片 "), "相片");
}

TEST(PathRules, SameDirectoryTextFollowsTheFileSystemsCase) {
    EXPECT_TRUE(sameDirectoryText(Win, "C:\\Pics", "c:\\PICS"));
    EXPECT_FALSE(sameDirectoryText(Win, "C:\\Pics", "C:\\Pics\\"));
    EXPECT_FALSE(sameDirectoryText(Posix, "/pics", "/PICS"));
    EXPECT_TRUE(sameDirectoryText(Posix, "/pics", "/pics"));
}

TEST(PathRules, RelativesByWholeComponents) {
    EXPECT_TRUE(areRelatives(Win, "C:\\Pics\\2020", "C:\\Pics"));
    EXPECT_TRUE(areRelatives(Win, "C:\\", "C:\\Pics"));
    EXPECT_TRUE(areRelatives(Win, "C:", "C:\\Pics"));
    EXPECT_TRUE(areRelatives(Win, "C:\\Pics\\", "C:\\Pics"));
    EXPECT_TRUE(areRelatives(Win, "c:\\pics\\2020", "C:\\PICS"));
    EXPECT_FALSE(areRelatives(Win, "C:\\Pic", "C:\\Pictures"));
    EXPECT_FALSE(areRelatives(Win, "D:\\Pics", "C:\\Pics"));
    EXPECT_FALSE(areRelatives(Win, "C:\\A\\Pics", "C:\\Pics"));
    EXPECT_TRUE(areRelatives(Win, "\\\\srv\\share", "\\\\srv\\share\\x"));

    EXPECT_TRUE(areRelatives(Posix, "/data/pictures/2020", "/data/pictures"));
    EXPECT_TRUE(areRelatives(Posix, "/", "/data"));
    EXPECT_TRUE(areRelatives(Posix, "/data/", "/data"));
    EXPECT_TRUE(areRelatives(Posix, "/data//x", "/data/x/"));
    EXPECT_FALSE(areRelatives(Posix, "/data/pic", "/data/pictures"));
    EXPECT_FALSE(areRelatives(Posix, "/data/Pictures", "/data/pictures/x"));
    EXPECT_FALSE(areRelatives(Posix, "data", "/data"));
}

TEST(PathRules, AsciiCaseFolding) {
    EXPECT_TRUE(equalsIgnoringAsciiCase("Photo.JPG", "photo.jpg"));
    // Only A to Z fold: other letters must match exactly.
    EXPECT_FALSE(equalsIgnoringAsciiCase("\xc3\x84", "\xc3\xa4"));
    EXPECT_LT(compareIgnoringAsciiCase("A.jpg", "b.jpg"), 0);
    EXPECT_GT(compareIgnoringAsciiCase("b.jpg", "A.jpg"), 0);
    EXPECT_EQ(compareIgnoringAsciiCase("abc", "ABC"), 0);
    EXPECT_LT(compareIgnoringAsciiCase("ab", "abc"), 0);
    // Bytes compare unsigned, so non-ASCII sorts after ASCII.
    EXPECT_GT(compareIgnoringAsciiCase("\xe7", "z"), 0);
}
