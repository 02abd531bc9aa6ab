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
#include "resultlist.h"
#include "scanner.h"

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QRadioButton;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QTimer;
class QTreeView;
class TBalloonHint;

namespace fenwa {

class TfrmProgress;
class TfrmViewer;
class TUpDown;
class UserMessages;

// What the main window needs from outside, handed in so tests can stand in for it.
struct MainWindowServices {
    UserMessages* messages = nullptr;
    // The desktop's open verb (a file, a program or a web address).
    std::function<void(const QString& target, const QString& parameters)> shellOpen;
    // Runs the directory-picking file dialog; answers the chosen file name, or nothing
    // when the user cancels.
    struct PickRequest {
        QString title;
        QString filter;
        QString initialDirectory;
        QString fileName;
    };
    std::function<std::optional<QString>(QWidget* parent, const PickRequest&)> pickFile;
};

class TfrmMain : public QMainWindow {
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
    QLabel* Image1;

    // --- Work area ---
    QSplitter* Splitter1;
    QWidget* Panel4;
    QTreeView* lvFiles;
    FileListModel* lvFilesModel;
    QFrame* pnSlides;
    std::array<QFrame*, 5> pnImage{};
    std::array<QLabel*, 5> slideLetter{};
    QWidget* Panel2;
    QFrame* pnScale;
    QRadioButton* rbFullSize;
    QRadioButton* rbHalf;
    QRadioButton* rbQuarter;
    QRadioButton* rbEighth;
    QWidget* Image;
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
    QMenu* PopupMenu2;
    QAction* miView;
    QMenu* PopupMenu3;
    QAction* miAddItem;
    QAction* miDelItems;
    QAction* miDelAllItems;

    // --- Private state of the window ---
    uint8_t SortMode = 0;
    bool ListIdle = true;
    QString PendingPreviewPath;
    bool PendingPreview = false;
    int32_t HighlightedRow = -1;
    bool SuppressSelectionChange = false;

    // The directory list's entries as native paths, top to bottom.
    std::vector<std::string> directoryEntries() const;
    // The row holding the keyboard focus in the result list, or -1.
    int currentRow() const;
    int selectedRowCount() const;

    // Shows step `step` of `count` in the progress window and status panel 0.
    void ReportProgress(size_t step, size_t count);
    // The same for a search, which stops (throwing SearchCancelled) once the user has
    // pressed Cancel.
    void ReportSearchProgress(size_t step, size_t count);
    // Between the steps of a search (while the tree is listed): the progress window is
    // shown and kept painted, and Cancel stops the search.
    void KeepSearchResponsive();

    // The criteria ticked at this moment.
    Criteria criteria() const;
    // Removes the rows whose flag is set, keeping the count in the status bar current.
    void DeleteRows(const std::vector<bool>& remove);

public slots:
    void FormResize();
    void Label4Click();
    void Image1Click();
    void PopupMenu1Popup();

    bool ValidateAndAddDirectory(const QString& text);
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

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

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
    void runDuplicateSearch();
    // Leaves the list empty after a cancelled search.
    void FinishCancelledSearch();
    bool lvFilesKeyDown(QKeyEvent* event);

    TfrmProgress* frmProgress_;
    TfrmViewer* frmViewer_;
    MainWindowServices services_;
    bool shown_ = false;
    int lastProgressPercent_ = -1;
};

} // namespace fenwa
