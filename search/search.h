#pragma once
// One search, as the window and the command line both run it: the listed directories
// are read, and for a duplicate search the rows are grouped and, with Content ticked,
// their bytes compared. It runs on whatever thread calls it; another thread follows it
// through a SearchMonitor and may stop it there. Nothing here touches a window.

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
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
    SearchMonitor() : session_(&stop_) {}
    void requestStop() { stop_.store(true, std::memory_order_relaxed); }
    bool stopRequested() const { return stop_.load(std::memory_order_relaxed); }
    const std::atomic<bool>* stopFlag() const { return &stop_; }

    SearchStage stage() const { return SearchStage(stage_.load(std::memory_order_relaxed)); }
    // The current stage's step (from 0) and count: while reading, directories read and
    // directories known so far.
    void progress(size_t& step, size_t& count) const;

    // Written by the search.
    void enterStage(SearchStage stage);
    void setProgress(size_t step, size_t count);
    ScanSession& session() { return session_; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> stage_{int(SearchStage::Reading)};
    std::atomic<size_t> step_{0};
    std::atomic<size_t> count_{0};
    ScanSession session_;
};

struct SearchRequest {
    std::vector<std::string> directories; // native paths, in the list's order
    bool includeSubdirectories = true;
    // Find Duplicates: only the groups; otherwise every file read (Find All).
    bool duplicatesOnly = false;
    Criteria criteria;
    // For Similar: a picture row's fingerprint (on worker threads; nothing when the
    // picture cannot be decoded) and the largest fingerprint distance that matches.
    std::function<std::optional<similar::PictureFingerprint>(const FileRecordStore&, size_t row)>
        fingerprint;
    int similarThreshold = 7;
    // For Content: hashes kept between searches (none: every file is read).
    std::shared_ptr<ContentHashCache> contentCache;
};

struct SearchOutcome {
    // In the order the result list shows them; after Find Duplicates each row carries
    // its group (FileRecordStore::group), after Find All none does.
    FileRecordStore rows;
    bool cancelled = false;
    SimilarLeftOut similarLeftOut; // with Similar ticked
};

SearchOutcome RunSearch(const SearchRequest& request, SearchMonitor* monitor = nullptr);

// Flags every row whose file another row shares through a hard link (one device and
// inode, two directory entries) or shows again through a mirror mount (MarkMirroredRows),
// and clears the flag of every other row.
void MarkHardLinks(FileRecordStore& rows);

} // namespace fenwa
