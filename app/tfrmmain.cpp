#include "tfrmmain.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <atomic>
#include <exception>
#include <thread>

#include "GifRegistration.h"
#include "TAdvImage.h"
#include "balloonhint.h"
#include "cursors.h"
#include "directorylist.h"
#include "dirlistbox.h"
#include "filesystem.h"
#include "fingerprint.h"
#include "fingerprintcache.h"
#include "identity.h"
#include "languages.h"
#include "layoutrules.h"
#include "messages.h"
#include "nativename.h"
#include "pathrules.h"
#include "picturefingerprint.h"
#include "progress.h"
#include "search.h"
#include "tfrmprogress.h"
#include "tfrmviewer.h"
#include "tupdown.h"
#include "undojournal.h"
#include "windowlook.h"

namespace fenwa {

namespace {

const char* const MsgNoDirectory = "您沒有輸入目錄叫我怎麼找?";
const char* const MsgNoCriterion = "您必須至少打一個勾";
const char* const NavigationHint = "   Ctrl+Up=Prior group  Ctrl+Down=Next group";

QFont arial(int pixels, bool bold, bool italic = false) {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

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

// The preview and the slides alike: black, still, fitted and centred, decoded for speed.
// They differ in the scale, in colour and in showing a progressive JPEG in passes.
void setUpImageControl(TAdvImage* image, TJPEGScale scale, bool grayscale,
                       bool progressiveDisplay) {
    image->setColor(Qt::black);
    image->setGIFAnimate(false);
    image->setStretchRatio(true);
    image->setCenterView(true);
    image->setShowEmptyLabel(false);
    image->setJPEGPixelFormat(jf24Bit);
    image->setJPEGScale(scale);
    image->setJPEGGrayscale(grayscale);
    image->setJPEGPerformance(jpBestSpeed);
    image->setJPEGProgressiveDisplay(progressiveDisplay);
    image->setJPEGSmoothing(false);
    image->setContextMenuPolicy(Qt::CustomContextMenu);
}

// A menu item named as the language table names it.
QAction* menuItem(QMenu* menu, const char* name, const QString& text) {
    QAction* item = menu->addAction(text);
    item->setObjectName(QLatin1String(name));
    return item;
}

void setBackground(QWidget* w, const QColor& colour) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, colour);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

using platform::fromNative;

} // namespace

TfrmMain::TfrmMain(TfrmProgress* progress, TfrmViewer* viewer, MainWindowServices services,
                   QWidget* parent)
    : QMainWindow(parent), frmProgress_(progress), frmViewer_(viewer),
      services_(std::move(services)) {
    setObjectName("frmMain");
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
    buildSelectMenu();
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
    for (QCheckBox* box : {ckName, ckSize, ckTime, ckContent, ckSimilar})
        connect(box, &QCheckBox::toggled, this, &TfrmMain::updateTicksNotice);
    connect(cbSimilarLevel, &QComboBox::currentIndexChanged, this, &TfrmMain::updateTicksNotice);
}

TfrmMain::~TfrmMain() {
    qApp->removeEventFilter(this);
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
    Label3->setFont(arial(32, true, true));
    setTextColour(Label3, Qt::black);
    Label4 = label(Panel1, QStringLiteral("Fenwa"), QRect(6, 6, 140, 40));
    Label4->setObjectName("Label4");
    Label4->setFont(arial(32, true, true));
    setTextColour(Label4, Qt::gray);
    lblVersion = label(Panel1, QString(), QRect(4, 70, 144, 20));
    lblDate = label(Panel1, QString(), QRect(4, 94, 144, 20));
    lblVersion->setObjectName("lblVersion");
    lblDate->setObjectName("lblDate");
    for (QLabel* l : {lblVersion, lblDate}) {
        l->setFont(arial(16, true));
        l->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
        setTextColour(l, Qt::gray);
    }
    Bevel1 = verticalBevel(Panel1, 150);

    // Directory block.
    Label2 = label(Panel1, QStringLiteral("Input directories to find duplicates:"),
                   QRect(158, 4, 240, 16));
    Label2->setObjectName("Label2");
    Edit1 = new QLineEdit(Panel1);
    Edit1->setObjectName("Edit1");
    Edit1->setGeometry(158, 22, 212, 22);
    auto* dirList = new DirListBox(Panel1);
    dirList->onClick = [this] { lstDirClick(); };
    lstDir = dirList;
    lstDir->setObjectName("lstDir");
    lstDir->setGeometry(158, 48, 212, 80);
    lstDir->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lstDir->setContextMenuPolicy(Qt::CustomContextMenu);
    btnAddDir = new QPushButton(QStringLiteral("+"), Panel1);
    btnSubDir = new QPushButton(QStringLiteral("-"), Panel1);
    btnClearDir = new QPushButton(QStringLiteral("C"), Panel1);
    int y = 48;
    for (QPushButton* b : {btnAddDir, btnSubDir, btnClearDir}) {
        b->setFont(arial(12, true));
        b->setGeometry(376, y, 22, 22);
        y += 28;
    }
    btnAddDir->setObjectName("btnAddDir");
    btnSubDir->setObjectName("btnSubDir");
    btnClearDir->setObjectName("btnClearDir");
    btnFindDuplicates = new QPushButton(QStringLiteral("Find Duplicates"), Panel1);
    btnFindDuplicates->setObjectName("btnFindDuplicates");
    btnFindDuplicates->setGeometry(158, 133, 118, 25);
    btnFindAll = new QPushButton(QStringLiteral("Find All"), Panel1);
    btnFindAll->setObjectName("btnFindAll");
    btnFindAll->setGeometry(280, 133, 118, 25);
    Bevel2 = verticalBevel(Panel1, 404);

    buildOptionPages();

    Bevel3 = verticalBevel(Panel1, 640);
    Bevel3->setObjectName("Bevel3");
    Image1 = new QLabel(Panel1);
    Image1->setObjectName("Image1");
    Image1->setPixmap(QPixmap(QStringLiteral(":/images/logo.png")));
    Image1->setGeometry(648, 7, 115, 148);

    connect(Edit1, &QLineEdit::returnPressed, this, &TfrmMain::Edit1KeyDown);
    connect(btnAddDir, &QPushButton::clicked, this, &TfrmMain::btnAddDirClick);
    connect(btnSubDir, &QPushButton::clicked, this, &TfrmMain::miDelItemsClick);
    connect(btnClearDir, &QPushButton::clicked, this, &TfrmMain::miDelAllItemsClick);
    connect(lstDir, &QListWidget::clicked, this, &TfrmMain::lstDirClick);
    connect(btnFindAll, &QPushButton::clicked, this, &TfrmMain::btnFindAllClick);
    connect(btnFindDuplicates, &QPushButton::clicked, this, &TfrmMain::btnFindDuplicatesClick);
}

void TfrmMain::buildOptionPages() {
    pgOptions = new QTabWidget(Panel1);
    pgOptions->setObjectName("pgOptions");
    pgOptions->setGeometry(408, 4, 228, 155);

    tbsOptions = new QWidget;
    tbsOptions->setObjectName("tbsOptions");
    auto check = [](QWidget* page, const QString& caption, const char* name, QRect g, bool on) {
        auto* c = new QCheckBox(caption, page);
        c->setObjectName(name);
        c->setGeometry(g);
        c->setChecked(on);
        return c;
    };
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
    Label5 = label(tbsOptions, QStringLiteral("Delay time:                    mSeconds"),
                   QRect(6, 107, 210, 18));
    Label5->setObjectName("Label5");
    edTime = new QLineEdit(QStringLiteral("200"), tbsOptions);
    edTime->setObjectName("edTime");
    edTime->setMaxLength(4);
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
    pgOptions->addTab(tbsOptions, QStringLiteral("Options"));

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
    btnSaveOptions = new QPushButton(QStringLiteral("Save options"), tbsMore);
    btnSaveOptions->setObjectName("btnSaveOptions");
    btnSaveOptions->setGeometry(6, 52, 105, 25);
    rbEnglish = new QRadioButton(QStringLiteral("English"), tbsMore);
    rbEnglish->setObjectName("rbEnglish");
    rbEnglish->setGeometry(6, 84, 100, 20);
    rbEnglish->setChecked(true);
    rbChinese = new QRadioButton(QStringLiteral("中文"), tbsMore);
    rbChinese->setObjectName("rbChinese");
    rbChinese->setGeometry(115, 84, 100, 20);
    btnClearCache = new QPushButton(QStringLiteral("Clear cache"), tbsMore);
    btnClearCache->setObjectName("btnClearCache");
    // Beside Save options, its size below it: the page is no taller than the Options page.
    btnClearCache->setGeometry(115, 52, 105, 25);
    lbCacheSize = label(tbsMore, QString(), QRect(115, 106, 105, 18));
    lbCacheSize->setObjectName("lbCacheSize");
    pgOptions->addTab(tbsMore, QStringLiteral("More Options"));
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
    lvFiles->setContextMenuPolicy(Qt::CustomContextMenu);
    lvFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvFiles->header()->setSectionsClickable(true);
    lvFiles->header()->setSortIndicatorShown(false);
    lvFiles->header()->setStretchLastSection(false);
    const int widths[ColumnCount] = {150, 150, 75, 50, 110};
    for (int c = 0; c < ColumnCount; ++c)
        lvFiles->setColumnWidth(c, widths[c]);
    left->addWidget(lvFiles, 1);
    connect(lvFiles->header(), &QHeaderView::sectionClicked, this, &TfrmMain::lvFilesColumnClick);
    connect(lvFiles->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &TfrmMain::lvFilesChange);
    connect(lvFiles->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TfrmMain::lvFilesChange);
    // After a row's text changes (a rename) as after a move: the slides are framed again
    // and a delayed load starts over.
    connect(lvFilesModel, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex&, const QModelIndex&, const QList<int>& roles) {
                if (roles.isEmpty() || roles.contains(Qt::DisplayRole))
                    lvFilesChange();
            });

    pnSlides = new QFrame(Panel4);
    pnSlides->setObjectName("pnSlides");
    pnSlides->setFixedHeight(114);
    // The strip sizes its panels to its own width, so it asks for no width of its own.
    pnSlides->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    pnSlides->setFrameShape(QFrame::Panel);
    pnSlides->setFrameShadow(QFrame::Sunken);
    pnSlides->setLineWidth(SlideBorderWidth);
    auto* strip = new QHBoxLayout(pnSlides);
    strip->setContentsMargins(SlideBorderWidth, SlideBorderWidth, SlideBorderWidth,
                              SlideBorderWidth);
    strip->setSpacing(0);
    const QColor colours[5] = {Qt::red, QColor(255, 128, 64), Qt::yellow, Qt::green, Qt::blue};
    QFont letterFont(QStringLiteral("標楷體"));
    letterFont.setPixelSize(64);
    for (int i = 0; i < 5; ++i) {
        auto* panel = new QFrame(pnSlides);
        panel->setObjectName(QStringLiteral("pnImage%1").arg(i + 1));
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setLineWidth(SlideBorderWidth);
        panel->setAutoFillBackground(true);
        if (i < 4)
            panel->setFixedWidth(100);
        auto* inside = new QGridLayout(panel);
        inside->setContentsMargins(SlideBorderWidth, SlideBorderWidth, SlideBorderWidth,
                                   SlideBorderWidth);
        // The letter is the panel's caption: it shows wherever no slide covers it.
        auto* letter = new QLabel(slideCaption(size_t(i)), panel);
        letter->setObjectName(QStringLiteral("slideLetter%1").arg(i + 1));
        letter->setAlignment(Qt::AlignCenter);
        letter->setFont(letterFont);
        setTextColour(letter, colours[i]);
        inside->addWidget(letter, 0, 0);
        auto* slide = new TAdvImage(panel);
        slide->setObjectName(QStringLiteral("AdvImage%1").arg(i + 1));
        setUpImageControl(slide, jsEighth, /*grayscale=*/true, /*progressiveDisplay=*/false);
        slide->hide();
        inside->addWidget(slide, 0, 0);
        strip->addWidget(panel, i < 4 ? 0 : 1);
        pnImage[size_t(i)] = panel;
        slideLetter[size_t(i)] = letter;
        AdvImage[size_t(i)] = slide;
        connect(slide, &TAdvImage::mouseDown, this,
                [this](TAdvImage* sender, QMouseEvent*) { SlideImageMouseDown(sender); });
        connect(slide, &TAdvImage::doubleClicked, this, &TfrmMain::SlideImageDblClick);
    }
    left->addWidget(pnSlides);

    // Right: the preview pane on black, with the scale bar and the loading label.
    Panel2 = new QWidget(Splitter1);
    Panel2->setObjectName("Panel2");
    setBackground(Panel2, Qt::black);
    auto* right = new QVBoxLayout(Panel2);
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(0);
    pnScale = new QFrame(Panel2);
    pnScale->setObjectName("pnScale");
    pnScale->setFrameShape(QFrame::Panel);
    pnScale->setFrameShadow(QFrame::Raised);
    pnScale->setFixedHeight(41);
    pnScale->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setBackground(pnScale, palette().color(QPalette::Window));
    auto* scales = new QHBoxLayout(pnScale);
    scales->setContentsMargins(6, 2, 6, 2);
    rbFullSize = new QRadioButton(QStringLiteral("1x"), pnScale);
    rbHalf = new QRadioButton(QStringLiteral("1/2"), pnScale);
    rbQuarter = new QRadioButton(QStringLiteral("1/4"), pnScale);
    rbEighth = new QRadioButton(QStringLiteral("1/8(Faster)"), pnScale);
    rbFullSize->setObjectName("rbFullSize");
    rbHalf->setObjectName("rbHalf");
    rbQuarter->setObjectName("rbQuarter");
    rbEighth->setObjectName("rbEighth");
    rbHalf->setChecked(true);
    for (QRadioButton* r : {rbFullSize, rbHalf, rbQuarter, rbEighth}) {
        r->setFont(arial(12, true));
        scales->addWidget(r);
        connect(r, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                PreviewSizeClick();
        });
    }
    scales->addStretch(1);
    right->addWidget(pnScale);

    Image = new TAdvImage(Panel2);
    Image->setObjectName("Image");
    setUpImageControl(Image, jsHalf, /*grayscale=*/false, /*progressiveDisplay=*/true);
    right->addWidget(Image, 1);
    connect(Image, &TAdvImage::imageLoading, this, &TfrmMain::ImageImageLoading);
    connect(Image, &TAdvImage::imageLoaded, this, &TfrmMain::ImageImageLoaded);
    connect(Image, &TAdvImage::doubleClicked, this, &TfrmMain::ImageDblClick);

    // The pane's caption, seen only while the preview is switched off.
    Panel2Caption = new QLabel(Panel2);
    Panel2Caption->setObjectName("Panel2Caption");
    Panel2Caption->setAlignment(Qt::AlignCenter);
    QFont captionFont(QStringLiteral("標楷體"));
    captionFont.setPixelSize(48);
    Panel2Caption->setFont(captionFont);
    setTextColour(Panel2Caption, Qt::gray);
    Panel2Caption->hide();
    right->addWidget(Panel2Caption, 1);

    Panel3 = new QFrame(Panel2);
    Panel3->setObjectName("Panel3");
    Panel3->setFixedHeight(43);
    auto* bottom = new QHBoxLayout(Panel3);
    bottom->setContentsMargins(4, 0, 4, 0);
    Label1 = new QLabel(QStringLiteral("Loading..."), Panel3);
    Label1->setObjectName("Label1");
    Label1->setFont(arial(24, true, true));
    Label1->setAlignment(Qt::AlignCenter);
    setTextColour(Label1, Qt::red);
    bottom->addWidget(Label1);
    Label1->setVisible(false);
    right->addWidget(Panel3);

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
        panel->setFont(arial(16, true));
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setTextFormat(Qt::PlainText);
        StatusPanel[i] = panel;
    }
    StatusPanel[0]->setFixedWidth(80);
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
    miAcdsee = menuItem(PopupMenu1, "miAcdsee", QStringLiteral("Open With ACDSee"));
    miUltraEdit = menuItem(PopupMenu1, "miUltraEdit", QStringLiteral("Open With UltraEdit"));
    PopupMenu1->addSeparator();
    miDelete = menuItem(PopupMenu1, "miDelete", QStringLiteral("Delete"));
    PopupMenu1->addSeparator();
    miSaveList = menuItem(PopupMenu1, "miSaveList", QStringLiteral("Save List As..."));
    connect(PopupMenu1, &QMenu::aboutToShow, this, &TfrmMain::PopupMenu1Popup);
    connect(miNextGroup, &QAction::triggered, this, &TfrmMain::miNextGroupClick);
    connect(miPriorGroup, &QAction::triggered, this, &TfrmMain::miPriorGroupClick);
    connect(lvFiles, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { PopupMenu1->popup(lvFiles->viewport()->mapToGlobal(p)); });
    for (QFrame* panel : pnImage) {
        panel->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(panel, &QWidget::customContextMenuRequested, this,
                [this, panel](const QPoint& p) { PopupMenu1->popup(panel->mapToGlobal(p)); });
    }

    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName("PopupMenu2");
    miView = menuItem(PopupMenu2, "miView", QStringLiteral("View Image In Full Size"));
    connect(Image, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { PopupMenu2->popup(Image->mapToGlobal(p)); });

    PopupMenu3 = new QMenu(this);
    PopupMenu3->setObjectName("PopupMenu3");
    miAddItem = menuItem(PopupMenu3, "miAddItem", QStringLiteral("Add"));
    PopupMenu3->addSeparator();
    miDelItems = menuItem(PopupMenu3, "miDelItems", QStringLiteral("Delete"));
    miDelAllItems = menuItem(PopupMenu3, "miDelAllItems", QStringLiteral("Delete All"));
    connect(PopupMenu3, &QMenu::aboutToShow, this, &TfrmMain::PopupMenu3Popup);
    connect(miDelItems, &QAction::triggered, this, &TfrmMain::miDelItemsClick);
    connect(miDelAllItems, &QAction::triggered, this, &TfrmMain::miDelAllItemsClick);
    connect(lstDir, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { PopupMenu3->popup(lstDir->viewport()->mapToGlobal(p)); });
}

// ---------------------------------------------------------------------------
// The window's own handlers

void TfrmMain::FormCreate() {
    ListIdle = true;
    HighlightedRow = -1;

    const QCursor hand = appCursor(crHandPoint);
    Image1->setCursor(hand);
    Label4->setCursor(hand);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->stop();
    Timer1->setInterval(edTime->text().toInt());

    lblVersion->setText(QStringLiteral("Version: 0.5"));
    lblDate->setText(QStringLiteral("Date: 4/20/1998"));
    pgOptions->setCurrentIndex(0);
}

void TfrmMain::FormShow() {
    FormResize();
    LoadSettings();
    SetLanguage(rbEnglish->isChecked() ? English : Chinese);
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
        if (watched == edTime && edTimeKeyPress(static_cast<QKeyEvent*>(event)))
            return true;
    } else if (event->type() == QEvent::Resize && watched == pnSlides) {
        pnSlidesResize();
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
    miPreview->setEnabled(selected == 1 && ckPreview->isChecked());
    miDelete->setEnabled(selected >= 1);
    miSaveList->setEnabled(lvFilesModel->rowCount() > 0);
    updateSelectMenu();
}

// ---------------------------------------------------------------------------
// Status bar and progress

QString TfrmMain::statusText(int panel) const {
    return StatusPanel[size_t(panel)]->text();
}

void TfrmMain::setStatusText(int panel, const QString& text) {
    StatusPanel[size_t(panel)]->setText(text);
}

void TfrmMain::repaintStatusBar() {
    StatusBar->repaint();
}

void TfrmMain::ReportProgress(size_t step, size_t count) {
    if (!frmProgress_->isVisible()) {
        frmProgress_->showCentred();
        lastProgressPercent_ = -1;
        // Let the new window be mapped and painted once; user input stays queued.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    // Repaints now and then, and lets the user reach the progress window's Cancel.
    frmProgress_->keepResponsive();
    const int percent = ProgressPercent(step, count);
    showProgressPercent(percent);
}

void TfrmMain::showProgressPercent(int percent) {
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
    frmProgress_->hide();
    updateTicksNotice();
    ListIdle = true;
    setStatusText(1, QStringLiteral("Total Files:0"));
    repaintStatusBar();
}

// ---------------------------------------------------------------------------
// Directory list

std::vector<std::string> TfrmMain::directoryEntries() const {
    std::vector<std::string> entries;
    entries.reserve(size_t(lstDir->count()));
    for (int i = 0; i < lstDir->count(); ++i)
        entries.push_back(lstDir->item(i)->data(Qt::UserRole).toByteArray().toStdString());
    return entries;
}

bool TfrmMain::ValidateAndAddDirectory(const QString& text) {
    return ValidateAndAddNativeDirectory(QFile::encodeName(text).toStdString());
}

bool TfrmMain::ValidateAndAddNativeDirectory(const std::string& native) {
    const AddDirectoryCheck check =
        checkDirectoryToAdd(native, directoryEntries(), platform::isExistingDirectory,
                            platform::nativePathStyle(), platform::DirectoryLineage{});
    switch (check.outcome) {
    case AddDirectoryOutcome::NotADirectory:
        services_.messages->error(this, QString::fromUtf8(MsgNotADirectory));
        return false;
    case AddDirectoryOutcome::AlreadyListed:
        return false;
    case AddDirectoryOutcome::Relatives:
        services_.messages->error(this,
                                  fromNative(relativesMessage(check.directory, check.conflict)));
        return false;
    case AddDirectoryOutcome::Added:
        break;
    }
    auto* item = new QListWidgetItem(fromNative(check.directory));
    item->setData(Qt::UserRole, QByteArray::fromStdString(check.directory));
    lstDir->addItem(item);
    return true;
}

std::string TfrmMain::edit1Path() const {
    // A name that is not UTF-8 shows with replacement characters, which would name
    // another directory: an entry copied from the list keeps its bytes while unedited.
    if (!edit1Native_.isEmpty() && Edit1->text() == QFile::decodeName(edit1Native_))
        return edit1Native_.toStdString();
    return QFile::encodeName(Edit1->text()).toStdString();
}

void TfrmMain::AddPendingDirectory() {
    if (!Edit1->text().trimmed().isEmpty())
        ValidateAndAddNativeDirectory(edit1Path());
}

void TfrmMain::Edit1KeyDown() {
    ValidateAndAddNativeDirectory(edit1Path());
}

void TfrmMain::btnAddDirClick() {
    MainWindowServices::PickRequest request;
    request.title = OpenDialogTitle;
    request.filter = dialogNameFilter(OpenDialogFilter);
    request.fileName = OpenDialogFileName;
    const QString typed = Edit1->text();
    if (!typed.isEmpty()) {
        const std::string native = edit1Path();
        if (platform::isExistingDirectory(native))
            request.initialDirectory = typed;
        request.fileName =
            fromNative(platform::JoinPath(platform::nativePathStyle(), native, "Any File Name"));
    }
    if (!services_.pickFile)
        return;
    const std::optional<QString> chosen = services_.pickFile(this, request);
    if (!chosen)
        return;
    const QString dir = fromNative(platform::directoryOfFile(
        platform::nativePathStyle(), QFile::encodeName(*chosen).toStdString()));
    if (ValidateAndAddDirectory(dir))
        Edit1->setText(dir);
}

void TfrmMain::lstDirClick() {
    if (QListWidgetItem* item = lstDir->currentItem()) {
        edit1Native_ = item->data(Qt::UserRole).toByteArray();
        Edit1->setText(QFile::decodeName(edit1Native_));
    }
}

void TfrmMain::miDelItemsClick() {
    for (int i = lstDir->count() - 1; i >= 0; --i)
        if (lstDir->item(i)->isSelected())
            delete lstDir->takeItem(i);
}

void TfrmMain::miDelAllItemsClick() {
    lstDir->clear();
}

void TfrmMain::PopupMenu3Popup() {
    miDelItems->setEnabled(!lstDir->selectedItems().isEmpty());
    miDelAllItems->setEnabled(true);
    miAddItem->setEnabled(true);
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
    undecidedGroups_ = 0;
    setStatusText(1, QStringLiteral("Clearing file list..."));
    repaintStatusBar();
    lvFiles->setUpdatesEnabled(false);
    lvFilesModel->clear();
    ++listGeneration_;
    lvFiles->setUpdatesEnabled(true);
    setStatusText(1, QString());
    updateSelectionStatus();
}

void TfrmMain::btnFindAllClick() {
    AddPendingDirectory();
    if (lstDir->count() == 0) {
        services_.messages->error(this, QString::fromUtf8(MsgNoDirectory));
        return;
    }
    if (searching_)
        return;
    ListIdle = false;
    ClearResultList();
    SearchRequest request;
    request.directories = directoryEntries();
    request.includeSubdirectories = ckInclude->isChecked();
    FileRecordStore rows;
    if (!runSearchBesideWindow(request, rows)) {
        FinishCancelledSearch();
        return;
    }
    // Rows join the list in one insertion.
    lvFiles->setUpdatesEnabled(false);
    lvFilesModel->appendRows(std::move(rows));
    duplicateList_ = false;
    updateTicksNotice();
    ClearSlides();
    lvFiles->setUpdatesEnabled(true);
    ListIdle = true;
    setStatusText(1, QStringLiteral("Total Files:") + QString::number(lvFilesModel->rowCount()));
    repaintStatusBar();
}

// ---------------------------------------------------------------------------
// Find Duplicates

Criteria TfrmMain::criteria() const {
    return Criteria{ckName->isChecked(), ckSize->isChecked(), ckTime->isChecked(),
                    ckContent->isChecked(), ckSimilar->isChecked()};
}

void TfrmMain::updateTicksNotice() {
    const Criteria now = criteria();
    const Criteria& was = searchedCriteria_;
    const bool changed = now.name != was.name || now.size != was.size || now.time != was.time ||
                         now.content != was.content || now.similar != was.similar ||
                         (was.similar && cbSimilarLevel->currentIndex() != searchedSimilarLevel_);
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
    lblTicksChanged->setText(QStringLiteral("勾選已改變: 刪除和選取規則仍依搜尋時的組 (%1) (ticks "
                                            "changed since the search: Delete and the Select "
                                            "rules keep the search's groups)")
                                 .arg(searched.join(QStringLiteral(", "))));
    lblTicksChanged->setToolTip(lblTicksChanged->text());
    lblTicksChanged->show();
}

void TfrmMain::btnFindDuplicatesClick() {
    if (searching_)
        return;
    ListIdle = false;
    AddPendingDirectory();
    const bool finished = runDuplicateSearch();
    showCacheSize(); // the search's cache was written back as it ended
    if (!finished) {
        FinishCancelledSearch();
        return;
    }
    ClearSlides();
    ListIdle = true;
    setStatusText(1, statusText(1) + QString::fromLatin1(NavigationHint));
}

bool TfrmMain::runDuplicateSearch() {
    if (lstDir->count() == 0) {
        services_.messages->error(this, QString::fromUtf8(MsgNoDirectory));
        return true;
    }
    const Criteria ticked = criteria();
    if (!ticked.any()) {
        services_.messages->error(this, QString::fromUtf8(MsgNoCriterion));
        return true;
    }
    ClearResultList();
    SearchRequest request;
    request.directories = directoryEntries();
    request.includeSubdirectories = ckInclude->isChecked();
    request.duplicatesOnly = true;
    request.criteria = ticked;
    // One cache file for fingerprints and content hashes, written back when the request
    // goes, after the search.
    std::shared_ptr<similar::FingerprintCache> cache;
    const auto sharedCache = [this, &cache] {
        if (!cache)
            cache = std::make_shared<similar::FingerprintCache>(services_.searchCachePath);
        return cache;
    };
    if (ticked.content && !services_.searchCachePath.empty())
        request.contentCache = sharedCache();
    if (ticked.similar) {
        similar::PrepareFingerprinting();
        request.fingerprint = [kept = sharedCache()](const FileRecordStore& rows, size_t row) {
            return similar::CachedFingerprint(kept.get(), rows, row);
        };
        request.similarThreshold =
            similar::LevelThreshold(similar::SimilarLevel(cbSimilarLevel->currentIndex()));
    }
    FileRecordStore groups;
    if (!runSearchBesideWindow(request, groups))
        return false;
    lvFiles->setUpdatesEnabled(false);
    lvFilesModel->appendRows(std::move(groups));
    duplicateList_ = true;
    searchedCriteria_ = ticked;
    searchedSimilarLevel_ = cbSimilarLevel->currentIndex();
    updateTicksNotice();
    lvFiles->setUpdatesEnabled(true);
    QString total = QStringLiteral("Total Files:") + QString::number(lvFilesModel->rowCount());
    if (ticked.similar)
        total += QStringLiteral(" (left out: %1 not pictures, %2 undecodable)")
                     .arg(similarLeftOut_.notPictures)
                     .arg(similarLeftOut_.undecodable);
    setStatusText(1, total);
    repaintStatusBar();
    return true;
}

bool TfrmMain::runSearchBesideWindow(const SearchRequest& request, FileRecordStore& rows) {
    // The search runs on a thread of its own. This thread keeps the windows painted and
    // the progress window's Cancel working, and takes the finished rows in one step.
    searching_ = true;
    btnClearCache->setEnabled(false); // the search has the cache open
    Timer1->stop();                   // no preview tick reaches a list that is being replaced
    SearchMonitor monitor;
    SearchOutcome outcome;
    std::exception_ptr failure;
    std::atomic<bool> finished{false};
    frmProgress_->showCentred();
    frmProgress_->Progress->setValue(0);
    lastProgressPercent_ = -1;
    setStatusText(0, QStringLiteral("0%"));
    setStatusText(1, QStringLiteral("Reading all files..."));
    repaintStatusBar();
    std::thread worker([&] {
        try {
            outcome = RunSearch(request, &monitor);
        } catch (...) {
            failure = std::current_exception();
        }
        finished = true;
    });
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(15);
    SearchStage shownStage = SearchStage::Reading;
    int readingPercent = 0; // the estimate while reading never runs backwards
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (frmProgress_->cancelRequested() || closeRequested_)
            monitor.requestStop();
        const SearchStage stage = monitor.stage();
        if (stage != shownStage && stage != SearchStage::Done) {
            shownStage = stage;
            lastProgressPercent_ = -1;
            setStatusText(1, stage == SearchStage::CheckingContent
                                 ? QStringLiteral("Checking content...")
                             : stage == SearchStage::ComparingPictures
                                 ? QStringLiteral("Comparing pictures...")
                                 : QStringLiteral("Checking duplicates..."));
            repaintStatusBar();
        }
        size_t step = 0, count = 0;
        monitor.progress(step, count);
        if (count > 0) {
            if (stage == SearchStage::Reading) {
                readingPercent = std::max(readingPercent, ProgressPercent(step, count));
                showProgressPercent(readingPercent);
            } else if (stage != SearchStage::Done) {
                showProgressPercent(ProgressPercent(step, count));
            }
        }
        if (finished)
            loop.quit();
    });
    poll.start();
    loop.exec();
    poll.stop();
    worker.join();
    searching_ = false;
    btnClearCache->setEnabled(true);
    frmProgress_->hide();
    if (failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& e) {
            services_.messages->error(this, QStringLiteral("搜尋失敗 (the search failed): ") +
                                                QString::fromLocal8Bit(e.what()));
        }
        return false;
    }
    // A close asked for meanwhile is carried out once the search has unwound.
    if (closeRequested_)
        QTimer::singleShot(0, this, [this] {
            closeRequested_ = false;
            close();
        });
    // A Cancel that came before the rows were taken counts, however late in the search.
    if (outcome.cancelled || frmProgress_->cancelRequested() || closeRequested_)
        return false;
    showProgressPercent(100);
    rows = std::move(outcome.rows);
    similarLeftOut_ = outcome.similarLeftOut;
    return true;
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    // A close during a search stops it; the window closes once the search has ended.
    if (searching_) {
        closeRequested_ = true;
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

// ---------------------------------------------------------------------------
// Sorting, group marking and group navigation

void TfrmMain::lvFilesColumnClick(int column) {
    SortMode = nextSortMode(SortMode, column);
    lvFilesModel->permute(sortedOrder(lvFilesModel->store(), SortMode));
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
    if (raClick->isChecked()) {
        LoadPreview();
        ScheduleSlides();
    } else {
        HighlightSlides();
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

bool TfrmMain::lvFilesKeyDown(QKeyEvent* event) {
    // Enter and Delete act, and the list still sees the key.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        lvFilesDblClick();
        return false;
    }
    if (event->key() == Qt::Key_Delete) {
        if (!isEditingName())
            DeleteSelectedFiles();
        return false;
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
    updateSelectionStatus();
}

} // namespace fenwa
