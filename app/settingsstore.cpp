#include "settingsstore.h"

#include <QFile>
#include <QSettings>
#include <algorithm>
#include <optional>

#include "directorylist.h"
#include "pathrules.h"
#include "settingsformat.h"
#include "uitext.h"

namespace fenwa {

namespace {

enum class ReadStatus { Missing, Read, WrongType, NoData };

// The bytes a value takes in the store, counted as the registry does (a text in UTF-16
// with its terminator); -1 when its data cannot be read at all.
qsizetype storedSize(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Bool:
        return 4;
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return 8;
    case QMetaType::QString:
        return (v.toString().size() + 1) * 2;
    case QMetaType::QByteArray:
        return v.toByteArray().size();
    default:
        return -1;
    }
}

// A flag or count: a 32-bit number. Data of another type is read first, so what does
// not fit 32 bits fails to read; what fits is of the wrong type.
ReadStatus readNumber(const QSettings& settings, const QString& name, uint32_t& out) {
    if (!settings.contains(name))
        return ReadStatus::Missing;
    const QVariant v = settings.value(name);
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
        out = v.toUInt();
        return ReadStatus::Read;
    case QMetaType::Bool:
        out = v.toBool() ? 1 : 0;
        return ReadStatus::Read;
    default: {
        const qsizetype size = storedSize(v);
        return size < 0 || size > 4 ? ReadStatus::NoData : ReadStatus::WrongType;
    }
    }
}

ReadStatus readText(const QSettings& settings, const QString& name, QString& out) {
    if (!settings.contains(name))
        return ReadStatus::Missing;
    const QVariant v = settings.value(name);
    if (v.typeId() == QMetaType::QString) {
        out = v.toString();
        return ReadStatus::Read;
    }
    if (v.typeId() == qMetaTypeId<platform::UnreadableSetting>())
        return ReadStatus::NoData;
    return ReadStatus::WrongType;
}

// A directory: a text, or for a directory whose name is not UTF-8 (which a text cannot
// hold) its bytes as binary data.
ReadStatus readDirectory(const QSettings& settings, const QString& name, std::string& out) {
    if (settings.contains(name) && settings.value(name).typeId() == QMetaType::QByteArray) {
        out = settings.value(name).toByteArray().toStdString();
        return ReadStatus::Read;
    }
    QString text;
    const ReadStatus status = readText(settings, name, text);
    out = QFile::encodeName(text).toStdString();
    return status;
}

// A directory as readDirectory reads it back.
void setDirectoryValue(QSettings& settings, const QString& name, const std::string& directory) {
    const QByteArray bytes = QByteArray::fromStdString(directory);
    const QString text = QFile::decodeName(bytes);
    // A name that is not UTF-8 would come back as another name from a text.
    if (QFile::encodeName(text) == bytes)
        settings.setValue(name, text);
    else
        settings.setValue(name, bytes);
}

// Shows the message of a failed read; true when the value was read or is missing.
bool readSucceeded(ReadStatus status, const QString& name, SettingsControls& controls) {
    if (status == ReadStatus::WrongType)
        controls.showError(invalidDataTypeMessage(name));
    else if (status == ReadStatus::NoData)
        controls.showError(failedToGetDataMessage(name));
    return status == ReadStatus::Read || status == ReadStatus::Missing;
}

// The positions n of the values "<stem><n>" present in the store, n <= count, ascending.
// Equivalent to trying every name up to the count (missing ones are skipped anyway),
// without thousands of look-ups for a large count.
std::vector<uint32_t> storedPositions(const QSettings& settings, QLatin1String stem,
                                      uint32_t count) {
    std::vector<uint32_t> positions;
    for (const QString& key : settings.childKeys()) {
        if (!key.startsWith(stem) || key.size() <= stem.size() || key.size() > stem.size() + 10)
            continue;
        const QStringView digits = QStringView(key).sliced(stem.size());
        if (digits.front() == u'0' || !std::all_of(digits.begin(), digits.end(),
                                                   [](QChar c) { return c >= u'0' && c <= u'9'; }))
            continue;
        const qulonglong n = digits.toULongLong();
        if (n >= 1 && n <= count)
            positions.push_back(uint32_t(n));
    }
    std::sort(positions.begin(), positions.end());
    return positions;
}

} // namespace

QString directoryValueName(uint32_t position) {
    return QStringLiteral("Dir") + QString::number(position);
}

QString directoryProtectValueName(uint32_t position) {
    return QStringLiteral("DirProtect") + QString::number(position);
}

QString protectedFolderValueName(uint32_t position) {
    return QStringLiteral("Protected") + QString::number(position);
}

QString skipFolderValueName(uint32_t position) {
    return QStringLiteral("Skip") + QString::number(position);
}

QString invalidDataTypeMessage(const QString& valueName) {
    return QStringLiteral("Invalid data type for '%1'").arg(valueName);
}

QString failedToGetDataMessage(const QString& valueName) {
    return QStringLiteral("Failed to get data for '%1'").arg(valueName);
}

QString failedToSetDataMessage(const QString& valueName) {
    return QStringLiteral("Failed to set data for '%1'").arg(valueName);
}

bool sameListedDirectory(platform::PathStyle style, const std::string& a, const std::string& b) {
    // Windows file systems ignore case; POSIX ones do not.
    if (style == platform::PathStyle::Windows)
        return QString::fromUtf8(a).compare(QString::fromUtf8(b), Qt::CaseInsensitive) == 0;
    return a == b;
}

namespace {

void loadDirectories(QSettings& settings, SettingsControls& controls, platform::PathStyle style) {
    uint32_t count = DefaultDirCount;
    const QString countName = QString::fromLatin1(DirCountName);
    if (!readSucceeded(readNumber(settings, countName, count), countName, controls))
        return;
    // Entries that repeat a listed directory under another spelling, or lie inside or
    // above one, are refused as typed ones are, and named together afterwards. Only
    // the list changes: the store keeps every entry until the user saves.
    QStringList refused;
    for (uint32_t position : storedPositions(settings, QLatin1String("Dir"), count)) {
        const QString name = directoryValueName(position);
        std::string directory;
        if (!readSucceeded(readDirectory(settings, name, directory), name, controls))
            break;
        if (directory.empty())
            continue;
        if (!controls.isExistingDirectory(directory))
            continue;
        const std::vector<std::string> listed = controls.directories();
        if (std::any_of(listed.begin(), listed.end(), [&](const std::string& entry) {
                return sameListedDirectory(style, entry, directory);
            }))
            continue;
        // An unreadable mark protects nothing, as a missing one does.
        uint32_t protect = 0;
        const bool protectedEntry = readNumber(settings, directoryProtectValueName(position),
                                               protect) == ReadStatus::Read &&
                                    protect != 0;
        const auto ancestry = [&controls](const std::string& d) {
            return controls.directoryAncestry(d);
        };
        const AddDirectoryCheck check = checkDirectoryToAdd(
            directory, listed,
            [&controls](const std::string& d) { return controls.isExistingDirectory(d); }, style,
            ancestry);
        if (check.outcome == AddDirectoryOutcome::Added) {
            controls.appendDirectory(directory);
            if (protectedEntry)
                controls.protectDirectory(listed.size());
            continue;
        }
        if (check.outcome != AddDirectoryOutcome::Relatives)
            continue;
        const std::vector<platform::FileIdentity> mine = ancestry(directory);
        const std::vector<platform::FileIdentity> theirs = ancestry(check.conflict);
        const bool same = !mine.empty() && !theirs.empty() && mine.front() == theirs.front();
        const auto shown = [](const std::string& bytes) {
            return QFile::decodeName(QByteArray::fromStdString(bytes));
        };
        QString line =
            same
                ? QString::fromUtf8(
                      say("%1 and %2 are the same directory", "%1 和 %2 是同一個目錄"))
                      .arg(shown(directory), shown(check.conflict))
                : shown(relativesMessage(directory, check.conflict)) +
                      QString::fromUtf8(say(" (one lies inside the other)", " (一個在另一個裡面)"));
        // Its protection is never lost: the listed entry it clashes with takes it, which
        // covers it whole or as the directory above it.
        const size_t conflict =
            size_t(std::find(listed.begin(), listed.end(), check.conflict) - listed.begin());
        if (protectedEntry && !controls.isDirectoryProtected(conflict)) {
            controls.protectDirectory(conflict);
            line += QStringLiteral("\n    ") +
                    QString::fromUtf8(say("its protection now marks %1", "受保護的標記移到 %1"))
                        .arg(shown(check.conflict));
        }
        refused << line;
    }
    if (!refused.isEmpty())
        controls.showError(QString::fromUtf8(MsgRestoredDirectoriesRefused) +
                           refused.join(QLatin1Char('\n')));
}

// A list of folders ("<stem>Count", then "<stem>1" ...), read apart from the directory
// list, so that a damaged list loses none of them. An unreadable entry is named and ends
// the list there; a list whose count cannot be read is left as it is.
std::optional<std::vector<std::string>> loadFolders(QSettings& settings, SettingsControls& controls,
                                                    QLatin1String stem) {
    uint32_t count = 0;
    const QString countName = stem + QLatin1String("Count");
    if (!readSucceeded(readNumber(settings, countName, count), countName, controls))
        return std::nullopt;
    std::vector<std::string> folders;
    for (uint32_t position : storedPositions(settings, stem, count)) {
        const QString name = stem + QString::number(position);
        std::string folder;
        if (!readSucceeded(readDirectory(settings, name, folder), name, controls))
            break;
        if (!folder.empty() && std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    }
    return folders;
}

} // namespace

void loadSettings(QSettings& settings, SettingsControls& controls, platform::PathStyle style) {
    bool failed = false;
    for (const SettingValue& value : SettingsTable) {
        const QString name = QString::fromLatin1(value.name);
        if (value.kind == SettingKind::Flag) {
            uint32_t stored = 0;
            ReadStatus status = failed ? ReadStatus::Missing : readNumber(settings, name, stored);
            failed = failed || !readSucceeded(status, name, controls);
            controls.setFlag(name, status == ReadStatus::Read ? stored != 0 : value.flagDefault);
        } else {
            QString stored;
            ReadStatus status = failed ? ReadStatus::Missing : readText(settings, name, stored);
            failed = failed || !readSucceeded(status, name, controls);
            controls.setText(
                name, status == ReadStatus::Read ? stored : QString::fromUtf8(value.textDefault));
        }
    }
    if (failed)
        return;
    loadDirectories(settings, controls, style);
    if (auto folders = loadFolders(settings, controls, QLatin1String("Protected")))
        controls.setProtectedFolders(*folders);
    if (auto folders = loadFolders(settings, controls, QLatin1String("Skip")))
        controls.setSkipFolders(*folders);
}

bool saveSettings(QSettings& settings, SettingsControls& controls) {
    const QString firstName = QString::fromLatin1(SettingsTable.front().name);
    if (!settings.isWritable()) {
        controls.showError(failedToSetDataMessage(firstName));
        return false;
    }
    for (const SettingValue& value : SettingsTable) {
        const QString name = QString::fromLatin1(value.name);
        if (value.kind == SettingKind::Flag)
            settings.setValue(name, controls.flag(name) ? 1 : 0);
        else
            settings.setValue(name, controls.text(name));
    }
    const std::vector<std::string> directories = controls.directories();
    settings.setValue(QString::fromLatin1(DirCountName), int(directories.size()));
    for (size_t i = 0; i < directories.size(); ++i) {
        // Written for every entry, so a mark of an earlier list never lingers.
        settings.setValue(directoryProtectValueName(uint32_t(i + 1)),
                          controls.isDirectoryProtected(i) ? 1 : 0);
        setDirectoryValue(settings, directoryValueName(uint32_t(i + 1)), directories[i]);
    }
    const std::vector<std::string> folders = controls.protectedFolders();
    settings.setValue(QString::fromLatin1(ProtectedCountName), int(folders.size()));
    for (size_t i = 0; i < folders.size(); ++i)
        setDirectoryValue(settings, protectedFolderValueName(uint32_t(i + 1)), folders[i]);
    const std::vector<std::string> skipped = controls.skipFolders();
    settings.setValue(QString::fromLatin1(SkipCountName), int(skipped.size()));
    for (size_t i = 0; i < skipped.size(); ++i)
        setDirectoryValue(settings, skipFolderValueName(uint32_t(i + 1)), skipped[i]);
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        controls.showError(failedToSetDataMessage(firstName));
        return false;
    }
    controls.showInformation(QString::fromUtf8(MsgSettingsSaved));
    return true;
}

} // namespace fenwa
