#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <fstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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
