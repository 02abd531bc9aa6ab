#include "groupsummary.h"

#include <QLabel>
#include <QLocale>
#include <QStatusBar>
#include <QTimer>

#include "filelistmodel.h"
#include "resultlist.h"
#include "uitext.h"

namespace fenwa {

QString bytesForPeople(int64_t bytes) {
    if (bytes < 1024)
        return QString::fromUtf8(say(bytes == 1 ? "%1 byte" : "%1 bytes", "%1 位元組")).arg(bytes);
    return QLocale::c().formattedDataSize(bytes, bytes < 1024 * 1024 ? 0 : 1,
                                          QLocale::DataSizeTraditionalFormat);
}

namespace {

// "12 files replaced by hard links, 48.2 MB freed", in the chosen language.
QString actNoteText(const GroupSummaryPanel::ActNote& note) {
    using actions::ActKind;
    const bool one = note.files == 1;
    const char* text = "";
    switch (note.act) {
    case ActKind::Delete:
        text = note.forGood ? say(one ? "%1 file deleted for good, %2 freed"
                                      : "%1 files deleted for good, %2 freed",
                                  "%1 個檔案已永久刪除, 釋放 %2")
                            : say(one ? "%1 file moved to the trash, %2 freed"
                                      : "%1 files moved to the trash, %2 freed",
                                  "%1 個檔案已移到垃圾桶, 釋放 %2");
        break;
    case ActKind::Move:
        text = say(one ? "%1 file (%2) moved to %3" : "%1 files (%2) moved to %3",
                   "%1 個檔案 (%2) 已移到 %3");
        break;
    case ActKind::HardLink:
        text = say(one ? "%1 file replaced by a hard link, %2 freed"
                       : "%1 files replaced by hard links, %2 freed",
                   "%1 個檔案已換成硬連結, 釋放 %2");
        break;
    case ActKind::SymbolicLink:
        text = say(one ? "%1 file replaced by a symbolic link, %2 freed"
                       : "%1 files replaced by symbolic links, %2 freed",
                   "%1 個檔案已換成符號連結, 釋放 %2");
        break;
    case ActKind::Reflink:
        text = say(one ? "%1 file replaced by a reflink clone, %2 freed"
                       : "%1 files replaced by reflink clones, %2 freed",
                   "%1 個檔案已換成 reflink 複本, 釋放 %2");
        break;
    }
    QString out = QString::fromUtf8(text).arg(note.files).arg(bytesForPeople(note.bytes));
    return note.act == ActKind::Move ? out.arg(note.folder) : out;
}

} // namespace

GroupSummaryPanel::GroupSummaryPanel(QStatusBar* statusBar, FileListModel* model, QObject* parent)
    : QObject(parent), model_(model) {
    lblGroups = new QLabel(statusBar);
    lblGroups->setObjectName("lblGroups");
    lblGroups->setTextFormat(Qt::PlainText);
    // Cut short when the bar is full, whole in its tooltip, never widening the window.
    lblGroups->setMinimumWidth(1);
    lblGroups->hide();
    statusBar->addPermanentWidget(lblGroups);
    // A new list, or rows put back, make the last Delete's account old news.
    const auto listFilled = [this] {
        acted_.files = 0;
        schedule();
    };
    connect(model, &QAbstractItemModel::modelReset, this, listFilled);
    connect(model, &QAbstractItemModel::rowsInserted, this, listFilled);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &GroupSummaryPanel::schedule);
}

void GroupSummaryPanel::noteActed(const ActNote& note) {
    acted_ = note;
    schedule();
}

void GroupSummaryPanel::schedule() {
    if (pending_)
        return;
    pending_ = true;
    QTimer::singleShot(0, this, [this] {
        pending_ = false;
        refresh();
    });
}

void GroupSummaryPanel::refresh() {
    const FileRecordStore& rows = model_->store();
    QString text;
    if (acted_.files > 0)
        text = actNoteText(acted_);
    if (rows.hasGroups()) {
        const GroupSummary summary = SummariseGroups(rows);
        if (!text.isEmpty())
            text += QStringLiteral("  ·  ");
        text += chineseTexts() ? QStringLiteral("%1 組, %2 個副本可刪除, 可釋放 %3")
                                     .arg(summary.groups)
                                     .arg(summary.couldGo)
                                     .arg(bytesForPeople(summary.bytes))
                               : QStringLiteral("%1 %2, %3 %4 could go, freeing %5")
                                     .arg(summary.groups)
                                     .arg(summary.groups == 1 ? "group" : "groups")
                                     .arg(summary.couldGo)
                                     .arg(summary.couldGo == 1 ? "copy" : "copies")
                                     .arg(bytesForPeople(summary.bytes));
    }
    lblGroups->setText(text);
    lblGroups->setToolTip(text);
    lblGroups->setVisible(!text.isEmpty());
}

} // namespace fenwa
