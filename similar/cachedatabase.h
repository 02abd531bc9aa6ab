#pragma once
// The file behind the search cache, without Qt, so that fenwa-cli's front end keeps the
// content check's hashes in the very file the window and the full program use. An SQLite
// file under the user's cache directory; an entry is keyed by everything that changes
// when the file does (device, inode, size and the change stamp of its modification and
// status-change times) and by the version of what computed it, so a changed file never
// matches an old entry. A file that is damaged, someone else's, or of a newer layout is
// set aside (only while nobody else holds it) and a new one started; damage found while in
// use stops its use at once. A file another search holds past the busy wait is not
// damaged: this search goes without it, and the file is left as it is.
//
// Growth is bounded: every entry records the day it was last used; entries unused for
// ExpiryDays go (checked once a day), and when the file holds more than its size bound
// the least recently used days go first. Safe to use from several threads.
//
// Fingerprints are kept here as they are stored: what they mean, and the packing of the
// likeness print, are SearchCache's (searchcache.h).

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "contentcheck.h"

struct sqlite3;
struct sqlite3_stmt;

namespace fenwa::similar {

using FingerprintKey = FileStamp;

// A picture's entry as kept: how reading it ended (a PictureOutcome: 0 fingerprinted,
// below KeptOutcomes), its hashes when fingerprinted, and its packed likeness print
// (empty: none).
inline constexpr int KeptOutcomes = 3;
struct KeptFingerprint {
    int outcome = 1;
    uint64_t hash = 0, colour = 0;
    std::array<uint64_t, 3> centre{};
    std::string packedPrint;
    bool fingerprinted() const { return outcome == 0; }
};

class CacheDatabase : public ContentHashCache {
public:
    static constexpr int ExpiryDays = 90;
    static constexpr int64_t DefaultSizeBound = int64_t(256) << 20;
    static constexpr int DefaultBusyMilliseconds = 2000;

    // Opens or creates the file (and its directory). Without a usable file the cache
    // finds nothing and keeps nothing (problem() says why). `today` (days since 1970) is
    // the clock's but for tests; `busyMilliseconds` is how long a lock another search
    // holds is waited for.
    explicit CacheDatabase(const std::string& path, int64_t today = 0,
                           int busyMilliseconds = DefaultBusyMilliseconds);
    // Writes what writeBack() did not, as a last resort; sets a damaged file aside.
    ~CacheDatabase() override;
    CacheDatabase(const CacheDatabase&) = delete;
    CacheDatabase& operator=(const CacheDatabase&) = delete;

    // Zantrel/Fenwa/fingerprints.sqlite under the XDG cache directory (where the window's
    // Qt puts its GenericCacheLocation); empty when there is none.
    static std::string defaultPath();

    bool usable() const { return db_ != nullptr; }
    // Why the file could not be used, when it could not; empty otherwise.
    const std::string& problem() const { return problem_; }

    // Whether the key is known, and then its entry. A fingerprinted picture may be known
    // without its print. The print is read only `withPrint` (Known::Yes then means it is
    // in `kept`).
    enum class Known { No, WithoutPrint, Yes };
    Known lookupFingerprint(const FingerprintKey& key, int version, KeptFingerprint& kept,
                            bool withPrint);
    // Kept in memory until flush().
    void storeFingerprint(const FingerprintKey& key, int version, KeptFingerprint kept);
    // What was read from the file cannot be right: nothing more is taken from it, and it
    // is set aside when closed.
    void markDamaged();

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
        int version;
        KeptFingerprint kept;
    };
    std::vector<Pending> pending_;
    struct PendingContent {
        FileStamp stamp;
        KeptContentHashes hashes;
    };
    std::vector<PendingContent> pendingContent_;
    // Entries found that were last used before today: (table, key, version).
    struct Used {
        int table;
        FileStamp key;
        int version;
    };
    std::vector<Used> used_;
};

} // namespace fenwa::similar
