#pragma once
// The directory scanner: turns listed directories into file records. Directories are
// walked in pre-order with siblings in the user's locale order, ignoring case; files
// within a directory come in the system's enumeration order.

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "filerecord.h"
#include "filesystem.h"

namespace fenwa {

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

private:
    const std::atomic<bool>* stop_;
    std::function<void()> observer_;
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
// when the session read dir before.
size_t ReadFiles(const std::string& dir, FileRecordStore& store, ScanSession* session = nullptr);

// Reads one listed directory, with its subdirectories when includeSubdirectories is set,
// into the store. Directories the session read before are skipped, and the reading ends
// early when the session is stopped.
size_t ReadDirectory(const std::string& dir, FileRecordStore& store, bool includeSubdirectories,
                     ScanSession* session = nullptr);

} // namespace fenwa
