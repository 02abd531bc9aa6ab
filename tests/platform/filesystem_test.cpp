#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "filesystem.h"
#include "indirectory.h"

using namespace fenwa::platform;

namespace {

std::string touch(const std::string& path, const std::string& content = {}) {
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

bool forEachFile(const std::string& d, const std::function<void(const FileEntry&)>& onFile) {
    DirectoryHandle handle;
    std::vector<std::string> subdirectories;
    return handle.open(d) && handle.read(onFile, subdirectories);
}

} // namespace

TEST(FileSystem, OnlyRegularFilesAreListed) {
    QTemporaryDir tmp;
    const std::string d = tmp.path().toStdString();
    touch(d + "/plain.jpg", "12345");
    touch(d + "/.hidden");
    touch(d + "/name\nwith\tcontrol");
    touch(d + "/bad\xff\xfe.jpg"); // not UTF-8
    ::mkdir((d + "/sub").c_str(), 0755);
    ASSERT_EQ(::symlink((d + "/plain.jpg").c_str(), (d + "/link.jpg").c_str()), 0);
    ASSERT_EQ(::mkfifo((d + "/pipe").c_str(), 0600), 0);

    std::vector<std::string> names;
    int64_t plainSize = -1;
    EXPECT_TRUE(forEachFile(d, [&](const FileEntry& e) {
        names.emplace_back(e.name);
        if (e.name == "plain.jpg")
            plainSize = e.size;
    }));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".hidden", "bad\xff\xfe.jpg", "name\nwith\tcontrol",
                                               "plain.jpg"}));
    EXPECT_EQ(plainSize, 5);
}

TEST(FileSystem, SubdirectoriesSkipHiddenAndLinks) {
    QTemporaryDir tmp;
    const std::string d = tmp.path().toStdString();
    for (const char* sub : {"/b", "/A", "/.git"})
        ::mkdir((d + sub).c_str(), 0755);
    ASSERT_EQ(::symlink((d + "/A").c_str(), (d + "/loop").c_str()), 0);
    touch(d + "/file");
    std::vector<std::string> names;
    EXPECT_TRUE(forEachSubdirectory(d, [&](std::string_view n) { names.emplace_back(n); }));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"A", "b"}));
}

TEST(FileSystem, UnreadableOrMissingDirectoriesReportNothing) {
    int calls = 0;
    EXPECT_FALSE(forEachFile("/nonexistent/fenwa", [&](const FileEntry&) { ++calls; }));
    EXPECT_FALSE(forEachSubdirectory("/nonexistent/fenwa", [&](std::string_view) { ++calls; }));
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(isExistingDirectory(""));
    EXPECT_FALSE(isExistingDirectory("/nonexistent/fenwa"));
    EXPECT_TRUE(isExistingDirectory("/"));
}

TEST(FileSystem, LocalMinuteDropsSecondsAndFollowsTheZone) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    EXPECT_EQ(localMinuteOf(0), 0);
    EXPECT_EQ(localMinuteOf(59), 0);
    EXPECT_EQ(localMinuteOf(60), 1);
    EXPECT_EQ(localMinuteOf(-1), -1);
    ::setenv("TZ", "Asia/Taipei", 1); // UTC+8, no daylight saving
    ::tzset();
    EXPECT_EQ(localMinuteOf(0), 8 * 60);
    ::unsetenv("TZ");
    ::tzset();
}

TEST(FileSystem, ASubdirectoryIsOpenedOnlyWhileItIsOne) {
    QTemporaryDir tmp;
    const std::string d = tmp.path().toStdString();
    ASSERT_EQ(::mkdir((d + "/dir").c_str(), 0755), 0);
    touch(d + "/dir/inside", "abc");
    touch(d + "/file");
    ASSERT_EQ(::symlink((d + "/dir").c_str(), (d + "/link").c_str()), 0);
    DirectoryHandle top;
    ASSERT_TRUE(top.open(d));
    DirectoryHandle child;
    EXPECT_TRUE(child.openChild(top, "dir"));
    EXPECT_FALSE(DirectoryHandle().openChild(top, "file")); // a file now
    EXPECT_FALSE(DirectoryHandle().openChild(top, "link")); // links are not followed
    EXPECT_FALSE(DirectoryHandle().openChild(top, "gone"));
    EXPECT_FALSE(DirectoryHandle().openChild(top, "dir/.."));

    // A directory replaced by a file after it was opened: what is open is still read,
    // and nothing is reported for the name that is no longer a directory.
    ASSERT_EQ(::rename((d + "/dir").c_str(), (d + "/moved").c_str()), 0);
    touch(d + "/dir", "now a file");
    std::vector<std::string> files, subdirectories;
    EXPECT_TRUE(
        child.read([&](const FileEntry& e) { files.emplace_back(e.name); }, subdirectories));
    EXPECT_EQ(files, std::vector<std::string>{"inside"});
    files.clear();
    EXPECT_TRUE(top.read([&](const FileEntry& e) { files.emplace_back(e.name); }, subdirectories));
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"dir", "file"}));
    EXPECT_EQ(subdirectories, std::vector<std::string>{"moved"});
}

TEST(FileSystem, OneDirectoryHasOneIdentityWhateverItsSpelling) {
    QTemporaryDir tmp;
    const std::string d = tmp.path().toStdString();
    ASSERT_EQ(::mkdir((d + "/d2").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((d + "/d3").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((d + "/d2/sub").c_str(), 0755), 0);
    ASSERT_EQ(::symlink((d + "/d2").c_str(), (d + "/link").c_str()), 0);
    const std::vector<FileIdentity> real = directoryAncestry(d + "/d2");
    ASSERT_GE(real.size(), 3u);
    RunInDirectory(d, [&] {
        for (const std::string& spelling : std::vector<std::string>{
                 "d2", "./d2", d + "/d2/", d + "/link", d + "/d3/../d2", d + "//d2//"})
            EXPECT_EQ(directoryAncestry(spelling), real) << spelling;
    });
    // A subdirectory reached through the link has the real directory above it.
    const std::vector<FileIdentity> sub = directoryAncestry(d + "/link/sub");
    ASSERT_EQ(sub.size(), real.size() + 1);
    EXPECT_EQ(sub[1], real[0]);
    EXPECT_TRUE(directoryAncestry(d + "/missing").empty());
    EXPECT_TRUE(directoryAncestry(touch(d + "/file")).empty());
}

TEST(FileSystem, FileStateTellsHardLinksAndReplacementsApart) {
    QTemporaryDir tmp;
    const std::string d = tmp.path().toStdString();
    touch(d + "/a", "same");
    ASSERT_EQ(::link((d + "/a").c_str(), (d + "/hard").c_str()), 0);
    FileState a, hard, viaDot;
    ASSERT_TRUE(statFileNow(d + "/a", a));
    ASSERT_TRUE(statFileNow(d + "/hard", hard));
    ASSERT_TRUE(statFileNow(d + "/./a", viaDot));
    EXPECT_TRUE(a.regularFile);
    EXPECT_EQ(a.identity, hard.identity);
    EXPECT_EQ(a.directory, viaDot.directory);
    EXPECT_EQ(a.identity, viaDot.identity);
    EXPECT_NE(a.changeStamp, 0u);
    // Replaced by another file of the same size and time: another identity.
    touch(d + "/b", "same");
    ASSERT_EQ(::rename((d + "/b").c_str(), (d + "/a").c_str()), 0);
    FileState replaced;
    ASSERT_TRUE(statFileNow(d + "/a", replaced));
    EXPECT_NE(replaced.identity, a.identity);
    FileState gone;
    EXPECT_FALSE(statFileNow(d + "/nothing", gone));
    EXPECT_FALSE(gone.exists);
}

TEST(FileSystem, AMirrorMountLeadsToTheFileItShows) {
    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString();
    // A space in the mount point: the mount table escapes it.
    const std::string orig = root + "/orig", mirror = root + "/mirror dir";
    ::mkdir(orig.c_str(), 0755);
    ::mkdir(mirror.c_str(), 0755);
    std::ofstream(orig + "/f") << "data";
    if (std::system(("bindfs '" + orig + "' '" + mirror + "' >/dev/null 2>&1").c_str()) != 0)
        GTEST_SKIP() << "bindfs could not mount here (FUSE not allowed)";
    FileState shown, mirrored, elsewhere;
    const bool statted = statFileNow(orig + "/f", shown) && statFileNow(mirror + "/f", mirrored);
    const std::string source = mirroredPath(mirror + "/f");
    const bool trusted = changeTimeTrusted(mirror + "/f");
    std::ofstream(root + "/g") << "data";
    statFileNow(root + "/g", elsewhere);
    (void)std::system(("fusermount -u '" + mirror + "'").c_str());
    ASSERT_TRUE(statted);
    EXPECT_EQ(source, orig + "/f");
    EXPECT_FALSE(trusted);
    EXPECT_TRUE(changeTimeTrusted(orig + "/f"));
    EXPECT_EQ(mirrored.mirrorOf, shown.identity);
    EXPECT_EQ(shown.mirrorOf, FileIdentity{});
    EXPECT_TRUE(oneFile(shown, mirrored));
    EXPECT_FALSE(oneFile(shown, elsewhere));
}
