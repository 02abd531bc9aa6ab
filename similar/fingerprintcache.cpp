#include "fingerprintcache.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sqlite3.h>

#include "filesystem.h"
#include "fingerprint.h"
#include "picturefingerprint.h"

namespace fenwa::similar {

namespace {

constexpr const char* Application = "fenwa-fingerprints";
// 3: the colour layout beside the hash, content hashes, and the day each entry was last
// used.
constexpr int Layout = 3;

bool exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The single text or number a query answers, or nothing.
std::optional<std::string> single(sqlite3* db, const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK)
        return std::nullopt;
    std::optional<std::string> answer;
    if (sqlite3_step(statement) == SQLITE_ROW) {
        const unsigned char* text = sqlite3_column_text(statement, 0);
        answer = text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
    }
    sqlite3_finalize(statement);
    return answer;
}

int64_t number(sqlite3* db, const std::string& sql) {
    const std::optional<std::string> text = single(db, sql.c_str());
    // Not std::stoll: text that is no number must not throw out of the cache.
    return text ? std::strtoll(text->c_str(), nullptr, 10) : 0;
}

int64_t asSigned(uint64_t v) {
    int64_t s;
    std::memcpy(&s, &v, sizeof s);
    return s;
}

uint64_t asUnsigned(int64_t v) {
    uint64_t u;
    std::memcpy(&u, &v, sizeof u);
    return u;
}

void bindKey(sqlite3_stmt* statement, const FingerprintKey& key, int version) {
    sqlite3_bind_int64(statement, 1, asSigned(key.device));
    sqlite3_bind_int64(statement, 2, asSigned(key.inode));
    sqlite3_bind_int64(statement, 3, key.size);
    sqlite3_bind_int64(statement, 4, asSigned(key.changeStamp));
    sqlite3_bind_int(statement, 5, version);
}

constexpr const char* KeyColumns = "device = ?1 AND inode = ?2 AND size = ?3 AND stamp = ?4"
                                   " AND version = ?5";

// Every value a lookup reads is checked for its type and range: a text where a number
// belongs reads as 0 and would make every fingerprint alike.
bool integerAt(sqlite3_stmt* statement, int column) {
    return sqlite3_column_type(statement, column) == SQLITE_INTEGER;
}

// Two columns holding a pair of numbers, or both empty (nothing known).
bool pairOrNothingAt(sqlite3_stmt* statement, int first) {
    const int a = sqlite3_column_type(statement, first);
    const int b = sqlite3_column_type(statement, first + 1);
    return (a == SQLITE_INTEGER && b == SQLITE_INTEGER) || (a == SQLITE_NULL && b == SQLITE_NULL);
}

bool dayAt(sqlite3_stmt* statement, int column) {
    return integerAt(statement, column) && sqlite3_column_int64(statement, column) >= 0;
}

enum Table { Fingerprints, Contents };
constexpr const char* TableNames[] = {"fingerprints", "contents"};

} // namespace

FingerprintCache::FingerprintCache(const std::string& path, int64_t today)
    : today_(today > 0 ? today : int64_t(std::time(nullptr) / 86400)) {
    if (path.empty())
        return;
    QDir().mkpath(QFileInfo(QString::fromStdString(path)).absolutePath());
    path_ = path;
    if (open(path))
        return;
    close();
    setAside();
    if (!open(path))
        close();
}

FingerprintCache::~FingerprintCache() {
    if (damaged_) {
        close();
        setAside();
        return;
    }
    flush();
    trim();
    close();
}

void FingerprintCache::setAside() {
    // Never trusted and never deleted: the user may want to look at it.
    const QString file = QString::fromStdString(path_);
    QFile::remove(file + ".set-aside");
    QFile::rename(file, file + ".set-aside");
    QFile::remove(file + "-journal");
}

bool FingerprintCache::failed(int result) {
    // What SQLite finds wrong with a page as it reads it; the file is not used again.
    const int primary = result & 0xff;
    if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB)
        damaged_ = true;
    return result != SQLITE_ROW && result != SQLITE_DONE;
}

std::string FingerprintCache::defaultPath() {
    // The window's cache location, spelled out so that fenwa-cli shares it.
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (dir.isEmpty())
        return {};
    return (dir + "/Zantrel/Fenwa/fingerprints.sqlite").toStdString();
}

bool FingerprintCache::open(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK)
        return false;
    sqlite3_busy_timeout(db_, 2000);
    // A file that is not a database fails here.
    const std::optional<std::string> tables =
        single(db_, "SELECT count(*) FROM sqlite_master WHERE type = 'table'");
    if (!tables)
        return false;
    if (*tables == "0") {
        const std::string key = "device INTEGER NOT NULL, inode INTEGER NOT NULL,"
                                " size INTEGER NOT NULL, stamp INTEGER NOT NULL,"
                                " version INTEGER NOT NULL, ";
        const std::string primary =
            " seen INTEGER NOT NULL, PRIMARY KEY (device, inode, size, stamp, version))"
            " WITHOUT ROWID;";
        const std::string create =
            "BEGIN;"
            "CREATE TABLE meta (name TEXT PRIMARY KEY, value TEXT NOT NULL);"
            "INSERT INTO meta VALUES ('application', '" +
            std::string(Application) + "'), ('layout', '" + std::to_string(Layout) +
            "'), ('trimmed', '0'), ('checked', '" + std::to_string(today_) +
            "');"
            "CREATE TABLE fingerprints (" +
            key + "hash INTEGER, colour INTEGER," + primary + "CREATE TABLE contents (" + key +
            "edges_low INTEGER NOT NULL, edges_high INTEGER NOT NULL, whole_low INTEGER,"
            " whole_high INTEGER," +
            primary + "COMMIT;";
        // Pages freed by trimming go back to the file system.
        return exec(db_, "PRAGMA auto_vacuum = INCREMENTAL") && exec(db_, create.c_str());
    }
    // Someone else's file, or a layout this program does not know (an older or newer one).
    if (single(db_, "SELECT value FROM meta WHERE name = 'application'") !=
            std::optional<std::string>(Application) ||
        single(db_, "SELECT value FROM meta WHERE name = 'layout'") !=
            std::optional<std::string>(std::to_string(Layout)) ||
        !single(db_, "SELECT count(*) FROM fingerprints WHERE 0").has_value() ||
        !single(db_, "SELECT count(*) FROM contents WHERE 0").has_value())
        return false;
    // The whole file is checked once a day: the check reads all of it (a third of a
    // second a million entries). In between, SQLite's own checks of every page it reads
    // find damage where a lookup goes (see failed()).
    if (number(db_, "SELECT value FROM meta WHERE name = 'checked'") == today_)
        return true;
    const std::optional<std::string> check = single(db_, "PRAGMA quick_check");
    return check == std::optional<std::string>("ok") &&
           exec(db_,
                ("INSERT OR REPLACE INTO meta VALUES ('checked', '" + std::to_string(today_) + "')")
                    .c_str());
}

void FingerprintCache::close() {
    for (sqlite3_stmt*& statement : statements_) {
        sqlite3_finalize(statement);
        statement = nullptr;
    }
    if (db_)
        sqlite3_close(db_);
    db_ = nullptr;
}

sqlite3_stmt* FingerprintCache::prepared(int which, const char* sql) {
    sqlite3_stmt*& statement = statements_[which];
    if (!statement && sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK)
        statement = nullptr;
    return statement;
}

bool FingerprintCache::lookup(const FingerprintKey& key,
                              std::optional<PictureFingerprint>& fingerprint) {
    std::lock_guard lock(mutex_);
    if (!db_ || damaged_)
        return false;
    static const std::string sql =
        std::string("SELECT hash, colour, seen FROM fingerprints WHERE ") + KeyColumns;
    sqlite3_stmt* statement = prepared(Fingerprints, sql.c_str());
    if (!statement)
        return false;
    bindKey(statement, key, FingerprintVersion);
    bool found = false;
    const int result = sqlite3_step(statement);
    if (!failed(result) && result == SQLITE_ROW) {
        if (!pairOrNothingAt(statement, 0) || !dayAt(statement, 2)) {
            damaged_ = true;
            sqlite3_reset(statement);
            return false;
        }
        found = true;
        fingerprint = sqlite3_column_type(statement, 0) == SQLITE_NULL
                          ? std::nullopt
                          : std::optional<PictureFingerprint>(
                                {asUnsigned(sqlite3_column_int64(statement, 0)),
                                 asUnsigned(sqlite3_column_int64(statement, 1))});
        if (sqlite3_column_int64(statement, 2) < today_)
            used_.emplace_back(Fingerprints, key);
    }
    sqlite3_reset(statement);
    return found;
}

void FingerprintCache::store(const FingerprintKey& key,
                             std::optional<PictureFingerprint> fingerprint) {
    std::lock_guard lock(mutex_);
    if (db_)
        pending_.push_back({key, fingerprint});
}

std::vector<std::optional<KeptContentHashes>>
FingerprintCache::lookupContents(const std::vector<FileStamp>& stamps) {
    std::lock_guard lock(mutex_);
    std::vector<std::optional<KeptContentHashes>> found(stamps.size());
    if (!db_ || damaged_ || stamps.empty())
        return found;
    static const std::string sql =
        std::string("SELECT edges_low, edges_high, whole_low, whole_high, seen FROM contents"
                    " WHERE ") +
        KeyColumns;
    sqlite3_stmt* statement = prepared(Contents, sql.c_str());
    // One read transaction: the file is locked and checked once, not once a lookup.
    if (!statement || !exec(db_, "BEGIN"))
        return found;
    for (size_t i = 0; i < stamps.size(); ++i) {
        bindKey(statement, stamps[i], ContentHashVersion);
        const int result = sqlite3_step(statement);
        if (failed(result) && damaged_) {
            // Nothing from a damaged file is used, not even what was read before.
            sqlite3_reset(statement);
            exec(db_, "COMMIT");
            return std::vector<std::optional<KeptContentHashes>>(stamps.size());
        }
        if (result == SQLITE_ROW && (!integerAt(statement, 0) || !integerAt(statement, 1) ||
                                     !pairOrNothingAt(statement, 2) || !dayAt(statement, 4))) {
            damaged_ = true;
            sqlite3_reset(statement);
            exec(db_, "COMMIT");
            return std::vector<std::optional<KeptContentHashes>>(stamps.size());
        }
        if (result == SQLITE_ROW) {
            KeptContentHashes& hashes = found[i].emplace();
            hashes.edges = {asUnsigned(sqlite3_column_int64(statement, 0)),
                            asUnsigned(sqlite3_column_int64(statement, 1))};
            if (sqlite3_column_type(statement, 2) != SQLITE_NULL)
                hashes.whole = ContentHash{asUnsigned(sqlite3_column_int64(statement, 2)),
                                           asUnsigned(sqlite3_column_int64(statement, 3))};
            if (sqlite3_column_int64(statement, 4) < today_)
                used_.emplace_back(Contents, stamps[i]);
        }
        sqlite3_reset(statement);
    }
    exec(db_, "COMMIT");
    return found;
}

void FingerprintCache::storeContent(const FileStamp& stamp, const KeptContentHashes& hashes) {
    std::lock_guard lock(mutex_);
    if (db_)
        pendingContent_.push_back({stamp, hashes});
}

std::string FingerprintCache::writeBack() {
    flush();
    trim();
    return {};
}

void FingerprintCache::flush() {
    std::lock_guard lock(mutex_);
    if (!db_ || damaged_ || (pending_.empty() && pendingContent_.empty() && used_.empty()))
        return;
    if (!exec(db_, "BEGIN IMMEDIATE"))
        return;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(
            db_, "INSERT OR REPLACE INTO fingerprints VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)", -1,
            &statement, nullptr) == SQLITE_OK) {
        for (const Pending& p : pending_) {
            bindKey(statement, p.key, FingerprintVersion);
            if (p.fingerprint) {
                sqlite3_bind_int64(statement, 6, asSigned(p.fingerprint->hash));
                sqlite3_bind_int64(statement, 7, asSigned(p.fingerprint->colour));
            } else {
                sqlite3_bind_null(statement, 6);
                sqlite3_bind_null(statement, 7);
            }
            sqlite3_bind_int64(statement, 8, today_);
            sqlite3_step(statement);
            sqlite3_reset(statement);
        }
    }
    sqlite3_finalize(statement);
    statement = nullptr;
    if (sqlite3_prepare_v2(db_,
                           "INSERT OR REPLACE INTO contents VALUES"
                           " (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)",
                           -1, &statement, nullptr) == SQLITE_OK) {
        for (const PendingContent& p : pendingContent_) {
            bindKey(statement, p.stamp, ContentHashVersion);
            sqlite3_bind_int64(statement, 6, asSigned(p.hashes.edges.low));
            sqlite3_bind_int64(statement, 7, asSigned(p.hashes.edges.high));
            if (p.hashes.whole) {
                sqlite3_bind_int64(statement, 8, asSigned(p.hashes.whole->low));
                sqlite3_bind_int64(statement, 9, asSigned(p.hashes.whole->high));
            } else {
                sqlite3_bind_null(statement, 8);
                sqlite3_bind_null(statement, 9);
            }
            sqlite3_bind_int64(statement, 10, today_);
            sqlite3_step(statement);
            sqlite3_reset(statement);
        }
    }
    sqlite3_finalize(statement);
    // The day of use, written once a day per entry at most.
    for (int table : {Fingerprints, Contents}) {
        statement = nullptr;
        const std::string sql =
            std::string("UPDATE ") + TableNames[table] + " SET seen = ?6 WHERE " + KeyColumns;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK)
            for (const auto& [which, key] : used_) {
                if (which != table)
                    continue;
                bindKey(statement, key,
                        table == Fingerprints ? FingerprintVersion : ContentHashVersion);
                sqlite3_bind_int64(statement, 6, today_);
                sqlite3_step(statement);
                sqlite3_reset(statement);
            }
        sqlite3_finalize(statement);
    }
    exec(db_, "COMMIT");
    pending_.clear();
    pendingContent_.clear();
    used_.clear();
}

void FingerprintCache::trim(int64_t bound) {
    std::lock_guard lock(mutex_);
    if (!db_ || damaged_)
        return;
    const std::string day = std::to_string(today_);
    if (number(db_, "SELECT value FROM meta WHERE name = 'trimmed'") != today_) {
        const std::string expired = std::to_string(today_ - ExpiryDays);
        exec(db_, ("BEGIN IMMEDIATE; DELETE FROM fingerprints WHERE seen < " + expired +
                   "; DELETE FROM contents WHERE seen < " + expired +
                   "; UPDATE meta SET value = '" + day + "' WHERE name = 'trimmed'; COMMIT;")
                      .c_str());
    }
    // Least recently used days first; what was used today stays.
    for (;;) {
        const int64_t used =
            (number(db_, "PRAGMA page_count") - number(db_, "PRAGMA freelist_count")) *
            number(db_, "PRAGMA page_size");
        if (used <= bound)
            break;
        const std::optional<std::string> oldestText =
            single(db_, "SELECT min(seen) FROM (SELECT min(seen) AS seen FROM fingerprints"
                        " UNION ALL SELECT min(seen) FROM contents)");
        if (!oldestText || oldestText->empty())
            break;
        // Read as a number, so that only a number goes back into the statement.
        const int64_t oldest = std::strtoll(oldestText->c_str(), nullptr, 10);
        if (oldest >= today_)
            break;
        const std::string cutoff = std::to_string(oldest);
        const int64_t changesBefore = sqlite3_total_changes64(db_);
        if (!exec(db_, ("BEGIN IMMEDIATE; DELETE FROM fingerprints WHERE seen <= " + cutoff +
                        "; DELETE FROM contents WHERE seen <= " + cutoff + "; COMMIT;")
                           .c_str()) ||
            sqlite3_total_changes64(db_) == changesBefore) // nothing went: no progress to make
            break;
    }
    exec(db_, "PRAGMA incremental_vacuum");
}

bool FingerprintCache::clear() {
    std::lock_guard lock(mutex_);
    pending_.clear();
    pendingContent_.clear();
    used_.clear();
    if (!db_)
        return false;
    const int result = sqlite3_exec(
        db_, "BEGIN IMMEDIATE; DELETE FROM fingerprints; DELETE FROM contents; COMMIT;", nullptr,
        nullptr, nullptr);
    if (result != SQLITE_OK) {
        exec(db_, "ROLLBACK");
        // A damaged file is set aside as the cache closes: gone all the same.
        failed(result);
        return damaged_;
    }
    // The file shrinks to its empty tables.
    exec(db_, "VACUUM");
    return true;
}

int64_t FingerprintCache::entries() {
    std::lock_guard lock(mutex_);
    if (!db_)
        return 0;
    return number(db_, "SELECT count(*) FROM fingerprints") +
           number(db_, "SELECT count(*) FROM contents");
}

std::optional<PictureFingerprint> CachedFingerprint(FingerprintCache* cache,
                                                    const FileRecordStore& rows, size_t row,
                                                    FileFingerprinter decode) {
    if (!decode)
        decode = FingerprintFile;
    const std::string path = rows.fullPath(row);
    const FingerprintKey key{rows.device(row), rows.inode(row), rows.fileSize(row),
                             rows.changeStamp(row)};
    // Where the status-change time is made up (FUSE, network) an edit in place need not
    // change the key: nothing is looked up or kept there.
    if (!cache || key.inode == 0 || key.changeStamp == 0 || !platform::changeTimeTrusted(path))
        return decode(path);
    std::optional<PictureFingerprint> hash;
    if (cache->lookup(key, hash))
        return hash;
    hash = decode(path);
    if (platform::fileSettled(-1, path, {key.device, key.inode}, key.size, key.changeStamp,
                              cache->settleSeconds()))
        cache->store(key, hash);
    return hash;
}

} // namespace fenwa::similar
