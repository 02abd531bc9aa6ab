#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "indirectory.h"
#include "search.h"

using namespace fenwa;

namespace {

class Spellings : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        root = tmp.path().toStdString();
        for (const char* d : {"/d2", "/d2/sub", "/d3", "/other"})
            ASSERT_EQ(::mkdir((root + d).c_str(), 0755), 0);
        std::ofstream(root + "/d2/f.jpg") << "photo";
        std::ofstream(root + "/d2/sub/g.jpg") << "photo";
        ASSERT_EQ(::symlink((root + "/d2").c_str(), (root + "/link").c_str()), 0);
    }
    SearchOutcome search(std::vector<std::string> directories, bool subdirectories,
                         Criteria criteria = {}) {
        SearchRequest request;
        request.directories = std::move(directories);
        request.includeSubdirectories = subdirectories;
        request.duplicatesOnly = criteria.any();
        request.criteria = criteria;
        return RunSearch(request);
    }
    QTemporaryDir tmp;
    std::string root;
};

} // namespace

TEST_F(Spellings, OneDirectoryListedTwiceIsReadOnce) {
    // Relative spellings name folders in the test's own.
    RunInDirectory(root, [&] {
        // Each pair names d2 twice; d2 and its subdirectory once each.
        const std::vector<std::pair<std::string, std::string>> pairs = {
            {"d2", root + "/d2"},       {root + "/d2", "link"},    {"link", "d2"},
            {root + "/d3/../d2", "d2"}, {root + "/d2/", "./d2//"}, {"d2", "d2/sub/.."},
        };
        for (const auto& [a, b] : pairs)
            for (bool subdirectories : {true, false}) {
                SCOPED_TRACE(a + " + " + b + (subdirectories ? " with subdirectories" : ""));
                const SearchOutcome all = search({a, b}, subdirectories);
                EXPECT_EQ(all.rows.size(), subdirectories ? 2u : 1u);
                // Nothing forms a group with itself, by size or by content.
                EXPECT_EQ(search({a, b}, subdirectories, {false, true, false, false}).rows.size(),
                          subdirectories ? 2u : 0u);
                EXPECT_EQ(search({a, b}, subdirectories, {false, false, false, true}).rows.size(),
                          subdirectories ? 2u : 0u);
            }
        // A listed subdirectory already read below a listed parent is not read again.
        EXPECT_EQ(search({"d2", "link/sub"}, true).rows.size(), 2u);
    });
}

TEST_F(Spellings, ABindMountOfAListedDirectoryIsNotReadAgain) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "bind mounts need root";
    if (::mount((root + "/d2").c_str(), (root + "/other").c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "bind mounts are not allowed here";
    RunInDirectory(root, [&] {
        // root holds d2 and, through the mount, d2 again: f.jpg and sub/g.jpg once each.
        EXPECT_EQ(search({root, root + "/d2"}, true).rows.size(), 2u);
        const SearchOutcome throughMount = search({"other", "d2"}, true);
        ASSERT_EQ(throughMount.rows.size(), 2u);
        // The first reading in walk order wins.
        EXPECT_EQ(throughMount.rows.directory(0), "other");
    });
    ::umount((root + "/other").c_str());
}

TEST_F(Spellings, HardLinksAreTwoRowsMarkedAsSharingTheirData) {
    ASSERT_EQ(::link((root + "/d2/f.jpg").c_str(), (root + "/d3/f.jpg").c_str()), 0);
    const SearchOutcome found = search({root}, true, {true, false, false, false});
    ASSERT_EQ(found.rows.size(), 2u);
    for (size_t row = 0; row < found.rows.size(); ++row) {
        EXPECT_EQ(found.rows.name(row), "f.jpg");
        EXPECT_TRUE(found.rows.hardLinked(row));
    }
    const SearchOutcome all = search({root}, true);
    for (size_t row = 0; row < all.rows.size(); ++row)
        EXPECT_EQ(all.rows.hardLinked(row), all.rows.name(row) == "f.jpg");
}

TEST_F(Spellings, AStoppedSearchAnswersNothing) {
    SearchMonitor monitor;
    monitor.requestStop();
    SearchRequest request;
    request.directories = {root};
    const SearchOutcome outcome = RunSearch(request, &monitor);
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_EQ(outcome.rows.size(), 0u);
}
