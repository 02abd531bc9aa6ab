#include "search.h"

#include <algorithm>
#include <numeric>
#include <optional>

#include "contentcheck.h"
#include "grouping.h"
#include "samefile.h"

namespace fenwa {

SearchMonitor::SearchMonitor(Sink sink) : sink_(std::move(sink)), session_(&stop_) {
    if (sink_)
        session_.setObserver([this] { readingProgressed(); });
}

void SearchMonitor::readingProgressed() {
    if (stage() != SearchStage::Reading)
        return;
    const size_t count = session_.directoriesKnown();
    const size_t read = session_.directoriesRead();
    // Until something is read there is nothing to show; and with every known directory
    // read the walk may still find more (a directory is read before its subdirectories
    // are counted), so that is no 100% either: the reading's end says so.
    if (read == 0 || read >= count)
        return;
    sink_(SearchStage::Reading, read - 1, count);
}

void SearchMonitor::enterStage(SearchStage stage) {
    stage_.store(int(stage), std::memory_order_relaxed);
    if (sink_)
        sink_(stage, 0, 0);
}

void SearchMonitor::setProgress(size_t step, size_t count) {
    if (sink_)
        sink_(stage(), step, count);
}

namespace {

SearchOutcome runWith(const SearchRequest& request, const SearchTools& tools, SearchMonitor& m) {
    SearchOutcome outcome;
    m.enterStage(SearchStage::Reading);
    outcome.filtered.on = request.filter.any();
    outcome.filtered.notFound = m.session().setFilter(request.filter);
    FileRecordStore hidden;
    // The plain searches group by the first ticked criterion's key alone: its rows' keys
    // are numbered while the walk still reads, on whichever thread adds them.
    const Criteria candidates = candidateCriteria(request.criteria);
    const bool plain = request.duplicatesOnly && !request.criteria.content &&
                       !request.criteria.similar && candidates.any();
    std::optional<KeyNumbering> numbering;
    struct Unhooked {
        ScanSession& session;
        ~Unhooked() { session.setRowsAdded({}); }
    } unhooked{m.session()};
    if (plain) {
        numbering.emplace(primaryKey(candidates));
        m.session().setRowsAdded(
            [&numbering](const FileRecordStore& rows) { numbering->catchUp(rows); });
    }
    for (const std::string& dir : request.directories) {
        if (m.stopRequested())
            break;
        ReadDirectory(dir, hidden, request.includeSubdirectories, &m.session());
    }
    outcome.filtered.files = m.session().filesFilteredOut();
    outcome.filtered.folders = m.session().foldersSkipped();
    if (!request.duplicatesOnly) {
        outcome.rows = std::move(hidden);
    } else if (!m.stopRequested()) {
        m.enterStage(SearchStage::Grouping);
        ContentCheckOptions options;
        options.stop = m.stopFlag();
        options.progress = [&m](size_t step, size_t count) { m.setProgress(step, count); };
        options.beforeReading = [&m] { m.enterStage(SearchStage::CheckingContent); };
        options.cache = tools.contentCache.get();
        options.similar = tools.similar.get();
        options.beforeFingerprinting = [&m] { m.enterStage(SearchStage::ComparingPictures); };
        outcome.similarLeftOut.listFiles = request.listLeftOut;
        const std::vector<uint32_t> order =
            plain ? FindDuplicateRows(hidden, request.criteria, options.progress, options.stop,
                                      &*numbering)
                  : FindDuplicates(hidden, request.criteria, options, &outcome.similarLeftOut);
        outcome.rows.appendRows(hidden, order);
        // What later acts on the list trusts these groups, not the ticks of the moment.
        recordGroups(outcome.rows, request.criteria);
    }
    if (m.stopRequested()) {
        outcome.rows.clear();
        outcome.cancelled = true;
        return outcome;
    }
    MarkHardLinks(outcome.rows);
    return outcome;
}

} // namespace

SearchOutcome RunSearch(const SearchRequest& request, SearchMonitor* monitor) {
    SearchMonitor own;
    SearchMonitor& m = monitor ? *monitor : own;
    const SearchTools tools = request.tools ? request.tools(request) : SearchTools{};
    SearchOutcome outcome = runWith(request, tools, m);
    // What was kept is written back here, on the search's thread, even after a stop:
    // the hashes found so far still hold.
    if (tools.contentCache)
        outcome.cacheProblem = tools.contentCache->writeBack();
    if (!outcome.cancelled)
        m.enterStage(SearchStage::Done);
    return outcome;
}

void MarkHardLinks(FileRecordStore& rows) {
    // One pass over the rows with a table of the first row seen of each file (device,
    // inode), rather than a sort of them all: a list of a million rows is marked in a
    // few dozen milliseconds.
    const size_t n = rows.size();
    size_t capacity = 16;
    while (capacity < n + n / 2)
        capacity *= 2;
    const size_t mask = capacity - 1;
    BigVector<uint32_t> firstRowPlusOne(capacity, 0);
    const auto slotOf = [&rows, mask](size_t row) {
        uint64_t h =
            (rows.inode(row) ^ (rows.device(row) * 0x9e3779b97f4a7c15ull)) * 0xff51afd7ed558ccdull;
        return size_t(h ^ (h >> 29)) & mask;
    };
    constexpr size_t Ahead = 8;
    for (size_t row = 0; row < n; ++row) {
        if (row + Ahead < n)
            __builtin_prefetch(&firstRowPlusOne[slotOf(row + Ahead)]);
        rows.setHardLinked(row, false);
        if (rows.inode(row) == 0)
            continue;
        for (size_t i = slotOf(row);; i = (i + 1) & mask) {
            const uint32_t first = firstRowPlusOne[i];
            if (first == 0) {
                firstRowPlusOne[i] = uint32_t(row + 1);
                break;
            }
            if (rows.inode(first - 1) == rows.inode(row) &&
                rows.device(first - 1) == rows.device(row)) {
                rows.setHardLinked(first - 1, true);
                rows.setHardLinked(row, true);
                break;
            }
        }
    }
    MarkMirroredRows(rows);
}

} // namespace fenwa
