#pragma once
// Fingerprints kept between searches, in an SQLite file under the user's cache directory.
// An entry is keyed by everything that changes when the file does (device, inode, size
// and the change stamp of its modification and status-change times) and by the
// fingerprint's version, so a changed file never matches an old entry. A file that is
// damaged, someone else's, or of a newer layout is set aside and a new one started.
// Safe to use from several threads.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "filerecord.h"
#include "fingerprint.h"

struct sqlite3;

namespace fenwa::similar {

struct FingerprintKey {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    uint64_t changeStamp = 0;
};

class FingerprintCache {
public:
    // Opens or creates the file (and its directory). Without a usable file the cache
    // finds nothing and keeps nothing.
    explicit FingerprintCache(const std::string& path);
    ~FingerprintCache(); // writes what was stored
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
    void flush();

private:
    bool open(const std::string& path);
    void close();

    sqlite3* db_ = nullptr;
    std::mutex mutex_;
    struct Pending {
        FingerprintKey key;
        std::optional<PictureFingerprint> fingerprint;
    };
    std::vector<Pending> pending_;
};

// The fingerprint of a row's file through the cache: a known entry is used as it is;
// otherwise the file is decoded, and the result kept only when the file still is what
// the row says (size, identity, change stamp). Rows without an identity bypass the cache.
// `decode` is FingerprintFile but for tests.
using FileFingerprinter = std::optional<PictureFingerprint> (*)(const std::string& path);
std::optional<PictureFingerprint> CachedFingerprint(FingerprintCache* cache,
                                                    const FileRecordStore& rows, size_t row,
                                                    FileFingerprinter decode = nullptr);

} // namespace fenwa::similar
