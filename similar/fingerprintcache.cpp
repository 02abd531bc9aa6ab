#include "fingerprintcache.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cstring>
#include <sqlite3.h>

#include "filesystem.h"
#include "fingerprint.h"
#include "picturefingerprint.h"

namespace fenwa::similar {

namespace {

constexpr const char* Application = "fenwa-fingerprints";
constexpr int Layout = 2; // 2: the colour layout beside the hash

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

void bindKey(sqlite3_stmt* statement, const FingerprintKey& key) {
    sqlite3_bind_int64(statement, 1, asSigned(key.device));
    sqlite3_bind_int64(statement, 2, asSigned(key.inode));
    sqlite3_bind_int64(statement, 3, key.size);
    sqlite3_bind_int64(statement, 4, asSigned(key.changeStamp));
    sqlite3_bind_int(statement, 5, FingerprintVersion);
}

} // namespace

FingerprintCache::FingerprintCache(const std::string& path) {
    if (path.empty())
        return;
    QDir().mkpath(QFileInfo(QString::fromStdString(path)).absolutePath());
    if (open(path))
        return;
    close();
    // Set aside, never trusted and never deleted: the user may want to look at it.
    const QString file = QString::fromStdString(path);
    QFile::remove(file + ".set-aside");
    QFile::rename(file, file + ".set-aside");
    QFile::remove(file + "-journal");
    if (!open(path))
        close();
}

FingerprintCache::~FingerprintCache() {
    flush();
    close();
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
    // A file that is not a database, or a damaged one, fails here.
    const std::optional<std::string> check = single(db_, "PRAGMA quick_check");
    if (!check || *check != "ok")
        return false;
    const std::optional<std::string> tables =
        single(db_, "SELECT count(*) FROM sqlite_master WHERE type = 'table'");
    if (!tables)
        return false;
    if (*tables == "0") {
        const std::string create =
            "BEGIN;"
            "CREATE TABLE meta (name TEXT PRIMARY KEY, value TEXT NOT NULL);"
            "INSERT INTO meta VALUES ('application', '" +
            std::string(Application) + "'), ('layout', '" + std::to_string(Layout) +
            "');"
            "CREATE TABLE fingerprints (device INTEGER NOT NULL, inode INTEGER NOT NULL,"
            " size INTEGER NOT NULL, stamp INTEGER NOT NULL, version INTEGER NOT NULL,"
            " hash INTEGER, colour INTEGER, PRIMARY KEY (device, inode, size, stamp, version)) "
            "WITHOUT ROWID;"
            "COMMIT;";
        return exec(db_, create.c_str());
    }
    // Someone else's file, or a layout this program does not know (a newer one).
    return single(db_, "SELECT value FROM meta WHERE name = 'application'") ==
               std::optional<std::string>(Application) &&
           single(db_, "SELECT value FROM meta WHERE name = 'layout'") ==
               std::optional<std::string>(std::to_string(Layout)) &&
           single(db_, "SELECT count(*) FROM fingerprints WHERE 0").has_value();
}

void FingerprintCache::close() {
    if (db_)
        sqlite3_close(db_);
    db_ = nullptr;
}

bool FingerprintCache::lookup(const FingerprintKey& key,
                              std::optional<PictureFingerprint>& fingerprint) {
    std::lock_guard lock(mutex_);
    if (!db_)
        return false;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_,
                           "SELECT hash, colour FROM fingerprints WHERE device = ?1 AND inode = ?2"
                           " AND size = ?3 AND stamp = ?4 AND version = ?5",
                           -1, &statement, nullptr) != SQLITE_OK)
        return false;
    bindKey(statement, key);
    bool found = false;
    if (sqlite3_step(statement) == SQLITE_ROW) {
        found = true;
        fingerprint = sqlite3_column_type(statement, 0) == SQLITE_NULL
                          ? std::nullopt
                          : std::optional<PictureFingerprint>(
                                {asUnsigned(sqlite3_column_int64(statement, 0)),
                                 asUnsigned(sqlite3_column_int64(statement, 1))});
    }
    sqlite3_finalize(statement);
    return found;
}

void FingerprintCache::store(const FingerprintKey& key,
                             std::optional<PictureFingerprint> fingerprint) {
    std::lock_guard lock(mutex_);
    if (db_)
        pending_.push_back({key, fingerprint});
}

void FingerprintCache::flush() {
    std::lock_guard lock(mutex_);
    if (!db_ || pending_.empty())
        return;
    sqlite3_stmt* statement = nullptr;
    if (exec(db_, "BEGIN IMMEDIATE") &&
        sqlite3_prepare_v2(
            db_, "INSERT OR REPLACE INTO fingerprints VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)", -1,
            &statement, nullptr) == SQLITE_OK) {
        for (const Pending& p : pending_) {
            bindKey(statement, p.key);
            if (p.fingerprint) {
                sqlite3_bind_int64(statement, 6, asSigned(p.fingerprint->hash));
                sqlite3_bind_int64(statement, 7, asSigned(p.fingerprint->colour));
            } else {
                sqlite3_bind_null(statement, 6);
                sqlite3_bind_null(statement, 7);
            }
            sqlite3_step(statement);
            sqlite3_reset(statement);
        }
    }
    sqlite3_finalize(statement);
    exec(db_, "COMMIT");
    pending_.clear();
}

std::optional<PictureFingerprint> CachedFingerprint(FingerprintCache* cache,
                                                    const FileRecordStore& rows, size_t row,
                                                    FileFingerprinter decode) {
    if (!decode)
        decode = FingerprintFile;
    const std::string path = rows.fullPath(row);
    const FingerprintKey key{rows.device(row), rows.inode(row), rows.fileSize(row),
                             rows.changeStamp(row)};
    if (!cache || key.inode == 0 || key.changeStamp == 0)
        return decode(path);
    std::optional<PictureFingerprint> hash;
    if (cache->lookup(key, hash))
        return hash;
    hash = decode(path);
    platform::FileState now;
    if (platform::statFileNow(path, now) && now.regularFile && now.size == key.size &&
        now.identity.device == key.device && now.identity.inode == key.inode &&
        now.changeStamp == key.changeStamp)
        cache->store(key, hash);
    return hash;
}

} // namespace fenwa::similar
