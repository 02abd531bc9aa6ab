// Renaming never replaces another file, and works on names that are not UTF-8.
#include <QTemporaryDir>
#include <cerrno>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "rename.h"

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

class RenameNoReplace : public testing::Test {
protected:
    QTemporaryDir tmp;
    std::string path(const std::string& name) const {
        return tmp.path().toStdString() + "/" + name;
    }
};

} // namespace

TEST_F(RenameNoReplace, RenamesToAFreeName) {
    writeFile(path("x.jpg"), "picture");
    const auto r = fenwa::platform::renameNoReplace(path("x.jpg"), path("x.txt"));
    EXPECT_TRUE(r.renamed);
    EXPECT_TRUE(r.message.empty());
    EXPECT_FALSE(exists(path("x.jpg")));
    EXPECT_EQ(readFile(path("x.txt")), "picture");
}

TEST_F(RenameNoReplace, NeverReplacesAnExistingFile) {
    writeFile(path("a.jpg"), "A");
    writeFile(path("b.jpg"), "B");
    const auto r = fenwa::platform::renameNoReplace(path("a.jpg"), path("b.jpg"));
    EXPECT_FALSE(r.renamed);
    EXPECT_EQ(r.error, EEXIST);
    EXPECT_EQ(r.message, "Cannot rename a.jpg: A file with the name you specified already "
                         "exists. Specify a different file name.");
    EXPECT_EQ(readFile(path("a.jpg")), "A");
    EXPECT_EQ(readFile(path("b.jpg")), "B");
}

TEST_F(RenameNoReplace, HandlesNamesThatAreNotUtf8) {
    const std::string latin1 = "caf\xe9.jpg"; // ISO-8859-1 bytes
    writeFile(path(latin1), "bytes");
    auto r = fenwa::platform::renameNoReplace(path(latin1), path("cafe.jpg"));
    ASSERT_TRUE(r.renamed) << r.message;
    EXPECT_EQ(readFile(path("cafe.jpg")), "bytes");
    r = fenwa::platform::renameNoReplace(path("cafe.jpg"), path("\xff\xfe.jpg"));
    ASSERT_TRUE(r.renamed) << r.message;
    EXPECT_EQ(readFile(path("\xff\xfe.jpg")), "bytes");
}

TEST_F(RenameNoReplace, ReportsAMissingSource) {
    const auto r = fenwa::platform::renameNoReplace(path("gone.jpg"), path("new.jpg"));
    EXPECT_FALSE(r.renamed);
    EXPECT_EQ(r.error, ENOENT);
    EXPECT_NE(r.message.find("gone.jpg"), std::string::npos);
    EXPECT_FALSE(exists(path("new.jpg")));
}

TEST_F(RenameNoReplace, NeverReplacesALinkOrAnEmptyDirectoryEither) {
    writeFile(path("a.jpg"), "A");
    // A link to nothing exists as a name even though its target does not.
    ASSERT_EQ(::symlink("nowhere", path("link.jpg").c_str()), 0);
    auto r = fenwa::platform::renameNoReplace(path("a.jpg"), path("link.jpg"));
    EXPECT_FALSE(r.renamed);
    EXPECT_EQ(r.error, EEXIST);
    ASSERT_EQ(::mkdir(path("empty").c_str(), 0755), 0);
    r = fenwa::platform::renameNoReplace(path("a.jpg"), path("empty"));
    EXPECT_FALSE(r.renamed);
    EXPECT_EQ(readFile(path("a.jpg")), "A");
    char target[16] = {};
    EXPECT_EQ(::readlink(path("link.jpg").c_str(), target, sizeof target - 1), 7);
    EXPECT_TRUE(exists(path("empty")));
}
