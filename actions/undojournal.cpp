#include "undojournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>
#include <cstdio>
#include <cstring>
#include <random>
#include <type_traits>

#include "filelock.h"
#include "uitext.h"

namespace fenwa::actions {

namespace {

const QLatin1String FormatName("fenwa-undo-journal");
constexpr int FormatVersion = 1;

// Bytes are written as text: ASCII stays readable, every other byte is %XX (JsonText::bytes).
std::optional<std::string> decodeBytes(const QJsonValue& value) {
    if (!value.isString())
        return std::nullopt;
    const QString text = value.toString();
    // Only what encodeBytes writes: anything else means a damaged entry.
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return std::nullopt;
    return QByteArray::fromPercentEncoding(text.toLatin1()).toStdString();
}

// A decimal text as written by number(); false when it is not one.
template <typename T> bool readNumber(const QJsonValue& value, T& n) {
    bool ok = false;
    if constexpr (std::is_signed_v<T>)
        n = T(value.toString().toLongLong(&ok));
    else
        n = T(value.toString().toULongLong(&ok));
    return value.isString() && ok;
}

QString hashText(const ContentHash& hash) {
    return QString::number(hash.high, 16).rightJustified(16, '0') +
           QString::number(hash.low, 16).rightJustified(16, '0');
}

std::optional<ContentHash> hashOf(const QJsonValue& value) {
    const QString text = value.toString();
    bool high = false, low = false;
    ContentHash hash;
    hash.high = text.left(16).toULongLong(&high, 16);
    hash.low = text.mid(16).toULongLong(&low, 16);
    if (text.size() != 32 || !high || !low)
        return std::nullopt;
    return hash;
}

// The journal's text written directly: a Qt JSON document of 10,000 acted files took
// seconds to build. Every value is a string of printable ASCII (bytes percent-encoded,
// numbers in decimal), a JSON number, or an array of objects; one object a line.
class JsonText {
public:
    explicit JsonText(QByteArray& out) : out_(out) {}
    void open(char bracket) {
        out_ += bracket;
        first_ = true;
    }
    void close(char bracket) {
        out_ += bracket;
        first_ = false;
    }
    void key(const char* name) {
        separate();
        out_ += '"';
        out_ += name;
        out_ += "\": ";
        first_ = true; // the value follows without a comma
    }
    void element() { separate(); }
    void string(const char* key_, std::string_view text) {
        key(key_);
        quoted(text);
        first_ = false;
    }
    void bytes(const char* key_, const std::string& raw) {
        key(key_);
        quoted(QByteArray::fromStdString(raw).toPercentEncoding(QByteArrayLiteral("/ ")));
        first_ = false;
    }
    void number(const char* key_, uint64_t n) { string(key_, std::to_string(n)); }
    void number(const char* key_, int64_t n) { string(key_, std::to_string(n)); }
    void plainNumber(const char* key_, int64_t n) {
        key(key_);
        out_ += QByteArray::number(qlonglong(n));
        first_ = false;
    }
    void newline() { out_ += "\n"; }

private:
    void separate() {
        if (!first_)
            out_ += ", ";
        first_ = false;
    }
    void quoted(std::string_view text) {
        out_ += '"';
        for (const char c : text) {
            const auto u = static_cast<unsigned char>(c);
            if (c == '"' || c == '\\') {
                out_ += '\\';
                out_ += c;
            } else if (u < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
                out_ += escaped;
            } else {
                out_ += c;
            }
        }
        out_ += '"';
    }
    void quoted(const QByteArray& text) {
        quoted(std::string_view(text.constData(), size_t(text.size())));
    }

    QByteArray& out_;
    bool first_ = true;
};

void writeActed(JsonText& json, const ActedFile& f) {
    json.element();
    json.open('{');
    json.string("act", actKindName(f.act));
    json.bytes("path", f.path);
    if (f.act == ActKind::Move)
        json.bytes("destination", f.destination);
    else
        json.bytes("keeper", f.keeper);
    json.number("mode", uint64_t(f.meta.mode));
    json.number("user", uint64_t(f.meta.uid));
    json.number("group", uint64_t(f.meta.gid));
    json.number("accessed", f.meta.atimeNs);
    json.number("modified", f.meta.mtimeNs);
    json.number("size", f.meta.size);
    json.string("hash", hashText(f.hash).toStdString());
    json.number("device", f.left.identity.device);
    json.number("inode", f.left.identity.inode);
    if (f.left.symlink)
        json.bytes("link", f.left.linkText);
    if (!f.meta.attributes.empty()) {
        json.key("attributes");
        json.open('[');
        for (const platform::ExtendedAttribute& a : f.meta.attributes) {
            json.element();
            json.open('{');
            json.bytes("name", a.name);
            json.bytes("value", a.value);
            json.close('}');
        }
        json.close(']');
    }
    if (!f.madeFolders.empty()) {
        json.key("folders");
        json.open('[');
        for (const platform::MadeFolder& m : f.madeFolders) {
            json.element();
            json.open('{');
            json.bytes("path", m.path);
            json.number("device", m.identity.device);
            json.number("inode", m.identity.inode);
            json.close('}');
        }
        json.close(']');
    }
    json.close('}');
}

std::optional<ActedFile> actedFromJson(const QJsonValue& value, UndoKind kind) {
    const QJsonObject o = value.toObject();
    ActedFile f;
    if (!actKindNamed(o.value("act").toString().toStdString(), f.act) ||
        (f.act == ActKind::Move) != (kind == UndoKind::Move) || f.act == ActKind::Delete)
        return std::nullopt;
    const auto path = decodeBytes(o.value("path"));
    const auto other = decodeBytes(o.value(kind == UndoKind::Move ? "destination" : "keeper"));
    const auto hash = hashOf(o.value("hash"));
    uint64_t mode = 0, user = 0, group = 0;
    if (!path || !other || path->empty() || other->empty() || !hash ||
        !readNumber(o.value("mode"), mode) || !readNumber(o.value("user"), user) ||
        !readNumber(o.value("group"), group) || !readNumber(o.value("accessed"), f.meta.atimeNs) ||
        !readNumber(o.value("modified"), f.meta.mtimeNs) ||
        !readNumber(o.value("size"), f.meta.size) ||
        !readNumber(o.value("device"), f.left.identity.device) ||
        !readNumber(o.value("inode"), f.left.identity.inode))
        return std::nullopt;
    if (o.contains("link")) {
        const auto link = decodeBytes(o.value("link"));
        if (!link)
            return std::nullopt;
        f.left.symlink = true;
        f.left.linkText = *link;
    }
    for (const QJsonValue& a : o.value("attributes").toArray()) {
        const auto name = decodeBytes(a.toObject().value("name"));
        const auto bytes = decodeBytes(a.toObject().value("value"));
        if (!name || !bytes || name->empty())
            return std::nullopt;
        f.meta.attributes.push_back({*name, *bytes});
    }
    for (const QJsonValue& m : o.value("folders").toArray()) {
        platform::MadeFolder made;
        const auto folder = decodeBytes(m.toObject().value("path"));
        if (!folder || folder->empty() ||
            !readNumber(m.toObject().value("device"), made.identity.device) ||
            !readNumber(m.toObject().value("inode"), made.identity.inode))
            return std::nullopt;
        made.path = *folder;
        f.madeFolders.push_back(std::move(made));
    }
    f.path = *path;
    (kind == UndoKind::Move ? f.destination : f.keeper) = *other;
    f.meta.mode = uint32_t(mode);
    f.meta.uid = uint32_t(user);
    f.meta.gid = uint32_t(group);
    f.hash = *hash;
    return f;
}

void writeAction(JsonText& json, const UndoAction& action) {
    json.element();
    json.newline();
    json.open('{');
    json.number("id", action.id);
    if (action.kind == UndoKind::Move || action.kind == UndoKind::Replace) {
        // A kind an older program does not know: it skips the entry.
        json.string("kind", action.kind == UndoKind::Move ? "move" : "replace");
        json.key("files");
        json.open('[');
        for (const ActedFile& f : action.acted) {
            json.newline();
            writeActed(json, f);
        }
        json.close(']');
    } else if (action.kind == UndoKind::Rename) {
        json.string("kind", "rename");
        json.bytes("directory", action.directory);
        json.bytes("from", action.oldName);
        json.bytes("to", action.newName);
        // Decimal texts: a JSON number cannot hold every 64-bit value exactly.
        json.number("device", action.renamed.device);
        json.number("inode", action.renamed.inode);
    } else {
        json.string("kind", "trash");
        json.key("files");
        json.open('[');
        for (const platform::TrashedFile& f : action.trashed) {
            json.element();
            json.open('{');
            json.bytes("path", f.originalPath);
            json.string("deleted", f.deletionDate);
            json.plainNumber("deletedAt", f.deletedAt);
            json.bytes("item", f.trashedAs);
            json.close('}');
        }
        json.close(']');
    }
    json.close('}');
}

uint64_t newId() {
    thread_local std::mt19937_64 random{std::random_device{}()};
    uint64_t id = 0;
    while (id == 0)
        id = random();
    return id;
}

std::optional<UndoAction> fromJson(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    UndoAction action;
    // An entry written before entries had one gets one now, kept once written again.
    if (!readNumber(o.value("id"), action.id) || action.id == 0)
        action.id = newId();
    const QString kind = o.value("kind").toString();
    if (kind == QLatin1String("rename")) {
        action.kind = UndoKind::Rename;
        const auto directory = decodeBytes(o.value("directory"));
        const auto from = decodeBytes(o.value("from"));
        const auto to = decodeBytes(o.value("to"));
        if (!directory || !from || !to || from->empty() || to->empty())
            return std::nullopt;
        action.directory = *directory;
        action.oldName = *from;
        action.newName = *to;
        // A journal written before identities were kept leaves it unknown.
        bool device = false, inode = false;
        action.renamed = {o.value("device").toString().toULongLong(&device),
                          o.value("inode").toString().toULongLong(&inode)};
        if (!device || !inode)
            action.renamed = {};
        return action;
    }
    if ((kind == QLatin1String("move") || kind == QLatin1String("replace")) &&
        o.value("files").isArray()) {
        action.kind = kind == QLatin1String("move") ? UndoKind::Move : UndoKind::Replace;
        for (const QJsonValue& f : o.value("files").toArray()) {
            std::optional<ActedFile> file = actedFromJson(f, action.kind);
            if (!file)
                return std::nullopt;
            action.acted.push_back(std::move(*file));
        }
        if (action.acted.empty())
            return std::nullopt;
        return action;
    }
    if (kind != QLatin1String("trash") || !o.value("files").isArray())
        return std::nullopt;
    action.kind = UndoKind::Trash;
    for (const QJsonValue& f : o.value("files").toArray()) {
        const QJsonObject file = f.toObject();
        const auto path = decodeBytes(file.value("path"));
        if (!path || path->empty() || !file.value("deletedAt").isDouble())
            return std::nullopt;
        const auto item = decodeBytes(file.value("item"));
        action.trashed.push_back({*path, file.value("deleted").toString().toStdString(),
                                  int64_t(file.value("deletedAt").toDouble()),
                                  item.value_or(std::string())});
    }
    if (action.trashed.empty())
        return std::nullopt;
    return action;
}

} // namespace

QString UndoJournal::defaultPath() {
    // The user's data directory as the window names it (organisation and program), spelled
    // out so that fenwa-cli, which names neither, shares the journal.
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dir.isEmpty())
        return {};
    return dir + QStringLiteral("/Zantrel/Fenwa/undo-journal.json");
}

UndoJournal::UndoJournal(QString filePath) : filePath_(std::move(filePath)) {}

namespace {

std::set<uint64_t> idsOf(const std::deque<UndoAction>& actions) {
    std::set<uint64_t> ids;
    for (const UndoAction& a : actions)
        ids.insert(a.id);
    return ids;
}

std::string nativeOf(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// How long a change waits for another process's: a save takes milliseconds.
constexpr int LockWaitMilliseconds = 2000;

} // namespace

bool UndoJournal::load() {
    actions_.clear();
    onDisk_.clear();
    problem_.clear();
    if (filePath_.isEmpty())
        return true;
    QFile file(filePath_);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly))
        return false;
    std::optional<std::deque<UndoAction>> read = parse(file.readAll());
    if (!read)
        return false;
    actions_ = std::move(*read);
    onDisk_ = idsOf(actions_);
    noteSeen();
    return true;
}

bool UndoJournal::fileAsSeen() const {
    platform::FileState now;
    return platform::statFileNow(nativeOf(filePath_), now) && seen_.exists &&
           now.identity == seen_.identity && now.changeStamp == seen_.changeStamp &&
           now.size == seen_.size;
}

void UndoJournal::noteSeen() {
    if (!platform::statFileNow(nativeOf(filePath_), seen_))
        seen_ = {};
}

bool UndoJournal::reload() {
    if (filePath_.isEmpty() || fileAsSeen())
        return true;
    QFile file(filePath_);
    std::optional<std::deque<UndoAction>> read;
    if (!file.exists())
        read.emplace();
    else if (file.open(QIODevice::ReadOnly))
        read = parse(file.readAll());
    if (!read)
        return false;
    mergeFrom(std::move(*read));
    noteSeen();
    return true;
}

// The file's entries, in its order, less those undone here; then this run's entries that
// were never written. An entry this run once saw in the file and finds gone was undone
// by another process, and goes here too.
void UndoJournal::mergeFrom(std::deque<UndoAction> onDisk) {
    std::deque<UndoAction> merged;
    for (UndoAction& entry : onDisk) {
        if (taken_.count(entry.id))
            continue;
        // What the file does not hold (the rows of this run's list) stays with the entry.
        for (const UndoAction& mine : actions_)
            if (mine.id == entry.id) {
                entry.rows = mine.rows;
                entry.listGeneration = mine.listGeneration;
                break;
            }
        merged.push_back(std::move(entry));
    }
    const std::set<uint64_t> nowOnDisk = idsOf(onDisk);
    for (UndoAction& mine : actions_)
        if (!onDisk_.count(mine.id) && !nowOnDisk.count(mine.id))
            merged.push_back(std::move(mine));
    while (merged.size() > Capacity)
        merged.pop_front();
    actions_ = std::move(merged);
    onDisk_ = nowOnDisk;
}

bool UndoJournal::update(const std::function<void(std::deque<UndoAction>&)>& change) {
    problem_.clear();
    const auto inMemoryOnly = [&](std::string why) {
        change(actions_);
        while (actions_.size() > Capacity)
            actions_.pop_front();
        problem_ = std::move(why);
        return false;
    };
    if (filePath_.isEmpty()) {
        inMemoryOnly({});
        return true;
    }
    QDir().mkpath(QFileInfo(filePath_).absolutePath());
    platform::FileLock lock;
    switch (lock.lock(nativeOf(filePath_ + QStringLiteral(".lock")), LockWaitMilliseconds)) {
    case platform::FileLock::Result::Locked:
        break;
    case platform::FileLock::Result::Busy:
        return inMemoryOnly(say("The undo journal is in use by another Fenwa (the window or "
                                "fenwa-cli) and was left as it is; Undo reaches this change "
                                "only in this run.",
                                "復原紀錄正由另一個 Fenwa (視窗或 fenwa-cli) 使用, 沒有變更; "
                                "只有在這次執行中才能復原這個變更。"));
    case platform::FileLock::Result::Failed:
        return inMemoryOnly(
            say("The undo journal could not be locked for writing: ", "無法鎖定復原紀錄以寫入: ") +
            std::string(std::strerror(lock.error())));
    }

    std::deque<UndoAction> onDisk;
    std::string note;
    QFile file(filePath_);
    // Unchanged since this run read or wrote it: what it holds is merged in already.
    const bool asSeen = fileAsSeen();
    if (file.exists() && !asSeen) {
        if (!file.open(QIODevice::ReadOnly))
            return inMemoryOnly(say("The undo journal could not be read: ", "無法讀取復原紀錄: ") +
                                file.errorString().toStdString());
        std::optional<std::deque<UndoAction>> read = parse(file.readAll());
        file.close();
        if (read) {
            onDisk = std::move(*read);
        } else {
            // Never trusted, never written over: kept beside under a name of its own.
            QString aside;
            for (int n = 1; n < 1000 && aside.isEmpty(); ++n) {
                const QString name = filePath_ + QStringLiteral(".damaged") +
                                     (n > 1 ? QStringLiteral("-%1").arg(n) : QString());
                if (!QFileInfo::exists(name) && QFile::rename(filePath_, name))
                    aside = name;
            }
            if (aside.isEmpty())
                return inMemoryOnly(say("The undo journal is damaged and could not be set "
                                        "aside; it was left as it is.",
                                        "復原紀錄已損壞且無法另存, 沒有變更。"));
            note =
                say("The undo journal was damaged; it was kept as ", "復原紀錄已損壞; 已另存為 ") +
                nativeOf(aside) + say(" and a new one started.", ", 並開始新的紀錄。");
            onDisk_.clear();
        }
    }
    if (!asSeen)
        mergeFrom(std::move(onDisk));
    change(actions_);
    while (actions_.size() > Capacity)
        actions_.pop_front();
    // Written beside the journal and renamed over it: a crash never leaves half a file.
    QSaveFile out(filePath_);
    const QByteArray text = serialise(actions_);
    if (!(out.open(QIODevice::WriteOnly) && out.write(text) == text.size() && out.commit())) {
        problem_ = say("The undo journal could not be written: ", "無法寫入復原紀錄: ") +
                   out.errorString().toStdString();
        return false;
    }
    onDisk_ = idsOf(actions_);
    taken_.clear();
    problem_ = note;
    noteSeen();
    return true;
}

bool UndoJournal::push(UndoAction action) {
    if (action.id == 0)
        action.id = newId();
    return update(
        [&action](std::deque<UndoAction>& actions) { actions.push_back(std::move(action)); });
}

std::optional<UndoAction> UndoJournal::takeLast(bool* saved) {
    std::optional<UndoAction> taken;
    const bool written = update([&taken](std::deque<UndoAction>& actions) {
        if (actions.empty())
            return;
        taken = std::move(actions.back());
        actions.pop_back();
    });
    if (taken && !written) // the file may still list it: it is not taken again from there
        taken_.insert(taken->id);
    if (saved)
        *saved = written;
    return taken;
}

QByteArray UndoJournal::serialise(const std::deque<UndoAction>& actions) {
    QByteArray text;
    JsonText json(text);
    json.open('{');
    json.string("format", "fenwa-undo-journal");
    json.plainNumber("version", FormatVersion);
    json.key("actions");
    json.open('[');
    for (const UndoAction& action : actions)
        writeAction(json, action);
    json.close(']');
    json.close('}');
    json.newline();
    return text;
}

std::optional<std::deque<UndoAction>> UndoJournal::parse(const QByteArray& text) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    if (root.value("format").toString() != FormatName ||
        root.value("version").toInt() != FormatVersion || !root.value("actions").isArray())
        return std::nullopt;
    std::deque<UndoAction> actions;
    for (const QJsonValue& value : root.value("actions").toArray())
        if (std::optional<UndoAction> action = fromJson(value))
            actions.push_back(std::move(*action));
    while (actions.size() > Capacity)
        actions.pop_front();
    return actions;
}

} // namespace fenwa::actions
