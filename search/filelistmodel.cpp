#include "filelistmodel.h"

#include "search.h"
#include "uitext.h"

#include <QFile>
#include <algorithm>

namespace fenwa {

FileListModel::FileListModel(QObject* parent)
    : QAbstractTableModel(parent), captions_{
                                       QStringLiteral("Name"),  QStringLiteral("Directory"),
                                       QStringLiteral("Size"),  QStringLiteral("Type"),
                                       QStringLiteral("Time"),  QStringLiteral("Picture size"),
                                       QStringLiteral("Taken"), QStringLiteral("Likeness")} {}

void FileListModel::setIconDecorations(const std::array<QVariant, 3>& decorations) {
    decorations_ = decorations;
    if (!store_.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::DecorationRole});
}

void FileListModel::setHeaderCaptions(const QStringList& captions) {
    captions_ = captions;
    emit headerDataChanged(Qt::Horizontal, 0, ListColumnCount - 1);
}

void FileListModel::setGroupShade(const QVariant& shade) {
    groupShade_ = shade;
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1), {Qt::BackgroundRole});
}

bool FileListModel::inShadedGroup(size_t row) const {
    if (!store_.hasGroups())
        return false;
    if (bandsStale_) {
        // The band turns wherever a row's group differs from the row above's.
        bands_.assign(store_.size(), false);
        bool band = false;
        for (size_t r = 1; r < store_.size(); ++r) {
            if (store_.group(r) != store_.group(r - 1))
                band = !band;
            bands_[r] = band;
        }
        bandsStale_ = false;
    }
    return row < bands_.size() && bands_[row];
}

void FileListModel::appendRows(FileRecordStore&& rows) {
    if (rows.empty())
        return;
    const int first = rowCount();
    beginInsertRows({}, first, first + int(rows.size()) - 1);
    store_.appendAll(std::move(rows));
    bandsStale_ = true;
    endInsertRows();
}

void FileListModel::insertRows(int position, FileRecordStore&& rows) {
    if (rows.empty())
        return;
    position = std::clamp(position, 0, rowCount());
    beginInsertRows({}, position, position + int(rows.size()) - 1);
    store_.insertAll(size_t(position), std::move(rows));
    bandsStale_ = true;
    endInsertRows();
    // A row that came back may share its file with a row of the list.
    remarkHardLinks();
}

void FileListModel::remarkHardLinks() {
    std::vector<bool> before(store_.size());
    for (size_t row = 0; row < store_.size(); ++row)
        before[row] = store_.hardLinked(row);
    MarkHardLinks(store_);
    for (size_t row = 0; row < store_.size(); ++row)
        if (before[row] != store_.hardLinked(row))
            emit dataChanged(index(int(row), 0), index(int(row), ListColumnCount - 1),
                             {HardLinkRole, Qt::ToolTipRole});
}

void FileListModel::clear() {
    if (factsReader_)
        factsReader_->forget();
    facts_.clear();
    factsByPath_.clear();
    endFactsRead(false);
    if (store_.empty())
        return;
    beginResetModel();
    store_.clear();
    bandsStale_ = true;
    protectedDirs_.clear();
    endResetModel();
}

void FileListModel::setProtectedLook(const QVariant& font, const QString& tip) {
    protectedFont_ = font;
    protectedTip_ = tip;
    if (!store_.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1),
                         {Qt::FontRole, Qt::ToolTipRole});
}

void FileListModel::setProtectedDirectories(DirectoryTest isProtected) {
    protectedTest_ = std::move(isProtected);
    protectedDirs_.clear();
    if (!store_.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1),
                         {Qt::FontRole, Qt::ToolTipRole});
}

bool FileListModel::isProtectedRow(int row) const {
    if (!protectedTest_ || row < 0 || row >= rowCount())
        return false;
    const uint32_t directory = store_.record(size_t(row)).directory;
    if (directory >= protectedDirs_.size())
        protectedDirs_.resize(store_.directoryCount(), 0);
    if (protectedDirs_[directory] == 0)
        protectedDirs_[directory] = protectedTest_(store_.directoryText(directory)) ? 2 : 1;
    return protectedDirs_[directory] == 2;
}

void FileListModel::removeRows(const std::vector<bool>& remove) {
    // A row that shared its file with another row no longer does once one of them goes.
    bool linkedGoes = false;
    for (size_t row = 0; row < remove.size() && row < store_.size() && !linkedGoes; ++row)
        linkedGoes = remove[row] && store_.hardLinked(row);
    removeRowRuns(remove);
    if (linkedGoes)
        remarkHardLinks();
}

void FileListModel::removeRowRuns(const std::vector<bool>& remove) {
    // Runs are removed from the bottom up so the indexes of the runs above stay valid;
    // the store is compacted once at the end.
    std::vector<std::pair<int, int>> runs;
    const int n = rowCount();
    for (int row = 0; row < n && row < int(remove.size());) {
        if (!remove[row]) {
            ++row;
            continue;
        }
        int last = row;
        while (last + 1 < n && last + 1 < int(remove.size()) && remove[last + 1])
            ++last;
        runs.emplace_back(row, last);
        row = last + 1;
    }
    if (runs.empty())
        return;
    if (runs.size() > 64) {
        // Many scattered rows: one reset is cheaper than many removals.
        beginResetModel();
        store_.removeRows(remove);
        bandsStale_ = true;
        endResetModel();
        return;
    }
    std::vector<bool> flags(size_t(n), false);
    for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
        beginRemoveRows({}, it->first, it->second);
        std::fill(flags.begin(), flags.end(), false);
        std::fill(flags.begin() + it->first, flags.begin() + it->second + 1, true);
        store_.removeRows(flags);
        bandsStale_ = true;
        flags.resize(store_.size());
        endRemoveRows();
    }
}

void FileListModel::setIcon(int row, uint8_t icon) {
    if (row < 0 || row >= rowCount() || store_.icon(size_t(row)) == icon)
        return;
    store_.setIcon(size_t(row), icon);
    const QModelIndex i = index(row, ColName);
    emit dataChanged(i, i, {Qt::DecorationRole});
}

void FileListModel::markRows(int first, int last) {
    first = std::max(first, 0);
    last = std::min(last, rowCount() - 1);
    if (first > last)
        return;
    for (int row = first; row <= last; ++row)
        store_.setIcon(size_t(row), IconCurrentGroup);
    emit dataChanged(index(first, ColName), index(last, ColName), {Qt::DecorationRole});
}

void FileListModel::unmarkRows(int first, int last) {
    first = std::max(first, 0);
    last = std::min(last, rowCount() - 1);
    if (first > last)
        return;
    for (int row = first; row <= last; ++row)
        store_.setIcon(size_t(row), store_.naturalIcon(size_t(row)));
    emit dataChanged(index(first, ColName), index(last, ColName), {Qt::DecorationRole});
}

void FileListModel::permute(const std::vector<uint32_t>& order) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRowOf(order.size());
    for (size_t i = 0; i < order.size(); ++i)
        newRowOf[order[i]] = int(i);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& i : before)
        after.push_back(index(newRowOf[size_t(i.row())], i.column()));
    store_.permute(order);
    bandsStale_ = true;
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

QString FileListModel::displayText(int row, int column) const {
    if (column >= ColumnCount)
        return factsText(row, column);
    if (column == ColName || column == ColDirectory || column == ColType)
        return QFile::decodeName(QByteArray::fromStdString(store_.text(size_t(row), column)));
    return QString::fromStdString(store_.text(size_t(row), column));
}

QByteArray FileListModel::nativePath(int row) const {
    return QByteArray::fromStdString(store_.fullPath(size_t(row)));
}

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(store_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ListColumnCount;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return displayText(index.row(), index.column());
    case Qt::DecorationRole:
        if (index.column() == ColName)
            return decorations_[std::min<size_t>(store_.icon(size_t(index.row())), 2)];
        return {};
    case HardLinkRole:
        return store_.hardLinked(size_t(index.row()));
    case GroupBandRole:
        return inShadedGroup(size_t(index.row()));
    case Qt::BackgroundRole:
        return inShadedGroup(size_t(index.row())) ? groupShade_ : QVariant();
    case Qt::FontRole:
        return isProtectedRow(index.row()) ? protectedFont_ : QVariant();
    case Qt::ToolTipRole: {
        QStringList tips;
        if (isProtectedRow(index.row()))
            tips << protectedTip_;
        if (store_.hardLinked(size_t(index.row())))
            tips << QString::fromUtf8(
                say("Hard link: this file and another row of the list are one and the same "
                    "data; deleting one of them frees no space and loses nothing.",
                    "硬連結: 這個檔案和清單中的另一列是同一份資料, 刪除其中一個不會釋放空間。"));
        return tips.isEmpty() ? QVariant() : QVariant(tips.join(QLatin1Char('\n')));
    }
    case Qt::TextAlignmentRole:
        if (index.column() == ColSize || index.column() == ColLikeness)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= ListColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return captions_.value(section);
    if (role == Qt::TextAlignmentRole)
        return QVariant(
            (section == ColSize || section == ColLikeness ? Qt::AlignRight : Qt::AlignLeft) |
            Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == ColName && nameEditor_)
        f |= Qt::ItemIsEditable;
    return f;
}

bool FileListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !index.isValid() || index.column() != ColName || !nameEditor_ ||
        index.row() >= rowCount())
        return false;
    const int row = index.row();
    const QString newName = value.toString();
    // A name that is not UTF-8 shows with replacement characters; taking the shown text
    // back unchanged would rename the file to that lossy text.
    if (newName == displayText(row, ColName))
        return false;
    if (!nameEditor_(row, newName) || row >= rowCount())
        return false;
    renameRow(row, QFile::encodeName(newName).toStdString());
    return true;
}

void FileListModel::renameRow(int row, std::string_view newName) {
    if (row < 0 || row >= rowCount())
        return;
    const uint8_t icon = store_.icon(size_t(row));
    store_.rename(size_t(row), newName);
    store_.setIcon(size_t(row), icon);
    emit dataChanged(index(row, 0), index(row, ListColumnCount - 1));
}

// ---------------------------------------------------------------------------
// The picture columns

void FileListModel::setPictureFactsReader(PictureFactsRead read) {
    factsReader_.reset();
    if (!read)
        return;
    // Answers come on the reader's thread and are taken on this object's.
    factsReader_ = std::make_unique<PictureFactsReader>(
        std::move(read),
        [this](std::vector<PictureFactsReader::Answer>&& answers, uint64_t doneTicket) {
            QMetaObject::invokeMethod(
                this,
                [this, answers = std::move(answers), doneTicket]() mutable {
                    takeFacts(std::move(answers), doneTicket);
                },
                Qt::QueuedConnection);
        });
}

FactsKey FileListModel::factsKey(int row) const {
    return {store_.device(size_t(row)), store_.inode(size_t(row)), store_.changeStamp(size_t(row))};
}

FileListModel::FactsEntry* FileListModel::factsEntry(int row, bool ask) const {
    // Only pictures have facts: any other row costs nothing.
    if (!factsReader_ || !IsImageName(store_.name(size_t(row))))
        return nullptr;
    const FactsKey key = factsKey(row);
    std::string path;
    FactsEntry* entry = nullptr;
    bool added = false;
    if (key.inode != 0) {
        const auto [it, inserted] = facts_.try_emplace(key);
        entry = &it->second;
        added = inserted;
    } else {
        path = store_.fullPath(size_t(row));
        const auto [it, inserted] = factsByPath_.try_emplace(path);
        entry = &it->second;
        added = inserted;
    }
    if (added && ask)
        factsReader_->ask({key, path.empty() ? store_.fullPath(size_t(row)) : path, row});
    return entry;
}

const PictureFacts* FileListModel::pictureFacts(int row) const {
    if (row < 0 || row >= rowCount() || !factsReader_ || !IsImageName(store_.name(size_t(row))))
        return nullptr;
    const FactsKey key = factsKey(row);
    if (key.inode != 0) {
        const auto it = facts_.find(key);
        return it != facts_.end() && it->second.known ? &it->second.facts : nullptr;
    }
    const auto it = factsByPath_.find(store_.fullPath(size_t(row)));
    return it != factsByPath_.end() && it->second.known ? &it->second.facts : nullptr;
}

QString FileListModel::factsText(int row, int column) const {
    if (column == ColLikeness) {
        const uint8_t likeness = store_.likeness(size_t(row));
        return likeness == FileRecordStore::NoLikeness ? QString()
                                                       : QString::number(likeness) + u'%';
    }
    const FactsEntry* entry = factsEntry(row, true);
    if (!entry || !entry->known)
        return {};
    const PictureFacts& f = entry->facts;
    if (column == ColPictureSize)
        return f.width > 0 ? QStringLiteral("%1 \u00D7 %2").arg(f.width).arg(f.height) : QString();
    return QString::fromStdString(formatCaptureTime(f.taken));
}

void FileListModel::takeFacts(std::vector<PictureFactsReader::Answer>&& answers,
                              uint64_t doneTicket) {
    std::vector<int> changed;
    for (PictureFactsReader::Answer& a : answers) {
        if (a.dropped) {
            // Not read: asked again when shown again, unless known meanwhile.
            if (a.key.inode != 0) {
                if (const auto it = facts_.find(a.key); it != facts_.end() && !it->second.known)
                    facts_.erase(it);
            } else if (const auto it = factsByPath_.find(a.path);
                       it != factsByPath_.end() && !it->second.known) {
                factsByPath_.erase(it);
            }
            continue;
        }
        // What a file's identity and stamp say holds whoever asked.
        FactsEntry& entry = a.key.inode != 0 ? facts_[a.key] : factsByPath_[a.path];
        entry.facts = a.facts;
        entry.known = true;
        // The row that asked, if the list still holds that file there (a sort since then
        // repainted the rows anyway).
        if (a.row >= 0 && a.row < rowCount() && factsKey(a.row) == a.key)
            changed.push_back(a.row);
    }
    std::sort(changed.begin(), changed.end());
    for (size_t i = 0; i < changed.size();) {
        size_t j = i;
        while (j + 1 < changed.size() && changed[j + 1] <= changed[j] + 1)
            ++j;
        emit dataChanged(index(changed[i], ColPictureSize), index(changed[j], ColTaken),
                         {Qt::DisplayRole});
        i = j + 1;
    }
    if (doneTicket != 0 && doneTicket == readAllTicket_)
        endFactsRead(true);
}

bool FileListModel::readAllPictureFacts(std::function<void(bool complete)> then) {
    endFactsRead(false);
    if (!factsReader_)
        return false;
    std::vector<PictureFactsReader::Request> requests;
    for (int row = 0; row < rowCount(); ++row) {
        const FactsEntry* entry = factsEntry(row, false);
        if (entry && !entry->known)
            requests.push_back({factsKey(row), store_.fullPath(size_t(row)), -1});
    }
    if (requests.empty())
        return false;
    afterReadAll_ = std::move(then);
    readAllTicket_ = factsReader_->readAll(std::move(requests));
    return true;
}

void FileListModel::cancelPictureFactsRead() {
    if (!afterReadAll_)
        return;
    // What the read had not reached is asked for again when it is shown.
    factsReader_->forget();
    std::erase_if(facts_, [](const auto& item) { return !item.second.known; });
    std::erase_if(factsByPath_, [](const auto& item) { return !item.second.known; });
    if (rowCount() > 0)
        emit dataChanged(index(0, ColPictureSize), index(rowCount() - 1, ColTaken),
                         {Qt::DisplayRole});
    endFactsRead(false);
}

void FileListModel::endFactsRead(bool complete) {
    readAllTicket_ = 0;
    if (!afterReadAll_)
        return;
    // Taken first: the call may start another read.
    const std::function<void(bool)> then = std::move(afterReadAll_);
    afterReadAll_ = nullptr;
    then(complete);
}

std::vector<uint32_t> FileListModel::sortedOrder(uint8_t sortMode) const {
    const int column = sortMode / 2;
    return fenwa::sortedOrder(store_, sortMode, [&](size_t row) -> OuterKey {
        const PictureFacts* f = pictureFacts(int(row));
        if (!f)
            return {};
        if (column == ColPictureSize)
            return {uint64_t(f->width) * uint64_t(f->height), uint64_t(f->width), f->width > 0};
        return {f->taken, 0, f->taken != 0};
    });
}

} // namespace fenwa
