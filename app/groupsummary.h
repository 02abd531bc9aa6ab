#pragma once
// The status bar's account of a duplicate list: how many groups it holds, how many copies
// could go and how much space that would free, and after a Delete (or a move or
// replacement) what it did. It
// follows the list as rows come and go, once the changes settle.

#include <QObject>
#include <QString>
#include <cstdint>

#include "acts.h"

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

    // What an act did to the files of the rows that left the list.
    struct ActNote {
        actions::ActKind act = actions::ActKind::Delete;
        size_t files = 0;
        int64_t bytes = 0;    // freed; for a move, the bytes moved
        bool forGood = false; // a Delete not to the trash
        QString folder;       // a move's folder, as the user reads it
    };
    void noteActed(const ActNote& note);
    // Writes the text again (the language changed).
    void refresh();

    QLabel* lblGroups = nullptr;

private:
    void schedule();

    FileListModel* model_;
    bool pending_ = false;
    // The last act's account, until the list is filled again.
    ActNote acted_;
};

} // namespace fenwa
