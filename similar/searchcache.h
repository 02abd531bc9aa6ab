#pragma once
// Fingerprints and the content check's hashes kept between searches, in an SQLite file
// under the user's cache directory. An entry is keyed by everything that changes when the
// file does (device, inode, size and the change stamp of its modification and
// status-change times) and by the version of what computed it, so a changed file never
// matches an old entry. A file that is damaged, someone else's, or of a newer layout is
// set aside (only while nobody else holds it) and a new one started; damage found while in
// use stops its use at once. A file another search holds past the busy wait is not
// damaged: this search goes without it, and the file is left as it is.
//
// Growth is bounded: every entry records the day it was last used; entries unused for
// ExpiryDays go (checked once a day), and when the file holds more than its size bound
// the least recently used days go first. Safe to use from several threads.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "contentcheck.h"
#include "filerecord.h"
#include "fingerprint.h"
#include "picturefingerprint.h"

struct sqlite3;
struct sqlite3_stmt;

namespace fenwa::similar {

using FingerprintKey = FileStamp;

class SearchCache : public ContentHashCache {
public:
    static constexpr int ExpiryDays = 90;
    static constexpr int64_t DefaultSizeBound = int64_t(256) << 20;

    static constexpr int DefaultBusyMilliseconds = 2000;

    // Opens or creates the file (and its directory). Without a usable file the cache
    // finds nothing and keeps nothing (problem() says why). `today` (days since 1970) is
    // the clock's but for tests; `busyMilliseconds` is how long a lock another search
    // holds is waited for.
    explicit SearchCache(const std::string& path, int64_t today = 0,
                         int busyMilliseconds = DefaultBusyMilliseconds);
    // Writes what writeBack() did not, as a last resort; sets a damaged file aside.
    ~SearchCache() override;
    SearchCache(const SearchCache&) = delete;
    SearchCache& operator=(const SearchCache&) = delete;

    // Zantrel/Fenwa/fingerprints.sqlite under the XDG cache directory (the window's
    // QStandardPaths::CacheLocation).
    static std::string defaultPath();

    bool usable() const { return db_ != nullptr; }
    // Why the file could not be used, when it could not; empty otherwise.
    const std::string& problem() const { return problem_; }
    // Whether the key is known, and then what reading its picture gave. A fingerprinted
    // picture may be known without its likeness print: then only the print is left to
    // make. The print is read only `withPrint` (Known::Yes then means it is in `reading`).
    enum class Known { No, WithoutPrint, Yes };
    Known lookup(const FingerprintKey& key, PictureReading& reading, bool withPrint);
    // Kept in memory until flush(); a print is kept as given (an empty one as none).
    void store(const FingerprintKey& key, PictureReading reading);

    std::vector<std::optional<KeptContentHashes>>
    lookupContents(const std::vector<FileStamp>& stamps) override;
    void storeContent(const FileStamp& stamp, const KeptContentHashes& hashes) override;
    int settleSeconds() const override { return settleSeconds_; }
    void setSettleSeconds(int seconds) { settleSeconds_ = seconds; }

    // Writes what was stored and the days entries were used on, all or nothing. Answers
    // what went wrong (empty when nothing did); what could not be written stays pending
    // for the next flush.
    std::string flush();
    // Drops expired entries, then the least recently used until the file's used pages
    // fit `bound` bytes, and gives the freed pages back to the file system. Answers what
    // went wrong, as flush() does.
    std::string trim(int64_t bound = DefaultSizeBound);
    // flush() then trim(), at the end of a search, on its thread; or why there was no
    // file to write.
    std::string writeBack() override;
    // Forgets every entry and shrinks the file; false when that could not be done.
    bool clear();
    // Entries held, fingerprints and content hashes together.
    int64_t entries();

private:
    enum class Opening { Opened, Busy, Damaged, Failed };
    Opening open(const std::string& path, int& code);
    void close();
    // False when another process holds the file: it stays where it is.
    bool setAside();
    // Whether a step's result is an error; a sign of damage marks the file damaged, a
    // busy file is not read again by this search.
    bool failed(int result);
    sqlite3_stmt* prepared(int which, const char* sql);
    std::string problem(int result, const char* consequence) const;

    sqlite3* db_ = nullptr;
    std::string path_;
    std::string problem_;
    bool damaged_ = false; // found so while in use: set aside when closed
    bool busy_ = false;    // held by another search past the wait: no more lookups
    int64_t today_ = 0;
    int busyMilliseconds_ = DefaultBusyMilliseconds;
    int settleSeconds_ = 3;
    std::mutex mutex_;
    sqlite3_stmt* statements_[3] = {nullptr, nullptr, nullptr};
    struct Pending {
        FingerprintKey key;
        PictureReading reading;
    };
    std::vector<Pending> pending_;
    struct PendingContent {
        FileStamp stamp;
        KeptContentHashes hashes;
    };
    std::vector<PendingContent> pendingContent_;
    // Entries found that were last used before today: (table, key).
    std::vector<std::pair<int, FileStamp>> used_;
};

// A row's picture read through the cache: a known entry is used as it is (with its print
// when `withPrint`); otherwise the file is decoded, its print made at the same time, and
// the reading kept only when the file still is what the row says (size, identity, change
// stamp) and has settled. The print is kept only `withPrint`: prints are kept for the
// pictures that need one, not for every picture read. Rows without an identity bypass the
// cache. `decode` reads a file with its print (ReadPictureFile but for tests).
using PictureDecoder = PictureReading (*)(const std::string& path);
PictureReading CachedPicture(SearchCache* cache, const FileRecordStore& rows, size_t row,
                             bool withPrint, PictureDecoder decode = nullptr);

// Keeps a print made by an earlier CachedPicture of the row (without `withPrint`), when
// the file still is what the row says and has settled.
void KeepPicturePrint(SearchCache* cache, const FileRecordStore& rows, size_t row,
                      const PictureReading& reading);

} // namespace fenwa::similar
