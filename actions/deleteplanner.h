#pragma once
// The one place that decides what a Delete removes, from the list or from the viewer.
// It is handed the rows asked for, reads every file of their groups again at that
// moment, and answers what goes, what stays and why, and what must be asked first. The
// windows carry out its answer and decide nothing themselves.
//
// A file is what the disk says it is now, not how its path is spelled: a row whose path
// now leads to another file (another device and inode), or whose size or times changed,
// is left alone. A copy is another directory entry of the group that stays and is still
// as the search found it; a second spelling of the same entry is never a copy, nor is the
// file shown again through a mirror mount (it goes with it), and a hard link that stays
// keeps the data though deleting its twin frees no space. In a list of similar pictures
// a copy is one whose fingerprint still matches at the list's level.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "acts.h"
#include "filerecord.h"
#include "filesystem.h"
#include "fingerprint.h"
#include "likeness.h"
#include "protection.h"
#include "resultlist.h"

namespace fenwa::actions {

// Looks at a path now (statFileNow on the real disk); false when nothing is there.
using FileProbe = std::function<bool(const std::string& nativePath, platform::FileState& now)>;
// Hashes a file's whole content as the content check does; false when it cannot be read
// or is not `size` bytes long.
using ContentHasher =
    std::function<bool(const std::string& nativePath, int64_t size, ContentHash& hash)>;
// Fingerprints a picture now, with its likeness print, as the similarity check does,
// never from a cache; nothing when it cannot be decoded.
using FingerprintChecker =
    std::function<std::optional<similar::PictureLikeness>(const std::string& nativePath)>;

enum class RowCheck {
    Unchanged,
    Gone,     // nothing is at the path any more
    NotAFile, // something other than a regular file is
    Replaced, // another file is: another device and inode
    SizeChanged,
    TimeChanged, // its modification or status-change time moved
};

// Whether a row's file is still the one the search read.
RowCheck checkRow(const FileRecordStore& rows, size_t row, const FileProbe& probe);
// The same, against what a probe already saw at the row's path.
RowCheck checkRow(const FileRecordStore& rows, size_t row, const platform::FileState& now);

enum class KeepReason {
    SizeChanged,
    TimeChanged,
    Replaced,
    NotAFile,
    ContentChanged,  // its bytes are no longer those the search compared
    NoCopyLeft,      // other rows of its group stay, but none is still an unchanged copy
    NoLongerSimilar, // the pictures that stay no longer match it at the list's level
    // The acts other than Delete:
    AlreadySameFile, // it is the kept copy's file already (a hard link, a mirror)
    NotIdentical,    // its bytes differ from the kept copy's
    OtherFileSystem, // a hard link cannot join it to the kept copy
    NoReflink,       // its file system cannot clone the kept copy
    TargetExists,    // Move: something is at its destination
    NotUnderListed,  // Move: no listed directory holds it
};

// The reason in the words the messages use.
const char* keepReasonText(KeepReason reason);
const char* rowCheckText(RowCheck check);

struct DeletePlan {
    struct Kept {
        size_t row;
        KeepReason reason;
    };
    std::vector<size_t> remove; // rows whose files the delete request takes, in row order
    std::vector<size_t> gone;   // rows whose files are gone already: they just leave the list
    std::vector<Kept> kept;     // rows left alone, with why
    // The first row of each group of which no copy would remain: deleting these removes
    // the only data of the group, which is asked about once more first (No deletes nothing).
    std::vector<size_t> lastCopies;
    // Rows whose data a hard link that stays keeps: deleting them frees no space.
    std::vector<size_t> sharedData;
    // Rows of `remove` under a protected directory: the user is asked about these by
    // name before anything is deleted (No deletes nothing).
    std::vector<size_t> protectedRows;
    // For each row of `remove` taken from a duplicate list while copies stay, the copy
    // it counts on (and that copy's fingerprint in a list of similar pictures): right
    // after the row's file goes, that copy must still be there and unchanged.
    // For a replacement (acts.h) the copy is the kept copy the row's path will show, and
    // `bytes` the whole-content hash both had when planned.
    struct CountedOn {
        size_t row;
        size_t copy;
        std::optional<similar::PictureLikeness> fingerprint;
        std::optional<ContentHash> bytes = std::nullopt;
    };
    std::vector<CountedOn> countedOn;
    // Move: where each row of `remove` goes, in the order of `remove`.
    struct Destination {
        size_t row;
        std::string path;
    };
    std::vector<Destination> destinations;
    // The planning was stopped before it ended: the plan is incomplete and nothing of it
    // may be carried out.
    bool cancelled = false;
};

// How far a plan has got, in bytes read again, and a request to stop it: the planning
// thread counts, the thread that shows it reads and may ask to stop.
class PlanProgress {
public:
    void requestStop() { stop_ = true; }
    bool stopRequested() const { return stop_; }
    void setTotal(uint64_t bytes) { total_ = bytes; }
    void add(uint64_t bytes) { done_ += bytes; }
    // 0 to 100; 100 only once everything counted was read.
    int percent() const;

private:
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> done_{0};
    std::atomic<uint64_t> total_{0};
};

struct DeleteRequest {
    std::vector<size_t> rows; // the rows asked for
    // True for a list of duplicate groups; a list of every file has no copies to keep.
    // The groups are those the search recorded in the rows, whatever is ticked now.
    bool duplicateList = true;
    // Directories whose files are references, never deleted unasked.
    Protection protectedDirectories;
    // A list of similar pictures: the fingerprinting and the largest distance the list
    // was made with. Without a checker the pictures are not fingerprinted again.
    FingerprintChecker fingerprint = {};
    similar::SimilarLevel similarLevel = similar::SimilarLevel::Normal;
    // What is done with the files that go (acts.h); Delete as the flags say.
    ActKind act = ActKind::Delete;
    // Move: the folder the files go to, and the search's directories as listed: each
    // file keeps its path below the deepest of them that holds it.
    std::string moveTo = {};
    std::vector<std::string> listedDirectories = {};
    // Reflink: whether a clone can stand at a path; empty asks the disk.
    ReflinkProbe canReflink = {};
};

// With `progress`, the bytes that may be read again are counted up front and each file
// read adds its size; a stop request skips what is left and answers a cancelled plan.
DeletePlan PlanDelete(const FileRecordStore& rows, const DeleteRequest& request,
                      const FileProbe& probe, const ContentHasher& hasher,
                      PlanProgress* progress = nullptr);

// The kept copy each row of `remove` counts on (its keeper for a replacement); nothing
// for a row without one.
std::optional<size_t> keeperOf(const DeletePlan& plan, size_t row);
// The bytes carrying out the plan frees: the files that go, less those whose data a hard
// link that stays keeps. Move counts what leaves the searched folders.
int64_t bytesFreed(const FileRecordStore& rows, const DeletePlan& plan);
// One line a row of `remove`, saying what carrying out would do to it, e.g.
// "would hardlink PATH -> KEEPER", "would move PATH -> DEST", "would trash PATH"
// (`prefix` "would " or "" for what was done), paths in native bytes.
std::string describeAct(const FileRecordStore& rows, const DeletePlan& plan,
                        const DeleteRequest& request, size_t row, bool toTrash,
                        std::string_view prefix = "would ");
// A file that is no row of the list (the viewer still shows a file whose row has left
// the list), as it was seen when it was shown: a one-row list for PlanDelete with
// `duplicateList` false. It belongs to no group, so no copy is looked for, and it goes
// only while it is still that file: the same device and inode, size and times. Empty when
// no regular file was seen there: nothing of it can be deleted.
FileRecordStore SeenFileRow(const std::string& nativePath, const platform::FileState& seen);

// The real disk.
bool probeDisk(const std::string& nativePath, platform::FileState& now);
bool hashFileNow(const std::string& nativePath, int64_t size, ContentHash& hash);
// hashFileNow counting each chunk it reads into `progress`, and giving up (false) as soon
// as a stop is requested.
ContentHasher watchedHasher(PlanProgress& progress);

// Whether the copy a removed row counted on is still there, unchanged (identity, size and
// times; its bytes in a Content list; its fingerprint in a Similar one).
bool copyStillHolds(const FileRecordStore& rows, const DeletePlan::CountedOn& counted,
                    const DeleteRequest& request, const FileProbe& probe,
                    const ContentHasher& hasher);

} // namespace fenwa::actions
