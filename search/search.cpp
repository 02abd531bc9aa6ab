#include "search.h"

#include <algorithm>
#include <numeric>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "contentcheck.h"
#include "grouping.h"
#include "samefile.h"

namespace fenwa {

void SearchMonitor::progress(size_t& step, size_t& count) const {
    if (stage() == SearchStage::Reading) {
        count = session_.directoriesKnown();
        const size_t read = session_.directoriesRead();
        step = read == 0 ? 0 : std::min(read, count) - 1;
        return;
    }
    step = step_.load(std::memory_order_relaxed);
    count = count_.load(std::memory_order_relaxed);
}

void SearchMonitor::enterStage(SearchStage stage) {
    count_.store(0, std::memory_order_relaxed);
    step_.store(0, std::memory_order_relaxed);
    stage_.store(int(stage), std::memory_order_relaxed);
}

void SearchMonitor::setProgress(size_t step, size_t count) {
    count_.store(count, std::memory_order_relaxed);
    step_.store(step, std::memory_order_relaxed);
}

namespace {

// A scan reads each subtree into a store of its own and joins them, freeing each as it
// goes. Large blocks taken straight from the system go back to it when freed; left to
// the allocator's sliding threshold they would stay in the heap, and a million rows
// would hold their memory twice at the join.
constexpr int ScanMmapThreshold = 256 * 1024;
// Reading and decoding files allocates and frees buffers of a few megabytes per file;
// taken from the system each time, every one of their pages faults in afresh (this more
// than doubled the time of a similar-pictures search). While files are read they come
// from the heap, up to the largest block glibc's own sliding threshold would allow.
constexpr int ReadingMmapThreshold = 32 * 1024 * 1024;

void setMmapThreshold([[maybe_unused]] int bytes) {
#ifdef __GLIBC__
    ::mallopt(M_MMAP_THRESHOLD, bytes);
#endif
}

} // namespace

SearchOutcome RunSearch(const SearchRequest& request, SearchMonitor* monitor) {
    setMmapThreshold(ScanMmapThreshold);
    SearchMonitor own;
    SearchMonitor& m = monitor ? *monitor : own;
    SearchOutcome outcome;
    m.enterStage(SearchStage::Reading);
    FileRecordStore hidden;
    for (const std::string& dir : request.directories) {
        if (m.stopRequested())
            break;
        ReadDirectory(dir, hidden, request.includeSubdirectories, &m.session());
    }
    if (!request.duplicatesOnly) {
        outcome.rows = std::move(hidden);
    } else if (!m.stopRequested()) {
        m.enterStage(SearchStage::Grouping);
        ContentCheckOptions options;
        options.stop = m.stopFlag();
        options.progress = [&m](size_t step, size_t count) { m.setProgress(step, count); };
        options.beforeReading = [&m] {
            setMmapThreshold(ReadingMmapThreshold);
            m.enterStage(SearchStage::CheckingContent);
        };
        options.fingerprint = request.fingerprint;
        options.cache = request.contentCache.get();
        options.similarThreshold = request.similarThreshold;
        options.beforeFingerprinting = [&m] {
            setMmapThreshold(ReadingMmapThreshold);
            m.enterStage(SearchStage::ComparingPictures);
        };
        const std::vector<uint32_t> order =
            FindDuplicates(hidden, request.criteria, options, &outcome.similarLeftOut);
        setMmapThreshold(ScanMmapThreshold);
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
    hidden.clear();
#ifdef __GLIBC__
    // What the reading and grouping freed goes back before the list takes the rows.
    ::malloc_trim(0);
#endif
    m.enterStage(SearchStage::Done);
    return outcome;
}

void MarkHardLinks(FileRecordStore& rows) {
    std::vector<uint32_t> known;
    for (size_t row = 0; row < rows.size(); ++row) {
        rows.setHardLinked(row, false);
        if (rows.inode(row) != 0)
            known.push_back(uint32_t(row));
    }
    const auto key = [&rows](uint32_t row) { return std::pair{rows.device(row), rows.inode(row)}; };
    std::sort(known.begin(), known.end(),
              [&key](uint32_t a, uint32_t b) { return key(a) < key(b); });
    for (size_t i = 1; i < known.size(); ++i)
        if (key(known[i]) == key(known[i - 1])) {
            rows.setHardLinked(known[i], true);
            rows.setHardLinked(known[i - 1], true);
        }
    MarkMirroredRows(rows);
}

} // namespace fenwa
