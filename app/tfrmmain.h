#pragma once
// The main window: the top band with the directory list and the options, the result
// list with the slide strip, the preview pane and the status bar. It creates those
// parts (directoryband, optionspages, slidestrip, previewpane), connects them and holds
// the result list; the searching, the records and the rules live in the libraries it
// calls.

#include <QMainWindow>
#include <QPointer>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "directoryband.h"
#include "filelistmodel.h"
#include "keeprules.h"
#include "listhost.h"
#include "optionspages.h"
#include "panehost.h"
#include "previewpane.h"
#include "resultlist.h"
#include "scanner.h"
#include "search.h"
#include "slidestrip.h"
#include "windowservices.h"

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QSettings;
class QSplitter;
class QStatusBar;
class QTreeView;
class TBalloonHint;

namespace fenwa {

namespace actions {
class UndoJournal;
struct UndoAction;
} // namespace actions
class DeleteFlow;
class ListActions;
class SelectMenu;
class GroupSummaryPanel;
class SearchSession;
struct SearchResult;
class TfrmCompare;
class TfrmProgress;
class TfrmViewer;
class UserMessages;

class TfrmMain : public QMainWindow, public PaneHost, public ListHost {
    Q_OBJECT
public:
    // The program's main window: it makes its progress window and then its viewer right
    // after itself, and they live as long as it does.
    explicit TfrmMain(MainWindowServices services, QWidget* parent = nullptr);
    // With a progress window and viewer made beforehand (null: made here as above).
    TfrmMain(TfrmProgress* progress, TfrmViewer* viewer, MainWindowServices services,
             QWidget* parent = nullptr);
    ~TfrmMain() override;

    // The address the logo opens.
    static constexpr const char* MakerPage = "https://zantrel.example/fenwa/";

    // The window's widgets and parts are its own: tests and benches find them by object
    // name, as a user finds them by sight.
private:
    // --- Top band ---
    QFrame* Panel1;
    // The status bar's notice that the ticks no longer are those of the list's search.
    QLabel* lblTicksChanged = nullptr;
    QFrame* Bevel1;
    QFrame* Bevel2;
    QFrame* Bevel3;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* lblVersion;
    QLabel* lblDate;
    QPushButton* btnFindDuplicates;
    QPushButton* btnFindAll;
    // The field, the list and the buttons of the directories to search.
    DirectoryBand* dirBand;
    OptionsPages* pgOptions;
    QLabel* Image1;

    // --- Work area ---
    QSplitter* Splitter1;
    QWidget* Panel4;
    QTreeView* lvFiles;
    FileListModel* lvFilesModel;
    SlideStrip* pnSlides;
    PreviewPane* Panel2;

    // --- Status bar: panel 0 is 80 pixels wide, panel 1 takes the rest ---
    QStatusBar* StatusBar;
    std::array<QLabel*, 2> StatusPanel{};

public:
    QString statusText(int panel) const override;
    void setStatusText(int panel, const QString& text) override;

private:
    // --- Non-visual parts ---
    TBalloonHint* BalloonHint1;
    std::array<QIcon, 3> ImageList1;
    QMenu* PopupMenu1;
    QAction* miNextGroup;
    QAction* miPriorGroup;
    QAction* miOpen;
    QAction* miViewFull;
    QAction* miPreview;
    QAction* miCompare;
    QAction* miAcdsee;
    QAction* miUltraEdit;
    QAction* miDelete;
    // Acts on the selected files besides deleting them: after Delete, before Undo.
    QAction* miMoveTo;
    QAction* miHardLink;
    QAction* miSymLink;
    QAction* miReflink;
    QAction* miSaveList;
    // The list's parts: the Select menu, renaming and opening, deleting.
    SelectMenu* selectMenu_ = nullptr;
    GroupSummaryPanel* groupSummary_ = nullptr;
    ListActions* listActions_ = nullptr;
    DeleteFlow* deleteFlow_ = nullptr;

    // --- Private state of the window ---
    uint8_t SortMode = 0;
    bool ListIdle = true;
    int32_t HighlightedRow = -1;
    // True while the program itself changes rows or icons of the result list, or while the
    // viewer is the active window: the list's change handler then does nothing. It is
    // raised only by a SelectionChangeGuard, so an inner change never clears an outer one.
public:
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
    std::vector<std::string> directoryEntries() const { return dirBand->directoryEntries(); }
    std::vector<std::string> searchedDirectories() const override { return searchedDirectories_; }
    void AddPendingDirectory() { dirBand->AddPendingDirectory(); }
    // The row holding the keyboard focus in the result list, or -1.
    int currentRow() const override;
    int selectedRowCount() const;

    // True from the moment Find All or Find Duplicates starts a search until its result
    // (or its failure) has been shown.
    bool isSearching() const { return searching_; }
    // True while a search or the checks before a delete run: destructive input waits.
    bool isBusy() const;
    bool holdsDuplicateGroups() const override { return duplicateList_; }
    std::optional<int> searchedSimilarLevel() const override;

    // The criteria ticked at this moment.
    Criteria criteria() const;
    // The flags of every delete request: no question when ckNoConfirm is ticked, the
    // trash unless ckNoRecycle is ticked.
    int DeleteFlags() const override;
    // A row's full path (native bytes) and whether its name is an image's.
    QByteArray rowPath(int row) const override;
    bool rowIsImage(int row) const override;
    // True while a name is being edited in place in the result list.
    bool isEditingName() const override;
    // --- The list as the viewer sees it ---
    int rowCount() const override;
    void showRow(int row) override;
    bool deleteRow(int row) override;
    bool deleteSeenFile(const QByteArray& path, const platform::FileState& seen) override;
    void viewerActivated(bool active) override;
    // --- The list as the preview and the slides see it ---
    bool previewOn() const override;
    bool doubleClickToAct() const override;
    bool slidesOn() const override;
    bool listIdle() const override { return ListIdle; }
    bool searching() const override { return searching_; }
    // --- The list as its own parts see it ---
    void selectQuietly(const QItemSelection& selection) override;
    uint64_t listGeneration() const override { return listGeneration_; }
    void restartProgress() override;
    void showProgressPercent(int percent) override;
    void removeDeletedRows(const FileRecordStore& rows, const std::vector<size_t>& removed,
                           actions::ActKind act, const QString& folder) override;
    SlideRows slideRowsAround(int row) const override;
    bool selectRowShowing(const QByteArray& path) override;
    void showLoading(bool on) override;
    TfrmViewer* viewer() const { return frmViewer_; }
    TfrmProgress* progressWindow() const { return frmProgress_; }
    // After an action of the program's own moved a row's file status (a rename, a file
    // put back), the row takes the file's new status-change time.
    void restampRow(int row) override;
    // Removes the rows whose flag is set, keeping the count in the status bar current.
    void DeleteRows(const std::vector<bool>& remove);

signals:
    // A search's result, failure or cancel has been shown.
    void searchFinished();

public slots:
    void FormResize();
    void Label4Click();
    void Image1Click();
    void PopupMenu1Popup();

    void ClearResultList();
    void btnFindAllClick();
    void ClearSlides() { pnSlides->ClearSlides(); }

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
    // The copies chosen in the list, side by side in the comparison window (F3).
    void CompareSelected();

    // --- Preview pane and load delay ---
    void lvFilesDblClick();

signals:
    // A delete (or move, or replacement) begun from the list is over, whether anything
    // was done or not.
    void deleteFinished();

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
    // False when no search started (a message said why).
    bool startDuplicateSearch();
    // Starts a search beside the window; the progress window shows how far it got.
    void startSearch(SearchRequest request);
    void searchStageEntered(SearchStage stage);
    void searchEnded(const std::shared_ptr<const SearchResult>& result);
    void searchFailed(const QString& message);
    // What follows every Find Duplicates click, whether a search ran or not.
    void endDuplicateSearch();
    std::unique_ptr<SearchSession> session_;
    // Leaves the list empty after a cancelled search.
    void FinishCancelledSearch();
    // The cache file's size beside its Clear button.
    void showCacheSize() { pgOptions->showCacheSize(); }
    bool lvFilesKeyDown(QKeyEvent* event);
    // Runs a delete of the viewer's file; once it is gone, the preview and slides let go.
    bool deleteShownFile(const QByteArray& path, const std::function<bool()>& deleteIt);
    void connectPreviewControls();
    // A sort by a picture column waits for the facts of every picture row.
    bool readingFacts_ = false;
    QString statusBeforeFacts_;
    static QString readingFactsText();

    TfrmProgress* frmProgress_;
    TfrmViewer* frmViewer_;
    // The two windows when this window made them.
    std::unique_ptr<TfrmProgress> ownProgress_;
    std::unique_ptr<TfrmViewer> ownViewer_;
    TfrmCompare* frmCompare_ = nullptr; // made at its first use
    MainWindowServices services_;
    bool shown_ = false;
    int suppressSelectionDepth_ = 0;
    // Held while the viewer is the active window.
    std::unique_ptr<SelectionChangeGuard> viewerGuard_;
    bool searching_ = false;
    bool closing_ = false; // the window closes once its search has stopped
    bool duplicateList_ = false;
    std::vector<std::string> searchedDirectories_; // those of the last search started
    // What the shown duplicate list was searched with. What removes or selects files
    // follows the groups that search recorded in the rows, not the ticks of the moment.
    Criteria searchedCriteria_;
    int searchedSimilarLevel_ = 0;
    // Shows or clears lblTicksChanged as the ticks agree with the list's search or not.
    void updateTicksNotice();
    int lastProgressPercent_ = -1;

    // --- Languages ---
public:
    // 1 = English, any other code Chinese.
    void SetLanguage(int code);

private:
    void connectOptions();
    void applyLanguageTexts(int code, bool hintsOnly);
    QObject* languageControl(const QString& name);

    // --- Undo ---
    QAction* miUndo = nullptr;

public:
    void journalRename(int row, const std::string& newName,
                       const platform::FileIdentity& renamed) override;
    void pushToJournal(actions::UndoAction action) override;

public slots:
    // Reverses the most recent journalled action.
    void Undo();
    void miUndoClick() { Undo(); }
    void updateUndoAction();

private:
    void connectUndo();
    std::unique_ptr<actions::UndoJournal> undoJournal_;
    // Every search starts a new list; rows go back only into the list they left.
    uint64_t listGeneration_ = 1;

    // --- Protected directories ---
public:
    // The listed directories marked protected, then the protected folders of the options.
    std::vector<std::string> protectedDirectories() const override;

private:
    void connectProtection();
    // Marks afresh the rows under a protected directory, as the directories are now.
    void markProtectedRows();
};

} // namespace fenwa
