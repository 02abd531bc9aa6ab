#include "optionspages.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QToolTip>

#include "directorylist.h"
#include "filesystem.h"
#include "fingerprint.h"
#include "identity.h"
#include "languages.h"
#include "messages.h"
#include "searchcache.h"
#include "settingsstore.h"
#include "shellfiles.h"
#include "tupdown.h"
#include "uitext.h"

namespace fenwa {

namespace {

// Sets a check box or radio button the way a click of the user would: its handlers run
// only when the state changes, and selecting a radio button clears the others of its
// group. Clearing a radio button touches nothing else, so a pair stored with neither
// selected loads with neither selected (Qt's exclusive groups would refuse that).
void setButtonAsUser(QAbstractButton* button, bool on) {
    if (button->isChecked() == on)
        return;
    if (on || !qobject_cast<QRadioButton*>(button)) {
        if (button->isEnabled())
            button->click();
        else
            button->setChecked(on);
        return;
    }
    const bool exclusive = button->autoExclusive();
    button->setAutoExclusive(false);
    button->setChecked(false);
    button->setAutoExclusive(exclusive);
}

// The window's controls as the settings store reads and writes them. The stored buttons
// include the preview's scale, so they are looked up in the whole window.
class WindowSettingsControls : public SettingsControls {
public:
    WindowSettingsControls(OptionsPages& pages, SettingsDirectories& directories,
                           UserMessages* messages)
        : pages_(pages), directories_(directories), messages_(messages) {}

    void setFlag(const QString& name, bool value) override {
        if (QAbstractButton* b = button(name))
            setButtonAsUser(b, value);
    }
    void setText(const QString& name, const QString& value) override {
        if (QLineEdit* edit = lineEdit(name))
            edit->setText(value);
        // The level as 1, 2 or 3; anything else keeps the default.
        bool number = false;
        const int level = value.toInt(&number);
        if (name == QLatin1String("cbSimilarLevel") && number && level >= 1 &&
            level <= similar::SimilarLevelCount)
            pages_.cbSimilarLevel->setCurrentIndex(level - 1);
    }
    bool flag(const QString& name) const override {
        QAbstractButton* b = button(name);
        return b && b->isChecked();
    }
    QString text(const QString& name) const override {
        if (name == QLatin1String("cbSimilarLevel"))
            return QString::number(pages_.cbSimilarLevel->currentIndex() + 1);
        const QLineEdit* edit = lineEdit(name);
        return edit ? edit->text() : QString();
    }
    std::vector<std::string> directories() const override {
        return directories_.directoryEntries();
    }
    bool isDirectoryProtected(size_t index) const override {
        return directories_.isDirectoryProtected(int(index));
    }
    void protectDirectory(size_t index) override {
        directories_.setDirectoryProtected(int(index), true);
    }
    std::vector<std::string> protectedFolders() const override { return pages_.protectedFolders(); }
    void setProtectedFolders(const std::vector<std::string>& folders) override {
        pages_.setProtectedFolders(folders);
    }
    std::vector<std::string> skipFolders() const override { return pages_.skipFolders(); }
    void setSkipFolders(const std::vector<std::string>& folders) override {
        pages_.setSkipFolders(folders);
    }
    std::vector<platform::FileIdentity> directoryAncestry(const std::string& d) const override {
        return platform::DirectoryLineage{}(d);
    }
    void appendDirectory(const std::string& directory) override {
        directories_.appendDirectory(directory);
    }
    bool isExistingDirectory(const std::string& directory) const override {
        return platform::isExistingDirectory(directory);
    }
    void showError(const QString& message) override {
        if (messages_)
            messages_->error(pages_.window(), message);
    }
    void showInformation(const QString& message) override {
        if (messages_)
            messages_->information(pages_.window(), message);
    }

private:
    // The stored edits: the delay and the sizes of the Filters page.
    QLineEdit* lineEdit(const QString& name) const {
        for (QLineEdit* edit : {pages_.edTime, pages_.edMinSize, pages_.edMaxSize})
            if (edit->objectName() == name)
                return edit;
        return nullptr;
    }
    // The settings name the check boxes and radio buttons by their object names.
    QAbstractButton* button(const QString& name) const {
        return pages_.window()->findChild<QAbstractButton*>(name);
    }

    OptionsPages& pages_;
    SettingsDirectories& directories_;
    UserMessages* messages_;
};

QCheckBox* check(QWidget* page, const QString& caption, const char* name, QRect g, bool on) {
    auto* c = new QCheckBox(caption, page);
    c->setObjectName(name);
    c->setGeometry(g);
    c->setChecked(on);
    return c;
}

QPushButton* button(QWidget* page, const QString& caption, const char* name, QRect g) {
    auto* b = new QPushButton(caption, page);
    b->setObjectName(name);
    b->setGeometry(g);
    return b;
}

} // namespace

OptionsPages::OptionsPages(OptionsServices services, SettingsDirectories& directories,
                           QWidget* parent)
    : QTabWidget(parent), services_(std::move(services)), directories_(directories) {
    setObjectName("pgOptions");
    setGeometry(408, 4, 228, 155);
    buildOptionsPage();
    buildMorePage();
    buildFiltersPage();

    for (QCheckBox* box : {ckName, ckSize, ckTime, ckContent, ckSimilar})
        connect(box, &QCheckBox::toggled, this, &OptionsPages::criteriaChanged);
    connect(cbSimilarLevel, &QComboBox::currentIndexChanged, this, &OptionsPages::criteriaChanged);
    // Only the user's own click rearranges the ticks; a loaded setting is taken as stored.
    connect(ckSimilar, &QAbstractButton::clicked, this, &OptionsPages::ckSimilarClick);
    for (QCheckBox* box : {ckSize, ckContent})
        connect(box, &QAbstractButton::clicked, this, [this, box] {
            std::erase(similarTookOff_, box); // the user (or the store) has the last word
        });
    // The level belongs to Similar: it reads as part of it, and is greyed without it.
    connect(ckSimilar, &QCheckBox::toggled, cbSimilarLevel, &QWidget::setEnabled);
    cbSimilarLevel->setEnabled(ckSimilar->isChecked());
    connect(edTime, &QLineEdit::textChanged, this, &OptionsPages::edTimeChange);
    edTime->installEventFilter(this);
    // Toggling runs the handlers whether the user or the settings loader changes a box.
    connect(raDblClick, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            raDblClickClick();
    });
    connect(raClick, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            raClickClick();
    });
    connect(btnSaveOptions, &QPushButton::clicked, this, &OptionsPages::btnSaveOptionsClick);
    connect(btnClearCache, &QPushButton::clicked, this, &OptionsPages::btnClearCacheClick);
    showCacheSize();
    // fenwa-cli may have filled the shared cache since: measured again when shown.
    connect(this, &QTabWidget::currentChanged, this, [this] {
        if (currentWidget() == tbsMore)
            showCacheSize();
    });
    // A radio button's handler runs when it becomes selected, by the user or by a load.
    for (QRadioButton* language : {rbEnglish, rbChinese})
        connect(language, &QRadioButton::toggled, this, [this](bool selected) {
            if (selected)
                ChangeLangClick();
        });
    setCurrentIndex(0);
}

void OptionsPages::buildOptionsPage() {
    tbsOptions = new QWidget;
    tbsOptions->setObjectName("tbsOptions");
    ckName = check(tbsOptions, QStringLiteral("Name"), "ckName", QRect(6, 4, 68, 20), false);
    ckSize = check(tbsOptions, QStringLiteral("Size"), "ckSize", QRect(76, 4, 68, 20), true);
    ckTime = check(tbsOptions, QStringLiteral("Time"), "ckTime", QRect(146, 4, 68, 20), false);
    // The row of the other three has no room for a fourth caption: Content takes the end
    // of the next row, under Time, which Include Subdirectories leaves free. It is made
    // next, so the Tab key goes through the four criteria in a row.
    ckContent =
        check(tbsOptions, QStringLiteral("Content"), "ckContent", QRect(154, 24, 70, 20), false);
    ckInclude = check(tbsOptions, QStringLiteral("Include Subdirectories"), "ckInclude",
                      QRect(6, 24, 148, 20), true);
    ckPreview =
        check(tbsOptions, QStringLiteral("Preview"), "ckPreview", QRect(6, 44, 120, 20), true);
    ckShowSlides = check(tbsOptions, QStringLiteral("Show Slides"), "ckShowSlides",
                         QRect(100, 44, 120, 20), true);
    raDblClick = new QRadioButton(QStringLiteral("Double click to action"), tbsOptions);
    raDblClick->setObjectName("raDblClick");
    raDblClick->setGeometry(6, 64, 146, 20);
    raDblClick->setChecked(true);
    raClick = new QRadioButton(QStringLiteral("Single click to action"), tbsOptions);
    raClick->setObjectName("raClick");
    raClick->setGeometry(6, 84, 146, 20);
    // Similar and its level take the right end of the two rows of radio buttons.
    ckSimilar =
        check(tbsOptions, QStringLiteral("Similar"), "ckSimilar", QRect(154, 64, 70, 20), false);
    cbSimilarLevel = new QComboBox(tbsOptions);
    cbSimilarLevel->setObjectName("cbSimilarLevel");
    cbSimilarLevel->addItems(
        {QStringLiteral("Strict"), QStringLiteral("Normal"), QStringLiteral("Loose")});
    cbSimilarLevel->setCurrentIndex(int(similar::SimilarLevel::Normal));
    cbSimilarLevel->setGeometry(154, 84, 70, 20);
    // The edit sits in the gap the caption leaves between its two words.
    Label5 = new QLabel(QStringLiteral("Delay time:                    mSeconds"), tbsOptions);
    Label5->setGeometry(6, 107, 210, 18);
    Label5->setObjectName("Label5");
    edTime = new QLineEdit(QStringLiteral("200"), tbsOptions);
    edTime->setObjectName("edTime");
    // Four characters is a limit on what is typed or pasted: a longer stored delay loads
    // whole (and may still be shortened).
    connect(edTime, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (text.size() <= DelayTypedLength || text.size() <= delayShownLength_)
            return;
        // Cut once the edit's own change is through (a paste; typing is refused earlier).
        const QString kept = text.left(std::max(DelayTypedLength, delayShownLength_));
        QMetaObject::invokeMethod(
            this, [this, kept] { edTime->setText(kept); }, Qt::QueuedConnection);
    });
    connect(edTime, &QLineEdit::textChanged, this,
            [this](const QString& text) { delayShownLength_ = text.size(); });
    edTime->setGeometry(70, 105, 44, 21);
    edTime->setEnabled(false);
    UpDown1 = new TUpDown(tbsOptions);
    UpDown1->setObjectName("UpDown1");
    UpDown1->setGeometry(114, 105, 16, 21);
    UpDown1->setRange(0, 9999);
    UpDown1->setIncrement(10);
    UpDown1->setAssociate(edTime);
    UpDown1->setPosition(200);
    UpDown1->setEnabled(false);
    addTab(tbsOptions, QStringLiteral("Options"));
}

void OptionsPages::buildMorePage() {
    tbsMore = new QWidget;
    tbsMore->setObjectName("tbsMore");
    ckNoConfirm = check(tbsMore, QStringLiteral("No confirmation"), "ckNoConfirm",
                        QRect(6, 4, 210, 20), false);
    // Its own face, kept in both languages.
    QFont noConfirmFont(QStringLiteral("新細明體"));
    noConfirmFont.setPixelSize(12);
    ckNoConfirm->setFont(noConfirmFont);
    ckNoRecycle = check(tbsMore, QStringLiteral("Don't use recycle bin"), "ckNoRecycle",
                        QRect(6, 26, 210, 20), false);
    btnSaveOptions =
        button(tbsMore, QStringLiteral("Save options"), "btnSaveOptions", QRect(6, 52, 105, 25));
    rbEnglish = new QRadioButton(QStringLiteral("English"), tbsMore);
    rbEnglish->setObjectName("rbEnglish");
    rbEnglish->setGeometry(6, 84, 100, 20);
    rbEnglish->setChecked(true);
    rbChinese = new QRadioButton(QStringLiteral("中文"), tbsMore);
    rbChinese->setObjectName("rbChinese");
    rbChinese->setGeometry(115, 84, 100, 20);
    // Beside Save options, its size below it: the page is no taller than the Options page.
    btnClearCache =
        button(tbsMore, QStringLiteral("Clear cache"), "btnClearCache", QRect(115, 52, 105, 25));
    lbCacheSize = new QLabel(tbsMore);
    lbCacheSize->setGeometry(115, 106, 105, 18);
    lbCacheSize->setObjectName("lbCacheSize");
    // The protected folders take the free corner under the language buttons: the list
    // drops down as wide as its paths need.
    cbProtected = new QComboBox(tbsMore);
    cbProtected->setObjectName("cbProtected");
    cbProtected->setGeometry(6, 106, 61, 20);
    cbProtected->setPlaceholderText(QStringLiteral("Protected"));
    cbProtected->view()->setMinimumWidth(320);
    btnAddProtected =
        button(tbsMore, QStringLiteral("+"), "btnAddProtected", QRect(69, 106, 20, 20));
    btnDelProtected =
        button(tbsMore, QStringLiteral("-"), "btnDelProtected", QRect(91, 106, 20, 20));
    btnDelProtected->setEnabled(false);
    connect(btnAddProtected, &QPushButton::clicked, this, &OptionsPages::btnAddProtectedClick);
    connect(btnDelProtected, &QPushButton::clicked, this, &OptionsPages::btnDelProtectedClick);
    addTab(tbsMore, QStringLiteral("More Options"));
}

void OptionsPages::buildFiltersPage() {
    tbsFilters = new QWidget;
    tbsFilters->setObjectName("tbsFilters");
    // The two sizes one above the other, their unit beside both.
    const auto label = [this](const QString& caption, const char* name, QRect g) {
        auto* l = new QLabel(caption, tbsFilters);
        l->setObjectName(name);
        l->setGeometry(g);
        return l;
    };
    const auto sizeEdit = [this](const char* name, QRect g) {
        auto* e = new QLineEdit(tbsFilters);
        e->setObjectName(name);
        e->setGeometry(g);
        e->setMaxLength(24);
        return e;
    };
    lblMinSize = label(QStringLiteral("Min size:"), "lblMinSize", QRect(6, 6, 62, 18));
    edMinSize = sizeEdit("edMinSize", QRect(70, 4, 64, 20));
    lblMaxSize = label(QStringLiteral("Max size:"), "lblMaxSize", QRect(6, 28, 62, 18));
    edMaxSize = sizeEdit("edMaxSize", QRect(70, 26, 64, 20));
    lblSizeUnit = label(QStringLiteral("bytes, or with k, M, G; blank: any"), "lblSizeUnit",
                        QRect(138, 2, 84, 46));
    lblSizeUnit->setWordWrap(true);
    lblMinSize->setBuddy(edMinSize);
    lblMaxSize->setBuddy(edMaxSize);
    ckSkipEmpty = check(tbsFilters, QStringLiteral("Skip empty files"), "ckSkipEmpty",
                        QRect(6, 50, 214, 20), false);
    ckPicturesOnly = check(tbsFilters, QStringLiteral("Pictures only"), "ckPicturesOnly",
                           QRect(6, 72, 214, 20), false);
    // The skipped folders as the protected ones on More Options, with the room this page
    // leaves for the closed list.
    cbSkipFolders = new QComboBox(tbsFilters);
    cbSkipFolders->setObjectName("cbSkipFolders");
    cbSkipFolders->setGeometry(6, 100, 150, 20);
    cbSkipFolders->setPlaceholderText(QStringLiteral("Skip folders"));
    cbSkipFolders->view()->setMinimumWidth(320);
    btnAddSkip = button(tbsFilters, QStringLiteral("+"), "btnAddSkip", QRect(158, 100, 20, 20));
    btnDelSkip = button(tbsFilters, QStringLiteral("-"), "btnDelSkip", QRect(180, 100, 20, 20));
    btnDelSkip->setEnabled(false);
    connect(btnAddSkip, &QPushButton::clicked, this, &OptionsPages::btnAddSkipClick);
    connect(btnDelSkip, &QPushButton::clicked, this, &OptionsPages::btnDelSkipClick);
    addTab(tbsFilters, QStringLiteral("Filters"));
}

Criteria OptionsPages::criteria() const {
    return Criteria{ckName->isChecked(), ckSize->isChecked(), ckTime->isChecked(),
                    ckContent->isChecked(), ckSimilar->isChecked()};
}

int OptionsPages::DeleteFlags() const {
    int flags = 0;
    if (ckNoConfirm->isChecked())
        flags += platform::FOF_NOCONFIRMATION;
    if (!ckNoRecycle->isChecked())
        flags += platform::FOF_ALLOWUNDO;
    return flags;
}

bool OptionsPages::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edTime && event->type() == QEvent::KeyPress &&
        edTimeKeyPress(static_cast<QKeyEvent*>(event)))
        return true;
    return QTabWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Click mode and the delay

bool OptionsPages::edTimeKeyPress(QKeyEvent* event) {
    // Only digits may be typed. Control characters (Backspace, Tab, the Delete key's
    // DEL) are no text, and the clipboard keys may carry their letter: those keys edit
    // and move as usual.
    for (QKeySequence::StandardKey k :
         {QKeySequence::Copy, QKeySequence::Cut, QKeySequence::Paste, QKeySequence::SelectAll,
          QKeySequence::Undo, QKeySequence::Redo})
        if (event->matches(k))
            return false;
    const QString text = event->text();
    for (QChar c : text)
        if (c.isPrint() && (c < QLatin1Char('0') || c > QLatin1Char('9')))
            return true;
    // A digit that would make the text longer than may be typed is refused.
    const qsizetype after = edTime->text().size() - edTime->selectedText().size() + text.size();
    return !text.isEmpty() && text.front().isPrint() && after > DelayTypedLength &&
           after > edTime->text().size();
}

void OptionsPages::edTimeChange() {
    bool ok = false;
    const int value = edTime->text().toInt(&ok);
    if (!ok) {
        // The interval keeps its value until a valid number is typed.
        services_.messages->error(
            window(), QStringLiteral("'%1' is not a valid integer value.").arg(edTime->text()));
        return;
    }
    emit delayChanged(value == 0 ? 5 : value);
}

void OptionsPages::raDblClickClick() {
    edTime->setEnabled(false);
    UpDown1->setEnabled(false);
    emit doubleClickChosen();
}

void OptionsPages::raClickClick() {
    edTime->setEnabled(true);
    UpDown1->setEnabled(true);
}

// ---------------------------------------------------------------------------
// Settings

void OptionsPages::LoadSettings() {
    if (!services_.openSettings)
        return;
    const std::unique_ptr<QSettings> settings = services_.openSettings();
    if (!settings)
        return;
    WindowSettingsControls controls(*this, directories_, services_.messages);
    loadingSettings_ = true;
    loadSettings(*settings, controls);
    loadingSettings_ = false;
}

bool OptionsPages::SaveSettings() {
    if (!services_.openSettings)
        return false;
    const std::unique_ptr<QSettings> settings = services_.openSettings();
    if (!settings)
        return false;
    WindowSettingsControls controls(*this, directories_, services_.messages);
    return saveSettings(*settings, controls);
}

void OptionsPages::btnSaveOptionsClick() {
    SaveSettings();
}

void OptionsPages::ChangeLangClick() {
    emit languageChosen(rbEnglish->isChecked() ? English : Chinese);
}

// ---------------------------------------------------------------------------
// Lists of folders: the protected ones and those a search skips

std::vector<std::string> OptionsPages::foldersIn(const QComboBox* list) {
    std::vector<std::string> folders;
    for (int i = 0; i < list->count(); ++i)
        folders.push_back(list->itemData(i).toByteArray().toStdString());
    return folders;
}

void OptionsPages::addFolderItem(QComboBox* list, const std::string& folder) {
    const QString shown = QFile::decodeName(QByteArray::fromStdString(folder));
    // The folder's own name first: the closed list has room for a word.
    const QString name = shown.section(QLatin1Char('/'), -1, -1, QString::SectionSkipEmpty);
    list->addItem(name.isEmpty() ? shown : name + QStringLiteral(" (") + shown + u')',
                  QByteArray::fromStdString(folder));
    list->setItemData(list->count() - 1, shown, Qt::ToolTipRole);
}

bool OptionsPages::pickFolderInto(QComboBox* list, QPushButton* addButton, QPushButton* delButton) {
    const std::optional<QString> picked =
        services_.pickDirectory ? services_.pickDirectory(window(), addButton->toolTip())
                                : std::nullopt;
    if (!picked)
        return false;
    const std::string folder = QFile::encodeName(*picked).toStdString();
    const std::vector<platform::FileIdentity> identity = platform::DirectoryLineage{}(folder);
    if (identity.empty()) {
        services_.messages->error(window(), QString::fromUtf8(MsgNotADirectory));
        return false;
    }
    const std::vector<std::string> folders = foldersIn(list);
    for (size_t i = 0; i < folders.size(); ++i) {
        const std::vector<platform::FileIdentity> listed = platform::DirectoryLineage{}(folders[i]);
        if (folders[i] == folder || (!listed.empty() && listed.front() == identity.front())) {
            list->setCurrentIndex(int(i));
            return false;
        }
    }
    addFolderItem(list, folder);
    list->setCurrentIndex(list->count() - 1);
    delButton->setEnabled(true);
    return true;
}

std::vector<std::string> OptionsPages::protectedFolders() const {
    return foldersIn(cbProtected);
}

void OptionsPages::setProtectedFolders(const std::vector<std::string>& folders) {
    cbProtected->clear();
    for (const std::string& folder : folders)
        addFolderItem(cbProtected, folder);
    btnDelProtected->setEnabled(cbProtected->count() > 0);
    emit protectedFoldersChanged();
}

void OptionsPages::btnAddProtectedClick() {
    if (pickFolderInto(cbProtected, btnAddProtected, btnDelProtected))
        emit protectedFoldersChanged();
}

void OptionsPages::btnDelProtectedClick() {
    const int current = cbProtected->currentIndex();
    if (current < 0)
        return;
    cbProtected->removeItem(current);
    btnDelProtected->setEnabled(cbProtected->count() > 0);
    emit protectedFoldersChanged();
}

std::vector<std::string> OptionsPages::skipFolders() const {
    return foldersIn(cbSkipFolders);
}

void OptionsPages::setSkipFolders(const std::vector<std::string>& folders) {
    cbSkipFolders->clear();
    for (const std::string& folder : folders)
        addFolderItem(cbSkipFolders, folder);
    btnDelSkip->setEnabled(cbSkipFolders->count() > 0);
}

void OptionsPages::btnAddSkipClick() {
    pickFolderInto(cbSkipFolders, btnAddSkip, btnDelSkip);
}

void OptionsPages::btnDelSkipClick() {
    const int current = cbSkipFolders->currentIndex();
    if (current < 0)
        return;
    cbSkipFolders->removeItem(current);
    btnDelSkip->setEnabled(cbSkipFolders->count() > 0);
}

// ---------------------------------------------------------------------------
// Filters

bool OptionsPages::readSearchFilter(SearchFilter& filter) {
    filter = {};
    const std::string problem =
        ReadFilterSizes(edMinSize->text().toStdString(), edMaxSize->text().toStdString(), filter);
    if (!problem.empty()) {
        services_.messages->error(window(), QString::fromStdString(problem));
        return false;
    }
    filter.skipEmpty = ckSkipEmpty->isChecked();
    filter.picturesOnly = ckPicturesOnly->isChecked();
    filter.skipFolders = skipFolders();
    return true;
}

// ---------------------------------------------------------------------------
// The cache of fingerprints and content hashes

void OptionsPages::setSearching(bool searching) {
    searching_ = searching;
    btnClearCache->setEnabled(!searching);
}

void OptionsPages::showCacheSize() {
    const QFileInfo file(QString::fromStdString(services_.searchCachePath));
    btnClearCache->setEnabled(!searching_ && !services_.searchCachePath.empty());
    lbCacheSize->setText(file.exists() ? QLocale::c().formattedDataSize(file.size())
                                       : QStringLiteral("0 bytes"));
}

void OptionsPages::ckSimilarClick(bool on) {
    // Similar compares the pictures themselves; Size and Content would narrow it to the
    // exact copies, which is not what ticking it asks for. They come back with it off.
    similarNote_.clear();
    if (loadingSettings_)
        return; // stored ticks are taken as they were saved
    if (!on) {
        for (QCheckBox* box : similarTookOff_)
            box->setChecked(true);
        similarTookOff_.clear();
        return;
    }
    similarTookOff_.clear();
    QStringList names;
    for (QCheckBox* box : {ckSize, ckContent})
        if (box->isChecked()) {
            box->setChecked(false);
            similarTookOff_.push_back(box);
            names << box->text();
        }
    if (names.isEmpty())
        return;
    similarNote_ = QString::fromUtf8(say("Similar compares the pictures themselves, so %1 "
                                         "would find only exact copies: unticked (they come "
                                         "back when Similar is unticked)",
                                         "「相似」比較圖片本身, 勾選 %1 只會找到完全相同的檔案: "
                                         "已取消勾選 (取消「相似」時會恢復)"))
                       .arg(names.join(QStringLiteral(", ")));
    QToolTip::showText(ckSimilar->mapToGlobal(QPoint(0, ckSimilar->height())), similarNote_,
                       ckSimilar);
}

void OptionsPages::btnClearCacheClick() {
    // A search holds the cache open and writes to it as it ends.
    if (searching_ || services_.searchCachePath.empty())
        return;
    if (!services_.messages->confirm(
            window(), QString::fromUtf8(say("Clear the cache? The next search "
                                            "reads every file again.",
                                            "清除快取? 下次搜尋會重新讀取所有檔案。"))))
        return;
    // Emptied through the database, so a fenwa-cli run using it at the same moment is
    // waited for rather than cut off. A damaged file is set aside by the opening.
    similar::SearchCache cache(services_.searchCachePath);
    if (!cache.clear())
        services_.messages->error(
            window(), QString::fromUtf8(say("The cache could not be cleared: ", "無法清除快取: ")) +
                          QString::fromStdString(services_.searchCachePath));
    showCacheSize();
}

} // namespace fenwa
