#pragma once
// The stored options and directory list: which values there are, in which order they are
// read and written, their defaults, and how a damaged store is read. The window hands in
// its controls through SettingsControls and the QSettings to use, so a test can work on a
// settings file of its own.

#include <QString>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "filesystem.h"
#include "pathrules.h"

class QSettings;

namespace fenwa {

enum class SettingKind { Flag, Text };

struct SettingValue {
    const char* name;
    SettingKind kind;
    bool flagDefault;        // for flags
    const char* textDefault; // for texts
};

// Every value but the directories, in the order they are read and written. The names
// are those of the controls they belong to.
inline constexpr std::array<SettingValue, 24> SettingsTable{{
    {"ckName", SettingKind::Flag, false, nullptr},
    {"ckSize", SettingKind::Flag, true, nullptr},
    {"ckTime", SettingKind::Flag, false, nullptr},
    {"ckInclude", SettingKind::Flag, true, nullptr},
    {"ckPreview", SettingKind::Flag, true, nullptr},
    {"ckShowSlides", SettingKind::Flag, true, nullptr},
    {"raDblClick", SettingKind::Flag, true, nullptr},
    {"raClick", SettingKind::Flag, false, nullptr},
    {"edTime", SettingKind::Text, false, "200"},
    {"rbFullSize", SettingKind::Flag, false, nullptr},
    {"rbHalf", SettingKind::Flag, true, nullptr},
    {"rbQuarter", SettingKind::Flag, false, nullptr},
    {"rbEighth", SettingKind::Flag, false, nullptr},
    {"ckNoConfirm", SettingKind::Flag, false, nullptr},
    {"ckNoRecycle", SettingKind::Flag, false, nullptr},
    {"rbEnglish", SettingKind::Flag, true, nullptr},
    {"rbChinese", SettingKind::Flag, false, nullptr},
    // Last, so that a store written before it existed reads as before.
    {"ckContent", SettingKind::Flag, false, nullptr},
    {"ckSimilar", SettingKind::Flag, false, nullptr},
    {"cbSimilarLevel", SettingKind::Text, false, "2"},
    // The Filters page; their defaults leave nothing out.
    {"edMinSize", SettingKind::Text, false, ""},
    {"edMaxSize", SettingKind::Text, false, ""},
    {"ckSkipEmpty", SettingKind::Flag, false, nullptr},
    {"ckPicturesOnly", SettingKind::Flag, false, nullptr},
}};

inline constexpr const char* DirCountName = "DirCount";
// Without a stored count the load looks at Dir1 to Dir1000.
inline constexpr uint32_t DefaultDirCount = 1000;
QString directoryValueName(uint32_t position); // "Dir" + position, 1-based
// "DirProtect" + position: 1 when that directory's files are protected. A store written
// before it existed lists every directory unprotected.
QString directoryProtectValueName(uint32_t position);

// The folders protected besides the listed directories' marks (the More Options page's
// list): "ProtectedCount", then "Protected1" ... as the directories are stored. A store
// written before they existed has none.
inline constexpr const char* ProtectedCountName = "ProtectedCount";
QString protectedFolderValueName(uint32_t position); // "Protected" + position, 1-based

// The folders a search skips (the Filters page's list): "SkipCount", then "Skip1" ...
// as the protected folders. A store written before they existed skips none.
inline constexpr const char* SkipCountName = "SkipCount";
QString skipFolderValueName(uint32_t position); // "Skip" + position, 1-based

inline constexpr const char* MsgSettingsSaved = "恭禧您啦!您的設定值已經儲存";
// Heads the list of stored directories a load refused, one line each.
inline constexpr const char* MsgRestoredDirectoriesRefused =
    "設定檔中的這些目錄與已列出的目錄重複或是直系親屬, 沒有列入; 設定檔沒有改變 (these "
    "directories of the settings file repeat a listed one or lie inside or above it and "
    "were not listed; the settings file is unchanged):\n";
QString invalidDataTypeMessage(const QString& valueName);
QString failedToGetDataMessage(const QString& valueName);
QString failedToSetDataMessage(const QString& valueName);

// The window's side of loading and saving.
class SettingsControls {
public:
    virtual ~SettingsControls() = default;
    // Sets the control as a user would, so that its own handlers run.
    virtual void setFlag(const QString& name, bool value) = 0;
    virtual void setText(const QString& name, const QString& value) = 0;
    virtual bool flag(const QString& name) const = 0;
    virtual QString text(const QString& name) const = 0;
    // The directory list's entries, native bytes, top to bottom.
    virtual std::vector<std::string> directories() const = 0;
    virtual void appendDirectory(const std::string& directory) = 0;
    // Whether the list's entry at `index` is protected; marks an entry protected.
    virtual bool isDirectoryProtected(size_t /*index*/) const { return false; }
    virtual void protectDirectory(size_t /*index*/) {}
    // The protected folders of the More Options page, native bytes, in their order.
    virtual std::vector<std::string> protectedFolders() const { return {}; }
    virtual void setProtectedFolders(const std::vector<std::string>& /*folders*/) {}
    // The folders a search skips, native bytes, in their order.
    virtual std::vector<std::string> skipFolders() const { return {}; }
    virtual void setSkipFolders(const std::vector<std::string>& /*folders*/) {}
    virtual bool isExistingDirectory(const std::string& directory) const = 0;
    // A directory's identity and those above it (directoryAncestry); empty when it cannot
    // be looked at, and then entries are compared by their texts alone.
    virtual std::vector<platform::FileIdentity> directoryAncestry(const std::string&) const {
        return {};
    }
    virtual void showError(const QString& message) = 0;
    virtual void showInformation(const QString& message) = 0;
};

// Reads every value in table order into the controls, then the directories. A value
// that is missing takes its default silently. A value that cannot be read (a wrong type,
// or damaged data) shows its message; the values before it stand, and it and every
// value after it take their defaults, directories included, so a damaged store never
// keeps the program from starting and never half-applies an unreadable value.
// Directories are compared as the path style's file systems name them; one that is
// another listed directory under another spelling (by what it is on the disk), or lies
// inside or above one, is refused as a typed one would be: not listed, named in one
// message, its protection passed to the entry it clashes with. Then the protected
// folders, as stored: one that is not there now is kept (a drive not plugged in), and
// protects nothing until it is; and the skipped folders alike.
void loadSettings(QSettings& settings, SettingsControls& controls,
                  platform::PathStyle style = platform::nativePathStyle());
bool sameListedDirectory(platform::PathStyle style, const std::string& a, const std::string& b);

// Writes every value from the controls, then DirCount, and for each directory
// DirProtect<n> and Dir<n> (a text, or binary data holding the exact bytes of a directory
// name that is not UTF-8), then ProtectedCount and Protected<n> alike, SkipCount and
// Skip<n> too, and shows the
// confirmation. Directory values beyond the new count stay
// in the store: the next load stops at DirCount. The store is written in one piece (a temporary
// file renamed over the old one), so when it cannot be written nothing of the old one is lost; the
// failure is reported for the first value, which is where the save stopped. Returns true when
// saved.
bool saveSettings(QSettings& settings, SettingsControls& controls);

} // namespace fenwa
