#include "undojournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>
#include <type_traits>

namespace fenwa::actions {

namespace {

const QLatin1String FormatName("fenwa-undo-journal");
constexpr int FormatVersion = 1;

// Bytes as text: ASCII stays readable, every other byte is %XX.
QString encodeBytes(const std::string& bytes) {
    return QString::fromLatin1(
        QByteArray::fromStdString(bytes).toPercentEncoding(QByteArrayLiteral("/ ")));
}

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

QString number(uint64_t n) {
    return QString::number(n);
}
QString number(int64_t n) {
    return QString::number(n);
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

QJsonObject actedToJson(const ActedFile& f) {
    QJsonObject file;
    file["act"] = actKindName(f.act);
    file["path"] = encodeBytes(f.path);
    if (f.act == ActKind::Move)
        file["destination"] = encodeBytes(f.destination);
    else
        file["keeper"] = encodeBytes(f.keeper);
    file["mode"] = number(uint64_t(f.meta.mode));
    file["user"] = number(uint64_t(f.meta.uid));
    file["group"] = number(uint64_t(f.meta.gid));
    file["accessed"] = number(f.meta.atimeNs);
    file["modified"] = number(f.meta.mtimeNs);
    file["size"] = number(f.meta.size);
    file["hash"] = hashText(f.hash);
    file["device"] = number(f.left.identity.device);
    file["inode"] = number(f.left.identity.inode);
    if (f.left.symlink)
        file["link"] = encodeBytes(f.left.linkText);
    return file;
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
    f.path = *path;
    (kind == UndoKind::Move ? f.destination : f.keeper) = *other;
    f.meta.mode = uint32_t(mode);
    f.meta.uid = uint32_t(user);
    f.meta.gid = uint32_t(group);
    f.hash = *hash;
    return f;
}

QJsonObject toJson(const UndoAction& action) {
    QJsonObject o;
    if (action.kind == UndoKind::Move || action.kind == UndoKind::Replace) {
        // A kind an older program does not know: it skips the entry.
        o["kind"] = action.kind == UndoKind::Move ? "move" : "replace";
        QJsonArray files;
        for (const ActedFile& f : action.acted)
            files.append(actedToJson(f));
        o["files"] = files;
        return o;
    }
    if (action.kind == UndoKind::Rename) {
        o["kind"] = "rename";
        o["directory"] = encodeBytes(action.directory);
        o["from"] = encodeBytes(action.oldName);
        o["to"] = encodeBytes(action.newName);
        // Decimal texts: a JSON number cannot hold every 64-bit value exactly.
        o["device"] = QString::number(action.renamed.device);
        o["inode"] = QString::number(action.renamed.inode);
        return o;
    }
    o["kind"] = "trash";
    QJsonArray files;
    for (const platform::TrashedFile& f : action.trashed) {
        QJsonObject file;
        file["path"] = encodeBytes(f.originalPath);
        file["deleted"] = QString::fromStdString(f.deletionDate);
        file["deletedAt"] = double(f.deletedAt);
        file["item"] = encodeBytes(f.trashedAs);
        files.append(file);
    }
    o["files"] = files;
    return o;
}

std::optional<UndoAction> fromJson(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    UndoAction action;
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

bool UndoJournal::load() {
    actions_.clear();
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
    return true;
}

bool UndoJournal::push(UndoAction action) {
    actions_.push_back(std::move(action));
    while (actions_.size() > Capacity)
        actions_.pop_front();
    return save();
}

std::optional<UndoAction> UndoJournal::takeLast(bool* saved) {
    if (saved)
        *saved = true;
    if (actions_.empty())
        return std::nullopt;
    UndoAction action = std::move(actions_.back());
    actions_.pop_back();
    const bool written = save();
    if (saved)
        *saved = written;
    return action;
}

bool UndoJournal::save() const {
    if (filePath_.isEmpty())
        return true;
    QDir().mkpath(QFileInfo(filePath_).absolutePath());
    // Written beside the journal and renamed over it: a crash never leaves half a file.
    QSaveFile file(filePath_);
    const QByteArray text = serialise(actions_);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
}

QByteArray UndoJournal::serialise(const std::deque<UndoAction>& actions) {
    QJsonArray list;
    for (const UndoAction& action : actions)
        list.append(toJson(action));
    QJsonObject root;
    root["format"] = FormatName;
    root["version"] = FormatVersion;
    root["actions"] = list;
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
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
