#pragma once
// The journal of the actions Undo can reverse: renames, moves to the trash and the acts
// (moves to a folder, replacements by the kept copy), oldest
// first, at most the last 100. It is kept in a file of the user's data directory,
// rewritten whole and atomically after every change, so that Undo still works after the
// program is restarted. Paths are bytes (percent-encoded in the file), so names that are
// not UTF-8 survive. A missing or damaged file reads as an empty journal.
//
// The window and fenwa-cli share the file, and may run at once: every change is made
// under a lock (a file beside the journal), to the journal as read again then, so that
// neither loses what the other wrote or undid meanwhile. A journal locked by another
// process for too long is left alone (the change is held for this run), and a damaged
// one is never written over: it is set aside under a name of its own first.

#include <QString>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "acts.h"
#include "filerecord.h"
#include "filesystem.h"
#include "replacefile.h"
#include "trash.h"

class QByteArray;

namespace fenwa::actions {

// A row of the result list as it stood when its file went to the trash. `above` and
// `below` name the nearest rows around its run of removed rows, so the row can go back
// between them.
struct RemovedRow {
    std::string directory;
    std::string name;
    int64_t size = 0;
    int32_t minute = 0;
    size_t index = 0; // its row index before the removal
    // The group the search recorded for it (0: none) and its content hash, if it had one.
    uint32_t group = 0;
    std::optional<ContentHash> contentHash;
    struct Neighbour {
        bool exists = false;
        std::string directory;
        std::string name;
    };
    Neighbour above;
    Neighbour below;
};

enum class UndoKind { Trash, Rename, Move, Replace };

// One file of a Move or Replace.
struct ActedFile {
    std::string path; // where the file was (native bytes)
    ActKind act = ActKind::Move;
    std::string destination; // Move: where it went
    std::string keeper;      // Replace: the kept copy whose bytes it shows now
    // Replace: its mode, owner, times and size before the act, and its bytes (the kept
    // copy's too) hashed whole.
    platform::FileMeta meta;
    ContentHash hash;
    // What the act left: at `destination` (Move) or at `path` (Replace).
    platform::ActLeft left;
    // Move: the folders made on the way to `destination`, removed again by Undo when empty.
    std::vector<platform::MadeFolder> madeFolders;
};

struct UndoAction {
    UndoKind kind = UndoKind::Trash;
    // Tells this entry from every other in the journal, whichever process wrote it (0:
    // written before entries had one).
    uint64_t id = 0;
    // Trash: the files that went to the trash, in list order.
    std::vector<platform::TrashedFile> trashed;
    // Rename: the file in `directory` now called `newName`, formerly `oldName`, and what
    // that file is (device and inode; zero when not known), so that Undo renames back
    // that file and no other that took its name since.
    std::string directory;
    std::string oldName;
    std::string newName;
    platform::FileIdentity renamed;
    // Move, Replace: the files acted on, in list order.
    std::vector<ActedFile> acted;

    // Not journalled: the rows the trashed (moved, replaced) files had, and the list they were in
    // (every search starts a new list). After a restart there is no such list.
    std::vector<RemovedRow> rows;
    uint64_t listGeneration = 0; // 0: belongs to no list
};

class UndoJournal {
public:
    static constexpr size_t Capacity = 100;

    // `<data dir>/Zantrel/Fenwa/undo-journal.json`, shared by the window and fenwa-cli;
    // empty when there is no data directory.
    static QString defaultPath();

    // With an empty path the journal lives in memory only.
    explicit UndoJournal(QString filePath = {});

    // Reads the file; a missing or damaged one leaves the journal empty. False when the
    // file existed but could not be understood.
    bool load();
    // Reads the file again and takes in what another process added or undid since; what
    // this one holds unsaved stays. False (nothing changed) when it cannot be read.
    bool reload();

    bool empty() const { return actions_.empty(); }
    size_t size() const { return actions_.size(); }
    const std::deque<UndoAction>& actions() const { return actions_; }
    // The action Undo reverses next, or nullptr.
    const UndoAction* last() const { return actions_.empty() ? nullptr : &actions_.back(); }

    // Records an action, dropping the oldest beyond the capacity, and saves. False when
    // the file could not be written: the action is still held, for this run only.
    [[nodiscard]] bool push(UndoAction action);
    // Removes the most recent action and saves; `saved`, when given, learns whether the
    // file could be written.
    std::optional<UndoAction> takeLast(bool* saved = nullptr);

    // Why the last change could not be written, or a note on it (a damaged journal set
    // aside), in the interface language; empty when all went well.
    const std::string& problem() const { return problem_; }

    static QByteArray serialise(const std::deque<UndoAction>& actions);
    // The actions of a journal text; nothing when it is not a journal at all. Entries
    // that make no sense are skipped; only the last `Capacity` are kept.
    static std::optional<std::deque<UndoAction>> parse(const QByteArray& text);

private:
    // Applies `change` under the lock to the journal as the file holds it now, merged
    // with this process's own, and writes it; without the lock, to this run's alone.
    bool update(const std::function<void(std::deque<UndoAction>&)>& change);
    void mergeFrom(std::deque<UndoAction> onDisk);

    QString filePath_;
    std::deque<UndoAction> actions_;
    std::set<uint64_t> onDisk_; // the entries the file held when last read or written
    std::set<uint64_t> taken_;  // undone here, perhaps still in the file
    std::string problem_;
    // The file as last read or written (identity and change stamp): unchanged, it is not
    // read again.
    platform::FileState seen_;
    bool fileAsSeen() const;
    void noteSeen();
};

} // namespace fenwa::actions
