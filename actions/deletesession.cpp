#include "deletesession.h"

#include <QObject>
#include <algorithm>

#include "undo.h"

namespace fenwa::actions {

DeleteSession::DeleteSession(std::shared_ptr<const FileRecordStore> rows, DeleteRequest request,
                             FileProbe probe, ContentHasher hasher)
    : rows_(std::move(rows)), request_(std::move(request)), probe_(std::move(probe)) {
    if (!hasher) {
        hasher_ = watchedHasher(progress_);
        return;
    }
    hasher_ = [this, hasher = std::move(hasher)](const std::string& path, int64_t size,
                                                 ContentHash& hash) {
        const bool read = hasher(path, size, hash);
        progress_.add(uint64_t(std::max<int64_t>(size, 0)));
        return read;
    };
}

DeleteSession::~DeleteSession() {
    if (thread_) {
        progress_.requestStop();
        thread_->wait();
    }
}

void DeleteSession::plan() {
    // Whatever goes wrong while planning ends in a plan that deletes nothing.
    try {
        plan_ = PlanDelete(*rows_, request_, probe_, hasher_, &progress_);
    } catch (const std::exception& e) {
        failure_ = e.what();
    } catch (...) {
        failure_ = "unknown error";
    }
}

void DeleteSession::start(QObject* context, std::function<void()> onPlanned) {
    thread_.reset(QThread::create([this] { plan(); }));
    QObject::connect(thread_.get(), &QThread::finished, context, std::move(onPlanned),
                     Qt::QueuedConnection);
    thread_->start();
}

void DeleteSession::planHere() {
    plan();
}

DeleteResult DeleteSession::carryOut(int flags, DeleteQuestions& questions,
                                     uint64_t listGeneration) {
    DeleteResult result;
    if (!failure_.empty()) {
        result.failure = failure_;
        return result;
    }
    // A stop asked for after the plan was made still counts: nothing was asked yet.
    if (plan_.cancelled || progress_.stopRequested()) {
        result.cancelled = true;
        return result;
    }
    const FileRecordStore& rows = *rows_;
    // What changed since the search is not what the user chose to delete: it is left
    // alone and named.
    if (!plan_.kept.empty()) {
        std::vector<std::string> lines;
        for (const DeletePlan::Kept& k : plan_.kept)
            lines.push_back(rows.fullPath(k.row) + "  (" + keepReasonText(k.reason) + ")");
        questions.reportChanged(lines);
    }
    if (request_.act != ActKind::Delete)
        return carryOutAct(flags, questions, listGeneration);
    const DeleteOutcome outcome =
        CarryOutDelete(rows, plan_, request_, flags, questions, probe_, hasher_);
    if (outcome.declined) {
        result.declined = true;
        return result;
    }
    // Whatever the request reported, exactly the rows whose files are gone leave the list.
    std::vector<size_t> affected = plan_.remove;
    affected.insert(affected.end(), plan_.gone.begin(), plan_.gone.end());
    std::sort(affected.begin(), affected.end());
    std::vector<bool> leaving(rows.size(), false);
    for (size_t row : affected) {
        if (platform::pathExists(rows.fullPath(row)))
            continue;
        leaving[row] = true;
        result.removed.push_back(row);
    }
    if (!outcome.report.trashed.empty())
        result.journal = trashActionFor(rows, outcome.report, leaving, listGeneration);
    return result;
}

DeleteResult DeleteSession::carryOutAct(int flags, DeleteQuestions& questions,
                                        uint64_t listGeneration) {
    DeleteResult result;
    const FileRecordStore& rows = *rows_;
    ActOutcome outcome = CarryOutAct(rows, plan_, request_, flags, questions, probe_, hasher_);
    if (outcome.declined) {
        result.declined = true;
        return result;
    }
    // The rows acted on leave the list, with those whose files were gone already.
    std::vector<bool> leaving(rows.size(), false);
    for (const RowActed& acted : outcome.acted)
        if (acted.status == ActStatus::Done)
            leaving[acted.row] = true;
    for (size_t row : plan_.gone)
        if (!platform::pathExists(rows.fullPath(row)))
            leaving[row] = true;
    for (size_t row = 0; row < rows.size(); ++row)
        if (leaving[row])
            result.removed.push_back(row);
    if (outcome.journal)
        result.journal = actActionFor(rows, std::move(*outcome.journal), leaving, listGeneration);
    result.acted = std::move(outcome.acted);
    return result;
}

} // namespace fenwa::actions
