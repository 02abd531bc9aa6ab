// The reader every picture goes through: only a regular file is read (a link is followed
// to one), from one open that never waits on a FIFO or device, within the caller's bound.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "fifoswap.h"
#include "readfile.h"

using namespace fenwa::platform;

TEST(ReadFile, OnlyARegularFileIsReadAndNothingWaits) {
    QTemporaryDir tmp;
    const std::string d = tmp.path().toStdString();
    std::ofstream(d + "/plain.bmp", std::ios::binary) << "BM12345678";
    ASSERT_EQ(::symlink((d + "/plain.bmp").c_str(), (d + "/link.bmp").c_str()), 0);
    ASSERT_EQ(::mkfifo((d + "/pipe.bmp").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir((d + "/folder.bmp").c_str(), 0700), 0);
    std::ofstream(d + "/empty.bmp", std::ios::binary);

    struct Case {
        std::string path;
        int64_t bound;
        ReadFileError error;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {d + "/plain.bmp", 10, ReadFileError::None, "BM12345678"}, // exactly the bound
        {d + "/link.bmp", 100, ReadFileError::None, "BM12345678"}, // as the file it names
        {d + "/empty.bmp", 100, ReadFileError::None, ""},
        {d + "/plain.bmp", 9, ReadFileError::TooLarge, ""},
        {d + "/pipe.bmp", 100, ReadFileError::NotRegularFile, ""}, // no writer: not waited on
        {d + "/folder.bmp", 100, ReadFileError::NotRegularFile, ""},
        {"/dev/zero", 100, ReadFileError::NotRegularFile, ""}, // would never end
        {d + "/missing.bmp", 100, ReadFileError::Missing, ""},
        {d + "/plain.bmp/x", 100, ReadFileError::Missing, ""},
    };
    for (const Case& c : cases) {
        std::string bytes = "left over";
        ReadFileError error = ReadFileError::None;
        ASSERT_TRUE(fenwa::testing::ReturnsBeforeDeadline(
            [&] { error = readRegularFile(c.path, c.bound, bytes); }, d + "/pipe.bmp"))
            << c.path << " was waited on";
        EXPECT_EQ(error, c.error) << c.path;
        if (c.error == ReadFileError::None) {
            EXPECT_EQ(bytes, c.bytes) << c.path;
        }
    }
}

TEST(ReadFile, AHeaderThenTheRestAreTheWholeFileFromOneOpen) {
    QTemporaryDir tmp;
    const std::string path = tmp.filePath("photo.jpg").toStdString();
    const std::string whole(200000, 'j');
    std::ofstream(path, std::ios::binary) << whole;
    RegularFile file;
    ASSERT_EQ(file.open(path), ReadFileError::None);
    ::unlink(path.c_str()); // what is open stays readable: nothing goes back to the name
    std::vector<uint8_t> bytes;
    ASSERT_EQ(file.readSome(bytes, 1000), ReadFileError::None);
    EXPECT_EQ(bytes.size(), 1000u);
    ASSERT_EQ(file.readRest(bytes, 200000), ReadFileError::None);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), whole);
    RegularFile again;
    EXPECT_EQ(again.open(path), ReadFileError::Missing);
}
