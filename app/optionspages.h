#pragma once
// The option pages of the top band: what a search compares, how the list acts on a
// click, the delay, deleting, the language and the cache, what a search leaves out; and
// storing them.

#include <QTabWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "identity.h"
#include "resultlist.h"
#include "scanner.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSettings;

namespace fenwa {

class TUpDown;
class UserMessages;

// The directory list as the settings store reads and fills it.
class SettingsDirectories {
public:
    virtual ~SettingsDirectories() = default;
    virtual std::vector<std::string> directoryEntries() const = 0;
    virtual bool isDirectoryProtected(int index) const = 0;
    virtual void setDirectoryProtected(int index, bool on) = 0;
    // Appends an entry the store already checked.
    virtual void appendDirectory(const std::string& directory) = 0;
};

struct OptionsServices {
    UserMessages* messages = nullptr;
    // The settings store; without it nothing is loaded or saved.
    std::function<std::unique_ptr<QSettings>()> openSettings;
    // The cache file of fingerprints and content hashes; none when empty.
    std::string searchCachePath;
    // Asks for a directory (a protected folder to add); nothing when the user cancels.
    std::function<std::optional<QString>(QWidget* parent, const QString& title)> pickDirectory;
};

class OptionsPages : public QTabWidget {
    Q_OBJECT
public:
    OptionsPages(OptionsServices services, SettingsDirectories& directories, QWidget* parent);

    QWidget* tbsOptions;
    QWidget* tbsMore;
    QCheckBox* ckName;
    QCheckBox* ckSize;
    QCheckBox* ckTime;
    QCheckBox* ckContent;
    QCheckBox* ckSimilar;
    QComboBox* cbSimilarLevel; // strict, normal, loose
    QCheckBox* ckInclude;
    QCheckBox* ckPreview;
    QCheckBox* ckShowSlides;
    QRadioButton* raDblClick;
    QRadioButton* raClick;
    QLabel* Label5;
    QLineEdit* edTime;
    TUpDown* UpDown1;
    QCheckBox* ckNoConfirm;
    QCheckBox* ckNoRecycle;
    QPushButton* btnSaveOptions;
    QRadioButton* rbEnglish;
    QRadioButton* rbChinese;
    QPushButton* btnClearCache;
    QLabel* lbCacheSize;
    // Protected folders, any folder: their files are references, as those of a listed
    // directory marked protected. Each item holds its native path (Qt::UserRole).
    QComboBox* cbProtected;
    QPushButton* btnAddProtected;
    QPushButton* btnDelProtected;
    // The Filters page: what a search leaves out. Sizes as typed (bytes, or with k, M, G;
    // blank: no limit); the skipped folders as the protected ones are held.
    QWidget* tbsFilters;
    QLabel* lblMinSize;
    QLineEdit* edMinSize;
    QLabel* lblMaxSize;
    QLineEdit* edMaxSize;
    QLabel* lblSizeUnit;
    QCheckBox* ckSkipEmpty;
    QCheckBox* ckPicturesOnly;
    QComboBox* cbSkipFolders;
    QPushButton* btnAddSkip;
    QPushButton* btnDelSkip;

    // The criteria ticked at this moment.
    Criteria criteria() const;
    // The flags of every delete request: no question when ckNoConfirm is ticked, the
    // trash unless ckNoRecycle is ticked.
    int DeleteFlags() const;
    // The protected folders, native paths, in their order; replacing them as a load does.
    std::vector<std::string> protectedFolders() const;
    void setProtectedFolders(const std::vector<std::string>& folders);
    std::vector<std::string> skipFolders() const;
    void setSkipFolders(const std::vector<std::string>& folders);
    // The filter the Filters page sets up; false, after telling the user what is wrong,
    // when a size cannot be read or the range holds nothing.
    bool readSearchFilter(SearchFilter& filter);
    // While a search runs it holds the cache open: it cannot be cleared.
    void setSearching(bool searching);

    // Reads the stored options and directories into the controls, as a user would set them.
    void LoadSettings();
    // Stores the options and directories; true when saved.
    bool SaveSettings();

signals:
    // A criterion or the similarity level changed.
    void criteriaChanged();
    // The delay of single-click mode changed, in milliseconds.
    void delayChanged(int milliseconds);
    // Double-click mode was chosen: no delayed load is due any more.
    void doubleClickChosen();
    // 1 = English, 2 = Chinese.
    void languageChosen(int code);
    // A protected folder was added or removed, or the list loaded.
    void protectedFoldersChanged();

public slots:
    void raDblClickClick();
    void raClickClick();
    void edTimeChange();
    void btnSaveOptionsClick();
    void btnClearCacheClick();
    // Adds a folder chosen in the directory picker; one already in the list (by what it
    // is on the disk) is only shown.
    void btnAddProtectedClick();
    // Removes the folder shown.
    void btnDelProtectedClick();
    // The same for the skipped folders.
    void btnAddSkipClick();
    void btnDelSkipClick();
    void ChangeLangClick();
    // What ticking Similar last did to the other ticks, for the user (empty: nothing).
    QString similarNote() const { return similarNote_; }
    // The cache file's size beside its Clear button.
    void showCacheSize();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildOptionsPage();
    void buildMorePage();
    void buildFiltersPage();
    // A list of folders: one item each, its native path in Qt::UserRole.
    static std::vector<std::string> foldersIn(const QComboBox* list);
    static void addFolderItem(QComboBox* list, const std::string& folder);
    // Adds a folder picked by the user to the list; false when nothing was added.
    bool pickFolderInto(QComboBox* list, QPushButton* addButton, QPushButton* delButton);
    bool edTimeKeyPress(QKeyEvent* event);
    void ckSimilarClick(bool on);

    OptionsServices services_;
    // The ticks that ticking Similar took off, given back when it is taken off.
    std::vector<QCheckBox*> similarTookOff_;
    SettingsDirectories& directories_;
    bool searching_ = false;
    bool loadingSettings_ = false;
    static constexpr qsizetype DelayTypedLength = 4;
    qsizetype delayShownLength_ = 3; // edTime's text's length before an edit
    QString similarNote_;
};

} // namespace fenwa
