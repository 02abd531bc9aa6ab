#pragma once
// One search, as the window and the command line both run it: the listed directories
// are read, and for a duplicate search the rows are grouped and, with Content ticked,
// their bytes compared. It runs on whatever thread calls it (SearchSession runs it on a
// thread of its own); another thread may stop it through its SearchMonitor, which also
// passes each change of stage and progress on as it happens. Nothing here touches a
// window.

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "contentcheck.h"
#include "filerecord.h"
#include "resultlist.h"
#include "scanner.h"

namespace fenwa {

enum class SearchStage : int { Reading, Grouping, CheckingContent, ComparingPictures, Done };

// Shared between the thread that runs a search and the one that shows it.
class SearchMonitor {
public:
    // Told of every stage entered and of every step: (stage, step from 0, count). While
    // reading, the step is the directories read and the count those known so far, which
    // grows as the walk finds more; it may be called from the scanner's threads.
    using Sink = std::function<void(SearchStage stage, size_t step, size_t count)>;

    explicit SearchMonitor(Sink sink = {});
    void requestStop() { stop_.store(true, std::memory_order_relaxed); }
    bool stopRequested() const { return stop_.load(std::memory_order_relaxed); }
    const std::atomic<bool>* stopFlag() const { return &stop_; }
    SearchStage stage() const { return SearchStage(stage_.load(std::memory_order_relaxed)); }

    // Written by the search.
    void enterStage(SearchStage stage);
    void setProgress(size_t step, size_t count);
    ScanSession& session() { return session_; }

private:
    void readingProgressed();

    Sink sink_;
    std::atomic<bool> stop_{false};
    std::atomic<int> stage_{int(SearchStage::Reading)};
    ScanSession session_;
};

// What a search works with beyond this folder, made on the search's thread (so that
// opening a cache file never holds up the window): the hashes kept between searches and
// the similar-pictures stage. The search writes the cache back before it ends.
struct SearchTools {
    std::shared_ptr<ContentHashCache> contentCache; // none: every file is read
    std::shared_ptr<SimilarStage> similar;          // needed with Similar ticked
};

struct SearchRequest {
    std::vector<std::string> directories; // native paths, in the list's order
    bool includeSubdirectories = true;
    // Find Duplicates: only the groups; otherwise every file read (Find All).
    bool duplicatesOnly = false;
    Criteria criteria;
    int similarLevel = 1;  // the level picked (Strict 0, Normal 1, Loose 2)
    std::string cachePath; // the file kept between searches; empty: none
    // With Similar ticked: keep the path of every file left out of the groups.
    bool listLeftOut = false;
    SearchFilter filter; // what the reading leaves out; nothing at its defaults
    // Makes the tools from the request (see EquipSearch, which fills this in).
    std::function<SearchTools(const SearchRequest&)> tools;
};

// What a search's filter left out.
struct FilterReport {
    bool on = false;                   // the search had a filter
    size_t files = 0;                  // files read and left out
    size_t folders = 0;                // skipped folders the walk came to and did not enter
    std::vector<std::string> notFound; // skipped folders not there: they skipped nothing
};

struct SearchOutcome {
    // In the order the result list shows them; after Find Duplicates each row carries
    // its group (FileRecordStore::group), after Find All none does.
    FileRecordStore rows;
    bool cancelled = false;
    SimilarLeftOut similarLeftOut; // with Similar ticked
    FilterReport filtered;
    // What went wrong writing the cache back; empty when nothing did.
    std::string cacheProblem;
};

SearchOutcome RunSearch(const SearchRequest& request, SearchMonitor* monitor = nullptr);

// Flags every row whose file another row shares through a hard link (one device and
// inode, two directory entries) or shows again through a mirror mount (MarkMirroredRows),
// and clears the flag of every other row.
void MarkHardLinks(FileRecordStore& rows);

} // namespace fenwa
