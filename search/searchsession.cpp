#include "searchsession.h"

#include <QMetaMethod>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <optional>

#include "progress.h"

namespace fenwa {

// One started search: shared by the session and its thread, which outlives neither.
struct SearchSession::Run {
    unsigned id = 0; // which start() it came from
    SearchRequest request;
    std::unique_ptr<SearchMonitor> monitor;
    bool reports = false; // someone listens to the progress

    std::atomic<int> lastKey{-1}; // the last stage and percentage passed on
    std::mutex mutex;             // guards what follows
    int shownStage = -1;
    int shownPercent = -1;
    int readingPercent = 0; // the estimate while reading never runs backwards
    bool done = false;
    SearchOutcome outcome;
    std::optional<QString> failure;
};

SearchSession::SearchSession(QObject* parent) : QObject(parent) {
    qRegisterMetaType<fenwa::SearchStage>();
    qRegisterMetaType<std::shared_ptr<const fenwa::SearchResult>>();
    // One that arrives after its search was delivered is dropped.
    connect(
        this, &SearchSession::reported, this,
        [this](unsigned id, int kind, int value) {
            if (!running_ || !run_ || run_->id != id)
                return;
            if (kind == 0)
                emit stageEntered(SearchStage(value));
            else
                emit progressed(value);
        },
        Qt::QueuedConnection);
}

SearchSession::~SearchSession() {
    stop();
    if (thread_) {
        thread_->wait();
        delete thread_;
    }
}

bool SearchSession::start(SearchRequest request) {
    if (running_)
        return false;
    auto run = std::make_shared<Run>();
    run->id = ++lastId_;
    run->monitor = std::make_unique<SearchMonitor>(
        [this, r = run.get()](SearchStage stage, size_t step, size_t count) {
            report(*r, stage, step, count);
        });
    run->request = std::move(request);
    run->reports = isSignalConnected(QMetaMethod::fromSignal(&SearchSession::progressed)) ||
                   isSignalConnected(QMetaMethod::fromSignal(&SearchSession::stageEntered));
    run_ = run;
    running_ = true;
    thread_ = QThread::create([this, run] {
        SearchOutcome outcome;
        std::optional<QString> failure;
        try {
            outcome = RunSearch(run->request, run->monitor.get());
        } catch (const std::exception& e) {
            failure = QString::fromLocal8Bit(e.what());
        } catch (...) {
            failure = QStringLiteral("an unexpected error");
        }
        {
            std::lock_guard lock(run->mutex);
            run->outcome = std::move(outcome);
            run->failure = std::move(failure);
            run->done = true;
        }
        QMetaObject::invokeMethod(this, &SearchSession::deliver, Qt::QueuedConnection);
    });
    thread_->start();
    return true;
}

void SearchSession::stop() {
    if (run_)
        run_->monitor->requestStop();
}

void SearchSession::wait() {
    if (thread_)
        thread_->wait();
    deliver();
}

void SearchSession::report(Run& run, SearchStage stage, size_t step, size_t count) {
    if (!run.reports)
        return;
    // Only changes go out; every one of them does, in order. Steps that change nothing
    // cost a division and an atomic read: grouping reports every row.
    int percent = count == 0 ? -1 : ProgressPercent(step, count);
    const auto keyOf = [](SearchStage s, int p) { return int(s) * 1000 + p + 1; };
    if (run.lastKey.load(std::memory_order_relaxed) == keyOf(stage, percent))
        return;
    std::lock_guard lock(run.mutex);
    if (int(stage) != run.shownStage) {
        // With subdirectories every directory read is a step, so the reading ends on
        // its last: 100%. The estimate made while the walk still finds directories
        // never says so itself.
        if (run.shownStage == int(SearchStage::Reading) && run.request.includeSubdirectories &&
            !run.request.directories.empty() && run.shownPercent != 100)
            emit reported(run.id, 1, 100, QPrivateSignal());
        run.shownStage = int(stage);
        run.shownPercent = -1;
        if (stage == SearchStage::Done)
            return;
        emit reported(run.id, 0, int(stage), QPrivateSignal());
    }
    if (stage == SearchStage::Reading && percent >= 0)
        percent = run.readingPercent = std::max(run.readingPercent, percent);
    run.lastKey.store(keyOf(stage, percent), std::memory_order_relaxed);
    if (percent < 0 || percent == run.shownPercent)
        return;
    run.shownPercent = percent;
    emit reported(run.id, 1, percent, QPrivateSignal());
}

void SearchSession::deliver() {
    if (!running_ || !run_)
        return;
    {
        std::lock_guard lock(run_->mutex);
        if (!run_->done)
            return;
    }
    thread_->wait();
    delete thread_;
    thread_ = nullptr;
    running_ = false;
    const std::shared_ptr<Run> run = std::move(run_);
    if (run->failure) {
        emit failed(*run->failure);
        return;
    }
    auto result = std::make_shared<SearchResult>();
    result->rows = std::move(run->outcome.rows);
    result->duplicateList = run->request.duplicatesOnly;
    result->criteria = run->request.criteria;
    result->similarLevel = run->request.similarLevel;
    result->cancelled = run->outcome.cancelled;
    result->similarLeftOut = run->outcome.similarLeftOut;
    result->filtered = std::move(run->outcome.filtered);
    result->cacheProblem = std::move(run->outcome.cacheProblem);
    emit finished(std::move(result));
}

FileRecordStore TakeRows(const std::shared_ptr<const SearchResult>& result) {
    // A million rows are too many to hold twice. The result was made as a mutable object,
    // so with no other holder taking its rows is sound.
    if (result.use_count() == 1)
        return std::move(const_cast<SearchResult&>(*result).rows);
    return result->rows;
}

} // namespace fenwa
