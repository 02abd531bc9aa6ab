#pragma once
// A search on a thread of its own, for the window and the command line alike. start()
// returns at once; each change of stage and of the shown percentage arrives by a
// queued signal, and the end by finished() with one immutable result, or by failed()
// with a message when the search threw. stop() asks the search to end; wait() blocks
// until it has, and delivers its end at once. The object stops and waits for its search
// when destroyed.

#include <QObject>
#include <QString>
#include <memory>

#include "search.h"

class QThread;

namespace fenwa {

// What one search found, and what it was asked for.
struct SearchResult {
    FileRecordStore rows;
    bool duplicateList = false; // Find Duplicates rather than Find All
    Criteria criteria;          // the ticks the groups were built with
    int similarLevel = 0;       // and the similar level
    bool cancelled = false;     // stopped: the rows are empty
    SimilarLeftOut similarLeftOut;
    FilterReport filtered;    // what the search's filter left out
    std::string cacheProblem; // the cache could not be written back: why
};

// The result's rows for a list to keep: moved out when the caller holds the only
// reference to the result (no one else can see them go), copied otherwise.
FileRecordStore TakeRows(const std::shared_ptr<const SearchResult>& result);

class SearchSession : public QObject {
    Q_OBJECT
public:
    explicit SearchSession(QObject* parent = nullptr);
    ~SearchSession() override;

    // False (and nothing starts) while a search runs.
    bool start(SearchRequest request);
    void stop();
    void wait();
    // From start() until its end has been delivered.
    bool running() const { return running_; }

signals:
    // A stage begins: its percentage starts again from 0.
    void stageEntered(fenwa::SearchStage stage);
    // The stage's percentage changed (while reading it never goes down).
    void progressed(int percent);
    void finished(std::shared_ptr<const fenwa::SearchResult> result);
    void failed(const QString& message);
    // A report from the search's thread, taken on the session's (kind 0: a stage, 1: a
    // percentage). A queued signal rather than a posted closure: the values travel in the
    // event Qt builds, and nothing the thread wrote is read here but them.
    void reported(unsigned id, int kind, int value, QPrivateSignal);

private:
    struct Run;
    void report(Run& run, SearchStage stage, size_t step, size_t count);
    void deliver();

    std::shared_ptr<Run> run_;
    QThread* thread_ = nullptr;
    unsigned lastId_ = 0;
    bool running_ = false;
};

} // namespace fenwa

Q_DECLARE_METATYPE(fenwa::SearchStage)
Q_DECLARE_METATYPE(std::shared_ptr<const fenwa::SearchResult>)
