#pragma once
// The content check of a duplicate search: files that agree on the other ticked criteria
// are compared by their bytes, cheapest test first. Within a group, files of a size no
// other member has are never opened; the others get a hash of their first and last
// 64 KiB; only files whose size and partial hash are shared are read in full and hashed
// with XXH3-128, as soon as every member of their size class has its partial hash (the
// readers take those whole files before further ends, so the disk never waits between
// two passes). Files are read in the order of their inodes, on more worker threads than
// cores (so that a cold disk has many reads to serve at once), while the calling thread
// reports progress, so a cancel from the progress report stops the readers.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "filerecord.h"
#include "resultlist.h"

namespace fenwa {

// What a file was when it was listed: everything that changes when its bytes do.
struct FileStamp {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    uint64_t changeStamp = 0;
};

// The content check's hashes of one file: of its ends, and of all of it when that was read.
struct KeptContentHashes {
    ContentHash edges;
    std::optional<ContentHash> whole;
};

// Hashes kept between searches, so that an unchanged file is not read again. A kept
// entry answers only for exactly the stamp it was stored under. Called from the reader
// threads at once.
class ContentHashCache {
public:
    virtual ~ContentHashCache() = default;
    // One answer per stamp, all looked up at once: a lookup each costs the file's locks
    // each time.
    virtual std::vector<std::optional<KeptContentHashes>>
    lookupContents(const std::vector<FileStamp>& stamps) = 0;
    virtual void storeContent(const FileStamp& stamp, const KeptContentHashes& hashes) = 0;
    // A file changed more recently than this is not kept (see platform::fileSettled).
    virtual int settleSeconds() const { return 3; }
    // Writes what was stored back to the file and trims it; answers what went wrong,
    // empty when nothing did.
    virtual std::string writeBack() { return {}; }
};

class SimilarStage;

// Changes whenever the hashes the check computes would, so that older entries go unused.
inline constexpr int ContentHashVersion = 1;

struct ContentCheckOptions {
    // Called on the calling thread every few milliseconds while files are read, with
    // step and count: files while partial hashes are still being read, then bytes of the
    // whole-file hashes (some of which were read alongside the partial ones).
    std::function<void(size_t step, size_t count)> progress;
    // Raised by another thread to end the check early; its answer is then meaningless.
    const std::atomic<bool>* stop = nullptr;
    // Called once before the first file is opened.
    std::function<void()> beforeReading;
    // Reader threads; 0 picks the default: for the content check enough to keep a disk
    // busy (ContentReaderThreads), for the similarity split as many as there are cores.
    unsigned threads = 0;
    // Where hashes are looked up before a file is read and kept after; none: every file
    // is read.
    ContentHashCache* cache = nullptr;

    // Similar pictures: the stage that splits groups by likeness (needed with Similar
    // ticked), and what it calls once before the first picture is decoded.
    SimilarStage* similar = nullptr;
    std::function<void()> beforeFingerprinting;
};

// Why a similarity split left a file out of every group.
enum class LeftOutReason : uint8_t { NotPicture, Undecodable, NearlyBlank };

// The rows a similarity split left out of every group.
struct SimilarLeftOut {
    size_t notPictures = 0; // files whose names are no picture's
    size_t undecodable = 0; // pictures that could not be decoded
    size_t nearlyBlank = 0; // pictures too nearly blank to compare
    // For each reason, the extensions of the files (lower case with the dot, "" for a
    // name without one) and how many had each.
    std::map<std::string, size_t, std::less<>> kinds[3];
    // Every file left out, by full path, in list order within each reason; collected
    // only when listFiles is set before the split.
    bool listFiles = false;
    std::vector<std::pair<std::string, LeftOutReason>> files;

    void add(LeftOutReason reason, std::string_view name, const std::function<std::string()>& path);
};

// "12 .mp4, 8 .txt and 3 other kinds" style: the `most` commonest kinds, commonest
// first, the rest counted.
std::string DescribeLeftOutKinds(const std::map<std::string, size_t, std::less<>>& kinds,
                                 size_t most);

// The bytes hashed at each end of a file for the partial hash. A file of at most twice
// this size is read whole at once and its full hash serves as the partial one.
inline constexpr int64_t ContentEdgeBytes = 64 * 1024;

// Splits every group of `order` (runs of adjacent hidden rows that match on `groupedBy`,
// as FindDuplicateRows lays them out) into sub-groups of files with identical bytes;
// files that cannot be read, or whose size changed since they were listed, drop out, as
// does every sub-group of one. Each kept row gets its content hash in `hidden`. A check
// stopped through options.stop answers no group.
//
// Order: the kept rows keep the order they had; each sub-group is contiguous and stands
// where its first row stood in its group. A group whose files are all alike is therefore
// unchanged, and the rows of a split group keep their relative order.
std::vector<uint32_t> SplitGroupsByContent(FileRecordStore& hidden,
                                           const std::vector<uint32_t>& order,
                                           const Criteria& groupedBy,
                                           const ContentCheckOptions& options = {});

// The split of a duplicate search's groups into groups of similar pictures. It lives
// with the pictures' fingerprints; the search reaches it only through this.
class SimilarStage {
public:
    virtual ~SimilarStage() = default;
    // Splits every group of `order` (runs that match on `groupedBy`; with nothing ticked
    // there, all of `order` is one group) into groups of similar pictures. Kept rows get
    // their similar group in `hidden`; groups of one, files that are no pictures and
    // pictures without a fingerprint drop out (counted in `leftOut`). `options` gives
    // the progress, the stop flag, the threads and beforeFingerprinting.
    virtual std::vector<uint32_t> split(FileRecordStore& hidden, const std::vector<uint32_t>& order,
                                        const Criteria& groupedBy,
                                        const ContentCheckOptions& options,
                                        SimilarLeftOut* leftOut) = 0;
};

// The duplicate search over the hidden rows for the ticked criteria: FindDuplicateRows,
// then, with Content ticked, SplitGroupsByContent, then, with Similar ticked,
// options.similar (which must then be given). `options.progress` also serves the
// grouping's passes.
std::vector<uint32_t> FindDuplicates(FileRecordStore& hidden, const Criteria& ticked,
                                     const ContentCheckOptions& options = {},
                                     SimilarLeftOut* leftOut = nullptr);

// The hashes of one file, as the check computes them. Both answer false when the file
// cannot be opened or read, is not a regular file, or is not `size` bytes long.
bool hashFileEdges(const std::string& path, int64_t size, ContentHash& partial, bool& whole);
bool hashWholeFile(const std::string& path, int64_t size, ContentHash& hash,
                   const std::function<bool(size_t bytes)>& onChunk = {});

// The reader threads for `wanted` (ContentCheckOptions::threads): for work that computes
// as much as it reads, about one a core.
unsigned ReaderThreads(unsigned wanted);
// The content check's readers, which mostly wait for the disk: more than the cores.
unsigned ContentReaderThreads(unsigned wanted);

// Runs job(i, worker) for i in [0, count) on `threads` workers, worker being which of
// them (below `threads`) runs it. The calling thread waits and calls report() every few
// milliseconds and once at the end; when `cancel` is raised the workers are told to stop
// (through `stop`). A job or report that throws stops the workers; the exception
// reaches the caller once they have stopped.
void RunReaderJobs(size_t count, unsigned threads, const std::function<void(size_t, unsigned)>& job,
                   std::atomic<bool>& stop, const std::atomic<bool>* cancel,
                   const std::function<void()>& report);

} // namespace fenwa
