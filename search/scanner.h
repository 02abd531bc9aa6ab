#pragma once
// The directory scanner: turns listed directories into file records. Directories are
// walked in pre-order with siblings in the user's locale order, ignoring case; files
// within a directory come in the system's enumeration order.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "filerecord.h"
#include "filesystem.h"

namespace fenwa {

// What a search leaves out. At its defaults every file is read, as always.
struct SearchFilter {
    int64_t minSize = 0;       // smaller files are left out
    int64_t maxSize = 0;       // larger files are left out; 0: no limit
    bool skipEmpty = false;    // files of 0 bytes are left out
    bool picturesOnly = false; // files IsImageName refuses are left out
    // Folders whose trees are not read, native paths: known by what they are on the
    // disk, so another spelling or a bind mount of one is not read either.
    std::vector<std::string> skipFolders;

    bool leavesOutFiles() const { return minSize > 0 || maxSize > 0 || skipEmpty || picturesOnly; }
    bool any() const { return leavesOutFiles() || !skipFolders.empty(); }
    bool keeps(std::string_view name, int64_t size) const;
};

// A size as the user writes it: a number of bytes, or a number (a fraction allowed)
// followed by k, M or G (1024, 1024², 1024³ bytes), with an optional B after and spaces
// around. Nothing for text that is none of these or too large.
std::optional<int64_t> ParseFileSize(std::string_view text);

// Reads the filter's size limits from their texts (blank: no limit) into `filter`. The
// message for the first that is wrong, in the chosen language; empty when both are right.
std::string ReadFilterSizes(std::string_view minText, std::string_view maxText,
                            SearchFilter& filter);

// What one search shares between the listed directories it reads. A directory is known
// by its identity, not its spelling: one reached again, through another listed spelling,
// a link the user listed or a bind mount, is not read again, so no file is ever two rows.
// The first reading in walk order wins. The counters let another thread show progress
// while the tree is read, and the stop flag lets it end the reading early.
class ScanSession {
public:
    explicit ScanSession(const std::atomic<bool>* stop = nullptr) : stop_(stop) {}
    bool stopRequested() const { return stop_ && stop_->load(std::memory_order_relaxed); }

    // Directories read so far, and read or found still to be read: the second grows as
    // the walk discovers subdirectories, so their ratio is an estimate.
    size_t directoriesRead() const { return read_.load(std::memory_order_relaxed); }
    size_t directoriesKnown() const { return known_.load(std::memory_order_relaxed); }

    // Records a directory as read; false when it was read before in this session.
    bool firstReading(const platform::FileIdentity& id) { return seen_.insert(id).second; }
    bool wasRead(const platform::FileIdentity& id) const { return seen_.count(id) != 0; }

    void addKnown(size_t n) {
        known_.fetch_add(n, std::memory_order_relaxed);
        if (observer_)
            observer_();
    }
    void addRead(size_t n) {
        read_.fetch_add(n, std::memory_order_relaxed);
        if (observer_)
            observer_();
    }
    // Called after each change of the counters, on whichever thread made it.
    void setObserver(std::function<void()> observer) { observer_ = std::move(observer); }
    // Called with the store a walk reads into while the walk goes on, each time rows are
    // added to its end, on whichever thread added them, one call at a time.
    void setRowsAdded(std::function<void(const FileRecordStore&)> rowsAdded) {
        rowsAdded_ = std::move(rowsAdded);
    }
    void rowsAdded(const FileRecordStore& store) const {
        if (rowsAdded_)
            rowsAdded_(store);
    }

    // What the reading leaves out, set before it starts. Each skipped folder is known by
    // its identity as it is now; those not there are answered (they skip nothing).
    std::vector<std::string> setFilter(const SearchFilter& filter);
    // The test each file passes; none when every file is read.
    const SearchFilter* fileFilter() const { return filterFiles_ ? &filter_ : nullptr; }
    // Whether a directory is a skipped folder, which is then counted as met. Any thread.
    bool skips(const platform::FileIdentity& id) const {
        for (size_t i = 0; i < skip_.size(); ++i)
            if (skip_[i] == id) {
                skipMet_[i].store(true, std::memory_order_relaxed);
                return true;
            }
        return false;
    }
    // Files the filter left out of the directories read (each directory counted once,
    // as its rows are), and the skipped folders the walk came to and left alone.
    void addFilteredOut(size_t n) { filteredOut_ += n; }
    size_t filesFilteredOut() const { return filteredOut_; }
    size_t foldersSkipped() const;

private:
    const std::atomic<bool>* stop_;
    SearchFilter filter_;
    bool filterFiles_ = false;
    std::vector<platform::FileIdentity> skip_;
    std::unique_ptr<std::atomic<bool>[]> skipMet_;
    size_t filteredOut_ = 0; // written by the thread that runs the search
    std::function<void()> observer_;
    std::function<void(const FileRecordStore&)> rowsAdded_;
    std::atomic<size_t> read_{0};
    std::atomic<size_t> known_{0};
    // Written only by the thread that runs the search, between the parallel stages.
    std::unordered_set<platform::FileIdentity, platform::FileIdentityHash> seen_;
};

// Orders names the way the directory list shows siblings: the user's locale collation,
// case ignored, with the bytes as a final tie-break so the order is always the same.
void sortDirectoryNames(std::vector<std::string>& texts);

// Appends the full texts of dir's immediate, non-hidden subdirectories to `list` and
// keeps `list` sorted. Returns the number appended.
size_t ListSubdirectories(const std::string& dir, std::vector<std::string>& list);

// Appends dir (normalised) and all its subdirectories, each once, in pre-order.
// Walks with a stack of its own, so nesting depth is limited only by memory.
size_t CollectDirectories(const std::string& dir, std::vector<std::string>& list);

// One record per regular file directly in dir, with dir as its Directory text; nothing
// when the session read dir before or skips it. The session's filter applies.
size_t ReadFiles(const std::string& dir, FileRecordStore& store, ScanSession* session = nullptr);

// Reads one listed directory, with its subdirectories when includeSubdirectories is set,
// into the store. Directories the session read before or skips are not read (nor what
// lies below them), the session's filter applies to each file, and the reading ends early
// when the session is stopped.
size_t ReadDirectory(const std::string& dir, FileRecordStore& store, bool includeSubdirectories,
                     ScanSession* session = nullptr);

} // namespace fenwa
