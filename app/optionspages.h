#pragma once
// The two option pages of the top band: what a search compares, how the list acts on a
// click, the delay, deleting, the language and the cache; and storing them.

#include <QTabWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "identity.h"
#include "resultlist.h"

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

    // The criteria ticked at this moment.
    Criteria criteria() const;
    // The flags of every delete request: no question when ckNoConfirm is ticked, the
    // trash unless ckNoRecycle is ticked.
    int DeleteFlags() const;
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

public slots:
    void raDblClickClick();
    void raClickClick();
    void edTimeChange();
    void btnSaveOptionsClick();
    void btnClearCacheClick();
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
    bool edTimeKeyPress(QKeyEvent* event);
    void ckSimilarClick(bool on);

    OptionsServices services_;
    // The ticks that ticking Similar took off, given back when it is taken off.
    std::vector<QCheckBox*> similarTookOff_;
    SettingsDirectories& directories_;
    bool searching_ = false;
    bool loadingSettings_ = false;
    QString similarNote_;
};

} // namespace fenwa
