#pragma once
// The directory scanner: turns listed directories into file records. Directories are
// walked in pre-order with siblings in the user's locale order, ignoring case; files
// within a directory come in the system's enumeration order.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "filerecord.h"

namespace fenwa {

// What a scan reports while it runs; the window turns it into status texts and the
// progress window.
class ScanObserver {
public:
    virtual ~ScanObserver() = default;
    // A listed directory is about to be read.
    virtual void readingStarted() {}
    // Another directory of the tree has been listed; the steps are counted once all
    // are. Lets a window stay responsive while a slow tree is listed.
    virtual void directoryListed(size_t listedSoFar) { (void)listedSoFar; }
    // Step `step` (from 0) of `count` is about to run.
    virtual void progress(size_t step, size_t count) {
        (void)step;
        (void)count;
    }
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

// One record per regular file directly in dir, with dir as its Directory text.
size_t ReadFiles(const std::string& dir, FileRecordStore& store);

// Reads one listed directory, with its subdirectories when includeSubdirectories is
// set (reporting one progress step per directory), into the store.
size_t ReadDirectory(const std::string& dir, FileRecordStore& store, bool includeSubdirectories,
                     ScanObserver* observer = nullptr);

} // namespace fenwa
