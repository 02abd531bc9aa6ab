// The cache file as the content check uses it: what a second search reads, what it must
// read again, and how the file stays bounded and is emptied.
#include <gtest/gtest.h>

#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <fstream>
#include <set>
#include <string>

#include "contentcheck.h"
#include "likeness.h"
#include "scanner.h"
#include "searchcache.h"

#include <sqlite3.h>
#include <sys/stat.h>

using namespace fenwa;
using fenwa::similar::SearchCache;

namespace {

// Counts what passes through to the cache it wraps.
struct CountingCache : ContentHashCache {
    explicit CountingCache(SearchCache& kept) : inner(kept) {}
    std::vector<std::optional<KeptContentHashes>>
    lookupContents(const std::vector<FileStamp>& stamps) override {
        auto found = inner.lookupContents(stamps);
        for (const auto& f : found)
            hits += f.has_value();
        return found;
    }
    void storeContent(const FileStamp& stamp, const KeptContentHashes& hashes) override {
        ++stores;
        inner.storeContent(stamp, hashes);
    }
    int settleSeconds() const override { return inner.settleSeconds(); }
    SearchCache& inner;
    std::atomic<int> hits{0}, stores{0};
};

class CacheFile : public ::testing::Test {
protected:
    // Short, so that a test meeting a lock held by "another search" soon goes on.
    static constexpr int BusyMilliseconds = 50;
    QTemporaryDir dir;
    std::string cachePath() const {
        return dir.filePath("cache/fingerprints.sqlite").toStdString();
    }
    std::string tree() const { return dir.filePath("tree").toStdString(); }

    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(tree() + "/" + name, std::ios::binary | std::ios::trunc) << bytes;
    }

    // The content search's groups, as sets of names, through a cache opened afresh.
    std::set<std::set<std::string>> search(int settleSeconds, int* hits = nullptr,
                                           int* stores = nullptr,
                                           std::string* written = nullptr) const {
        FileRecordStore rows;
        ReadDirectory(tree(), rows, false);
        SearchCache kept(cachePath(), 0, BusyMilliseconds);
        kept.setSettleSeconds(settleSeconds);
        CountingCache counting(kept);
        ContentCheckOptions options;
        options.cache = &counting;
        const std::vector<uint32_t> order =
            FindDuplicates(rows, Criteria{false, false, false, true}, options);
        std::set<std::set<std::string>> groups;
        std::set<std::string> group;
        const ContentHash* last = nullptr;
        for (uint32_t row : order) {
            const ContentHash* hash = rows.contentHash(row);
            if (last && !(*hash == *last)) {
                groups.insert(group);
                group.clear();
            }
            group.insert(std::string(rows.name(row)));
            last = hash;
        }
        if (!group.empty())
            groups.insert(group);
        if (hits)
            *hits = counting.hits;
        if (stores)
            *stores = counting.stores;
        const std::string problem = kept.writeBack();
        if (written)
            *written = problem;
        else
            EXPECT_EQ(problem, "");
        return groups;
    }
};

std::string bytes(size_t size, char fill, size_t changeAt = std::string::npos) {
    std::string s(size, fill);
    if (changeAt < size)
        s[changeAt] ^= 1;
    return s;
}

} // namespace

TEST_F(CacheFile, SecondSearchReadsNothingAndAChangedFileIsReadAgain) {
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(tree())));
    const size_t large = 300 * 1024; // beyond both edges
    write("small-a", bytes(1000, 'a'));
    write("small-b", bytes(1000, 'a'));
    write("small-c", bytes(1000, 'b'));
    write("large-a", bytes(large, 'x'));
    write("large-b", bytes(large, 'x'));
    write("large-middle", bytes(large, 'x', large / 2)); // same ends, one byte apart
    const std::set<std::set<std::string>> expected = {{"small-a", "small-b"},
                                                      {"large-a", "large-b"}};

    // Files this fresh could still change unseen within one tick of their times.
    int hits = 0, stores = 0;
    EXPECT_EQ(search(3, &hits, &stores), expected);
    EXPECT_EQ(stores, 0);

    EXPECT_EQ(search(0, &hits, &stores), expected);
    EXPECT_EQ(hits, 0);
    EXPECT_EQ(stores, 6 + 3); // every file's ends, then the large ones' whole bytes
    EXPECT_EQ(search(0, &hits, &stores), expected);
    EXPECT_EQ(hits, 6);
    EXPECT_EQ(stores, 0);

    // Rewritten with the same size: a new stamp, so read again, never matched through
    // the old hashes.
    write("large-b", bytes(large, 'x', large / 2));
    write("small-c", bytes(1000, 'a'));
    EXPECT_EQ(search(0, &hits, &stores),
              (std::set<std::set<std::string>>{{"small-a", "small-b", "small-c"},
                                               {"large-b", "large-middle"}}));
    EXPECT_EQ(hits, 4);
}

TEST_F(CacheFile, AFileAnotherSearchHoldsIsLeftAloneAndWrittenWhenFree) {
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(tree())));
    write("a", bytes(1000, 'a'));
    write("b", bytes(1000, 'a'));
    const std::set<std::set<std::string>> expected = {{"a", "b"}};
    int hits = 0, stores = 0;
    std::string written;
    ASSERT_EQ(search(0, &hits, &stores), expected);
    ASSERT_EQ(stores, 2);

    SearchCache before(cachePath(), 0, BusyMilliseconds);
    // "Another search" writing, longer than the busy wait: its journal exists meanwhile.
    const QString path = QString::fromStdString(cachePath());
    const auto inode = [&] {
        struct stat st {};
        return ::stat(cachePath().c_str(), &st) == 0 ? st.st_ino : 0;
    };
    const auto inodeBefore = inode();
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(cachePath().c_str(), &other), SQLITE_OK);
    const auto run = [&](const char* sql) {
        return sqlite3_exec(other, sql, nullptr, nullptr, nullptr);
    };
    ASSERT_EQ(run("BEGIN EXCLUSIVE; INSERT INTO meta VALUES ('other', 'x')"), SQLITE_OK);
    ASSERT_TRUE(QFile::exists(path + "-journal"));

    // A cache opened meanwhile goes without; one opened before stops reading and keeps
    // what it could not write.
    SearchCache during(cachePath(), 0, BusyMilliseconds);
    EXPECT_FALSE(during.usable());
    EXPECT_NE(during.problem(), "");
    EXPECT_EQ(search(0, &hits, &stores, &written), expected); // reads every file
    EXPECT_EQ(hits, 0);
    EXPECT_NE(written, "");
    before.storeContent({1, 1, 100, 7}, {{1, 2}, std::nullopt});
    EXPECT_FALSE(before.lookupContents({{1, 1, 100, 7}})[0].has_value());
    EXPECT_NE(before.flush(), "");

    // Nothing was set aside, renamed or deleted from under the other search.
    EXPECT_FALSE(QFile::exists(path + ".set-aside"));
    EXPECT_TRUE(QFile::exists(path + "-journal"));
    EXPECT_EQ(inode(), inodeBefore);
    ASSERT_EQ(run("COMMIT"), SQLITE_OK);
    sqlite3_close(other);

    EXPECT_EQ(before.flush(), ""); // what waited is written now
    SearchCache after(cachePath(), 0, BusyMilliseconds);
    EXPECT_TRUE(after.lookupContents({{1, 1, 100, 7}})[0].has_value());
    EXPECT_EQ(after.entries(), 2 + 1);
}

TEST_F(CacheFile, UnusedEntriesExpireAndTheOldestGoFirstWhenTheFileIsTooLarge) {
    constexpr int64_t Day = 20000;
    const auto entry = [](uint64_t inode) { return FileStamp{1, inode, 100, 7}; };
    const auto has = [&](SearchCache& cache, uint64_t inode) {
        return cache.lookupContents({entry(inode)}).front().has_value();
    };
    {
        SearchCache cache(cachePath(), Day);
        for (uint64_t inode = 1; inode <= 3; ++inode)
            cache.storeContent(entry(inode), {{inode, inode}, std::nullopt});
        cache.store(entry(4), {similar::PictureOutcome::Fingerprinted, {99, 0, {}}, {}});
    }
    {
        SearchCache cache(cachePath(), Day + 50);
        EXPECT_TRUE(has(cache, 1)); // used: its day moves on
    }
    {
        SearchCache cache(cachePath(), Day + SearchCache::ExpiryDays + 1);
        cache.trim();
        EXPECT_TRUE(has(cache, 1));
        EXPECT_FALSE(has(cache, 2));
        similar::PictureReading reading;
        EXPECT_EQ(cache.lookup(entry(4), reading, false), SearchCache::Known::No);
        EXPECT_EQ(cache.entries(), 1);
    }

    const int64_t later = Day + 200;
    {
        SearchCache cache(cachePath(), later - 2);
        for (uint64_t inode = 1000; inode < 21000; ++inode)
            cache.storeContent(entry(inode), {{inode, inode}, ContentHash{inode, 0}});
    }
    SearchCache cache(cachePath(), later);
    for (uint64_t inode = 30000; inode < 50000; ++inode)
        cache.storeContent(entry(inode), {{inode, inode}, ContentHash{inode, 0}});
    cache.flush();
    cache.trim(512 * 1024);
    EXPECT_FALSE(has(cache, 1000));
    EXPECT_TRUE(has(cache, 30000)); // today's stay
    EXPECT_EQ(cache.entries(), 20000);

    const int64_t before = QFileInfo(QString::fromStdString(cachePath())).size();
    EXPECT_TRUE(cache.clear());
    EXPECT_EQ(cache.entries(), 0);
    EXPECT_LT(QFileInfo(QString::fromStdString(cachePath())).size(), before / 10);
}

TEST_F(CacheFile, DamageFoundInUseStopsItsUseAndSetsTheFileAside) {
    constexpr int64_t Day = 20000;
    std::vector<FileStamp> stamps;
    for (uint64_t inode = 1; inode <= 20000; ++inode)
        stamps.push_back({1, inode, 100, 7});
    {
        SearchCache cache(cachePath(), Day);
        for (const FileStamp& s : stamps)
            cache.storeContent(s, {{s.inode, 1}, std::nullopt});
    }
    const QString path = QString::fromStdString(cachePath());
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.seek(file.size() / 2 / 4096 * 4096));
        file.write(QByteArray(4096, '\xff'));
    }
    {
        // Checked whole today already, so only the lookups can find the damage.
        SearchCache cache(cachePath(), Day);
        const auto found = cache.lookupContents(stamps);
        EXPECT_TRUE(std::none_of(found.begin(), found.end(), [](const auto& f) { return f; }));
    }
    EXPECT_TRUE(QFile::exists(path + ".set-aside"));
    EXPECT_EQ(SearchCache(cachePath(), Day).entries(), 0);
}

namespace {

// Ten pictures, told apart by the digit their names end in.
similar::PictureReading readingOfName(const std::string& path) {
    const uint64_t digit = uint64_t(path[path.size() - 5] - '0');
    return {similar::PictureOutcome::Fingerprinted,
            {digit * 0x0101010101010101ull, digit, {digit, digit + 1, digit + 2}},
            std::string(1, char('a' + digit))};
}

} // namespace

TEST_F(CacheFile, AValueOfTheWrongTypeSetsTheFileAside) {
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(tree())));
    for (char digit = '0'; digit <= '9'; ++digit)
        write(std::string("p") + digit + ".bmp", std::string(1, digit));
    FileRecordStore rows;
    ReadDirectory(tree(), rows, false);
    ASSERT_EQ(rows.size(), 10u);
    {
        SearchCache cache(cachePath());
        cache.setSettleSeconds(0);
        for (size_t row = 0; row < rows.size(); ++row)
            similar::CachedPicture(&cache, rows, row, false, readingOfName);
        cache.storeContent({1, 1, 100, 7}, {{1, 1}, std::nullopt});
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(cachePath().c_str(), &db), SQLITE_OK);
    // Text where numbers belong; read as numbers they would all be 0.
    ASSERT_EQ(sqlite3_exec(db, "UPDATE fingerprints SET hash = 'x'; UPDATE contents SET seen = 'x'",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    {
        SearchCache cache(cachePath());
        EXPECT_FALSE(cache.lookupContents({{1, 1, 100, 7}})[0].has_value());
        for (size_t row = 0; row < rows.size(); ++row)
            EXPECT_EQ(similar::CachedPicture(&cache, rows, row, false, readingOfName).fingerprint,
                      readingOfName(rows.fullPath(row)).fingerprint);
    }
    EXPECT_TRUE(QFile::exists(QString::fromStdString(cachePath() + ".set-aside")));
}

namespace {

using similar::PictureOutcome;
using similar::PictureReading;
using Known = SearchCache::Known;

// What each kind of entry gives back, with and without its print.
// A well-formed print of a small made-up picture.
std::string samplePrint() {
    std::vector<uint8_t> grey(40 * 30);
    for (size_t i = 0; i < grey.size(); ++i)
        grey[i] = uint8_t(i * 7);
    return fenwa::similar::MakeLikenessPrint(grey.data(), 40, 30, 40, 1);
}

struct Entry {
    PictureReading stored;
    Known withoutPrint, withPrint;
};
const Entry Entries[] = {
    {{PictureOutcome::Fingerprinted, {1, 2, {3, 4, 5}}, samplePrint()}, Known::Yes, Known::Yes},
    {{PictureOutcome::Fingerprinted, {~0ull, 7, {~1ull, 0, 9}}, {}},
     Known::WithoutPrint,
     Known::WithoutPrint},
    {{PictureOutcome::NearlyBlank, {}, {}}, Known::Yes, Known::Yes},
    {{PictureOutcome::Undecodable, {}, {}}, Known::Yes, Known::Yes},
};

FileStamp entryKey(size_t i) {
    return {1, 100 + i, 100, 7};
}

} // namespace

TEST_F(CacheFile, OutcomesAndPrintsComeBackAsStored) {
    {
        SearchCache cache(cachePath());
        for (size_t i = 0; i < std::size(Entries); ++i)
            cache.store(entryKey(i), Entries[i].stored);
    }
    SearchCache cache(cachePath());
    for (size_t i = 0; i < std::size(Entries); ++i) {
        const Entry& e = Entries[i];
        for (bool withPrint : {false, true}) {
            PictureReading reading;
            EXPECT_EQ(cache.lookup(entryKey(i), reading, withPrint),
                      withPrint ? e.withPrint : e.withoutPrint)
                << i;
            EXPECT_EQ(reading.outcome, e.stored.outcome) << i;
            EXPECT_EQ(reading.fingerprint, e.stored.fingerprint) << i;
            EXPECT_EQ(reading.print, withPrint ? e.stored.print : "") << i;
        }
    }
}

TEST_F(CacheFile, AnOlderLayoutKeepsItsContentHashesAndStartsItsFingerprintsAfresh) {
    QDir().mkpath(QFileInfo(QString::fromStdString(cachePath())).absolutePath());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(cachePath().c_str(), &db), SQLITE_OK);
    const std::string key = "device INTEGER NOT NULL, inode INTEGER NOT NULL, size INTEGER NOT "
                            "NULL, stamp INTEGER NOT NULL, version INTEGER NOT NULL, ";
    const std::string primary =
        " seen INTEGER NOT NULL, PRIMARY KEY (device, inode, size, stamp, version)) WITHOUT "
        "ROWID;";
    const std::string layout3 =
        "CREATE TABLE meta (name TEXT PRIMARY KEY, value TEXT NOT NULL);"
        "INSERT INTO meta VALUES ('application', 'fenwa-fingerprints'), ('layout', '3'),"
        " ('trimmed', '0'), ('checked', '0');"
        "CREATE TABLE fingerprints (" +
        key + "hash INTEGER, colour INTEGER," + primary + "CREATE TABLE contents (" + key +
        "edges_low INTEGER NOT NULL, edges_high INTEGER NOT NULL, whole_low INTEGER,"
        " whole_high INTEGER," +
        primary + "INSERT INTO fingerprints VALUES (1, 100, 100, 7, 2, 5, 6, 1);" +
        "INSERT INTO contents VALUES (1, 1, 100, 7, " + std::to_string(ContentHashVersion) +
        ", 11, 12, NULL, NULL, 1);";
    ASSERT_EQ(sqlite3_exec(db, layout3.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    SearchCache cache(cachePath());
    ASSERT_TRUE(cache.usable()) << cache.problem();
    const auto kept = cache.lookupContents({{1, 1, 100, 7}})[0];
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(kept->edges, (ContentHash{11, 12}));
    EXPECT_EQ(cache.entries(), 1); // the old fingerprint is gone
    cache.store(entryKey(0), Entries[0].stored);
    EXPECT_EQ(cache.flush(), "");
    PictureReading reading;
    EXPECT_EQ(cache.lookup(entryKey(0), reading, true), Known::Yes);
    EXPECT_EQ(reading.print, Entries[0].stored.print);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(cachePath() + ".set-aside")));
}

TEST_F(CacheFile, AMalformedFingerprintEntryMarksTheFileDamaged) {
    const struct {
        const char* change;
        bool withPrint;
    } cases[] = {
        {"print = 'text'", false},                         // not a BLOB
        {"print = X''", true},                             // a BLOB that is no print
        {"outcome = 7", false},    {"outcome = 2", false}, // nearly blank, yet with a hash
        {"centre1 = 'x'", false},
    };
    for (const auto& c : cases) {
        QFile::remove(QString::fromStdString(cachePath() + ".set-aside"));
        {
            SearchCache cache(cachePath());
            cache.clear();
            cache.store(entryKey(0), Entries[0].stored);
        }
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(cachePath().c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, (std::string("UPDATE fingerprints SET ") + c.change).c_str(),
                               nullptr, nullptr, nullptr),
                  SQLITE_OK)
            << c.change;
        sqlite3_close(db);
        {
            SearchCache cache(cachePath());
            PictureReading reading;
            EXPECT_EQ(cache.lookup(entryKey(0), reading, c.withPrint), Known::No) << c.change;
            EXPECT_EQ(reading.print, "") << c.change;
        }
        EXPECT_TRUE(QFile::exists(QString::fromStdString(cachePath() + ".set-aside"))) << c.change;
    }
}

// fenwa-cli's front end names the file without Qt: where the window's Qt keeps it, or
// the two would keep two caches.
TEST(CachePath, IsWhereTheWindowsQtPutsIt) {
    const QByteArray home = qgetenv("HOME");
    const std::optional<QByteArray> xdg = qEnvironmentVariableIsSet("XDG_CACHE_HOME")
                                              ? std::optional(qgetenv("XDG_CACHE_HOME"))
                                              : std::nullopt;
    struct Case {
        const char* home;
        const char* xdg; // null: not set
    };
    for (const Case c : {Case{"/home/someone", nullptr}, Case{"/home//someone/./x/../", nullptr},
                         Case{"", nullptr}, Case{"relative/home", nullptr},
                         Case{"/home/someone", "/elsewhere/cache/"}, Case{"/home/someone", ""},
                         Case{"/home/someone", "relative/cache"}}) {
        SCOPED_TRACE(std::string("HOME=") + c.home +
                     " XDG_CACHE_HOME=" + (c.xdg ? c.xdg : "(not set)"));
        qputenv("HOME", c.home);
        if (c.xdg)
            qputenv("XDG_CACHE_HOME", c.xdg);
        else
            qunsetenv("XDG_CACHE_HOME");
        EXPECT_EQ(
            SearchCache::defaultPath(),
            QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation).toStdString() +
                "/Zantrel/Fenwa/fingerprints.sqlite");
    }
    qputenv("HOME", home);
    if (xdg)
        qputenv("XDG_CACHE_HOME", *xdg);
    else
        qunsetenv("XDG_CACHE_HOME");
}
