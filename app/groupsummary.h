#pragma once
// The status bar's account of a duplicate list: how many groups it holds, how many copies
// could go and how much space that would free, and after a Delete what it did. It
// follows the list as rows come and go, once the changes settle.

#include <QObject>
#include <QString>
#include <cstdint>

class QLabel;
class QStatusBar;

namespace fenwa {

class FileListModel;

// "18.8 MB": bytes as a user reads them.
QString bytesForPeople(int64_t bytes);

class GroupSummaryPanel : public QObject {
    Q_OBJECT
public:
    GroupSummaryPanel(QStatusBar* statusBar, FileListModel* model, QObject* parent);

    // A Delete removed `files` files from the list, freeing `bytes`.
    void noteDeleted(size_t files, int64_t bytes, bool forGood);
    // Writes the text again (the language changed).
    void refresh();

    QLabel* lblGroups = nullptr;

private:
    void schedule();

    FileListModel* model_;
    bool pending_ = false;
    // The last Delete's account, until the list is filled again.
    size_t deletedFiles_ = 0;
    int64_t deletedBytes_ = 0;
    bool deletedForGood_ = false;
};

} // namespace fenwa
