#include "comparewindow.h"

#include <QCoreApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QItemSelection>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QThreadPool>
#include <QTreeView>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "filelistmodel.h"
#include "languages.h"
#include "listhost.h"
#include "messages.h"
#include "protection.h"
#include "samefile.h"
#include "windowlook.h"

namespace fenwa {

namespace {

constexpr double MaxZoom = 64.0;
constexpr double ZoomStep = 1.25;
// Pictures load beside the window, two at a time: a camera's RAW file takes seconds and
// hundreds of megabytes while it decodes.
constexpr int LoadsAtOnce = 2;
// Larger pictures are decoded at a reduced scale, which bounds the memory of four panes.
constexpr quint64 MaxShownPixels = quint64(24) << 20;

QString say(int language, const char* english, const char* chinese) {
    return QString::fromUtf8(language == English ? english : chinese);
}

// The scale that decodes the picture with at most MaxShownPixels.
TJPEGScale scaleFor(const TPictureHeaderFacts& facts) {
    const TJPEGScale scales[] = {jsFullSize, jsHalf, jsQuarter, jsEighth};
    for (int k = 0; k < 3; ++k)
        if ((quint64(facts.width) >> k) * (quint64(facts.height) >> k) <= MaxShownPixels)
            return scales[k];
    return jsEighth;
}

// The picture and its halvings, so that a picture shown small is drawn from a version
// near the shown size: smooth, and quick however large the file's picture is.
std::vector<QImage> halvings(QImage full) {
    std::vector<QImage> levels;
    if (full.isNull())
        return levels;
    levels.push_back(std::move(full));
    while (levels.back().width() >= 128 && levels.back().height() >= 128) {
        const QImage& last = levels.back();
        levels.push_back(last.scaled(last.width() / 2, last.height() / 2, Qt::IgnoreAspectRatio,
                                     Qt::SmoothTransformation));
    }
    return levels;
}

bool rowIsPicture(const FileRecordStore& rows, size_t row) {
    return IsImageName(rows.name(row));
}

} // namespace

// ---------------------------------------------------------------------------
// Which rows

ComparedRows ChooseComparedRows(const FileRecordStore& rows, std::vector<size_t> selected,
                                long current) {
    using Refusal = ComparedRows::Refusal;
    ComparedRows out;
    if (!rows.hasGroups()) {
        out.refusal = Refusal::NoGroups;
        return out;
    }
    std::sort(selected.begin(), selected.end());
    if (selected.empty()) {
        if (current < 0 || size_t(current) >= rows.size()) {
            out.refusal = Refusal::NothingChosen;
            return out;
        }
        selected.push_back(size_t(current));
    }
    if (selected.size() > size_t(TfrmCompare::MaxPanes)) {
        out.refusal = Refusal::TooMany;
        return out;
    }
    const uint32_t group = rows.group(selected.front());
    for (size_t row : selected)
        if (row >= rows.size() || rows.group(row) == 0 || rows.group(row) != group) {
            out.refusal = Refusal::NotOneGroup;
            return out;
        }
    if (selected.size() == 1) {
        // The row first, then the group's rows after it, then those before it.
        std::vector<size_t> members;
        for (size_t row = 0; row < rows.size(); ++row)
            if (rows.group(row) == group)
                members.push_back(row);
        const size_t at =
            size_t(std::find(members.begin(), members.end(), selected.front()) - members.begin());
        for (size_t k = 0; k < members.size() && out.rows.size() < size_t(TfrmCompare::MaxPanes);
             ++k)
            out.rows.push_back(members[(at + k) % members.size()]);
    } else {
        out.rows = std::move(selected);
    }
    if (out.rows.size() < 2) {
        out.refusal = Refusal::NotOneGroup;
        out.rows.clear();
    } else if (std::none_of(out.rows.begin(), out.rows.end(),
                            [&](size_t row) { return rowIsPicture(rows, row); })) {
        out.refusal = Refusal::NoPicture;
        out.rows.clear();
    }
    return out;
}

std::vector<size_t> SteppedGroupRows(const FileRecordStore& rows, uint32_t group, size_t fromRow,
                                     bool forward) {
    struct Seen {
        size_t first = 0;
        bool picture = false;
    };
    std::unordered_map<uint32_t, Seen> groups;
    for (size_t row = 0; row < rows.size(); ++row) {
        const uint32_t id = rows.group(row);
        if (id == 0)
            continue;
        auto [it, added] = groups.try_emplace(id, Seen{row, false});
        it->second.picture = it->second.picture || rowIsPicture(rows, row);
    }
    // A group still in the list is placed by its first row; one that left by where it was,
    // so that whatever now starts there comes next.
    const auto here = groups.find(group);
    const bool present = here != groups.end();
    const size_t from = present ? here->second.first : fromRow;
    const Seen* best = nullptr;
    uint32_t bestId = 0;
    for (const auto& [id, seen] : groups) {
        if (!seen.picture || id == group)
            continue;
        const bool beyond =
            forward ? (present ? seen.first > from : seen.first >= from) : seen.first < from;
        if (!beyond)
            continue;
        if (!best || (forward ? seen.first < best->first : seen.first > best->first)) {
            best = &seen;
            bestId = id;
        }
    }
    std::vector<size_t> out;
    if (!best)
        return out;
    for (size_t row = best->first; row < rows.size() && out.size() < size_t(TfrmCompare::MaxPanes);
         ++row)
        if (rows.group(row) == bestId)
            out.push_back(row);
    return out;
}

// ---------------------------------------------------------------------------
// A picture pane

class ComparePicture : public QWidget {
public:
    ComparePicture(TfrmCompare& owner, int number, QWidget* parent)
        : QWidget(parent), owner_(owner), number_(number) {
        setObjectName(QStringLiteral("imgCompare%1").arg(number));
        setFocusPolicy(Qt::NoFocus);
        setMinimumSize(80, 80);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        setCursor(Qt::OpenHandCursor);
    }

    // Nothing to draw: the note says why (loading, not a picture, unreadable).
    void showNote(const QString& note) {
        levels_.clear();
        note_ = note;
        update();
    }
    void showPicture(std::vector<QImage> levels) {
        levels_ = std::move(levels);
        note_.clear();
        update();
    }
    bool hasPicture() const { return !levels_.empty(); }
    QString note() const { return note_; }
    QSize pictureSize() const { return levels_.empty() ? QSize() : levels_.front().size(); }

    // Where the whole picture lies in the pane at the window's zoom and centre.
    QRectF shownRect() const {
        if (levels_.empty())
            return {};
        const QSizeF picture = levels_.front().size();
        const double fit = std::min(width() / picture.width(), height() / picture.height());
        const QSizeF size = picture * (fit * owner_.zoom());
        const auto place = [](double view, double shown, double centre) {
            if (shown <= view)
                return (view - shown) / 2;
            return std::clamp(view / 2 - centre * shown, view - shown, 0.0);
        };
        return {place(width(), size.width(), owner_.centre().x()),
                place(height(), size.height(), owner_.centre().y()), size.width(), size.height()};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        if (levels_.empty()) {
            painter.setPen(Qt::gray);
            painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, note_);
        } else {
            const QRectF shown = shownRect();
            const QRectF visible = shown.intersected(QRectF(rect()));
            if (!visible.isEmpty()) {
                // The smallest halving still as large as the picture is shown.
                size_t level = 0;
                while (level + 1 < levels_.size() && levels_[level + 1].width() >= shown.width())
                    ++level;
                const QImage& source = levels_[level];
                const double scale = shown.width() / source.width();
                const QRectF from((visible.x() - shown.x()) / scale,
                                  (visible.y() - shown.y()) / scale, visible.width() / scale,
                                  visible.height() / scale);
                // Enlarged pixels stay sharp: they are what a close look compares.
                painter.setRenderHint(QPainter::SmoothPixmapTransform, scale < 1.0);
                painter.drawImage(visible, source, from);
            }
        }
        // The pane's number: the key that keeps it.
        const QRect badge(4, 4, 22, 22);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 160));
        painter.drawRoundedRect(badge, 4, 4);
        painter.setPen(Qt::white);
        painter.setFont(arialFont(14, true));
        painter.drawText(badge, Qt::AlignCenter, QString::number(number_));
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton)
            return;
        dragging_ = true;
        last_ = event->position();
        setCursor(Qt::ClosedHandCursor);
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (!dragging_)
            return;
        const QPointF now = event->position();
        owner_.panBy(this, now - last_);
        last_ = now;
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton)
            return;
        dragging_ = false;
        setCursor(Qt::OpenHandCursor);
    }
    void wheelEvent(QWheelEvent* event) override {
        const int steps = event->angleDelta().y();
        if (steps != 0)
            owner_.zoomAt(this, event->position(), std::pow(ZoomStep, steps / 120.0));
        event->accept();
    }

private:
    TfrmCompare& owner_;
    const int number_;
    std::vector<QImage> levels_; // the picture, then its halvings
    QString note_;
    bool dragging_ = false;
    QPointF last_;
};

// ---------------------------------------------------------------------------
// The window

TfrmCompare::TfrmCompare(ListAccess list, QWidget* parent)
    : QWidget(parent, Qt::Window), list_(std::move(list)),
      liveGeneration_(std::make_shared<std::atomic<int>>(0)) {
    setObjectName("frmCompare");
    setFocusPolicy(Qt::StrongFocus);
    // The program ends with its main window, whether this one is open or not.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(1000, 680);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4, 4, 4, 4);
    column->setSpacing(4);
    auto* row = new QHBoxLayout();
    row->setSpacing(4);
    for (int i = 0; i < MaxPanes; ++i) {
        Pane& pane = panes_[size_t(i)];
        pane.column = new QWidget(this);
        pane.column->setObjectName(QStringLiteral("pnCompare%1").arg(i + 1));
        auto* stack = new QVBoxLayout(pane.column);
        stack->setContentsMargins(0, 0, 0, 0);
        stack->setSpacing(2);
        pane.picture = new ComparePicture(*this, i + 1, pane.column);
        pane.facts = new QLabel(pane.column);
        pane.facts->setObjectName(QStringLiteral("lblCompareFacts%1").arg(i + 1));
        pane.facts->setTextFormat(Qt::PlainText);
        pane.facts->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        // A long folder is cut short (whole in the tooltip) rather than widening the window.
        pane.facts->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        stack->addWidget(pane.picture, 1);
        stack->addWidget(pane.facts);
        row->addWidget(pane.column, 1);
        pane.column->hide();
    }
    column->addLayout(row, 1);
    lblCompareStatus = new QLabel(this);
    lblCompareStatus->setObjectName("lblCompareStatus");
    lblCompareStatus->setTextFormat(Qt::PlainText);
    lblCompareStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    column->addWidget(lblCompareStatus);
    lblCompareKeys = new QLabel(this);
    lblCompareKeys->setObjectName("lblCompareKeys");
    lblCompareKeys->setTextFormat(Qt::PlainText);
    lblCompareKeys->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    column->addWidget(lblCompareKeys);

    // The facts say which rows are selected in the list, and which left it.
    connect(list_.view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { updateAllFacts(); });
    for (auto signal : {&QAbstractItemModel::rowsRemoved, &QAbstractItemModel::rowsInserted})
        connect(list_.model, signal, this, [this] { updateAllFacts(); });
    connect(list_.model, &QAbstractItemModel::modelReset, this, [this] { updateAllFacts(); });
    connect(list_.model, &QAbstractItemModel::layoutChanged, this, [this] { updateAllFacts(); });
    SetLanguage(English);
}

TfrmCompare::~TfrmCompare() {
    // Loads still running find nothing to report to.
    liveGeneration_->store(-1);
}

void TfrmCompare::SetLanguage(int code) {
    language_ = code;
    updateTexts();
}

void TfrmCompare::updateTexts() {
    setWindowTitle(say(language_, "Compare Side by Side", "並排比較"));
    lblCompareKeys->setText(
        say(language_,
            "1-4: keep this one (selects the others of its group in the list)   N/PageDown: next "
            "group   P/PageUp: prior group   Wheel, +/-: zoom   F: fit   Drag: pan   Esc: close",
            "1-4: 保留這一個 (在清單中選取同組的其他檔案)   N/PageDown: 下一組   P/PageUp: "
            "上一組   滾輪, +/-: 縮放   F: 符合窗格   拖曳: 移動   Esc: 關閉"));
    lblCompareKeys->setToolTip(lblCompareKeys->text());
    for (int i = 0; i < paneCount_; ++i)
        if (!panes_[size_t(i)].picture->hasPicture())
            panes_[size_t(i)].picture->showNote(noteOf(panes_[size_t(i)].state));
    updateAllFacts();
    // A status line of the other language would mislead: it goes.
    lblCompareStatus->clear();
}

QString TfrmCompare::noteOf(Showing state) const {
    switch (state) {
    case Showing::Loading:
        return say(language_, "Loading...", "載入中...");
    case Showing::NotPicture:
        return say(language_, "Not a picture", "不是圖片");
    case Showing::Unreadable:
        return say(language_, "This picture cannot be shown", "無法顯示這張圖片");
    case Showing::Nothing:
    case Showing::Picture:
        break;
    }
    return {};
}

void TfrmCompare::refuse(ComparedRows::Refusal refusal) {
    using Refusal = ComparedRows::Refusal;
    const char* text = nullptr;
    switch (refusal) {
    case Refusal::NoGroups:
        text = "這份清單沒有重複的組,請先找出重複 (this list has no groups of duplicates: "
               "compare after Find Duplicates)";
        break;
    case Refusal::NothingChosen:
        text = "請先選取要比較的檔案 (select the files to compare first)";
        break;
    case Refusal::NotOneGroup:
    case Refusal::TooMany:
        text = "請選取同一組中的二到四個檔案 (select two to four files of one group to compare)";
        break;
    case Refusal::NoPicture:
        text = "這些檔案都不是圖片 (none of these files is a picture)";
        break;
    case Refusal::None:
        return;
    }
    if (list_.messages)
        list_.messages->error(parentWidget() ? parentWidget() : this, QString::fromUtf8(text));
}

bool TfrmCompare::openOnSelection() {
    std::vector<size_t> selected;
    for (const QModelIndex& index : list_.view->selectionModel()->selectedRows())
        selected.push_back(size_t(index.row()));
    ComparedRows chosen;
    if (list_.host->holdsDuplicateGroups())
        chosen =
            ChooseComparedRows(list_.model->store(), std::move(selected), list_.host->currentRow());
    else
        chosen.refusal = ComparedRows::Refusal::NoGroups;
    if (chosen.refusal != ComparedRows::Refusal::None) {
        refuse(chosen.refusal);
        return false;
    }
    showRows(chosen.rows);
    show();
    raise();
    activateWindow();
    setFocus();
    return true;
}

void TfrmCompare::showRows(const std::vector<size_t>& rows) {
    const FileRecordStore& store = list_.model->store();
    ++generation_;
    liveGeneration_->store(generation_);
    waiting_.clear();
    paneCount_ = int(std::min(rows.size(), size_t(MaxPanes)));
    zoom_ = 1.0;
    centre_ = {0.5, 0.5};
    lblCompareStatus->clear();
    for (int i = 0; i < MaxPanes; ++i) {
        Pane& pane = panes_[size_t(i)];
        pane.column->setVisible(i < paneCount_);
        pane.header = {};
        pane.headerRead = false;
        pane.loadedSize = {};
        if (i >= paneCount_) {
            pane.row = {};
            pane.state = Showing::Nothing;
            pane.picture->showNote({});
            continue;
        }
        const size_t row = rows[size_t(i)];
        pane.row = {row, store.group(row), store.fullPath(row), store.inode(row),
                    rowIsPicture(store, row)};
        const int r = int(row);
        pane.name = list_.model->displayText(r, ColName);
        pane.folder = list_.model->displayText(r, ColDirectory);
        pane.modified = list_.model->displayText(r, ColTime);
        pane.bytes = store.fileSize(row);
        pane.state = pane.row.picture ? Showing::Loading : Showing::NotPicture;
        pane.picture->showNote(noteOf(pane.state));
        if (pane.row.picture)
            waiting_.push_back(i);
    }
    updateAllFacts();
    startLoads();
    if (paneCount_ > 0)
        list_.view->scrollTo(list_.model->index(int(rows.front()), 0));
}

// ---------------------------------------------------------------------------
// Loading beside the window

void TfrmCompare::startLoads() {
    while (running_ < LoadsAtOnce && !waiting_.empty()) {
        const int pane = waiting_.front();
        waiting_.erase(waiting_.begin());
        ++running_;
        const QByteArray path = QByteArray::fromStdString(panes_[size_t(pane)].row.path);
        const QPointer<TfrmCompare> self(this);
        const std::shared_ptr<std::atomic<int>> live = liveGeneration_;
        const int generation = generation_;
        QThreadPool::globalInstance()->start([self, live, generation, pane, path] {
            // Answers go to the window's thread; a window closed meanwhile gets none.
            const auto post = [&self](std::function<void(TfrmCompare&)> call) {
                if (QCoreApplication* app = QCoreApplication::instance())
                    QMetaObject::invokeMethod(
                        app,
                        [self, call = std::move(call)] {
                            if (self)
                                call(*self);
                        },
                        Qt::QueuedConnection);
            };
            std::vector<QImage> levels;
            QSize loadedSize;
            if (live->load() == generation) {
                const TPictureHeaderFacts facts = PictureHeaderFacts(path);
                post([generation, pane, facts](TfrmCompare& w) {
                    w.headerArrived(generation, pane, facts);
                });
                if (live->load() == generation) {
                    try {
                        TPictureLoadSettings settings;
                        settings.scale = scaleFor(facts);
                        TPicture picture;
                        const TPictureLoadResult loaded = LoadPictureFile(picture, path, settings);
                        loadedSize = QSize(loaded.width, loaded.height);
                        const TDibBitmap bitmap = PictureBitmap(picture);
                        picture.clear();
                        // A copy of its own: the bitmap's memory goes with the bitmap.
                        levels = halvings(bitmap.toQImage().convertToFormat(QImage::Format_RGB32));
                    } catch (...) {
                        levels.clear(); // out of memory or beyond the bound: nothing shown
                    }
                }
            }
            post([generation, pane, levels = std::move(levels), loadedSize](TfrmCompare& w) {
                w.pictureArrived(generation, pane, levels, loadedSize);
            });
        });
    }
}

void TfrmCompare::headerArrived(int generation, int pane, const TPictureHeaderFacts& facts) {
    if (generation != generation_ || pane >= paneCount_)
        return;
    panes_[size_t(pane)].header = facts;
    panes_[size_t(pane)].headerRead = true;
    updateFacts(pane);
}

void TfrmCompare::pictureArrived(int generation, int pane, const std::vector<QImage>& levels,
                                 QSize loadedSize) {
    --running_;
    if (generation == generation_ && pane < paneCount_) {
        Pane& shown = panes_[size_t(pane)];
        shown.loadedSize = loadedSize;
        shown.state = levels.empty() ? Showing::Unreadable : Showing::Picture;
        if (levels.empty())
            shown.picture->showNote(noteOf(shown.state));
        else
            shown.picture->showPicture(levels);
        updateFacts(pane);
    }
    startLoads();
}

// ---------------------------------------------------------------------------
// Facts

long TfrmCompare::currentRowOf(PaneRow& paneRow) const {
    const FileRecordStore& store = list_.model->store();
    const auto same = [&](size_t row) {
        return store.group(row) == paneRow.group && store.inode(row) == paneRow.inode &&
               store.fullPath(row) == paneRow.path;
    };
    if (paneRow.group == 0)
        return -1;
    if (paneRow.row < store.size() && same(paneRow.row))
        return long(paneRow.row);
    for (size_t row = 0; row < store.size(); ++row)
        if (same(row)) {
            paneRow.row = row; // where to look first next time
            return long(row);
        }
    return -1;
}

void TfrmCompare::updateAllFacts() {
    for (int i = 0; i < paneCount_; ++i)
        updateFacts(i);
}

void TfrmCompare::updateFacts(int index) {
    Pane& pane = panes_[size_t(index)];
    const QString dash = QStringLiteral("—");
    QString size;
    if (!pane.row.picture)
        size = say(language_, "not a picture", "不是圖片");
    else if (!pane.headerRead)
        size = QStringLiteral("...");
    else if (pane.header.width > 0)
        size = QStringLiteral("%1 × %2").arg(pane.header.width).arg(pane.header.height);
    else if (pane.loadedSize.width() > 0) // a metafile: its header says nothing of a size
        size = QStringLiteral("%1 × %2").arg(pane.loadedSize.width()).arg(pane.loadedSize.height());
    else
        size = dash;
    QString taken = pane.header.captureTime;
    if (taken.size() >= 10) // "YYYY:MM:DD HH:MM:SS" written as the list writes dates
        taken[4] = taken[7] = QLatin1Char('/');
    QStringList lines{
        say(language_, "Name: ", "名稱: ") + pane.name,
        say(language_, "Folder: ", "目錄: ") + pane.folder,
        say(language_, "Size: %1 bytes", "大小: %1 位元組")
            .arg(QLocale::c().toString(qlonglong(pane.bytes))),
        say(language_, "Picture: ", "圖片尺寸: ") + size,
        say(language_, "Modified: ", "修改時間: ") + pane.modified,
        say(language_, "Taken: ", "拍攝時間: ") + (taken.isEmpty() ? dash : taken),
    };
    const long row = currentRowOf(pane.row);
    if (row < 0) {
        lines << say(language_, "No longer in the list", "已不在清單中");
    } else {
        const FileRecordStore& store = list_.model->store();
        const uint8_t likeness = store.likeness(size_t(row));
        if (likeness != FileRecordStore::NoLikeness)
            lines << say(language_, "Likeness: %1%", "相似度: %1%").arg(likeness);
        if (list_.view->selectionModel()->isRowSelected(int(row)))
            lines << say(language_, "Selected in the list", "已在清單中選取");
    }
    pane.facts->setText(lines.join(QLatin1Char('\n')));
    pane.facts->setToolTip(pane.facts->text());
}

// ---------------------------------------------------------------------------
// Keeping one

void TfrmCompare::keepPane(int index) {
    if (index < 0 || index >= paneCount_ || (list_.busy && list_.busy()))
        return;
    const long kept = currentRowOf(panes_[size_t(index)].row);
    if (kept < 0) {
        if (list_.messages)
            list_.messages->error(
                this, QStringLiteral("這個檔案已不在清單中 (this file is no longer in the list)"));
        return;
    }
    const FileRecordStore& store = list_.model->store();
    const uint32_t group = store.group(size_t(kept));
    std::vector<bool> selected(store.size(), false);
    for (const QModelIndex& i : list_.view->selectionModel()->selectedRows())
        selected[size_t(i.row())] = true;
    // Left alone as well: a row that is the kept file again (a second spelling, a hard
    // link, a mirror) and a file under a protected directory.
    const actions::Protection protection =
        actions::protectionOf(list_.host->protectedDirectories());
    actions::ProtectionCheck isProtected(store, protection);
    size_t others = 0;
    size_t spared = 0;
    for (size_t row = 0; row < store.size(); ++row) {
        if (store.group(row) != group)
            continue;
        const bool take =
            row != size_t(kept) && !SameFileRows(store, row, size_t(kept)) && !isProtected.row(row);
        selected[row] = take;
        others += take ? 1 : 0;
        spared += !take && row != size_t(kept) ? 1 : 0;
    }
    QItemSelection selection;
    const int lastColumn = list_.model->columnCount() - 1;
    for (size_t i = 0; i < selected.size();) {
        if (!selected[i]) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j + 1 < selected.size() && selected[j + 1])
            ++j;
        selection.select(list_.model->index(int(i), 0), list_.model->index(int(j), lastColumn));
        i = j + 1;
    }
    list_.host->selectQuietly(selection);
    QString status = say(language_,
                         "Keeping %1 (%2): %3 other files of its group are selected in the list; "
                         "its Delete deletes them.",
                         "保留 %1 (%2): 已在清單中選取同組其他 %3 個檔案, 在清單按 Delete 才刪除.")
                         .arg(index + 1)
                         .arg(list_.model->displayText(int(kept), ColName))
                         .arg(others);
    if (spared > 0)
        status += QLatin1Char(' ') + say(language_,
                                         "%1 left unselected: protected, or the kept file itself.",
                                         "%1 個未選取: 受保護或就是保留的檔案.")
                                         .arg(spared);
    lblCompareStatus->setText(status);
    lblCompareStatus->setToolTip(status);
}

void TfrmCompare::stepGroup(bool forward) {
    if (paneCount_ == 0)
        return;
    PaneRow& first = panes_[0].row;
    const long at = currentRowOf(first);
    const std::vector<size_t> rows = SteppedGroupRows(list_.model->store(), first.group,
                                                      at >= 0 ? size_t(at) : first.row, forward);
    if (rows.empty()) {
        lblCompareStatus->setText(forward
                                      ? say(language_, "This is the last group.", "這是最後一組.")
                                      : say(language_, "This is the first group.", "這是第一組."));
        return;
    }
    showRows(rows);
}

// ---------------------------------------------------------------------------
// Zoom and pan, shared by every pane

namespace {

// A centre that keeps the pane's view within its picture where the picture overflows it.
double keepWithin(double centre, double view, double shown) {
    if (shown <= view)
        return std::clamp(centre, 0.0, 1.0);
    const double half = view / 2 / shown;
    return std::clamp(centre, half, 1 - half);
}

} // namespace

void TfrmCompare::zoomBy(double factor) {
    zoom_ = std::clamp(zoom_ * factor, 1.0, MaxZoom);
    if (zoom_ == 1.0)
        centre_ = {0.5, 0.5};
    for (const Pane& pane : panes_)
        pane.picture->update();
}

void TfrmCompare::fitPictures() {
    zoom_ = 1.0;
    centre_ = {0.5, 0.5};
    for (const Pane& pane : panes_)
        pane.picture->update();
}

void TfrmCompare::zoomAt(ComparePicture* pane, QPointF at, double factor) {
    const QRectF before = pane->shownRect();
    if (before.isEmpty()) {
        zoomBy(factor);
        return;
    }
    // The point of the picture under the pointer stays under it.
    const QPointF fraction(std::clamp((at.x() - before.x()) / before.width(), 0.0, 1.0),
                           std::clamp((at.y() - before.y()) / before.height(), 0.0, 1.0));
    zoom_ = std::clamp(zoom_ * factor, 1.0, MaxZoom);
    const QRectF after = pane->shownRect();
    centre_ = QPointF(keepWithin(fraction.x() - (at.x() - pane->width() / 2.0) / after.width(),
                                 pane->width(), after.width()),
                      keepWithin(fraction.y() - (at.y() - pane->height() / 2.0) / after.height(),
                                 pane->height(), after.height()));
    if (zoom_ == 1.0)
        centre_ = {0.5, 0.5};
    for (const Pane& p : panes_)
        p.picture->update();
}

void TfrmCompare::panBy(ComparePicture* pane, QPointF pixels) {
    const QRectF shown = pane->shownRect();
    if (shown.isEmpty())
        return;
    centre_ = QPointF(
        keepWithin(centre_.x() - pixels.x() / shown.width(), pane->width(), shown.width()),
        keepWithin(centre_.y() - pixels.y() / shown.height(), pane->height(), shown.height()));
    for (const Pane& p : panes_)
        p.picture->update();
}

// ---------------------------------------------------------------------------
// Keys and closing

void TfrmCompare::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        QWidget::keyPressEvent(event);
        return;
    }
    if (key >= Qt::Key_1 && key <= Qt::Key_4)
        keepPane(key - Qt::Key_1);
    else if (key == Qt::Key_N || key == Qt::Key_PageDown)
        showNextGroup();
    else if (key == Qt::Key_P || key == Qt::Key_PageUp)
        showPriorGroup();
    else if (key == Qt::Key_Plus || key == Qt::Key_Equal)
        zoomBy(ZoomStep);
    else if (key == Qt::Key_Minus)
        zoomBy(1 / ZoomStep);
    else if (key == Qt::Key_F)
        fitPictures();
    else if (key == Qt::Key_Escape)
        close();
    else
        QWidget::keyPressEvent(event);
}

void TfrmCompare::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (event->spontaneous())
        return; // minimised: the pictures stay
    // Closed: loads under way are dropped and the pictures' memory goes.
    ++generation_;
    liveGeneration_->store(generation_);
    waiting_.clear();
    paneCount_ = 0;
    for (Pane& pane : panes_) {
        pane.picture->showNote({});
        pane.column->hide();
        pane.row = {};
        pane.state = Showing::Nothing;
    }
}

} // namespace fenwa
