#pragma once
// One Delete from start to end, apart from any window: the plan is made on a thread of
// its own (it may read whole files again), counting its progress and stoppable; then,
// on the thread that shows the list, the questions the plan calls for, the files one by
// one, and what the list and the undo journal take from it. A stopped or failed plan
// deletes nothing.

#include <QThread>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "carryout.h"
#include "deleteplanner.h"
#include "undojournal.h"

class QObject;

namespace fenwa::actions {

// What carrying out a plan asks the user and tells them. Yes/No questions and error
// reports are the delete request's own; the files left alone because they changed since
// the search are named before anything is asked.
class DeleteQuestions : public platform::ShellPrompts {
public:
    // One line a file: its path (native bytes) and why it stays.
    virtual void reportChanged(const std::vector<std::string>& lines) = 0;
};

struct DeleteResult {
    bool cancelled = false; // the planning was stopped
    bool declined = false;  // the user said No to a question
    std::string failure;    // the planning failed: what went wrong
    // Rows whose files are gone now, in row order: they leave the list.
    std::vector<size_t> removed;
    // The move to the trash, or the act, for Undo.
    std::optional<UndoAction> journal;
    // An act other than Delete: each row of the plan's `remove` and what became of it.
    std::vector<RowActed> acted;
};

class DeleteSession {
public:
    // `rows` is the list as it was when Delete was asked for; the session reads only it.
    // Without a hasher the real disk is read, chunk by chunk, so a stop takes effect at
    // once; another hasher counts a file when it has read it.
    DeleteSession(std::shared_ptr<const FileRecordStore> rows, DeleteRequest request,
                  FileProbe probe = probeDisk, ContentHasher hasher = {});
    // Stops the planning and waits for its thread.
    ~DeleteSession();
    DeleteSession(const DeleteSession&) = delete;
    DeleteSession& operator=(const DeleteSession&) = delete;

    // Plans on a thread of its own; `onPlanned` runs on `context`'s thread once the plan
    // is made, stopped or failed (never after `context` is gone).
    void start(QObject* context, std::function<void()> onPlanned);
    // Plans on the calling thread.
    void planHere();
    // Stops the planning; before carryOut, also a plan already made: it deletes nothing.
    void cancel() { progress_.requestStop(); }
    bool planning() const { return thread_ && thread_->isRunning(); }
    int percent() const { return progress_.percent(); }

    const FileRecordStore& rows() const { return *rows_; }
    const DeletePlan& plan() const { return plan_; }

    // After the plan: asks what it calls for and deletes, or does the request's act;
    // `listGeneration` goes into the journal entry. Rows acted on leave the list as
    // deleted ones do. Call once, on the thread the questions may be asked on.
    DeleteResult carryOut(int flags, DeleteQuestions& questions, uint64_t listGeneration);

private:
    void plan();
    DeleteResult carryOutAct(int flags, DeleteQuestions& questions, uint64_t listGeneration);

    std::shared_ptr<const FileRecordStore> rows_;
    DeleteRequest request_;
    FileProbe probe_;
    ContentHasher hasher_;
    PlanProgress progress_;
    DeletePlan plan_;
    std::string failure_;
    std::unique_ptr<QThread> thread_;
};

} // namespace fenwa::actions
