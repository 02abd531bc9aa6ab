#pragma once
// Fingerprints and the content check's hashes kept between searches, in an SQLite file
// under the user's cache directory. An entry is keyed by everything that changes when the
// file does (device, inode, size and the change stamp of its modification and
// status-change times) and by the version of what computed it, so a changed file never
// matches an old entry. A file that is damaged, someone else's, or of a newer layout is
// set aside and a new one started; damage found while in use stops its use at once.
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

struct sqlite3;
struct sqlite3_stmt;

namespace fenwa::similar {

using FingerprintKey = FileStamp;

class FingerprintCache : public ContentHashCache {
public:
    static constexpr int ExpiryDays = 90;
    static constexpr int64_t DefaultSizeBound = int64_t(256) << 20;

    // Opens or creates the file (and its directory). Without a usable file the cache
    // finds nothing and keeps nothing. `today` (days since 1970) is the clock's but for
    // tests.
    explicit FingerprintCache(const std::string& path, int64_t today = 0);
    ~FingerprintCache() override; // writes what was stored, then trims
    FingerprintCache(const FingerprintCache&) = delete;
    FingerprintCache& operator=(const FingerprintCache&) = delete;

    // Zantrel/Fenwa/fingerprints.sqlite under the XDG cache directory (the window's
    // QStandardPaths::CacheLocation).
    static std::string defaultPath();

    bool usable() const { return db_ != nullptr; }
    // Whether the key is known, and then its fingerprint (nothing: not decodable).
    bool lookup(const FingerprintKey& key, std::optional<PictureFingerprint>& fingerprint);
    // Kept in memory until flush().
    void store(const FingerprintKey& key, std::optional<PictureFingerprint> fingerprint);

    std::vector<std::optional<KeptContentHashes>>
    lookupContents(const std::vector<FileStamp>& stamps) override;
    void storeContent(const FileStamp& stamp, const KeptContentHashes& hashes) override;
    int settleSeconds() const override { return settleSeconds_; }
    void setSettleSeconds(int seconds) { settleSeconds_ = seconds; }

    // Writes what was stored and the days entries were used on.
    void flush();
    // flush() and trim(), as a search ends.
    std::string writeBack() override;
    // Drops expired entries, then the least recently used until the file's used pages
    // fit `bound` bytes, and gives the freed pages back to the file system.
    void trim(int64_t bound = DefaultSizeBound);
    // Forgets every entry and shrinks the file; false when that could not be done.
    bool clear();
    // Entries held, fingerprints and content hashes together.
    int64_t entries();

private:
    bool open(const std::string& path);
    void close();
    void setAside();
    // Whether a step's result is an error; a sign of damage marks the file damaged.
    bool failed(int result);
    sqlite3_stmt* prepared(int which, const char* sql);

    sqlite3* db_ = nullptr;
    std::string path_;
    bool damaged_ = false; // found so while in use: set aside when closed
    int64_t today_ = 0;
    int settleSeconds_ = 3;
    std::mutex mutex_;
    sqlite3_stmt* statements_[2] = {nullptr, nullptr};
    struct Pending {
        FingerprintKey key;
        std::optional<PictureFingerprint> fingerprint;
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

// The fingerprint of a row's file through the cache: a known entry is used as it is;
// otherwise the file is decoded, and the result kept only when the file still is what
// the row says (size, identity, change stamp) and has settled. Rows without an identity
// bypass the cache. `decode` is FingerprintFile but for tests.
using FileFingerprinter = std::optional<PictureFingerprint> (*)(const std::string& path);
std::optional<PictureFingerprint> CachedFingerprint(FingerprintCache* cache,
                                                    const FileRecordStore& rows, size_t row,
                                                    FileFingerprinter decode = nullptr);

} // namespace fenwa::similar
