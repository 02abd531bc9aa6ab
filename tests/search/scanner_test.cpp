#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <ctime>
#include <fstream>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "scanner.h"

using namespace fenwa;

namespace {

void makeFile(const std::string& path, size_t bytes = 0) {
    std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
}

void makeDir(const std::string& path) {
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << path;
}

struct CountingObserver : ScanObserver {
    int started = 0;
    std::vector<std::pair<size_t, size_t>> steps;
    void readingStarted() override { ++started; }
    void progress(size_t step, size_t count) override { steps.emplace_back(step, count); }
};

class Scanner : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        root = tmp.path().toStdString();
    }
    QTemporaryDir tmp;
    std::string root;
};

} // namespace

TEST_F(Scanner, DirectoriesInPreOrderWithSiblingsSortedIgnoringCase) {
    for (const char* d :
         {"/b", "/b/z", "/b/Y", "/A", "/c", "/c/.hidden", "/c/.hidden/deep", "/A/1"})
        makeDir(root + d);
    std::vector<std::string> list;
    EXPECT_EQ(CollectDirectories(root + "/", list), 7u);
    std::vector<std::string> expected;
    for (const char* d : {"", "/A", "/A/1", "/b", "/b/Y", "/b/z", "/c"})
        expected.push_back(root + d);
    EXPECT_EQ(list, expected);
}

TEST_F(Scanner, ListSubdirectoriesKeepsTheListSorted) {
    for (const char* d : {"/m", "/K", "/a"})
        makeDir(root + d);
    std::vector<std::string> list{root + "/L"};
    EXPECT_EQ(ListSubdirectories(root, list), 3u);
    EXPECT_EQ(list, (std::vector<std::string>{root + "/a", root + "/K", root + "/L", root + "/m"}));
}

TEST_F(Scanner, RecordsCarryNameDirectorySizeTypeTimeAndIcon) {
    makeFile(root + "/photo.jpg", 1000);
    makeFile(root + "/.profile", 3);
    makeFile(root + "/archive.tar.gz");
    makeFile(root + "/README", 5);
    makeDir(root + "/.hidden");
    makeFile(root + "/.hidden/inside.jpg");

    // 13:05:59 local time shows minute 05.
    std::tm local{};
    local.tm_year = 2021 - 1900;
    local.tm_mon = 6;
    local.tm_mday = 4;
    local.tm_hour = 13;
    local.tm_min = 5;
    local.tm_sec = 59;
    local.tm_isdst = -1;
    timeval times[2] = {{std::mktime(&local), 0}, {std::mktime(&local), 0}};
    ASSERT_EQ(::utimes((root + "/photo.jpg").c_str(), times), 0);

    FileRecordStore store;
    EXPECT_EQ(ReadDirectory(root, store, true), 4u);
    std::map<std::string, size_t> byName;
    for (size_t r = 0; r < store.size(); ++r)
        byName[std::string(store.name(r))] = r;
    ASSERT_EQ(byName.size(), 4u);
    EXPECT_EQ(byName.count("inside.jpg"), 0u);

    size_t p = byName["photo.jpg"];
    EXPECT_EQ(store.text(p, ColDirectory), root);
    EXPECT_EQ(store.text(p, ColSize), "1000");
    EXPECT_EQ(store.text(p, ColType), ".jpg");
    EXPECT_EQ(store.text(p, ColTime), "2021/07/04 13:05");
    EXPECT_EQ(store.icon(p), IconImageFile);
    EXPECT_EQ(store.text(byName[".profile"], ColType), ".profile");
    EXPECT_EQ(store.text(byName["archive.tar.gz"], ColType), ".gz");
    EXPECT_EQ(store.text(byName["archive.tar.gz"], ColSize), "0");
    EXPECT_EQ(store.icon(byName["README"]), IconOtherFile);
    EXPECT_EQ(store.text(byName["README"], ColType), "");
}

TEST_F(Scanner, DirectoryTextDependsOnIncludeSubdirectories) {
    makeFile(root + "/name");
    FileRecordStore with, without;
    ReadDirectory(root + "/", with, true);
    ReadDirectory(root + "/", without, false);
    ASSERT_EQ(with.size(), 1u);
    ASSERT_EQ(without.size(), 1u);
    EXPECT_EQ(with.directory(0), root);
    EXPECT_EQ(without.directory(0), root + "/");
    EXPECT_EQ(with.fullPath(0), root + "/name");
    EXPECT_EQ(without.fullPath(0), root + "/name");
}

TEST_F(Scanner, WithoutSubdirectoriesOnlyTheDirectoryItselfAndNoProgress) {
    makeFile(root + "/top");
    makeDir(root + "/sub");
    makeFile(root + "/sub/below");
    FileRecordStore store;
    CountingObserver observer;
    EXPECT_EQ(ReadDirectory(root, store, false, &observer), 1u);
    EXPECT_EQ(observer.started, 1);
    EXPECT_TRUE(observer.steps.empty());

    FileRecordStore all;
    CountingObserver observer2;
    EXPECT_EQ(ReadDirectory(root, all, true, &observer2), 2u);
    EXPECT_EQ(observer2.steps, (std::vector<std::pair<size_t, size_t>>{{0, 2}, {1, 2}}));
    // Files of a directory come before those of its subdirectories.
    EXPECT_EQ(all.name(0), "top");
    EXPECT_EQ(all.name(1), "below");
}

TEST_F(Scanner, MissingAndUnreadableDirectoriesContributeNothing) {
    FileRecordStore store;
    EXPECT_EQ(ReadDirectory(root + "/missing", store, true), 0u);
    EXPECT_EQ(ReadDirectory(root + "/missing", store, false), 0u);
    makeDir(root + "/locked");
    makeFile(root + "/locked/secret");
    makeFile(root + "/open");
    ::chmod((root + "/locked").c_str(), 0);
    if (::access((root + "/locked").c_str(), R_OK) == 0)
        GTEST_SKIP() << "running with permissions that read everything";
    EXPECT_EQ(ReadDirectory(root, store, true), 1u);
    ::chmod((root + "/locked").c_str(), 0755);
}

TEST_F(Scanner, DeepNestingDoesNotExhaustTheStack) {
    // Deep enough that a recursive walk with a large frame would be at risk, short enough
    // for ordinary path limits.
    std::string path = root;
    const int depth = 1500;
    for (int i = 0; i < depth; ++i) {
        path += "/d";
        makeDir(path);
    }
    makeFile(path + "/leaf");
    FileRecordStore store;
    std::vector<std::string> dirs;
    EXPECT_EQ(CollectDirectories(root, dirs), size_t(depth + 1));
    EXPECT_EQ(ReadDirectory(root, store, true), 1u);
}
