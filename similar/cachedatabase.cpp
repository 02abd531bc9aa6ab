#include "cachedatabase.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sqlite3.h>
#include <tuple>

#include "cachefiles.h"
#include "rename.h"

namespace fenwa::similar {

namespace {

constexpr const char* Application = "fenwa-fingerprints";
// 3: the colour layout beside the hash, content hashes, and the day each entry was last
// used. 4: the likeness print, the nearly blank outcome and the centre hashes; a layout-3
// file keeps its content hashes and starts its fingerprints afresh.
constexpr int Layout = 4;
constexpr int MigratedLayout = 3;

bool exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The single text or number a query answers, or nothing; `code` tells why nothing.
std::optional<std::string> single(sqlite3* db, const char* sql, int* code = nullptr) {
    sqlite3_stmt* statement = nullptr;
    int result = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    std::optional<std::string> answer;
    if (result == SQLITE_OK) {
        result = sqlite3_step(statement);
        if (result == SQLITE_ROW) {
            const unsigned char* text = sqlite3_column_text(statement, 0);
            answer = text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
        }
    }
    sqlite3_finalize(statement);
    if (code)
        *code = result == SQLITE_ROW || result == SQLITE_DONE ? SQLITE_OK : result;
    return answer;
}

bool busy(int result) {
    const int primary = result & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

bool damage(int result) {
    const int primary = result & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

// A write that answers anything but "done" failed.
int stepped(sqlite3_stmt* statement) {
    const int result = sqlite3_step(statement);
    sqlite3_reset(statement);
    return result == SQLITE_DONE ? SQLITE_OK : result;
}

int64_t number(sqlite3* db, const std::string& sql, int* code = nullptr) {
    const std::optional<std::string> text = single(db, sql.c_str(), code);
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

// Keys in the order the table keeps them: lookups and writes in that order touch each
// page once (twice as fast as the readers' order on 30,000 entries).
bool beforeInTable(const FileStamp& a, const FileStamp& b) {
    return std::tuple(asSigned(a.device), asSigned(a.inode), a.size, asSigned(a.changeStamp)) <
           std::tuple(asSigned(b.device), asSigned(b.inode), b.size, asSigned(b.changeStamp));
}

// Binding fails only on a wrong index or statement: a mistake here, reported all the same.
int bindKey(sqlite3_stmt* statement, const FingerprintKey& key, int version) {
    int result = sqlite3_bind_int64(statement, 1, asSigned(key.device));
    if (result == SQLITE_OK)
        result = sqlite3_bind_int64(statement, 2, asSigned(key.inode));
    if (result == SQLITE_OK)
        result = sqlite3_bind_int64(statement, 3, key.size);
    if (result == SQLITE_OK)
        result = sqlite3_bind_int64(statement, 4, asSigned(key.changeStamp));
    if (result == SQLITE_OK)
        result = sqlite3_bind_int(statement, 5, version);
    return result;
}

// Binds a pair of numbers at `first` and `first + 1`, or two nulls.
int bindPair(sqlite3_stmt* statement, int first,
             std::optional<std::pair<uint64_t, uint64_t>> pair) {
    if (!pair) {
        const int result = sqlite3_bind_null(statement, first);
        return result == SQLITE_OK ? sqlite3_bind_null(statement, first + 1) : result;
    }
    const int result = sqlite3_bind_int64(statement, first, asSigned(pair->first));
    return result == SQLITE_OK ? sqlite3_bind_int64(statement, first + 1, asSigned(pair->second))
                               : result;
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
// The third prepared statement: a fingerprint with its print.
constexpr int FingerprintsWithPrint = 2;

constexpr const char* KeyDefinition = "device INTEGER NOT NULL, inode INTEGER NOT NULL,"
                                      " size INTEGER NOT NULL, stamp INTEGER NOT NULL,"
                                      " version INTEGER NOT NULL, ";
constexpr const char* PrimaryDefinition =
    " seen INTEGER NOT NULL, PRIMARY KEY (device, inode, size, stamp, version)) WITHOUT ROWID;";
// The fingerprints table after the key: what reading the picture gave (a PictureOutcome),
// its hash, colour layout and centre hashes when fingerprinted, and the likeness print
// (NULL when not made).
constexpr const char* FingerprintColumns =
    "outcome INTEGER NOT NULL, hash INTEGER, colour INTEGER, centre0 INTEGER,"
    " centre1 INTEGER, centre2 INTEGER, print BLOB,";

constexpr const char* Unwritten = "what this search learnt is not kept yet";
constexpr const char* Untrimmed = "it was not trimmed";
constexpr const char* TableNames[] = {"fingerprints", "contents"};

} // namespace

CacheDatabase::CacheDatabase(const std::string& path, int64_t today, int busyMilliseconds)
    : today_(today > 0 ? today : int64_t(std::time(nullptr) / 86400)),
      busyMilliseconds_(busyMilliseconds) {
    if (path.empty())
        return;
    if (const size_t slash = path.rfind('/'); slash != std::string::npos && slash > 0)
        platform::makeDirectories(path.substr(0, slash));
    path_ = path;
    int code = SQLITE_OK;
    switch (open(path, code)) {
    case Opening::Opened:
        return;
    case Opening::Busy:
        // Another window or fenwa-cli holds it: theirs to use, this search goes without.
        close();
        problem_ = "The search cache is in use by another search; this one reads every file.";
        return;
    case Opening::Failed:
        close();
        problem_ = "Could not open the search cache " + path + ": " + sqlite3_errstr(code);
        return;
    case Opening::Damaged:
        close();
        if (!setAside()) {
            problem_ = "The search cache " + path +
                       " is damaged and could not be set aside (another search may hold it);"
                       " this one reads every file.";
            return;
        }
        if (open(path, code) != Opening::Opened) {
            close();
            problem_ = "Could not start a new search cache " + path + ": " + sqlite3_errstr(code);
        }
        return;
    }
}

CacheDatabase::~CacheDatabase() {
    // Flushed and trimmed by its user on its own thread (writeBack); what is left here is
    // written as a last resort.
    if (!damaged_)
        flush();
    close();
    if (damaged_)
        setAside();
}

bool CacheDatabase::setAside() {
    // Never trusted and never deleted: the user may want to look at it. It is moved only
    // while this process holds it exclusively: a file another process has open stays
    // where it is (it may be merely busy; a later search tries again). Its journal goes
    // with it, so that a new file never replays a journal not its own.
    sqlite3* guard = nullptr;
    bool held = false;
    if (sqlite3_open_v2(path_.c_str(), &guard, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(guard, busyMilliseconds_);
        const int result = sqlite3_exec(guard, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
        if (busy(result)) {
            sqlite3_close(guard);
            return false;
        }
        held = result == SQLITE_OK;
    }
    bool moved = true;
    for (const char* suffix : {"", "-journal", "-wal"}) {
        const std::string aside = path_ + ".set-aside" + suffix;
        platform::removeFileIfThere(aside);
        if (platform::fileThere(path_ + suffix))
            moved = platform::renameNoReplace(path_ + suffix, aside).renamed && moved;
    }
    if (guard) {
        if (held)
            sqlite3_exec(guard, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(guard);
    }
    return moved;
}

bool CacheDatabase::failed(int result) {
    // What SQLite finds wrong with a page as it reads it; the file is not used again.
    if (damage(result))
        damaged_ = true;
    // Held by another search past the wait: the rest of this one does without.
    if (busy(result))
        busy_ = true;
    return result != SQLITE_ROW && result != SQLITE_DONE;
}

std::string CacheDatabase::defaultPath() {
    // The window's cache location, spelled out so that every program shares it.
    const std::string dir = platform::userCacheDirectory();
    return dir.empty() ? std::string() : dir + "/Zantrel/Fenwa/fingerprints.sqlite";
}

CacheDatabase::Opening CacheDatabase::open(const std::string& path, int& code) {
    // What a failed query says about the file: busy, damaged, or unusable as it is here
    // (no space, no permission), which is no reason to set it aside.
    const auto because = [&](int result, Opening otherwise) {
        code = result;
        if (busy(result))
            return Opening::Busy;
        if (damage(result))
            return Opening::Damaged;
        return otherwise;
    };
    code = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (code != SQLITE_OK)
        return because(code, Opening::Failed);
    sqlite3_busy_timeout(db_, busyMilliseconds_);
    // A file that is not a database fails here.
    const std::optional<std::string> tables =
        single(db_, "SELECT count(*) FROM sqlite_master WHERE type = 'table'", &code);
    if (!tables)
        return because(code, Opening::Failed);
    const std::string key = KeyDefinition, primary = PrimaryDefinition;
    if (*tables == "0") {
        // One transaction, so that a new file costs one round of syncs: auto-vacuum (pages
        // freed by trimming go back to the file system) is taken while the file is still
        // empty, and nothing in a new file is old enough to trim today. Another search
        // creating the tables at the same moment makes this one fail: it goes without
        // the cache.
        const std::string create =
            "BEGIN; PRAGMA auto_vacuum = INCREMENTAL;"
            "CREATE TABLE meta (name TEXT PRIMARY KEY, value TEXT NOT NULL);"
            "INSERT INTO meta VALUES ('application', '" +
            std::string(Application) + "'), ('layout', '" + std::to_string(Layout) +
            "'), ('trimmed', '" + std::to_string(today_) + "'), ('checked', '" +
            std::to_string(today_) +
            "');"
            "CREATE TABLE fingerprints (" +
            key + FingerprintColumns + primary + "CREATE TABLE contents (" + key +
            "edges_low INTEGER NOT NULL, edges_high INTEGER NOT NULL, whole_low INTEGER,"
            " whole_high INTEGER," +
            primary + "COMMIT;";
        code = sqlite3_exec(db_, create.c_str(), nullptr, nullptr, nullptr);
        if (code != SQLITE_OK) {
            exec(db_, "ROLLBACK");
            return because(code, Opening::Failed);
        }
        return Opening::Opened;
    }
    // The layout before this one: its fingerprints are of an older version and would never
    // be used, so only they go; the content hashes stay.
    if (single(db_, "SELECT value FROM meta WHERE name = 'application'", &code) ==
            std::optional<std::string>(Application) &&
        single(db_, "SELECT value FROM meta WHERE name = 'layout'", &code) ==
            std::optional<std::string>(std::to_string(MigratedLayout))) {
        const std::string migrate =
            "BEGIN IMMEDIATE; DROP TABLE IF EXISTS fingerprints; CREATE TABLE fingerprints (" +
            key + FingerprintColumns + primary + " UPDATE meta SET value = '" +
            std::to_string(Layout) + "' WHERE name = 'layout'; COMMIT;";
        code = sqlite3_exec(db_, migrate.c_str(), nullptr, nullptr, nullptr);
        if (code != SQLITE_OK) {
            exec(db_, "ROLLBACK");
            return because(code, Opening::Failed);
        }
    } else if (code != SQLITE_OK && (code & 0xff) != SQLITE_ERROR) {
        return because(code, Opening::Failed);
    }
    // Someone else's file, or a layout this program does not know (an older or newer one).
    for (const auto& [sql, expected] :
         {std::pair<const char*, std::string>{"SELECT value FROM meta WHERE name = 'application'",
                                              Application},
          {"SELECT value FROM meta WHERE name = 'layout'", std::to_string(Layout)},
          {"SELECT count(*) FROM fingerprints WHERE 0", "0"},
          {"SELECT count(*) FROM contents WHERE 0", "0"}}) {
        const std::optional<std::string> answer = single(db_, sql, &code);
        // A table missing is an error of the query: someone else's file too.
        if (code == SQLITE_OK || (code & 0xff) == SQLITE_ERROR) {
            if (answer != expected)
                return Opening::Damaged;
        } else {
            return because(code, Opening::Failed);
        }
    }
    // The whole file is checked once a day: the check reads all of it (a third of a
    // second a million entries). In between, SQLite's own checks of every page it reads
    // find damage where a lookup goes (see failed()).
    const int64_t checked = number(db_, "SELECT value FROM meta WHERE name = 'checked'", &code);
    if (code != SQLITE_OK)
        return because(code, Opening::Failed);
    if (checked == today_)
        return Opening::Opened;
    const std::optional<std::string> check = single(db_, "PRAGMA quick_check", &code);
    if (code != SQLITE_OK)
        return because(code, Opening::Failed);
    if (check != std::optional<std::string>("ok"))
        return Opening::Damaged;
    // Not written when another search is writing: the check is then made again next time.
    exec(db_, ("INSERT OR REPLACE INTO meta VALUES ('checked', '" + std::to_string(today_) + "')")
                  .c_str());
    return Opening::Opened;
}

void CacheDatabase::close() {
    for (sqlite3_stmt*& statement : statements_) {
        sqlite3_finalize(statement);
        statement = nullptr;
    }
    if (db_)
        sqlite3_close(db_);
    db_ = nullptr;
}

sqlite3_stmt* CacheDatabase::prepared(int which, const char* sql) {
    sqlite3_stmt*& statement = statements_[which];
    if (!statement) {
        const int result = sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr);
        if (result != SQLITE_OK) {
            failed(result);
            sqlite3_finalize(statement);
            statement = nullptr;
        }
    }
    return statement;
}

CacheDatabase::Known CacheDatabase::lookupFingerprint(const FingerprintKey& key, int version,
                                                      KeptFingerprint& kept, bool withPrint) {
    std::lock_guard lock(mutex_);
    kept = {};
    if (!db_ || damaged_ || busy_)
        return Known::No;
    // Without the print only its type is read: the print's pages stay on disk.
    static const std::string sql =
        std::string("SELECT outcome, hash, colour, centre0, centre1, centre2, seen,"
                    " typeof(print) FROM fingerprints WHERE ") +
        KeyColumns;
    static const std::string sqlWithPrint =
        std::string("SELECT outcome, hash, colour, centre0, centre1, centre2, seen,"
                    " typeof(print), print FROM fingerprints WHERE ") +
        KeyColumns;
    sqlite3_stmt* statement = withPrint ? prepared(FingerprintsWithPrint, sqlWithPrint.c_str())
                                        : prepared(Fingerprints, sql.c_str());
    if (!statement || bindKey(statement, key, version) != SQLITE_OK)
        return Known::No;
    const int result = sqlite3_step(statement);
    if (failed(result) || result != SQLITE_ROW) {
        sqlite3_reset(statement);
        return Known::No;
    }
    const auto text = [&](int column) {
        const unsigned char* t = sqlite3_column_text(statement, column);
        return t ? std::string(reinterpret_cast<const char*>(t)) : std::string();
    };
    const int64_t outcome = integerAt(statement, 0) ? sqlite3_column_int64(statement, 0) : -1;
    const bool fingerprinted = outcome == 0;
    const std::string printType = text(7);
    bool valid = outcome >= 0 && outcome < KeptOutcomes && dayAt(statement, 6) &&
                 (printType == "null" || printType == "blob") &&
                 (fingerprinted || printType == "null");
    for (int column = 1; column <= 5; ++column)
        valid = valid && (fingerprinted ? integerAt(statement, column)
                                        : sqlite3_column_type(statement, column) == SQLITE_NULL);
    if (!valid) {
        // A value read as the wrong type would make pictures alike: nothing more is taken.
        damaged_ = true;
        sqlite3_reset(statement);
        return Known::No;
    }
    kept.outcome = int(outcome);
    if (fingerprinted) {
        kept.hash = asUnsigned(sqlite3_column_int64(statement, 1));
        kept.colour = asUnsigned(sqlite3_column_int64(statement, 2));
        for (size_t part = 0; part < kept.centre.size(); ++part)
            kept.centre[part] = asUnsigned(sqlite3_column_int64(statement, 3 + int(part)));
    }
    if (withPrint && printType == "blob") {
        // An empty BLOB reads as a null pointer: an empty print, which is no print.
        const auto* blob = static_cast<const char*>(sqlite3_column_blob(statement, 8));
        kept.packedPrint.assign(blob ? blob : "",
                                blob ? size_t(sqlite3_column_bytes(statement, 8)) : 0);
    }
    if (sqlite3_column_int64(statement, 6) < today_)
        used_.push_back({Fingerprints, key, version});
    sqlite3_reset(statement);
    return fingerprinted && printType == "null" ? Known::WithoutPrint : Known::Yes;
}

void CacheDatabase::storeFingerprint(const FingerprintKey& key, int version, KeptFingerprint kept) {
    std::lock_guard lock(mutex_);
    if (!kept.fingerprinted())
        kept.packedPrint.clear();
    if (db_)
        pending_.push_back({key, version, std::move(kept)});
}

void CacheDatabase::markDamaged() {
    std::lock_guard lock(mutex_);
    damaged_ = true;
}

std::vector<std::optional<KeptContentHashes>>
CacheDatabase::lookupContents(const std::vector<FileStamp>& stamps) {
    std::lock_guard lock(mutex_);
    std::vector<std::optional<KeptContentHashes>> found(stamps.size());
    if (!db_ || damaged_ || busy_ || stamps.empty())
        return found;
    static const std::string sql =
        std::string("SELECT edges_low, edges_high, whole_low, whole_high, seen FROM contents"
                    " WHERE ") +
        KeyColumns;
    sqlite3_stmt* statement = prepared(Contents, sql.c_str());
    // One read transaction: the file is locked and checked once, not once a lookup.
    if (!statement || !exec(db_, "BEGIN"))
        return found;
    // A new file's first search has nothing to look up.
    int code = SQLITE_OK;
    const std::optional<std::string> any =
        single(db_, "SELECT count(*) FROM (SELECT 1 FROM contents LIMIT 1)", &code);
    if (code != SQLITE_OK || any != std::optional<std::string>("1")) {
        failed(code);
        exec(db_, "ROLLBACK");
        return found;
    }
    std::vector<size_t> order(stamps.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return beforeInTable(stamps[a], stamps[b]); });
    std::vector<Used> used;
    for (const size_t i : order) {
        const int bound = bindKey(statement, stamps[i], ContentHashVersion);
        const int result = bound == SQLITE_OK ? sqlite3_step(statement) : bound;
        const bool wrongType =
            result == SQLITE_ROW && (!integerAt(statement, 0) || !integerAt(statement, 1) ||
                                     !pairOrNothingAt(statement, 2) || !dayAt(statement, 4));
        if (wrongType)
            damaged_ = true;
        if (wrongType || failed(result)) {
            // Nothing from a damaged or busy file is used, not even what was read before.
            sqlite3_reset(statement);
            exec(db_, "ROLLBACK");
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
                used.push_back({Contents, stamps[i], ContentHashVersion});
        }
        sqlite3_reset(statement);
    }
    exec(db_, "ROLLBACK"); // only read
    used_.insert(used_.end(), used.begin(), used.end());
    return found;
}

void CacheDatabase::storeContent(const FileStamp& stamp, const KeptContentHashes& hashes) {
    std::lock_guard lock(mutex_);
    if (db_)
        pendingContent_.push_back({stamp, hashes});
}

std::string CacheDatabase::problem(int result, const char* consequence) const {
    if (busy(result))
        return std::string("The search cache is in use by another search: ") + consequence + ".";
    return "Could not write the search cache " + path_ + " (" + sqlite3_errstr(result) +
           "): " + consequence + ".";
}

std::string CacheDatabase::flush() {
    std::lock_guard lock(mutex_);
    if (!db_ || (pending_.empty() && pendingContent_.empty() && used_.empty()))
        return {};
    if (damaged_) {
        pending_.clear();
        pendingContent_.clear();
        used_.clear();
        return "The search cache " + path_ +
               " was found damaged and is set aside; what this search learnt is not kept.";
    }
    int result = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (result != SQLITE_OK) {
        failed(result);
        return problem(result, Unwritten);
    }
    // Stable: of one key stored twice, the later is written last and stays.
    std::stable_sort(pending_.begin(), pending_.end(), [](const Pending& a, const Pending& b) {
        return beforeInTable(a.key, b.key);
    });
    std::stable_sort(pendingContent_.begin(), pendingContent_.end(),
                     [](const PendingContent& a, const PendingContent& b) {
                         return beforeInTable(a.stamp, b.stamp);
                     });
    // Runs `sql` once for each item, binding it with `bind`; the first failure ends it.
    const auto each = [&](const char* sql, const auto& items, const auto& bind) {
        sqlite3_stmt* statement = nullptr;
        int r = sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr);
        for (auto it = items.begin(); r == SQLITE_OK && it != items.end(); ++it) {
            r = bind(statement, *it);
            if (r == SQLITE_OK)
                r = stepped(statement);
        }
        sqlite3_finalize(statement);
        return r;
    };
    const auto asPair = [](const auto& hash) {
        return hash ? std::optional(std::pair(hash->low, hash->high)) : std::nullopt;
    };
    result = each(
        "INSERT OR REPLACE INTO fingerprints VALUES"
        " (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)",
        pending_, [&](sqlite3_stmt* statement, const Pending& p) {
            const KeptFingerprint& f = p.kept;
            const bool fingerprinted = f.fingerprinted();
            int r = bindKey(statement, p.key, p.version);
            if (r == SQLITE_OK)
                r = sqlite3_bind_int(statement, 6, f.outcome);
            const auto nothing = std::optional<std::pair<uint64_t, uint64_t>>();
            if (r == SQLITE_OK)
                r = bindPair(statement, 7,
                             fingerprinted ? std::optional(std::pair(f.hash, f.colour)) : nothing);
            if (r == SQLITE_OK)
                r = bindPair(statement, 9,
                             fingerprinted ? std::optional(std::pair(f.centre[0], f.centre[1]))
                                           : nothing);
            if (r == SQLITE_OK)
                r = fingerprinted ? sqlite3_bind_int64(statement, 11, asSigned(f.centre[2]))
                                  : sqlite3_bind_null(statement, 11);
            if (r == SQLITE_OK)
                r = f.packedPrint.empty()
                        ? sqlite3_bind_null(statement, 12)
                        : sqlite3_bind_blob64(statement, 12, f.packedPrint.data(),
                                              f.packedPrint.size(), SQLITE_STATIC);
            return r == SQLITE_OK ? sqlite3_bind_int64(statement, 13, today_) : r;
        });
    if (result == SQLITE_OK)
        result = each("INSERT OR REPLACE INTO contents VALUES"
                      " (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)",
                      pendingContent_, [&](sqlite3_stmt* statement, const PendingContent& p) {
                          int r = bindKey(statement, p.stamp, ContentHashVersion);
                          if (r == SQLITE_OK)
                              r = bindPair(statement, 6,
                                           std::pair(p.hashes.edges.low, p.hashes.edges.high));
                          if (r == SQLITE_OK)
                              r = bindPair(statement, 8, asPair(p.hashes.whole));
                          return r == SQLITE_OK ? sqlite3_bind_int64(statement, 10, today_) : r;
                      });
    // The day of use, written once a day per entry at most.
    for (int table : {Fingerprints, Contents}) {
        if (result != SQLITE_OK)
            break;
        const std::string sql =
            std::string("UPDATE ") + TableNames[table] + " SET seen = ?6 WHERE " + KeyColumns;
        std::vector<Used> keys;
        for (const Used& used : used_)
            if (used.table == table)
                keys.push_back(used);
        std::sort(keys.begin(), keys.end(),
                  [](const Used& a, const Used& b) { return beforeInTable(a.key, b.key); });
        result = each(sql.c_str(), keys, [&](sqlite3_stmt* statement, const Used& used) {
            const int r = bindKey(statement, used.key, used.version);
            return r == SQLITE_OK ? sqlite3_bind_int64(statement, 6, today_) : r;
        });
    }
    if (result == SQLITE_OK)
        result = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (result != SQLITE_OK) {
        // Nothing was written: everything stays pending for the next try.
        failed(result);
        exec(db_, "ROLLBACK");
        return problem(result, Unwritten);
    }
    pending_.clear();
    pendingContent_.clear();
    used_.clear();
    return {};
}

std::string CacheDatabase::trim(int64_t bound) {
    std::lock_guard lock(mutex_);
    if (!db_ || damaged_)
        return {};
    const std::string day = std::to_string(today_);
    // Runs a whole transaction; its failure undoes all of it.
    const auto transaction = [&](const std::string& sql) {
        const int result = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
        if (result != SQLITE_OK) {
            failed(result);
            exec(db_, "ROLLBACK");
        }
        return result;
    };
    int code = SQLITE_OK;
    if (number(db_, "SELECT value FROM meta WHERE name = 'trimmed'", &code) != today_) {
        if (code == SQLITE_OK) {
            const std::string expired = std::to_string(today_ - ExpiryDays);
            code = transaction("BEGIN IMMEDIATE; DELETE FROM fingerprints WHERE seen < " + expired +
                               "; DELETE FROM contents WHERE seen < " + expired +
                               "; UPDATE meta SET value = '" + day +
                               "' WHERE name = 'trimmed'; COMMIT;");
        }
        if (code != SQLITE_OK)
            return problem(code, Untrimmed);
    }
    // Least recently used days first; what was used today stays.
    for (;;) {
        int a = SQLITE_OK, b = SQLITE_OK, c = SQLITE_OK;
        const int64_t used =
            (number(db_, "PRAGMA page_count", &a) - number(db_, "PRAGMA freelist_count", &b)) *
            number(db_, "PRAGMA page_size", &c);
        if (a != SQLITE_OK || b != SQLITE_OK || c != SQLITE_OK)
            return problem(a != SQLITE_OK ? a : b != SQLITE_OK ? b : c, Untrimmed);
        if (used <= bound)
            break;
        const std::optional<std::string> oldestText =
            single(db_,
                   "SELECT min(seen) FROM (SELECT min(seen) AS seen FROM fingerprints"
                   " UNION ALL SELECT min(seen) FROM contents)",
                   &code);
        if (code != SQLITE_OK)
            return problem(code, Untrimmed);
        if (!oldestText || oldestText->empty())
            break;
        // Read as a number, so that only a number goes back into the statement.
        const int64_t oldest = std::strtoll(oldestText->c_str(), nullptr, 10);
        if (oldest >= today_)
            break;
        const std::string cutoff = std::to_string(oldest);
        const int64_t changesBefore = sqlite3_total_changes64(db_);
        code = transaction("BEGIN IMMEDIATE; DELETE FROM fingerprints WHERE seen <= " + cutoff +
                           "; DELETE FROM contents WHERE seen <= " + cutoff + "; COMMIT;");
        if (code != SQLITE_OK)
            return problem(code, Untrimmed);
        if (sqlite3_total_changes64(db_) == changesBefore) // nothing went: no progress to make
            break;
    }
    code = sqlite3_exec(db_, "PRAGMA incremental_vacuum", nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) {
        failed(code);
        return problem(code, Untrimmed);
    }
    return {};
}

std::string CacheDatabase::writeBack() {
    if (!db_)
        return problem_;
    const std::string written = flush();
    if (!written.empty())
        return written;
    return trim();
}

bool CacheDatabase::clear() {
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
    // The file shrinks to its empty tables; what could not be given back is still empty.
    exec(db_, "VACUUM");
    return true;
}

int64_t CacheDatabase::entries() {
    std::lock_guard lock(mutex_);
    if (!db_)
        return 0;
    return number(db_, "SELECT count(*) FROM fingerprints") +
           number(db_, "SELECT count(*) FROM contents");
}

} // namespace fenwa::similar
