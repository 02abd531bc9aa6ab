#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <fstream>
#include <functional>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "grouping.h"
#include "indirectory.h"
#include "search.h"
#include "searchsession.h"

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
    ASSERT_EQ(::link((root + "/d2/f.jpg").c_str(), (root + "/other/f.jpg").c_str()), 0);
    const SearchOutcome found = search({root}, true, {true, false, false, false});
    ASSERT_EQ(found.rows.size(), 3u);
    for (size_t row = 0; row < found.rows.size(); ++row) {
        EXPECT_EQ(found.rows.name(row), "f.jpg");
        EXPECT_TRUE(found.rows.hardLinked(row));
    }
    const SearchOutcome all = search({root}, true);
    for (size_t row = 0; row < all.rows.size(); ++row)
        EXPECT_EQ(all.rows.hardLinked(row), all.rows.name(row) == "f.jpg");
}

TEST_F(Spellings, GroupsOfTreesReadSideBySideAreThoseOfTheRowsInReadingOrder) {
    // Many subtrees (joined to the rows while the others are read), then a listed folder
    // without subfolders, whose rows come after the walk: each search's groups are those
    // of its rows as Find All reads them.
    for (int i = 0; i < 30; ++i) {
        const std::string sub = root + "/d3/s" + std::to_string(i);
        ASSERT_EQ(::mkdir(sub.c_str(), 0755), 0);
        for (int j = 0; j < 6; ++j)
            std::ofstream(sub + "/F" + std::to_string((i * j) % 7) + (j % 2 ? ".jpg" : ".JPG"))
                << std::string(size_t((i + j) % 9), 'x');
    }
    for (int j = 0; j < 9; ++j)
        std::ofstream(root + "/other/f" + std::to_string(j % 4) + ".jpg")
            << std::string(size_t(j), 'y');
    const std::vector<std::string> listed = {root + "/d3", root + "/other"};
    const SearchOutcome all = search(listed, true);
    ASSERT_GT(all.rows.size(), 150u);
    for (const Criteria& criteria :
         {Criteria{true, false, false, false}, Criteria{false, true, false, false},
          Criteria{true, true, false, false}, Criteria{false, false, true, false}}) {
        std::vector<std::string> expected, found;
        for (uint32_t row : FindDuplicateRows(all.rows, criteria))
            expected.push_back(all.rows.fullPath(row));
        const SearchOutcome grouped = search(listed, true, criteria);
        for (size_t row = 0; row < grouped.rows.size(); ++row)
            found.push_back(grouped.rows.fullPath(row));
        EXPECT_FALSE(expected.empty());
        EXPECT_EQ(found, expected) << criteria.name << criteria.size << criteria.time;
    }
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

namespace {

// A cache that keeps nothing and fails to write back, noting the thread that asked.
struct FailingCache : ContentHashCache {
    std::thread::id writtenFrom;
    std::vector<std::optional<KeptContentHashes>>
    lookupContents(const std::vector<FileStamp>& stamps) override {
        return std::vector<std::optional<KeptContentHashes>>(stamps.size());
    }
    void storeContent(const FileStamp&, const KeptContentHashes&) override {}
    std::string writeBack() override {
        writtenFrom = std::this_thread::get_id();
        return "disk full";
    }
};

// A similar stage that only ends when the search is stopped.
struct UntilStopped : SimilarStage {
    std::vector<uint32_t> split(FileRecordStore&, const std::vector<uint32_t>&, const Criteria&,
                                const ContentCheckOptions& options, SimilarLeftOut*) override {
        while (!options.stop->load())
            std::this_thread::yield();
        return {};
    }
};

// A search through a session, its end taken from the event loop as the window takes it.
struct SessionRun {
    std::vector<SearchStage> stages;
    std::shared_ptr<const SearchResult> result;
    std::optional<QString> failure;

    explicit SessionRun(SearchRequest request, bool stopAtOnce = false) {
        static int argc = 1;
        static char name[] = "search_tests";
        static char* argv[] = {name, nullptr};
        static QCoreApplication* app =
            QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
        (void)app;
        SearchSession session;
        QObject::connect(&session, &SearchSession::stageEntered,
                         [this](SearchStage stage) { stages.push_back(stage); });
        QObject::connect(&session, &SearchSession::finished,
                         [this](std::shared_ptr<const SearchResult> r) { result = r; });
        QObject::connect(&session, &SearchSession::failed,
                         [this](const QString& message) { failure = message; });
        EXPECT_TRUE(session.start(std::move(request)));
        EXPECT_TRUE(session.running());
        if (stopAtOnce)
            session.stop();
        while (session.running())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
};

} // namespace

TEST_F(Spellings, ASessionHandsBackTheGroupsWithWhatTheyWereBuiltWith) {
    auto cache = std::make_shared<FailingCache>();
    SearchRequest request;
    request.directories = {root};
    request.duplicatesOnly = true;
    request.criteria.size = true;
    request.criteria.content = true;
    request.similarLevel = 2;
    request.tools = [cache](const SearchRequest&) { return SearchTools{cache, nullptr}; };
    SessionRun run(request);
    ASSERT_TRUE(run.result);
    EXPECT_FALSE(run.failure);
    const SearchResult& found = *run.result;
    EXPECT_FALSE(found.cancelled);
    EXPECT_TRUE(found.duplicateList);
    EXPECT_TRUE(found.criteria.size && found.criteria.content && !found.criteria.name);
    EXPECT_EQ(found.similarLevel, 2);
    ASSERT_EQ(found.rows.size(), 2u); // f.jpg and g.jpg hold the same bytes
    EXPECT_TRUE(found.rows.sameGroup(0, 1));
    // Every stage reached the listener, the short grouping too, in order.
    EXPECT_EQ(run.stages, (std::vector<SearchStage>{SearchStage::Reading, SearchStage::Grouping,
                                                    SearchStage::CheckingContent}));
    // The cache was written back by the search's own thread, and its trouble reported.
    EXPECT_EQ(found.cacheProblem, "disk full");
    EXPECT_NE(cache->writtenFrom, std::thread::id());
    EXPECT_NE(cache->writtenFrom, std::this_thread::get_id());
    // A list takes the rows without a copy only when nobody else holds the result.
    std::shared_ptr<const SearchResult> shared = run.result;
    EXPECT_EQ(TakeRows(shared).size(), 2u);
    EXPECT_EQ(found.rows.size(), 2u);
    shared.reset();
    std::shared_ptr<const SearchResult> sole = std::move(run.result);
    EXPECT_EQ(TakeRows(sole).size(), 2u);
    EXPECT_EQ(sole->rows.size(), 0u);
}

TEST_F(Spellings, AStoppedSessionEndsCancelled) {
    SearchRequest request;
    request.directories = {root};
    request.duplicatesOnly = true;
    request.criteria.similar = true;
    request.tools = [](const SearchRequest&) {
        return SearchTools{nullptr, std::make_shared<UntilStopped>()};
    };
    const SessionRun run(request, true);
    ASSERT_TRUE(run.result);
    EXPECT_TRUE(run.result->cancelled);
    EXPECT_EQ(run.result->rows.size(), 0u);
}

TEST_F(Spellings, WhateverASearchThrowsBecomesAFailure) {
    const std::vector<std::function<SearchTools(const SearchRequest&)>> throwers = {
        [](const SearchRequest&) -> SearchTools { throw std::runtime_error("no room"); },
        [](const SearchRequest&) -> SearchTools { throw 7; },
    };
    for (const auto& tools : throwers) {
        SearchRequest request;
        request.directories = {root};
        request.tools = tools;
        const SessionRun run(request);
        EXPECT_FALSE(run.result);
        ASSERT_TRUE(run.failure);
        EXPECT_FALSE(run.failure->isEmpty());
    }
    // A similar search with no stage to do it is refused, not run half.
    SearchRequest request;
    request.directories = {root};
    request.duplicatesOnly = true;
    request.criteria.similar = true;
    EXPECT_TRUE(SessionRun(request).failure);
}

namespace {

// One small tree read with each filter: which names come out, and what was counted.
class Filters : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        root = tmp.path().toStdString();
        for (const char* d : {"/keep", "/keep/mirror", "/skip", "/skip/deep", "/zed"})
            ASSERT_EQ(::mkdir((root + d).c_str(), 0755), 0);
        const std::pair<const char*, size_t> files[] = {
            {"/a.jpg", 100},     {"/b.txt", 0},           {"/c.png", 5000},
            {"/big.bin", 3000},  {"/keep/d.gif", 10},     {"/keep/e.doc", 0},
            {"/skip/f.jpg", 50}, {"/skip/deep/g.txt", 1}, {"/zed/h.JPG", 2048}};
        for (const auto& [name, bytes] : files)
            std::ofstream(root + name, std::ios::binary) << std::string(bytes, 'x');
        ASSERT_EQ(::symlink((root + "/skip").c_str(), (root + "/link").c_str()), 0);
    }
    SearchOutcome search(const SearchFilter& filter, bool subdirectories = true,
                         std::vector<std::string> directories = {}) {
        SearchRequest request;
        request.directories = directories.empty() ? std::vector{root} : std::move(directories);
        request.includeSubdirectories = subdirectories;
        request.filter = filter;
        return RunSearch(request);
    }
    static std::set<std::string> names(const SearchOutcome& found) {
        std::set<std::string> out;
        for (size_t r = 0; r < found.rows.size(); ++r)
            out.insert(std::string(found.rows.name(r)));
        return out;
    }
    QTemporaryDir tmp;
    std::string root;
};

} // namespace

TEST_F(Filters, EachFilterLeavesOutWhatItSays) {
    struct Case {
        const char* what;
        std::function<void(SearchFilter&)> set;
        std::set<std::string> names;
        size_t filesLeftOut;
        size_t foldersSkipped = 0;
    };
    const std::set<std::string> all = {"a.jpg", "b.txt", "c.png", "big.bin", "d.gif",
                                       "e.doc", "f.jpg", "g.txt", "h.JPG"};
    const std::vector<Case> cases = {
        {"defaults", [](SearchFilter&) {}, all, 0},
        {"at least 50 bytes",
         [](SearchFilter& f) { f.minSize = 50; },
         {"a.jpg", "c.png", "big.bin", "f.jpg", "h.JPG"},
         4},
        {"at most 2k",
         [](SearchFilter& f) { f.maxSize = 2048; },
         {"a.jpg", "b.txt", "d.gif", "e.doc", "f.jpg", "g.txt", "h.JPG"},
         2},
        {"10 to 100 bytes",
         [](SearchFilter& f) {
             f.minSize = 10;
             f.maxSize = 100;
         },
         {"a.jpg", "d.gif", "f.jpg"},
         6},
        {"no empty files",
         [](SearchFilter& f) { f.skipEmpty = true; },
         {"a.jpg", "c.png", "big.bin", "d.gif", "f.jpg", "g.txt", "h.JPG"},
         2},
        {"pictures only",
         [](SearchFilter& f) { f.picturesOnly = true; },
         {"a.jpg", "c.png", "d.gif", "f.jpg", "h.JPG"},
         4},
        {"a skipped folder and all below it",
         [this](SearchFilter& f) { f.skipFolders = {root + "/skip"}; },
         {"a.jpg", "b.txt", "c.png", "big.bin", "d.gif", "e.doc", "h.JPG"},
         0,
         1},
        {"a skipped folder spelled through a link",
         [this](SearchFilter& f) {
             f.skipFolders = {root + "/link/", root + "/zed/../skip"};
         },
         {"a.jpg", "b.txt", "c.png", "big.bin", "d.gif", "e.doc", "h.JPG"},
         0,
         1},
        {"a folder outside the tree and one not there",
         [](SearchFilter& f) {
             f.skipFolders = {"/proc", "/no/such/folder"};
         },
         all, 0},
        {"everything at once",
         [this](SearchFilter& f) {
             f.minSize = 1;
             f.maxSize = 4096;
             f.picturesOnly = true;
             f.skipFolders = {root + "/keep"};
         },
         {"a.jpg", "f.jpg", "h.JPG"},
         4,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SearchFilter filter;
        c.set(filter);
        const SearchOutcome found = search(filter);
        EXPECT_EQ(names(found), c.names);
        EXPECT_EQ(found.filtered.on, filter.any());
        EXPECT_EQ(found.filtered.files, c.filesLeftOut);
        EXPECT_EQ(found.filtered.folders, c.foldersSkipped);
    }
    // The defaults give exactly the rows of a reading without a filter, in their order.
    FileRecordStore plain;
    ReadDirectory(root, plain, true);
    const SearchOutcome unfiltered = search({});
    ASSERT_EQ(unfiltered.rows.size(), plain.size());
    for (size_t r = 0; r < plain.size(); ++r)
        EXPECT_EQ(unfiltered.rows.fullPath(r), plain.fullPath(r));
    // A folder not there is named; the search goes on.
    SearchFilter missing;
    missing.skipFolders = {root + "/gone"};
    EXPECT_EQ(search(missing).filtered.notFound, std::vector<std::string>{root + "/gone"});
    // A listed directory that is itself skipped gives nothing, with or without its
    // subdirectories; the filter applies without them too.
    SearchFilter skipTop;
    skipTop.skipFolders = {root};
    EXPECT_TRUE(search(skipTop).rows.empty());
    EXPECT_TRUE(search(skipTop, false).rows.empty());
    SearchFilter pictures;
    pictures.picturesOnly = true;
    EXPECT_EQ(names(search(pictures, false, {root + "/keep"})), std::set<std::string>{"d.gif"});
}

TEST_F(Filters, ASkippedFolderBindMountedInsideTheTreeIsSkippedThereToo) {
    if (::geteuid() != 0 || ::mount((root + "/skip").c_str(), (root + "/keep/mirror").c_str(),
                                    nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "bind mounts are not allowed here";
    SearchFilter filter;
    filter.skipFolders = {root + "/skip"};
    const SearchOutcome found = search(filter);
    // Without the filter the mount is where the walk reads the folder first.
    const SearchOutcome unfiltered = search({});
    ::umount((root + "/keep/mirror").c_str());
    EXPECT_EQ(names(found).count("f.jpg"), 0u);
    EXPECT_EQ(names(found).count("g.txt"), 0u);
    EXPECT_EQ(found.filtered.folders, 1u);
    EXPECT_EQ(names(unfiltered).count("f.jpg"), 1u);
}

TEST(FileSizes, TextsAreReadAsBytesOrWithAUnit) {
    const std::pair<const char*, int64_t> good[] = {
        {"0", 0},           {"123", 123},
        {" 10 k ", 10240},  {"1.5M", 1572864},
        {"2G", 2147483648}, {"3kb", 3072},
        {"4 MB", 4194304},  {"7B", 7},
        {".5k", 512},       {"9223372036854775806", 9223372036854775806}};
    for (const auto& [text, bytes] : good)
        EXPECT_EQ(ParseFileSize(text), std::optional<int64_t>(bytes)) << text;
    for (const char* bad : {"", " ", "k", "-1", "1.5", "1x", "12 34", "1 k b", "1kk",
                            "99999999999999999999", "9000000000G", "1,5M"})
        EXPECT_EQ(ParseFileSize(bad), std::nullopt) << bad;

    SearchFilter filter;
    EXPECT_EQ(ReadFilterSizes(" ", "", filter), "");
    EXPECT_EQ(filter.minSize, 0);
    EXPECT_EQ(filter.maxSize, 0);
    EXPECT_EQ(ReadFilterSizes("1k", "2k", filter), "");
    EXPECT_EQ(filter.maxSize, 2048);
    EXPECT_NE(ReadFilterSizes("lots", "", filter).find("'lots' is not a size"), std::string::npos);
    EXPECT_NE(ReadFilterSizes("", "1x", filter).find("maximum size '1x'"), std::string::npos);
    EXPECT_NE(ReadFilterSizes("2M", "1M", filter).find("smaller than the minimum"),
              std::string::npos);
}
