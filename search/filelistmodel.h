#pragma once
// The item model behind a result list: a table over a FileRecordStore. Texts are made
// when the view asks for them, so a million rows cost only their records.

#include <QAbstractTableModel>
#include <QVariant>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "filerecord.h"
#include "picturefacts.h"
#include "resultlist.h"

namespace fenwa {

class FileListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit FileListModel(QObject* parent = nullptr);

    // True for a row whose file another row shares through a hard link; such rows also
    // carry a tooltip saying so.
    static constexpr int HardLinkRole = Qt::UserRole + 1;
    // True for the rows of every other group of a duplicate list, counted down the list
    // as it stands, so that adjacent groups stand apart; such rows have the group shade.
    static constexpr int GroupBandRole = Qt::UserRole + 2;

    const FileRecordStore& store() const { return store_; }

    // The three row icons (image, other, current group), as the view shows them.
    void setIconDecorations(const std::array<QVariant, 3>& decorations);
    void setHeaderCaptions(const QStringList& captions);
    // The background of the rows of every other group (a brush; none: no shading).
    void setGroupShade(const QVariant& shade);

    // Adds all rows of `rows` at the end in one insertion; `rows` is left empty.
    void appendRows(FileRecordStore&& rows);
    // Inserts all rows of `rows` before row `position` in one insertion; `rows` is left
    // empty. Persistent indexes of the rows below move down with them.
    void insertRows(int position, FileRecordStore&& rows);
    void clear();
    // Removes the rows whose flag is set, with one removal per run of adjacent rows.
    void removeRows(const std::vector<bool>& remove);
    void setIcon(int row, uint8_t icon);
    // Marks rows first..last as the current group, or gives them back their own icon,
    // with one change notification for the whole run.
    void markRows(int first, int last);
    void unmarkRows(int first, int last);
    // Reorders the rows: new row i is old row order[i]. Persistent indexes follow.
    void permute(const std::vector<uint32_t>& order);

    // Gives a row another name, keeping its icon (the file was renamed).
    void renameRow(int row, std::string_view newName);
    // The file's status changed through an action of the program's own.
    void setChangeStamp(int row, uint64_t stamp) { store_.setChangeStamp(size_t(row), stamp); }

    // Rows under a protected directory show it: `font` (only what it sets applies) and
    // `tip` as their tooltip. `isProtected` answers for a directory text, asked once per
    // directory of the list; none marks no row.
    using DirectoryTest = std::function<bool(const std::string& directory)>;
    void setProtectedLook(const QVariant& font, const QString& tip);
    void setProtectedDirectories(DirectoryTest isProtected);
    bool isProtectedRow(int row) const;

    QString displayText(int row, int column) const;
    QByteArray nativePath(int row) const;

    // The picture columns: a picture row shown there asks `read` (on a thread of the
    // model's) for its size and capture time; the row changes when they come in. Without
    // a reader those columns stay empty.
    void setPictureFactsReader(PictureFactsRead read);
    // A row's facts as far as they were read: null while not known, or not a picture.
    const PictureFacts* pictureFacts(int row) const;
    // Reads the facts of every picture row not yet known, beside the window, then calls
    // `then(true)`; `then(false)` when the list is cleared or the read is cancelled
    // first. False (and no call) when nothing is left to read.
    bool readAllPictureFacts(std::function<void(bool complete)> then);
    void cancelPictureFactsRead();
    // The order of a sort mode (resultlist's sortedOrder), the picture columns by the
    // facts known now.
    std::vector<uint32_t> sortedOrder(uint8_t sortMode) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // In-place editing of the Name column. The editor is asked whether a typed name is
    // taken (it renames the file); only then does the row show the new name, with its
    // icon unchanged. A name left as shown is no edit: nothing is asked.
    using NameEditor = std::function<bool(int row, const QString& newName)>;
    void setNameEditor(NameEditor editor) { nameEditor_ = std::move(editor); }
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

private:
    void removeRowRuns(const std::vector<bool>& remove);
    // Hard-link marks follow the rows that are in the list.
    void remarkHardLinks();

    bool inShadedGroup(size_t row) const;
    QString factsText(int row, int column) const;
    FactsKey factsKey(int row) const;
    struct FactsEntry {
        PictureFacts facts;
        bool known = false; // else being read
    };
    // The entry of a row's file; created (and asked for when `ask`) when there is none.
    FactsEntry* factsEntry(int row, bool ask) const;
    void takeFacts(std::vector<PictureFactsReader::Answer>&& answers, uint64_t doneTicket);
    void endFactsRead(bool complete);

    FileRecordStore store_;
    // Which rows lie in a shaded group, worked out when first asked after a change.
    mutable std::vector<bool> bands_;
    mutable bool bandsStale_ = true;
    QVariant groupShade_;
    // Facts by the file's identity and change stamp; files whose inode is not known by
    // their path. Filled as rows are shown; emptied with the list.
    mutable std::unordered_map<FactsKey, FactsEntry, FactsKeyHash> facts_;
    mutable std::unordered_map<std::string, FactsEntry> factsByPath_;
    std::unique_ptr<PictureFactsReader> factsReader_;
    uint64_t readAllTicket_ = 0;
    std::function<void(bool)> afterReadAll_;
    std::array<QVariant, 3> decorations_;
    QStringList captions_;
    NameEditor nameEditor_;
    DirectoryTest protectedTest_;
    QVariant protectedFont_;
    QString protectedTip_;
    // Per directory index: 0 not asked yet, 1 no, 2 protected.
    mutable std::vector<uint8_t> protectedDirs_;
};

} // namespace fenwa
