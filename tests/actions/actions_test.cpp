// Renaming checks and the requests that hand a file to other programs.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>

#include "openwith.h"
#include "renaming.h"

using namespace fenwa::actions;

TEST(NewName, BlankNamesAreEmpty) {
    for (const char* name : {"", " ", "   ", "\t \r\n", "\x01\x1f"})
        EXPECT_EQ(checkNewName(name), NameCheck::Empty) << name;
    EXPECT_EQ(checkNewName("  a  "), NameCheck::Acceptable);
    EXPECT_STREQ(nameCheckMessage(NameCheck::Empty), "至少隨便打幾個字吧大哥!");
}

TEST(NewName, EachForbiddenCharacterIsRefused) {
    ASSERT_EQ(ForbiddenNameCharacters.size(), 9u);
    for (char c : ForbiddenNameCharacters) {
        const std::string name = std::string("a") + c + "b.jpg";
        EXPECT_EQ(checkNewName(name), NameCheck::ForbiddenCharacter) << name;
    }
    EXPECT_EQ(checkNewName("a?b*.jpg"), NameCheck::ForbiddenCharacter);
    // An empty name is reported before a forbidden character could be.
    EXPECT_EQ(checkNewName(" "), NameCheck::Empty);
    EXPECT_EQ(checkNewName("相片 (1).jpg"), NameCheck::Acceptable);
    EXPECT_STREQ(nameCheckMessage(NameCheck::ForbiddenCharacter),
                 "檔名之中不可以含有 \\ / : * ? \" < > | 這樣的字元, 知道嗎!");
}

TEST(Rename, RenamesInTheRowsDirectoryAndNeverOverwrites) {
    QTemporaryDir tmp;
    const std::string dir = tmp.path().toStdString() + "/with space";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dir)));
    std::ofstream(dir + "/x.jpg") << "x";
    std::ofstream(dir + "/y.jpg") << "y";
    RenameOutcome r = renameInDirectory(dir, "x.jpg", "y.jpg");
    EXPECT_FALSE(r.renamed);
    EXPECT_FALSE(r.systemMessage.empty());
    r = renameInDirectory(dir, "x.jpg", " x.txt");
    EXPECT_TRUE(r.renamed);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(dir + "/ x.txt"))); // untrimmed
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir + "/x.jpg")));
}

TEST(OpenWith, AcdseeIsOfferedOnlyItsTypes) {
    for (const char* name : {"photo.png", "PHOTO.JPG", "a.b.tif", "song.wav", "clip.avi", "x.jpe"})
        EXPECT_TRUE(offeredToAcdsee(name)) << name;
    // Its list is not the program's image list: icons and enhanced metafiles are missing.
    for (const char* name :
         {"setup.exe", "icon.ico", "drawing.emf", "noextension", "notes.txt", "archive.png.zip"})
        EXPECT_FALSE(offeredToAcdsee(name)) << name;
}

TEST(OpenWith, RequestsCarryThePathWhole) {
    const std::string path = "/photos/my trip/-photo.png";
    EXPECT_EQ(openRequest(path), (OpenRequest{path, ""}));
    EXPECT_EQ(acdseeRequest("-photo.png", path), (OpenRequest{"ACDSee32.exe", path}));
    EXPECT_EQ(acdseeRequest("setup.exe", "/x/setup.exe"), std::nullopt);
    EXPECT_EQ(ultraEditRequest("/x/setup.exe"), (OpenRequest{"Uedit32.exe", "/x/setup.exe"}));
}
