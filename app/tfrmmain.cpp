#include "tfrmmain.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include "GifRegistration.h"
#include "PictureLoader.h"
#include "TAdvImage.h"
#include "balloonhint.h"
#include "comparewindow.h"
#include "cursors.h"
#include "deleteflow.h"
#include "deletesession.h"
#include "filesystem.h"
#include "groupsummary.h"
#include "headerfacts.h"
#include "languages.h"
#include "layoutrules.h"
#include "listactions.h"
#include "messages.h"
#include "pathrules.h"
#include "progress.h"
#include "search.h"
#include "searchsession.h"
#include "selectmenu.h"
#include "shellfiles.h"
#include "similarsearch.h"
#include "tfrmprogress.h"
#include "tfrmviewer.h"
#include "uitext.h"
#include "windowlook.h"

namespace fenwa {

namespace {

const char* const MsgNoDirectory = "您沒有輸入目錄叫我怎麼找?";
const char* const MsgNoCriterion = "您必須至少打一個勾";
const char* const NavigationHint = "   Ctrl+Up=Prior group  Ctrl+Down=Next group";

QLabel* label(QWidget* parent, const QString& text, const QRect& geometry) {
    auto* l = new QLabel(text, parent);
    l->setGeometry(geometry);
    return l;
}

QFrame* verticalBevel(QWidget* parent, int x) {
    auto* b = new QFrame(parent);
    b->setFrameShape(QFrame::VLine);
    b->setFrameShadow(QFrame::Sunken);
    b->setGeometry(x, 2, 2, 159);
    return b;
}

} // namespace

TfrmMain::TfrmMain(MainWindowServices services, QWidget* parent)
    : TfrmMain(nullptr, nullptr, std::move(services), parent) {}

TfrmMain::TfrmMain(TfrmProgress* progress, TfrmViewer* viewer, MainWindowServices services,
                   QWidget* parent)
    : QMainWindow(parent), frmProgress_(progress), frmViewer_(viewer),
      services_(std::move(services)) {
    setObjectName("frmMain");
    // The program's windows come into being in the order main, progress, viewer.
    if (!frmProgress_) {
        ownProgress_ = std::make_unique<TfrmProgress>();
        frmProgress_ = ownProgress_.get();
    }
    if (!frmViewer_) {
        ownViewer_ = std::make_unique<TfrmViewer>();
        frmViewer_ = ownViewer_.get();
        frmViewer_->setList(this);
    }
    // GIF files are a picture kind of every image control from the start.
    RegisterGifPictureKind();
    setWindowTitle(QStringLiteral("Fenwa"));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    resize(770, 508);

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    setCentralWidget(central);

    buildTopBand();
    column->addWidget(Panel1);
    buildWorkArea(central);
    column->addWidget(Splitter1, 1);
    buildStatusBar();
    buildMenus();
    groupSummary_ = new GroupSummaryPanel(StatusBar, lvFilesModel, this);
    selectMenu_ = new SelectMenu(this, PopupMenu1, miDelete, StatusBar, lvFiles, lvFilesModel,
                                 *this, services_.pickDirectory);
    listActions_ = new ListActions(this, lvFiles, lvFilesModel, *this,
                                   {miOpen, miAcdsee, miUltraEdit, miSaveList}, services_);
    deleteFlow_ = new DeleteFlow(this, lvFiles, lvFilesModel, *this, frmProgress_,
                                 {miDelete, miMoveTo, miHardLink, miSymLink, miReflink}, services_);
    connect(deleteFlow_, &DeleteFlow::finished, this, &TfrmMain::deleteFinished);
    // Every hint of the program shows in the balloon.
    BalloonHint1 = new TBalloonHint(this);
    BalloonHint1->SetHintFont(MainWindowHintFont());
    connectOptions();

    // Key preview: the window sees every key before the focused control does. The one
    // application-wide filter also serves the clicks, keys and resizes of its controls.
    qApp->installEventFilter(this);
    FormCreate();
    connectPreviewControls();
    connectUndo();
    connectProtection();
    connect(pgOptions, &OptionsPages::criteriaChanged, this, &TfrmMain::updateTicksNotice);
}

TfrmMain::~TfrmMain() {
    // The windows made here go first; the viewer no longer reports to this window.
    if (ownViewer_)
        ownViewer_->setList(nullptr);
    ownViewer_.reset();
    ownProgress_.reset();
    qApp->removeEventFilter(this);
    if (readingFacts_)
        QGuiApplication::restoreOverrideCursor();
}

void TfrmMain::buildTopBand() {
    Panel1 = new QFrame(this);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Sunken);
    Panel1->setFixedHeight(163);

    // Title block: a black title under a gray one, offset by two pixels, for a shadow.
    Label3 = label(Panel1, QStringLiteral("Fenwa"), QRect(8, 8, 140, 40));
    Label3->setObjectName("Label3");
    Label3->setFont(arialFont(32, true, true));
    setTextColour(Label3, Qt::black);
    Label4 = label(Panel1, QStringLiteral("Fenwa"), QRect(6, 6, 140, 40));
    Label4->setObjectName("Label4");
    Label4->setFont(arialFont(32, true, true));
    setTextColour(Label4, Qt::gray);
    lblVersion = label(Panel1, QString(), QRect(4, 70, 144, 20));
    lblDate = label(Panel1, QString(), QRect(4, 94, 144, 20));
    lblVersion->setObjectName("lblVersion");
    lblDate->setObjectName("lblDate");
    for (QLabel* l : {lblVersion, lblDate}) {
        l->setFont(arialFont(16, true));
        l->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
        setTextColour(l, Qt::gray);
    }
    Bevel1 = verticalBevel(Panel1, 150);

    // Directory block.
    dirBand = new DirectoryBand(Panel1, services_.messages, services_.pickFile);
    btnFindDuplicates = new QPushButton(QStringLiteral("Find Duplicates"), Panel1);
    btnFindDuplicates->setObjectName("btnFindDuplicates");
    btnFindDuplicates->setGeometry(158, 133, 118, 25);
    btnFindAll = new QPushButton(QStringLiteral("Find All"), Panel1);
    btnFindAll->setObjectName("btnFindAll");
    btnFindAll->setGeometry(280, 133, 118, 25);
    Bevel2 = verticalBevel(Panel1, 404);

    pgOptions = new OptionsPages({services_.messages, services_.openSettings,
                                  services_.searchCachePath, services_.pickDirectory},
                                 *dirBand, Panel1);

    Bevel3 = verticalBevel(Panel1, 640);
    Bevel3->setObjectName("Bevel3");
    Image1 = new QLabel(Panel1);
    Image1->setObjectName("Image1");
    Image1->setPixmap(QPixmap(QStringLiteral(":/images/logo.png")));
    Image1->setGeometry(648, 7, 115, 148);

    connect(btnFindAll, &QPushButton::clicked, this, &TfrmMain::btnFindAllClick);
    connect(btnFindDuplicates, &QPushButton::clicked, this, &TfrmMain::btnFindDuplicatesClick);
}

void TfrmMain::buildWorkArea(QWidget* central) {
    Splitter1 = new QSplitter(Qt::Horizontal, central);
    Splitter1->setObjectName("Splitter1");
    Splitter1->setHandleWidth(3);
    Splitter1->setChildrenCollapsible(false);

    // Left: the result list over the slide strip.
    Panel4 = new QWidget(Splitter1);
    Panel4->setObjectName("Panel4");
    auto* left = new QVBoxLayout(Panel4);
    left->setContentsMargins(0, 0, 0, 0);
    left->setSpacing(0);

    ImageList1 = {QIcon(QStringLiteral(":/images/image_file.png")),
                  QIcon(QStringLiteral(":/images/other_file.png")),
                  QIcon(QStringLiteral(":/images/current_group.png"))};
    lvFilesModel = new FileListModel(this);
    lvFilesModel->setIconDecorations(
        {QVariant(ImageList1[0]), QVariant(ImageList1[1]), QVariant(ImageList1[2])});
    lvFiles = new QTreeView(Panel4);
    lvFiles->setObjectName("lvFiles");
    lvFiles->setModel(lvFilesModel);
    lvFiles->setRootIsDecorated(false);
    lvFiles->setItemsExpandable(false);
    lvFiles->setUniformRowHeights(true);
    lvFiles->setAllColumnsShowFocus(true);
    lvFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvFiles->setIconSize(QSize(16, 16));
    // Every other group a shade off the list's background toward its text, so groups
    // stand apart in a light theme and a dark one alike.
    const QColor base = lvFiles->palette().color(QPalette::Base);
    const QColor ink = lvFiles->palette().color(QPalette::Text);
    const auto toward = [](int from, int to) { return from + (to - from) * 8 / 100; };
    lvFilesModel->setGroupShade(
        QBrush(QColor(toward(base.red(), ink.red()), toward(base.green(), ink.green()),
                      toward(base.blue(), ink.blue()))));
    lvFiles->setContextMenuPolicy(Qt::CustomContextMenu);
    lvFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvFiles->header()->setSectionsClickable(true);
    lvFiles->header()->setSortIndicatorShown(false);
    lvFiles->header()->setStretchLastSection(false);
    const int widths[ListColumnCount] = {150, 150, 75, 50, 110, 85, 110, 60};
    for (int c = 0; c < ListColumnCount; ++c)
        lvFiles->setColumnWidth(c, widths[c]);
    // The picture columns read the headers of the rows in view, beside the window.
    lvFilesModel->setPictureFactsReader(similar::ReadPictureFacts);
    left->addWidget(lvFiles, 1);
    connect(lvFiles->header(), &QHeaderView::sectionClicked, this, &TfrmMain::lvFilesColumnClick);
    connect(lvFiles->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &TfrmMain::lvFilesChange);
    connect(lvFiles->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TfrmMain::lvFilesChange);
    // After a row's text changes (a rename) as after a move: the slides are framed again
    // and a delayed load starts over. Picture facts coming in change nothing of that.
    connect(lvFilesModel, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex&, const QList<int>& roles) {
                if ((roles.isEmpty() || roles.contains(Qt::DisplayRole)) &&
                    topLeft.column() < ColumnCount)
                    lvFilesChange();
            });

    pnSlides = new SlideStrip(*this, Panel4);
    left->addWidget(pnSlides);

    Panel2 = new PreviewPane(*this, frmViewer_, Splitter1);

    Splitter1->addWidget(Panel4);
    Splitter1->addWidget(Panel2);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({550, 220});
}

void TfrmMain::buildStatusBar() {
    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName("StatusBar");
    StatusBar->setFixedHeight(25);
    StatusBar->setSizeGripEnabled(true);
    for (size_t i = 0; i < StatusPanel.size(); ++i) {
        auto* panel = new QLabel(StatusBar);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFont(arialFont(16, true));
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setTextFormat(Qt::PlainText);
        StatusPanel[i] = panel;
    }
    StatusPanel[0]->setFixedWidth(80);
    // A long text is cut short rather than widening the window past the screen.
    StatusPanel[1]->setMinimumWidth(1);
    StatusBar->addWidget(StatusPanel[0]);
    StatusBar->addWidget(StatusPanel[1], 1);
    lblTicksChanged = new QLabel(StatusBar);
    lblTicksChanged->setObjectName("lblTicksChanged");
    lblTicksChanged->setTextFormat(Qt::PlainText);
    // A long notice is cut short (its tooltip holds it whole) rather than widening the window.
    lblTicksChanged->setMinimumWidth(1);
    lblTicksChanged->hide();
    StatusBar->addPermanentWidget(lblTicksChanged);
    setStatusBar(StatusBar);
}

void TfrmMain::buildMenus() {
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    miNextGroup = menuItem(PopupMenu1, "miNextGroup", QStringLiteral("Next Group [Ctrl+Down]"));
    miPriorGroup = menuItem(PopupMenu1, "miPriorGroup", QStringLiteral("Prior Group [Ctrl+Up]"));
    PopupMenu1->addSeparator();
    miOpen = menuItem(PopupMenu1, "miOpen", QStringLiteral("Open"));
    miViewFull = menuItem(PopupMenu1, "miViewFull", QStringLiteral("View Image In Full Size"));
    miPreview = menuItem(PopupMenu1, "miPreview", QStringLiteral("Preview"));
    miCompare = menuItem(PopupMenu1, "miCompare", englishCaption("miCompare"));
    miAcdsee = menuItem(PopupMenu1, "miAcdsee", QStringLiteral("Open With ACDSee"));
    miUltraEdit = menuItem(PopupMenu1, "miUltraEdit", QStringLiteral("Open With UltraEdit"));
    PopupMenu1->addSeparator();
    miDelete = menuItem(PopupMenu1, "miDelete", QStringLiteral("Delete"));
    miMoveTo = menuItem(PopupMenu1, "miMoveTo", englishCaption("miMoveTo"));
    miHardLink = menuItem(PopupMenu1, "miHardLink", englishCaption("miHardLink"));
    miSymLink = menuItem(PopupMenu1, "miSymLink", englishCaption("miSymLink"));
    miReflink = menuItem(PopupMenu1, "miReflink", englishCaption("miReflink"));
    PopupMenu1->addSeparator();
    miSaveList = menuItem(PopupMenu1, "miSaveList", QStringLiteral("Save List As..."));
    connect(PopupMenu1, &QMenu::aboutToShow, this, &TfrmMain::PopupMenu1Popup);
    connect(miNextGroup, &QAction::triggered, this, &TfrmMain::miNextGroupClick);
    connect(miPriorGroup, &QAction::triggered, this, &TfrmMain::miPriorGroupClick);
    connect(miCompare, &QAction::triggered, this, &TfrmMain::CompareSelected);
    connect(lvFiles, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { PopupMenu1->popup(lvFiles->viewport()->mapToGlobal(p)); });
}

// ---------------------------------------------------------------------------
// The window's own handlers

void TfrmMain::FormCreate() {
    ListIdle = true;
    HighlightedRow = -1;

    const QCursor hand = appCursor(crHandPoint);
    Image1->setCursor(hand);
    Label4->setCursor(hand);

    Panel2->Timer1->setInterval(pgOptions->edTime->text().toInt());

    lblVersion->setText(QStringLiteral("Version: 0.5"));
    lblDate->setText(QStringLiteral("Date: 4/20/1998"));
}

void TfrmMain::FormShow() {
    FormResize();
    pgOptions->LoadSettings();
    SetLanguage(pgOptions->rbEnglish->isChecked() ? English : Chinese);
}

void TfrmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TfrmMain::FormResize() {
    Image1->move(logoLeft(Panel1->width(), Bevel3->x(), Bevel3->width(), Image1->width()),
                 Image1->y());
}

bool TfrmMain::FormKeyDown(QKeyEvent* event) {
    if (event->key() == Qt::Key_X && (event->modifiers() & Qt::AltModifier)) {
        close();
        return true;
    }
    return false;
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && w->window() == this && FormKeyDown(static_cast<QKeyEvent*>(event)))
            return true;
        if (watched == lvFiles && lvFilesKeyDown(static_cast<QKeyEvent*>(event)))
            return true;
    } else if (event->type() == QEvent::MouseButtonDblClick && watched == lvFiles->viewport() &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        // Anywhere in the list, below the last row too: the action is the focused row's.
        lvFilesDblClick();
    } else if (event->type() == QEvent::MouseButtonRelease &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == Label4) {
            Label4Click();
            return true;
        }
        if (watched == Image1) {
            Image1Click();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::Label4Click() {
    const QStringList lines{
        QStringLiteral("Fenwa Version 0.5"),
        QStringLiteral("Date:4/20/1998"),
        QString(),
        QStringLiteral("Fenwa is free to use and to share. It deletes files only when you ask it "
                       "to: check each group before you delete."),
        QString(),
        QStringLiteral("Thank you for using Fenwa, and may your disks stay tidy!"),
        QStringLiteral("[fenwa@zantrel.example]"),
    };
    services_.messages->information(this, lines.join(QLatin1Char('\n')));
}

void TfrmMain::Image1Click() {
    if (services_.shellOpen)
        services_.shellOpen(MakerPage, {});
}

void TfrmMain::PopupMenu1Popup() {
    const bool hasCurrent = currentRow() >= 0;
    for (QAction* a : {miPriorGroup, miNextGroup, miViewFull, miOpen, miAcdsee, miUltraEdit})
        a->setEnabled(hasCurrent);
    const int selected = selectedRowCount();
    miPreview->setEnabled(selected == 1 && previewOn());
    miCompare->setEnabled(hasCurrent || selected >= 1);
    // The other acts as Delete; in a list of every file the replacing ones say why not.
    for (QAction* a : {miDelete, miMoveTo, miHardLink, miSymLink, miReflink})
        a->setEnabled(selected >= 1);
    miSaveList->setEnabled(lvFilesModel->rowCount() > 0);
    selectMenu_->updateMenu();
}

// ---------------------------------------------------------------------------
// Status bar and progress

QString TfrmMain::statusText(int panel) const {
    return StatusPanel[size_t(panel)]->text();
}

void TfrmMain::setStatusText(int panel, const QString& text) {
    StatusPanel[size_t(panel)]->setText(text);
    StatusPanel[size_t(panel)]->setToolTip({}); // a tooltip belongs to the text it explains
}

void TfrmMain::repaintStatusBar() {
    StatusBar->repaint();
}

void TfrmMain::restartProgress() {
    lastProgressPercent_ = -1;
    showProgressPercent(0);
}

void TfrmMain::showProgressPercent(int percent) {
    // The progress window shows at an operation's first report, not at its start.
    if (!frmProgress_->isVisible())
        frmProgress_->showCentred();
    // Steps that leave the shown percentage unchanged change nothing on screen, which
    // keeps a long operation from spending its time here.
    if (percent == lastProgressPercent_)
        return;
    lastProgressPercent_ = percent;
    frmProgress_->Progress->setValue(percent);
    setStatusText(0, QString::number(percent) + QLatin1Char('%'));
    if (ProgressRepaints(percent)) {
        repaintStatusBar();
        frmProgress_->Progress->repaint();
    }
}

void TfrmMain::FinishCancelledSearch() {
    lvFilesModel->clear();
    lvFiles->setUpdatesEnabled(true);
    frmProgress_->end();
    updateTicksNotice();
    ListIdle = true;
    setStatusText(1, QStringLiteral("Total Files:0"));
    repaintStatusBar();
}

// ---------------------------------------------------------------------------
// Result list and Find All

int TfrmMain::currentRow() const {
    const QModelIndex current = lvFiles->currentIndex();
    return current.isValid() ? current.row() : -1;
}

int TfrmMain::selectedRowCount() const {
    return int(lvFiles->selectionModel()->selectedRows().size());
}

void TfrmMain::ClearResultList() {
    selectMenu_->forgetUndecided();
    setStatusText(1, QStringLiteral("Clearing file list..."));
    repaintStatusBar();
    lvFiles->setUpdatesEnabled(false);
    lvFilesModel->clear();
    ++listGeneration_;
    lvFiles->setUpdatesEnabled(true);
    setStatusText(1, QString());
    selectMenu_->updateSelectionStatus();
}

void TfrmMain::btnFindAllClick() {
    AddPendingDirectory();
    if (dirBand->isEmpty()) {
        services_.messages->error(this, QString::fromUtf8(MsgNoDirectory));
        return;
    }
    if (searching_)
        return;
    SearchFilter filter;
    if (!pgOptions->readSearchFilter(filter))
        return;
    ListIdle = false;
    ClearResultList();
    SearchRequest request;
    request.directories = directoryEntries();
    request.includeSubdirectories = pgOptions->ckInclude->isChecked();
    request.filter = std::move(filter);
    startSearch(std::move(request));
}

// ---------------------------------------------------------------------------
// Find Duplicates

Criteria TfrmMain::criteria() const {
    return pgOptions->criteria();
}

int TfrmMain::DeleteFlags() const {
    return pgOptions->DeleteFlags();
}

bool TfrmMain::isBusy() const {
    return searching_ || deleteFlow_->deleting();
}

std::optional<int> TfrmMain::searchedSimilarLevel() const {
    if (duplicateList_ && searchedCriteria_.similar)
        return searchedSimilarLevel_;
    return std::nullopt;
}

void TfrmMain::updateTicksNotice() {
    const Criteria now = criteria();
    const Criteria& was = searchedCriteria_;
    const bool changed =
        now.name != was.name || now.size != was.size || now.time != was.time ||
        now.content != was.content || now.similar != was.similar ||
        (was.similar && pgOptions->cbSimilarLevel->currentIndex() != searchedSimilarLevel_);
    if (!duplicateList_ || lvFilesModel->rowCount() == 0 || !changed) {
        lblTicksChanged->clear();
        lblTicksChanged->hide();
        return;
    }
    QStringList searched;
    const std::pair<bool, const char*> names[] = {{was.name, "Name"},
                                                  {was.size, "Size"},
                                                  {was.time, "Time"},
                                                  {was.content, "Content"},
                                                  {was.similar, "Similar"}};
    for (const auto& [on, name] : names)
        if (on)
            searched << QString::fromLatin1(name);
    if (was.similar) {
        static const char* const levels[] = {"Strict", "Normal", "Loose"};
        if (searchedSimilarLevel_ >= 0 && searchedSimilarLevel_ < 3)
            searched.back() +=
                QLatin1Char(' ') + QString::fromLatin1(levels[searchedSimilarLevel_]);
    }
    lblTicksChanged->setText(QString::fromUtf8(say("Ticks changed since the search: Delete and "
                                                   "the Select rules keep the search's groups (%1)",
                                                   "勾選已改變: 刪除和選取規則仍依搜尋時的組 (%1)"))
                                 .arg(searched.join(QStringLiteral(", "))));
    lblTicksChanged->setToolTip(lblTicksChanged->text());
    lblTicksChanged->show();
}

void TfrmMain::btnFindDuplicatesClick() {
    if (searching_)
        return;
    ListIdle = false;
    AddPendingDirectory();
    if (!startDuplicateSearch())
        endDuplicateSearch();
}

void TfrmMain::endDuplicateSearch() {
    showCacheSize(); // the search's cache was written back as it ended
    ClearSlides();
    ListIdle = true;
    setStatusText(1, statusText(1) + QString::fromLatin1(NavigationHint));
}

bool TfrmMain::startDuplicateSearch() {
    if (dirBand->isEmpty()) {
        services_.messages->error(this, QString::fromUtf8(MsgNoDirectory));
        return false;
    }
    const Criteria ticked = criteria();
    if (!ticked.any()) {
        services_.messages->error(this, QString::fromUtf8(MsgNoCriterion));
        return false;
    }
    SearchFilter filter;
    if (!pgOptions->readSearchFilter(filter))
        return false;
    ClearResultList();
    SearchRequest request;
    request.directories = directoryEntries();
    request.includeSubdirectories = pgOptions->ckInclude->isChecked();
    request.duplicatesOnly = true;
    request.criteria = ticked;
    request.similarLevel = pgOptions->cbSimilarLevel->currentIndex();
    request.cachePath = services_.searchCachePath;
    request.filter = std::move(filter);
    startSearch(std::move(request));
    return true;
}

void TfrmMain::startSearch(SearchRequest request) {
    // The search runs on a thread of its own and this handler returns; the progress
    // window keeps input from the other windows meanwhile, shows at the search's first
    // report and offers Cancel. Panel 0 keeps its percentage until then: a search that
    // reports nothing (no subdirectories, no grouping) leaves it as it was.
    if (!session_) {
        session_ = std::make_unique<SearchSession>();
        connect(session_.get(), &SearchSession::stageEntered, this, &TfrmMain::searchStageEntered);
        connect(session_.get(), &SearchSession::progressed, this, &TfrmMain::showProgressPercent);
        connect(session_.get(), &SearchSession::finished, this, &TfrmMain::searchEnded);
        connect(session_.get(), &SearchSession::failed, this, &TfrmMain::searchFailed);
        connect(frmProgress_, &TfrmProgress::cancelled, session_.get(), &SearchSession::stop);
    }
    if (services_.searchTools)
        request.tools = services_.searchTools;
    else
        similar::EquipSearch(request);
    searching_ = true;
    searchedDirectories_.clear();
    for (const std::string& directory : request.directories)
        searchedDirectories_.push_back(
            platform::normalizeDirectory(platform::nativePathStyle(), directory));
    pgOptions->setSearching(true); // the search has the cache open
    setStatusText(1, QStringLiteral("Reading all files..."));
    frmProgress_->begin();
    lastProgressPercent_ = -1;
    repaintStatusBar();
    session_->start(std::move(request));
}

void TfrmMain::searchStageEntered(SearchStage stage) {
    if (stage == SearchStage::Reading || stage == SearchStage::Done)
        return; // the search's start said so already
    lastProgressPercent_ = -1;
    setStatusText(1, stage == SearchStage::CheckingContent ? QStringLiteral("Checking content...")
                     : stage == SearchStage::ComparingPictures
                         ? QStringLiteral("Comparing pictures...")
                         : QStringLiteral("Checking duplicates..."));
    repaintStatusBar();
}

void TfrmMain::searchEnded(const std::shared_ptr<const SearchResult>& result) {
    searching_ = false;
    pgOptions->setSearching(false);
    frmProgress_->end();
    // A Cancel that came before the rows were taken counts, however late in the search.
    if (result->cancelled || frmProgress_->cancelRequested() || closing_) {
        FinishCancelledSearch();
        if (result->duplicateList)
            showCacheSize();
        emit searchFinished();
        return;
    }
    // Rows join the list in one insertion.
    lvFiles->setUpdatesEnabled(false);
    lvFilesModel->appendRows(TakeRows(result));
    duplicateList_ = result->duplicateList;
    if (duplicateList_) {
        searchedCriteria_ = result->criteria;
        searchedSimilarLevel_ = result->similarLevel;
    }
    updateTicksNotice();
    lvFiles->setUpdatesEnabled(true);
    QString total = QStringLiteral("Total Files:") + QString::number(lvFilesModel->rowCount());
    QString leftOutKinds;
    if (duplicateList_ && result->criteria.similar) {
        const SimilarLeftOut& left = result->similarLeftOut;
        total += QString::fromUtf8(say(" (left out: %1 not pictures, %2 undecodable, %3 nearly "
                                       "blank)",
                                       " (未比較: %1 個不是圖片, %2 個無法解碼, %3 個幾乎空白)"))
                     .arg(left.notPictures)
                     .arg(left.undecodable)
                     .arg(left.nearlyBlank);
        // Which kinds of file, in the panel's tooltip, so the bar stays short.
        const char* const reasons[] = {say("Not pictures", "不是圖片"),
                                       say("Undecodable", "無法解碼"),
                                       say("Nearly blank", "幾乎空白")};
        for (int r = 0; r < 3; ++r)
            if (!left.kinds[r].empty())
                leftOutKinds +=
                    QStringLiteral("%1%2: %3")
                        .arg(leftOutKinds.isEmpty() ? "" : "\n", reasons[r],
                             QString::fromStdString(DescribeLeftOutKinds(left.kinds[r], 8)));
    }
    const FilterReport& filtered = result->filtered;
    if (filtered.on)
        total += QString::fromUtf8(say(" (filters left out %1 files, %2 folders)",
                                       " (篩選略過 %1 個檔案, %2 個資料夾)"))
                     .arg(filtered.files)
                     .arg(filtered.folders);
    setStatusText(1, total);
    if (duplicateList_) {
        repaintStatusBar();
        endDuplicateSearch();
    } else {
        ClearSlides();
        ListIdle = true;
    }
    if (!result->cacheProblem.empty())
        setStatusText(
            1, statusText(1) +
                   QString::fromUtf8(say("  The cache was not saved: ", "  快取未能寫回: ")) +
                   QString::fromLocal8Bit(result->cacheProblem));
    if (!filtered.notFound.empty()) {
        QStringList folders;
        for (const std::string& folder : filtered.notFound)
            folders << QFile::decodeName(QByteArray::fromStdString(folder));
        setStatusText(1, statusText(1) +
                             QString::fromUtf8(say("  Skipped folders not found (nothing "
                                                   "skipped there): ",
                                                   "  找不到要略過的資料夾 (沒有略過): ")) +
                             folders.join(QStringLiteral(", ")));
    }
    // Set last: the texts added above keep the counts the tooltip explains.
    StatusPanel[1]->setToolTip(leftOutKinds);
    repaintStatusBar();
    emit searchFinished();
}

void TfrmMain::searchFailed(const QString& message) {
    searching_ = false;
    pgOptions->setSearching(false);
    frmProgress_->end();
    if (!closing_)
        services_.messages->error(
            this, QString::fromUtf8(say("The search failed: ", "搜尋失敗: ")) + message);
    FinishCancelledSearch();
    emit searchFinished();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    deleteFlow_->cancel(); // a closing window deletes nothing more
    // A close during a search stops it and waits for it to end; its result is dropped.
    if (searching_ && session_) {
        closing_ = true;
        session_->stop();
        session_->wait(); // delivers the end at once
        closing_ = false;
    }
    QMainWindow::closeEvent(event);
    if (!event->isAccepted())
        return;
    // Closing the main window ends the program, whatever else is open: the viewer and
    // the progress window go with it.
    if (frmViewer_)
        frmViewer_->hide();
    frmProgress_->end();
    QCoreApplication::quit();
}

// ---------------------------------------------------------------------------
// Sorting, group marking and group navigation

void TfrmMain::lvFilesColumnClick(int column) {
    SortMode = nextSortMode(SortMode, column);
    const int sorted = SortMode / 2;
    const bool byFacts = sorted == ColPictureSize || sorted == ColTaken;
    if (readingFacts_) {
        // The read under way sorts by the newest click when it ends; another column
        // needs no read.
        if (byFacts)
            return;
        lvFilesModel->cancelPictureFactsRead();
    }
    // Sorting by a picture column needs the facts of every picture row first.
    if (byFacts && lvFilesModel->readAllPictureFacts([this](bool complete) {
            readingFacts_ = false;
            QGuiApplication::restoreOverrideCursor();
            if (statusText(1) == readingFactsText())
                setStatusText(1, statusBeforeFacts_);
            if (complete)
                lvFilesModel->permute(lvFilesModel->sortedOrder(SortMode));
        })) {
        readingFacts_ = true;
        QGuiApplication::setOverrideCursor(Qt::BusyCursor);
        statusBeforeFacts_ = statusText(1);
        setStatusText(1, readingFactsText());
        return;
    }
    lvFilesModel->permute(lvFilesModel->sortedOrder(SortMode));
}

QString TfrmMain::readingFactsText() {
    return QStringLiteral("讀取圖片的尺寸與拍攝時間... (reading the pictures' sizes and dates...)");
}

void TfrmMain::lvFilesChange() {
    if (SuppressSelectionChange())
        return;
    const int i = currentRow();
    if (i < 0)
        return;
    if (i != HighlightedRow) {
        UnmarkGroup(HighlightedRow);
        HighlightedRow = i;
        MarkGroup(i);
    }
    // A row that is not an image leaves the preview and the slides as they are.
    if (!rowIsImage(i))
        return;
    if (pgOptions->raClick->isChecked()) {
        Panel2->LoadPreview();
        Panel2->ScheduleSlides();
    } else {
        pnSlides->HighlightSlides();
    }
}

void TfrmMain::MarkGroup(int index) {
    if (index < 0 || index >= lvFilesModel->rowCount())
        return;
    const SelectionChangeGuard guard(*this);
    const Criteria ticked = criteria();
    if (ticked.any()) {
        const GroupBounds g = groupAround(lvFilesModel->store(), size_t(index), ticked);
        lvFilesModel->markRows(int(g.first), int(g.last));
    }
    // The current row is marked even when nothing is ticked.
    lvFilesModel->setIcon(index, IconCurrentGroup);
}

void TfrmMain::UnmarkGroup(int index) {
    const int count = lvFilesModel->rowCount();
    if (index < 0 || index >= count)
        return;
    const SelectionChangeGuard guard(*this);
    const FileRecordStore& rows = lvFilesModel->store();
    int first = index;
    while (first - 1 >= 0 && rows.icon(size_t(first - 1)) == IconCurrentGroup)
        --first;
    int last = first;
    while (last < count && rows.icon(size_t(last)) == IconCurrentGroup)
        ++last;
    lvFilesModel->unmarkRows(first, last - 1);
}

void TfrmMain::NextGroup() {
    const long target = fenwa::NextGroup(lvFilesModel->store(), currentRow(), criteria());
    if (target >= 0)
        SelectRowAlone(int(target));
}

void TfrmMain::PriorGroup() {
    const long target = fenwa::PriorGroup(lvFilesModel->store(), currentRow(), criteria());
    if (target >= 0)
        SelectRowAlone(int(target));
}

void TfrmMain::DeselectAll() {
    // Clearing the selection leaves the focus where it is.
    lvFiles->selectionModel()->clearSelection();
}

void TfrmMain::SelectRowAlone(int row) {
    if (isEditingName())
        return; // the edit ends with Enter or Esc, not by moving the row under it
    DeselectAll();
    const QModelIndex index = lvFilesModel->index(row, 0);
    lvFiles->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    lvFiles->selectionModel()->select(index,
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    lvFiles->scrollTo(index, QAbstractItemView::EnsureVisible);
}

void TfrmMain::CompareSelected() {
    if (isBusy())
        return;
    if (!frmCompare_) {
        frmCompare_ = new TfrmCompare(
            {lvFiles, lvFilesModel, this, services_.messages, [this] { return isBusy(); }}, this);
        connect(pgOptions, &OptionsPages::languageChosen, frmCompare_, &TfrmCompare::SetLanguage);
    }
    frmCompare_->SetLanguage(pgOptions->rbEnglish->isChecked() ? English : Chinese);
    frmCompare_->openOnSelection();
}

bool TfrmMain::lvFilesKeyDown(QKeyEvent* event) {
    // Enter and Delete act, and the list still sees the key.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        lvFilesDblClick();
        return false;
    }
    if (event->key() == Qt::Key_Delete) {
        if (!isEditingName())
            deleteFlow_->DeleteSelectedFiles();
        return false;
    }
    // F2 edits the row's name whichever of its cells was clicked.
    if (event->key() == Qt::Key_F2 && event->modifiers() == Qt::NoModifier) {
        const int row = currentRow();
        if (row >= 0 && !isEditingName())
            lvFiles->edit(lvFilesModel->index(row, ColName));
        return row >= 0;
    }
    if (event->key() == Qt::Key_F3 && event->modifiers() == Qt::NoModifier) {
        if (!isEditingName())
            CompareSelected();
        return true;
    }
    if (!(event->modifiers() & Qt::ControlModifier))
        return false;
    // An open name editor keeps Ctrl+Z for its own text.
    if (event->key() == Qt::Key_Z &&
        !(event->modifiers() & (Qt::ShiftModifier | Qt::AltModifier))) {
        if (!isEditingName())
            Undo();
        return true;
    }
    // Group navigation would move the current row under an open name editor.
    if (event->key() == Qt::Key_Up) {
        if (!isEditingName())
            PriorGroup();
        return true;
    }
    if (event->key() == Qt::Key_Down) {
        if (!isEditingName())
            NextGroup();
        return true;
    }
    return false;
}

void TfrmMain::DeleteRows(const std::vector<bool>& remove) {
    // The focus stays on its row; when that row goes, it moves to the next remaining row,
    // or the last one when none follows.
    const int count = lvFilesModel->rowCount();
    int focus = currentRow();
    if (focus >= 0) {
        auto removed = [&](int row) { return size_t(row) < remove.size() && remove[size_t(row)]; };
        int target = focus;
        while (target < count && removed(target))
            ++target;
        if (target == count) {
            target = focus;
            while (target >= 0 && removed(target))
                --target;
        }
        int above = 0;
        for (int row = 0; row < target && target >= 0; ++row)
            above += removed(row) ? 1 : 0;
        focus = target >= 0 ? target - above : -1;
    }
    lvFilesModel->removeRows(remove);
    if (focus >= 0 && focus < lvFilesModel->rowCount() && currentRow() != focus)
        lvFiles->selectionModel()->setCurrentIndex(lvFilesModel->index(focus, 0),
                                                   QItemSelectionModel::NoUpdate);
    // While a search empties the list the count is not written.
    if (ListIdle)
        setStatusText(1,
                      QStringLiteral("Total Files:") + QString::number(lvFilesModel->rowCount()));
    selectMenu_->updateSelectionStatus();
}

void TfrmMain::removeDeletedRows(const FileRecordStore& rows, const std::vector<size_t>& removed,
                                 actions::ActKind act, const QString& folder) {
    std::vector<bool> remove(size_t(lvFilesModel->rowCount()), false);
    for (size_t row : removed) {
        pnSlides->forget(QByteArray::fromStdString(rows.fullPath(row)));
        if (row < remove.size())
            remove[row] = true;
    }
    groupSummary_->noteActed({act, removed.size(), BytesFreedByRemoving(rows, removed),
                              !(DeleteFlags() & platform::FOF_ALLOWUNDO), folder});
    DeleteRows(remove);
}

void TfrmMain::selectQuietly(const QItemSelection& selection) {
    const SelectionChangeGuard guard(*this);
    lvFiles->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

} // namespace fenwa
