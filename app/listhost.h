#pragma once
// What the result list's own parts (the Select menu, renaming and opening, the delete
// flow) need of the window that holds the list: the answers only the window can give.
// The parts work on the list's view and model themselves; they never reach into the
// window.

#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QItemSelection;

namespace fenwa {

class FileRecordStore;
namespace actions {
enum class ActKind;
struct UndoAction;
} // namespace actions
namespace platform {
struct FileIdentity;
} // namespace platform

class ListHost {
public:
    virtual ~ListHost() = default;
    // True when the list holds groups of duplicates (Find Duplicates), not every file.
    virtual bool holdsDuplicateGroups() const = 0;
    // The level a list of similar pictures was searched with; nothing for any other list.
    virtual std::optional<int> searchedSimilarLevel() const = 0;
    // The directories whose files are references, native paths: the listed ones marked
    // protected and the protected folders of the options.
    virtual std::vector<std::string> protectedDirectories() const = 0;
    // The directories the list was searched in, as the scanner writes a directory.
    virtual std::vector<std::string> searchedDirectories() const = 0;
    // The row holding the keyboard focus, or -1.
    virtual int currentRow() const = 0;
    virtual bool searching() const = 0;
    // Replaces the list's selection without the list acting on the change.
    virtual void selectQuietly(const QItemSelection& selection) = 0;
    // The flags of every delete request, as the options say at this moment.
    virtual int DeleteFlags() const = 0;
    // Every search starts a new list; rows go back only into the list they left.
    virtual uint64_t listGeneration() const = 0;
    virtual QString statusText(int panel) const = 0;
    virtual void setStatusText(int panel, const QString& text) = 0;
    // A long piece of work starts at 0% (shown even when 0% was shown last), then moves on.
    virtual void restartProgress() = 0;
    virtual void showProgressPercent(int percent) = 0;
    // The program deleted (moved, replaced) the files of these rows of `rows` (a copy of
    // the list taken before): the slides let go of them, the rows leave the list and the
    // status bar says what was done; `folder` is where a move took them.
    virtual void removeDeletedRows(const FileRecordStore& rows, const std::vector<size_t>& removed,
                                   actions::ActKind act, const QString& folder) = 0;
    // After an act of the program's own moved a row's file status (a hard link made to
    // it), the row takes the file's new status-change time.
    virtual void restampRow(int row) = 0;
    // Records what Undo can reverse, telling the user when its file cannot be written.
    virtual void pushToJournal(actions::UndoAction action) = 0;
    // Journals a rename of the row's file, done on disk and about to show in the row.
    // `renamed`: what the renamed file is, so that Undo renames back no other file.
    virtual void journalRename(int row, const std::string& newName,
                               const platform::FileIdentity& renamed) = 0;
};

} // namespace fenwa
