#pragma once
// The main window: the top band with the directory list and the options, the result
// list with the slide strip, the preview pane and the status bar. It holds the
// window's own small state; the searching, the records and the rules live in the
// libraries it calls.

#include <QMainWindow>
#include <QPointer>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "filelistmodel.h"
#include "keeprules.h"
#include "resultlist.h"
#include "scanner.h"
#include "search.h"
#include "viewerlist.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QRadioButton;
class QSettings;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QTimer;
class QTreeView;
class TAdvImage;
class TBalloonHint;

namespace fenwa {

namespace platform {
class ShellPrompts;
struct DeleteReport;
} // namespace platform
namespace actions {
class UndoJournal;
struct UndoAction;
} // namespace actions
struct SearchRequest;
class TfrmProgress;
class TfrmViewer;
class TUpDown;
class UserMessages;

// What the main window needs from outside, handed in so tests can stand in for it.
struct MainWindowServices {
    UserMessages* messages = nullptr;
    // The desktop's open verb (a file, a program or a web address).
    std::function<void(const std::string& target, const std::string& parameters)> shellOpen;
    // Runs the directory-picking file dialog; answers the chosen file name, or nothing
    // when the user cancels.
    struct PickRequest {
        QString title;
        QString filter;
        QString initialDirectory;
        QString fileName;
    };
    std::function<std::optional<QString>(QWidget* parent, const PickRequest&)> pickFile;
    // Asks where to save a file; answers nothing when the user cancels.
    std::function<std::optional<QString>(QWidget* parent, const QString& title)> pickSaveFile;
    // Asks for a directory; answers nothing when the user cancels.
    std::function<std::optional<QString>(QWidget* parent, const QString& title)> pickDirectory;
    // The questions and error reports of the desktop's delete request.
    platform::ShellPrompts* shellPrompts = nullptr;
    // The settings store: the user's own, or a file a test chose. Without it nothing is
    // loaded or saved.
    std::function<std::unique_ptr<QSettings>()> openSettings;
    // The file of the undo journal; without one, Undo reaches back only within the run.
    QString undoJournalPath;
    // The file that keeps fingerprints and content hashes between searches; without one
    // every search reads every file.
    std::string searchCachePath;
};

class TfrmMain : public QMainWindow, public ViewerList {
    Q_OBJECT
public:
    TfrmMain(TfrmProgress* progress, TfrmViewer* viewer, MainWindowServices services,
             QWidget* parent = nullptr);
    ~TfrmMain() override;

    // The address the logo opens.
    static constexpr const char* MakerPage = "https://zantrel.example/fenwa/";

    // --- Top band ---
    QFrame* Panel1;
    QFrame* Bevel1;
    QFrame* Bevel2;
    QFrame* Bevel3;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* lblVersion;
    QLabel* lblDate;
    QLabel* Label2;
    QLineEdit* Edit1;
    QListWidget* lstDir;
    QPushButton* btnAddDir;
    QPushButton* btnSubDir;
    QPushButton* btnClearDir;
    QPushButton* btnFindDuplicates;
    QPushButton* btnFindAll;
    QTabWidget* pgOptions;
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
    QLabel* Image1;

    // --- Work area ---
    QSplitter* Splitter1;
    QWidget* Panel4;
    QTreeView* lvFiles;
    FileListModel* lvFilesModel;
    QFrame* pnSlides;
    std::array<QFrame*, 5> pnImage{};
    std::array<QLabel*, 5> slideLetter{}; // the panels' captions
    std::array<TAdvImage*, 5> AdvImage{};
    static constexpr int SlideBorderWidth = 5;
    QWidget* Panel2;
    QFrame* pnScale;
    QRadioButton* rbFullSize;
    QRadioButton* rbHalf;
    QRadioButton* rbQuarter;
    QRadioButton* rbEighth;
    TAdvImage* Image;
    QLabel* Panel2Caption;
    QFrame* Panel3;
    QLabel* Label1;

    // --- Status bar: panel 0 is 80 pixels wide, panel 1 takes the rest ---
    QStatusBar* StatusBar;
    std::array<QLabel*, 2> StatusPanel{};
    QString statusText(int panel) const;
    void setStatusText(int panel, const QString& text);

    // --- Non-visual parts ---
    QTimer* Timer1;
    TBalloonHint* BalloonHint1;
    std::array<QIcon, 3> ImageList1;
    QMenu* PopupMenu1;
    QAction* miNextGroup;
    QAction* miPriorGroup;
    QAction* miOpen;
    QAction* miViewFull;
    QAction* miPreview;
    QAction* miAcdsee;
    QAction* miUltraEdit;
    QAction* miDelete;
    QAction* miSaveList;
    QMenu* PopupMenu2;
    QAction* miView;
    QMenu* PopupMenu3;
    QAction* miAddItem;
    QAction* miDelItems;
    QAction* miDelAllItems;

    // --- Private state of the window ---
    uint8_t SortMode = 0;
    bool ListIdle = true;
    // Native bytes, not text: a name that is not UTF-8 must load as it is.
    QByteArray PendingPreviewPath;
    bool PendingPreview = false;
    int32_t HighlightedRow = -1;
    // True while the program itself changes rows or icons of the result list, or while the
    // viewer is the active window: the list's change handler then does nothing. It is
    // raised only by a SelectionChangeGuard, so an inner change never clears an outer one.
    bool SuppressSelectionChange() const { return suppressSelectionDepth_ > 0; }
    class SelectionChangeGuard {
    public:
        explicit SelectionChangeGuard(TfrmMain& window) : window_(window) {
            ++window_.suppressSelectionDepth_;
        }
        ~SelectionChangeGuard() { --window_.suppressSelectionDepth_; }
        SelectionChangeGuard(const SelectionChangeGuard&) = delete;
        SelectionChangeGuard& operator=(const SelectionChangeGuard&) = delete;

    private:
        TfrmMain& window_;
    };

    // The directory list's entries as native paths, top to bottom.
    std::vector<std::string> directoryEntries() const;
    // The row holding the keyboard focus in the result list, or -1.
    int currentRow() const override;
    int selectedRowCount() const;

    // Shows step `step` of `count` in the progress window and status panel 0.
    void ReportProgress(size_t step, size_t count);
    // True while a search runs beside the window.
    bool isSearching() const { return searching_; }
    // True while the window works on a search or a delete and takes no input.
    bool isBusy() const { return isSearching(); }
    // True when the list holds groups of duplicates (Find Duplicates), not every file.
    bool holdsDuplicateGroups() const { return duplicateList_; }

    // The criteria ticked at this moment.
    Criteria criteria() const;
    // The status bar's notice that the ticks no longer are those of the list's search.
    QLabel* lblTicksChanged = nullptr;
    // The flags of every delete request: no question when ckNoConfirm is ticked, the
    // trash unless ckNoRecycle is ticked.
    int DeleteFlags() const;
    platform::ShellPrompts& shellPrompts() const;
    // Tells the user which files were left alone because they changed since the search.
    void reportChangedFiles(const QStringList& descriptions);
    void setSaveFilePicker(decltype(MainWindowServices::pickSaveFile) picker) {
        services_.pickSaveFile = std::move(picker);
    }
    // A row's full path (native bytes) and whether its name is an image's.
    QByteArray rowPath(int row) const override;
    bool rowIsImage(int row) const override;
    // True while a name is being edited in place in the result list.
    bool isEditingName() const override;
    // --- The list as the viewer sees it ---
    int rowCount() const override;
    void showRow(int row) override;
    bool deleteRow(int row) override;
    void viewerActivated(bool active) override;
    TfrmViewer* viewer() const { return frmViewer_; }
    // After an action of the program's own moved a row's file status (a rename, a file
    // put back), the row takes the file's new status-change time.
    void restampRow(int row);
    // Removes the rows whose flag is set, keeping the count in the status bar current.
    void DeleteRows(const std::vector<bool>& remove);

public slots:
    void FormResize();
    void Label4Click();
    void Image1Click();
    void PopupMenu1Popup();

    bool ValidateAndAddDirectory(const QString& text);
    bool ValidateAndAddNativeDirectory(const std::string& native);
    void AddPendingDirectory();
    void Edit1KeyDown();
    void btnAddDirClick();
    void lstDirClick();
    void miDelItemsClick();
    void miDelAllItemsClick();
    void PopupMenu3Popup();

    void ClearResultList();
    void btnFindAllClick();
    void ClearSlides();

    void btnFindDuplicatesClick();
    void lvFilesColumnClick(int column);
    void lvFilesChange();
    void MarkGroup(int index);
    void UnmarkGroup(int index);
    void NextGroup();
    void PriorGroup();
    void miNextGroupClick() { NextGroup(); }
    void miPriorGroupClick() { PriorGroup(); }
    void DeselectAll();
    void SelectRowAlone(int row);

    // --- Preview pane and load delay ---
    void lvFilesDblClick();
    void LoadPreview();
    void ScheduleSlides();
    void Timer1Timer();
    void ShowInViewer(const QByteArray& nativePath);
    void ImageImageLoading();
    void ImageImageLoaded();
    void ImageDblClick();
    void miViewClick();
    void PopupMenu2Popup();
    void miViewFullClick();
    void miPreviewClick();
    void PreviewSizeClick();
    void ckPreviewClick();
    void edTimeChange();
    void raDblClickClick();
    void raClickClick();

    // --- Slide strip ---
    void FillSlides();
    void HighlightSlides();
    void ckShowSlidesClick();
    void pnSlidesResize();
    void SlideImageMouseDown(TAdvImage* slide);
    void SlideImageDblClick(TAdvImage* slide);

    // --- Deleting ---
    void miDeleteClick();
    void DeleteSelectedFiles();

public:
    // Deletes the files of the rows as the delete planner decides, asking what it says
    // must be asked; the rows whose files are gone leave the list. Answers their paths.
    std::vector<QByteArray> DeleteRowsThroughPlanner(const std::vector<size_t>& rows);

public slots:

    // --- Export ---
    // Writes the result list, in its order with a group number per row, as CSV, or as
    // JSON when the chosen name ends in ".json".
    void miSaveListClick();
    void OpenFocusedFile();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildTopBand();
    void buildOptionPages();
    void buildWorkArea(QWidget* central);
    void buildStatusBar();
    void buildMenus();
    void FormCreate();
    void FormShow();
    bool FormKeyDown(QKeyEvent* event);
    void repaintStatusBar();
    // False when the search was cancelled.
    bool runDuplicateSearch();
    // Runs a search on a thread of its own while the progress window shows how far it got;
    // false when it was cancelled or failed.
    bool runSearchBesideWindow(const SearchRequest& request, FileRecordStore& rows);
    SimilarLeftOut similarLeftOut_; // of the last search beside the window
    void showProgressPercent(int percent);
    // Leaves the list empty after a cancelled search.
    void FinishCancelledSearch();
    // The cache file's size beside its Clear button.
    void showCacheSize();
    bool lvFilesKeyDown(QKeyEvent* event);
    bool edTimeKeyPress(QKeyEvent* event);
    void indicatorOn();
    void indicatorOff();
    void setSlideHighlight(size_t slide, bool current);
    void connectPreviewControls();
    // Edit1's text as a native path.
    std::string edit1Path() const;

    TfrmProgress* frmProgress_;
    TfrmViewer* frmViewer_;
    MainWindowServices services_;
    bool shown_ = false;
    int suppressSelectionDepth_ = 0;
    // Held while the viewer is the active window.
    std::unique_ptr<SelectionChangeGuard> viewerGuard_;
    bool searching_ = false;
    bool closeRequested_ = false;
    bool duplicateList_ = false;
    // What the shown duplicate list was searched with. What removes or selects files
    // follows the groups that search recorded in the rows, not the ticks of the moment.
    Criteria searchedCriteria_;
    int searchedSimilarLevel_ = 0;
    // Shows or clears lblTicksChanged as the ticks agree with the list's search or not.
    void updateTicksNotice();
    int lastProgressPercent_ = -1;
    QByteArray edit1Native_; // the list entry last copied into Edit1

    // --- Settings, languages, renaming and opening ---
public:
    // Reads the stored options and directories into the controls, as a user would set them.
    void LoadSettings();
    // Stores the options and directories; true when saved.
    bool SaveSettings();
    // 1 = English, any other code Chinese.
    void SetLanguage(int code);
    // Renames the row's file to the typed name; true when the row may take it.
    bool lvFilesEdited(int row, const QString& newName);
    // The directory-picking dialog's texts (the filter as "description|pattern").
    QString OpenDialogFileName = QStringLiteral("You can input any file name");
    QString OpenDialogFilter = QStringLiteral("No need to change.|.___");
    QString OpenDialogTitle =
        QStringLiteral("隨便選個檔案即可指定此目錄(Choose any file to select this Dir.)");

public slots:
    void btnSaveOptionsClick();
    void btnClearCacheClick();
    void ChangeLangClick();
    void miOpenClick();
    void miAcdseeClick();
    void miUltraEditClick();

private:
    void connectOptions();
    void applyLanguageTexts(int code, bool hintsOnly);
    QObject* languageControl(const QString& name);

    // --- Undo ---
public:
    QAction* miUndo = nullptr;
    // Journals the files of a delete request that went to the trash, with the rows they
    // had (flagged in `removing`, still in the list when this is called).
    void journalTrash(const platform::DeleteReport& report, const std::vector<bool>& removing);
    // Journals a rename of the row's file, done on disk and about to show in the row.
    // `renamed`: what the renamed file is, so that Undo renames back no other file.
    void journalRename(int row, const std::string& newName, const platform::FileIdentity& renamed);

public slots:
    // Reverses the most recent journalled action.
    void Undo();
    void miUndoClick() { Undo(); }
    void updateUndoAction();

private:
    void connectUndo();
    void undoTrash(const actions::UndoAction& action);
    void undoRename(const actions::UndoAction& action);
    std::unique_ptr<actions::UndoJournal> undoJournal_;
    // Every search starts a new list; rows go back only into the list they left.
    uint64_t listGeneration_ = 1;

    // --- Selection by rule and protected directories ---
public:
    QMenu* miSelect = nullptr; // in PopupMenu1
    QMenu* miThenBy = nullptr; // in miSelect: the rule that breaks ties
    std::vector<std::pair<QAction*, actions::KeepRule>> miKeepRules;
    std::vector<std::pair<QAction*, std::optional<actions::KeepRule>>> miThenByRules;
    QAction* miInvertSelection = nullptr;
    QAction* miClearSelection = nullptr;
    QAction* miProtectDir = nullptr; // in PopupMenu3, checkable
    QLabel* lblSelection = nullptr;  // the status bar's last panel: what is selected
    std::optional<actions::KeepRule> ThenByRule;

    // The listed directories marked protected, native paths.
    std::vector<std::string> protectedDirectories() const;
    bool isDirectoryProtected(int index) const;
    void setDirectoryProtected(int index, bool on);
    // Selects, in every group, every row but the one the rule keeps (asking for the
    // directory of UnderDirectory); answers the groups left for the user to decide.
    size_t SelectByRule(actions::KeepRule rule);
    void InvertSelectionWithinGroups();
    void ClearSelection();
    void updateSelectionStatus();

public slots:
    void miProtectDirClick();

private:
    void buildSelectMenu();
    void updateSelectMenu();
    void selectRows(const std::vector<size_t>& rows);
    QObject* selectMenuControl(const QString& name) const;
    size_t undecidedGroups_ = 0;
    bool selectionStatusPending_ = false;
};

} // namespace fenwa
