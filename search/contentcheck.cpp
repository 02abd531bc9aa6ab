#include "contentcheck.h"

#include <xxhash.h>
#if defined(__x86_64__)
// The hashing functions that pick AVX2 or AVX-512 where the processor has them: the same
// hashes, about twice as fast as the baseline ones.
#include <xxh_x86dispatch.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "filesystem.h"
#include "grouping.h"
#include "readfile.h"
#include "workerpool.h"

namespace fenwa {

namespace {

constexpr size_t WholeFileChunk = 256 << 10;

// Opens a regular file of exactly `size` bytes for reading. Never waits: a pipe that
// took a file's place is refused as not regular.
bool openRegular(const std::string& path, int64_t size, platform::RegularFile& file) {
    return file.open(path) == platform::ReadFileError::None && file.size() == size;
}

// A reader's last directory, held open: in inode order a directory's files mostly come
// together, so most opens then look up one name instead of walking the whole path.
struct ReaderDirectory {
    const std::string* text = nullptr; // the store's directory text it was opened from
    platform::DirectoryHandle handle;
};

// Opens a row's file as openRegular does, through the reader's directory.
bool openRow(const FileRecordStore& rows, uint32_t row, ReaderDirectory& directory,
             platform::RegularFile& file) {
    const std::string& text = rows.directory(row);
    if (directory.text != &text) {
        directory.text = &text;
        directory.handle.open(text);
    }
    if (!directory.handle.isOpen())
        return openRegular(rows.fullPath(row), rows.fileSize(row), file);
    return file.openIn(directory.handle, rows.name(row)) == platform::ReadFileError::None &&
           file.size() == rows.fileSize(row);
}

ContentHash toContentHash(XXH128_hash_t h) {
    return ContentHash{h.low64, h.high64};
}

std::vector<char>& threadBuffer(size_t size) {
    thread_local std::vector<char> buffer;
    if (buffer.size() < size)
        buffer.resize(size);
    return buffer;
}

} // namespace

namespace {

bool hashOpenEdges(platform::RegularFile& file, int64_t size, ContentHash& partial, bool& whole) {
    if (size <= 2 * ContentEdgeBytes) {
        // One byte more than expected is asked for, so a file that grew is noticed.
        std::vector<char>& buffer = threadBuffer(size_t(size) + 1);
        if (file.readAt(buffer.data(), size_t(size) + 1, 0, size_t(size)) != size)
            return false;
        partial = toContentHash(XXH3_128bits(buffer.data(), size_t(size)));
        whole = true;
        return true;
    }
    const size_t edge = size_t(ContentEdgeBytes);
    // The middle is read only when another file shares these ends: read ahead now, it
    // would mostly fetch bytes from a cold disk that no one looks at.
    file.willReadOnlyParts();
    std::vector<char>& buffer = threadBuffer(2 * edge);
    if (file.readAt(buffer.data(), edge, 0) != int64_t(edge) ||
        file.readAt(buffer.data() + edge, edge, size - ContentEdgeBytes) != int64_t(edge))
        return false;
    partial = toContentHash(XXH3_128bits(buffer.data(), 2 * edge));
    whole = false;
    return true;
}

bool hashOpenWhole(platform::RegularFile& file, int64_t size, ContentHash& hash,
                   const std::function<bool(size_t)>& onChunk) {
    file.willReadInOrder();
    std::unique_ptr<XXH3_state_t, decltype(&XXH3_freeState)> state(XXH3_createState(),
                                                                   &XXH3_freeState);
    if (!state || XXH3_128bits_reset(state.get()) != XXH_OK)
        return false;
    std::vector<char>& buffer = threadBuffer(WholeFileChunk);
    int64_t total = 0;
    for (;;) {
        const int64_t n = file.readAt(buffer.data(), WholeFileChunk, total);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        XXH3_128bits_update(state.get(), buffer.data(), size_t(n));
        total += n;
        if (total > size)
            return false;
        if (onChunk && !onChunk(size_t(n)))
            return false;
    }
    if (total != size)
        return false;
    hash = toContentHash(XXH3_128bits_digest(state.get()));
    return true;
}

} // namespace

bool hashFileEdges(const std::string& path, int64_t size, ContentHash& partial, bool& whole) {
    platform::RegularFile file;
    return size >= 0 && openRegular(path, size, file) && hashOpenEdges(file, size, partial, whole);
}

bool hashWholeFile(const std::string& path, int64_t size, ContentHash& hash,
                   const std::function<bool(size_t)>& onChunk) {
    platform::RegularFile file;
    return size >= 0 && openRegular(path, size, file) && hashOpenWhole(file, size, hash, onChunk);
}

unsigned ReaderThreads(unsigned wanted) {
    return WorkerThreads(wanted);
}

unsigned ContentReaderThreads(unsigned wanted) {
    // Reading a cold disk is mostly waiting, and a disk serves many requests at once far
    // sooner than the same requests one after another (2.6 GB of files on a virtual
    // disk: 8.3-9.3 s on two readers, 4.4-5.5 s on eight). Warm, the extra threads only
    // take turns on the cores.
    return wanted > 0 ? wanted : std::max(8u, ReaderThreads(0));
}

void RunReaderJobs(size_t count, unsigned threads, const std::function<void(size_t, unsigned)>& job,
                   std::atomic<bool>& stop, const std::atomic<bool>* cancel,
                   const std::function<void()>& report) {
    if (count == 0)
        return;
    const auto cancelled = [&] {
        if (cancel && cancel->load(std::memory_order_relaxed))
            stop = true;
    };
    cancelled(); // a stop raised before this stage: it reads nothing
    WorkerOptions options;
    options.stop = &stop;
    options.whileWaiting = [&] {
        cancelled();
        try {
            if (report)
                report();
        } catch (...) {
            stop = true; // the readers' long files stop too
            throw;
        }
    };
    const auto guarded = [&](size_t i, unsigned worker) {
        try {
            job(i, worker);
        } catch (...) {
            stop = true;
            throw;
        }
    };
    try {
        RunWorkers(count, threads, guarded, options);
    } catch (...) {
        stop = true;
        throw;
    }
}

namespace {

// Classes of files thought to be alike: class k is rows[starts[k]] to rows[starts[k + 1]].
struct Classes {
    std::vector<uint32_t> rows;
    std::vector<size_t> starts{0};
    size_t count() const { return starts.size() - 1; }
    void close() {
        if (rows.size() - starts.back() >= 2)
            starts.push_back(rows.size());
        else
            rows.resize(starts.back()); // a class of one is no duplicate
    }
};

// Splits each class of `from` by a key per row position (rows whose `keep` is zero drop
// out), keeping rows in their order within each new class.
template <class Key>
Classes refine(const Classes& from, const std::vector<Key>& key, const std::vector<char>& keep) {
    Classes out;
    std::vector<size_t> positions;
    auto equal = [&](size_t a, size_t b) { return !(key[a] < key[b]) && !(key[b] < key[a]); };
    for (size_t c = 0; c < from.count(); ++c) {
        positions.clear();
        for (size_t p = from.starts[c]; p < from.starts[c + 1]; ++p)
            if (keep[p])
                positions.push_back(p);
        std::stable_sort(positions.begin(), positions.end(),
                         [&](size_t a, size_t b) { return key[a] < key[b]; });
        for (size_t i = 0; i < positions.size(); ++i) {
            if (i > 0 && !equal(positions[i - 1], positions[i]))
                out.close();
            out.rows.push_back(from.rows[positions[i]]);
        }
        if (!positions.empty())
            out.close();
    }
    return out;
}

// The stamp a row's hashes are kept under; false when the cache cannot answer for it.
bool cacheStampOf(const FileRecordStore& rows, uint32_t row, const ContentHashCache* cache,
                  FileStamp& stamp) {
    if (!cache)
        return false;
    stamp = {rows.device(row), rows.inode(row), rows.fileSize(row), rows.changeStamp(row)};
    // Small files too: one lookup among many in a single transaction costs less than the
    // open, stat, read and close of even a 512-byte file (bench/README.md).
    return stamp.inode != 0 && stamp.changeStamp != 0;
}

// Looked at again after reading: only then may what was read be kept under the stamp.
bool mayKeep(int fd, const FileStamp& stamp, const ContentHashCache& cache) {
    return platform::fileSettled(fd, {}, {stamp.device, stamp.inode}, stamp.size, stamp.changeStamp,
                                 cache.settleSeconds());
}

// Reads in inode order: file systems place a file's data near its inode, so a cold disk
// is read front to back rather than in the order of sizes.
template <class RowOf>
void sortByDiskOrder(const FileRecordStore& rows, std::vector<size_t>& jobs, RowOf rowOf) {
    std::sort(jobs.begin(), jobs.end(), [&](size_t a, size_t b) {
        const uint32_t ra = rowOf(a), rb = rowOf(b);
        return std::pair(rows.device(ra), rows.inode(ra)) <
               std::pair(rows.device(rb), rows.inode(rb));
    });
}

struct HashKey {
    ContentHash hash;
    bool operator<(const HashKey& o) const {
        return hash.high != o.hash.high ? hash.high < o.hash.high : hash.low < o.hash.low;
    }
};

size_t stepOf(uint64_t done, uint64_t total) {
    return size_t(done == 0 ? 0 : std::min(done, total) - 1);
}

} // namespace

std::vector<uint32_t> SplitGroupsByContent(FileRecordStore& hidden,
                                           const std::vector<uint32_t>& order,
                                           const Criteria& groupedBy,
                                           const ContentCheckOptions& options) {
    // The groups of the order, each its own class to begin with.
    Classes groups;
    for (size_t start = 0; start < order.size();) {
        size_t end = start + 1;
        while (end < order.size() && RowsMatch(hidden, order[end], order[start], groupedBy))
            ++end;
        groups.rows.insert(groups.rows.end(), order.begin() + long(start),
                           order.begin() + long(end));
        groups.close();
        start = end;
    }

    // Size first: it costs nothing, and unequal sizes are never equal bytes.
    std::vector<int64_t> sizes(groups.rows.size());
    for (size_t p = 0; p < groups.rows.size(); ++p)
        sizes[p] = hidden.fileSize(groups.rows[p]);
    const Classes bySize = refine(groups, sizes, std::vector<char>(groups.rows.size(), 1));

    const unsigned threads = ContentReaderThreads(options.threads);
    std::atomic<bool> stop{false};

    // The ends of every file that shares its size within a group.
    const size_t edgeJobs = bySize.rows.size();
    if (edgeJobs > 0 && options.beforeReading)
        options.beforeReading();
    std::vector<HashKey> partial(edgeJobs);
    std::vector<char> readable(edgeJobs, 0), whole(edgeJobs, 0);
    // Whole-file hashes the cache already knows, for files larger than the edges.
    std::vector<ContentHash> keptWhole(options.cache ? edgeJobs : 0);
    std::vector<char> hasKeptWhole(edgeJobs, 0);
    // What the cache knows is taken first, in one lookup; the readers get the rest.
    std::vector<FileStamp> stamps(edgeJobs);
    std::vector<char> cacheable(edgeJobs, 0);
    std::vector<size_t> edgeReads;
    if (options.cache) {
        std::vector<FileStamp> asked;
        std::vector<size_t> askedFor;
        // Where the status-change time is made up (FUSE, network) an edit in place need
        // not change the stamp: nothing is looked up there (nor kept: see mayKeep).
        std::vector<signed char> trusted(hidden.directoryCount(), -1);
        const auto changeTimeTrusted = [&](uint32_t row) {
            signed char& t = trusted[hidden.record(row).directory];
            if (t < 0)
                t = platform::changeTimeTrusted(hidden.directory(row)) ? 1 : 0;
            return t == 1;
        };
        for (size_t i = 0; i < edgeJobs; ++i)
            if (cacheStampOf(hidden, bySize.rows[i], options.cache, stamps[i]) &&
                changeTimeTrusted(bySize.rows[i])) {
                cacheable[i] = 1;
                asked.push_back(stamps[i]);
                askedFor.push_back(i);
            }
        const std::vector<std::optional<KeptContentHashes>> known =
            options.cache->lookupContents(asked);
        for (size_t k = 0; k < askedFor.size() && k < known.size(); ++k) {
            if (!known[k])
                continue;
            const size_t i = askedFor[k];
            partial[i].hash = known[k]->edges;
            whole[i] = hidden.fileSize(bySize.rows[i]) <= 2 * ContentEdgeBytes;
            if (known[k]->whole) {
                keptWhole[i] = *known[k]->whole;
                hasKeptWhole[i] = 1;
            }
            readable[i] = 1;
        }
    }
    for (size_t i = 0; i < edgeJobs; ++i)
        if (!readable[i])
            edgeReads.push_back(i);
    sortByDiskOrder(hidden, edgeReads, [&](size_t i) { return bySize.rows[i]; });

    // One pass of readers over both kinds of reads: the whole files of a size class are
    // read as soon as its last member's ends are known, while other classes' ends are
    // still read. The disk never idles between the two, the middles are read while their
    // ends were just near the disk's head, and a large file does not wait for the last
    // ends to start.
    std::vector<uint32_t> classOf(edgeJobs);
    std::vector<uint32_t> unread(bySize.count(), 0); // ends still to read, per class
    for (size_t c = 0; c < bySize.count(); ++c)
        for (size_t q = bySize.starts[c]; q < bySize.starts[c + 1]; ++q)
            classOf[q] = uint32_t(c);
    size_t mostWholeReads = 0; // whole reads there would be if every class's ends agreed
    for (size_t i : edgeReads) {
        ++unread[classOf[i]];
        mostWholeReads +=
            !hasKeptWhole[i] && hidden.fileSize(bySize.rows[i]) > 2 * ContentEdgeBytes;
    }
    for (size_t i = 0; i < edgeJobs; ++i)
        mostWholeReads += readable[i] && !whole[i] && !hasKeptWhole[i];

    std::vector<HashKey> fullOf(edgeJobs); // by bySize position
    std::vector<char> fullReadableOf(edgeJobs, 0);
    std::mutex queueMutex;
    std::condition_variable queueChanged;
    std::vector<size_t> wholeQueue; // a heap: the lowest (device, inode) on top
    const auto laterOnDisk = [&](size_t a, size_t b) {
        const uint32_t ra = bySize.rows[a], rb = bySize.rows[b];
        return std::pair(hidden.device(ra), hidden.inode(ra)) >
               std::pair(hidden.device(rb), hidden.inode(rb));
    };
    size_t nextEdge = 0, edgesBusy = 0;
    std::atomic<size_t> edgesDone{0};
    std::atomic<uint64_t> wholeBytes{0}, wholeDone{0};
    // A class whose every member's ends are known: the members whose ends another shares
    // are read whole, unless their ends already were the whole or the cache knew it.
    // Called with queueMutex held.
    std::vector<std::pair<HashKey, size_t>> members;
    const auto decide = [&](size_t c) {
        members.clear();
        for (size_t q = bySize.starts[c]; q < bySize.starts[c + 1]; ++q)
            if (readable[q])
                members.emplace_back(partial[q], q);
        std::sort(members.begin(), members.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        for (size_t k = 0; k < members.size(); ++k) {
            const size_t q = members[k].second;
            const bool shared =
                (k > 0 && !(members[k - 1].first < members[k].first)) ||
                (k + 1 < members.size() && !(members[k].first < members[k + 1].first));
            if (!shared || whole[q] || hasKeptWhole[q])
                continue;
            wholeQueue.push_back(q);
            std::push_heap(wholeQueue.begin(), wholeQueue.end(), laterOnDisk);
            wholeBytes += uint64_t(hidden.fileSize(bySize.rows[q]));
        }
    };
    for (size_t c = 0; c < bySize.count(); ++c)
        if (unread[c] == 0)
            decide(c);

    std::vector<ReaderDirectory> directories(threads);
    const auto readEnds = [&](size_t i, unsigned worker) {
        const uint32_t row = bySize.rows[i];
        platform::RegularFile file;
        bool isWhole = false;
        readable[i] = openRow(hidden, row, directories[worker], file) &&
                      hashOpenEdges(file, hidden.fileSize(row), partial[i].hash, isWhole);
        whole[i] = isWhole;
        if (readable[i] && cacheable[i] && mayKeep(file.descriptor(), stamps[i], *options.cache))
            options.cache->storeContent(stamps[i], {partial[i].hash, std::nullopt});
    };
    const auto readWhole = [&](size_t q, unsigned worker) {
        const uint32_t row = bySize.rows[q];
        platform::RegularFile file;
        fullReadableOf[q] =
            openRow(hidden, row, directories[worker], file) &&
            hashOpenWhole(file, hidden.fileSize(row), fullOf[q].hash, [&](size_t bytes) {
                wholeDone.fetch_add(bytes, std::memory_order_relaxed);
                return !stop.load(std::memory_order_relaxed);
            });
        FileStamp stamp;
        if (fullReadableOf[q] && cacheStampOf(hidden, row, options.cache, stamp) &&
            mayKeep(file.descriptor(), stamp, *options.cache))
            options.cache->storeContent(stamp, {partial[q].hash, fullOf[q].hash});
    };
    // Each unit takes one read: a whole file when one waits (its ends were just read, so
    // it lies near), else the next ends in disk order. A unit that finds none while ends
    // are still being read waits for them; once all are read, the units left over
    // (there are as many as the most reads there could be) end at once.
    RunReaderJobs(
        edgeReads.size() + mostWholeReads, threads,
        [&](size_t, unsigned worker) {
            size_t i = 0;
            bool ends = false;
            {
                std::unique_lock lock(queueMutex);
                for (;;) {
                    if (stop.load(std::memory_order_relaxed))
                        return;
                    if (!wholeQueue.empty()) {
                        std::pop_heap(wholeQueue.begin(), wholeQueue.end(), laterOnDisk);
                        i = wholeQueue.back();
                        wholeQueue.pop_back();
                        break;
                    }
                    if (nextEdge < edgeReads.size()) {
                        i = edgeReads[nextEdge++];
                        ends = true;
                        ++edgesBusy;
                        break;
                    }
                    if (edgesBusy == 0)
                        return;
                    // The stop flag is raised without a notification: look again soon.
                    queueChanged.wait_for(lock, std::chrono::milliseconds(5));
                }
            }
            if (!ends) {
                readWhole(i, worker);
                return;
            }
            readEnds(i, worker);
            std::lock_guard lock(queueMutex);
            if (--unread[classOf[i]] == 0)
                decide(classOf[i]);
            --edgesBusy;
            edgesDone.fetch_add(1, std::memory_order_relaxed);
            queueChanged.notify_all();
        },
        stop, options.stop,
        [&] {
            if (!options.progress)
                return;
            // Files while ends are read, then bytes of the whole files (whose total is
            // known once every class is decided).
            const size_t ends = edgesDone.load();
            if (ends < edgeReads.size())
                options.progress(stepOf(ends, edgeReads.size()), edgeReads.size());
            else
                options.progress(stepOf(wholeDone.load(), wholeBytes.load()),
                                 size_t(wholeBytes.load()));
        });
    // Stopped (or told to stop by the last progress report): some classes may have been
    // read whole and others not; none is shown.
    if (stop || (options.stop && options.stop->load()))
        return {};
    const Classes byEdges = refine(bySize, partial, readable);

    // The whole-file hashes of the classes left: read above, or known without a read.
    std::vector<HashKey> full(byEdges.rows.size());
    std::vector<char> fullReadable(byEdges.rows.size(), 0);
    {
        std::vector<uint32_t> bySizePosition(hidden.size(), UINT32_MAX);
        for (size_t p = 0; p < bySize.rows.size(); ++p)
            bySizePosition[bySize.rows[p]] = uint32_t(p);
        for (size_t p = 0; p < byEdges.rows.size(); ++p) {
            const size_t q = bySizePosition[byEdges.rows[p]];
            if (whole[q]) {
                full[p] = partial[q];
                fullReadable[p] = 1;
            } else if (hasKeptWhole[q]) {
                full[p].hash = keptWhole[q];
                fullReadable[p] = 1;
            } else {
                full[p] = fullOf[q];
                fullReadable[p] = fullReadableOf[q];
            }
        }
    }
    const Classes byContent = refine(byEdges, full, fullReadable);

    // Each kept row learns its class and hash; then every group is written out with each
    // of its classes where the class's first row stood.
    std::vector<uint32_t> classOfRow(hidden.size(), UINT32_MAX);
    {
        std::vector<uint32_t> byEdgesPosition(hidden.size(), UINT32_MAX);
        for (size_t p = 0; p < byEdges.rows.size(); ++p)
            byEdgesPosition[byEdges.rows[p]] = uint32_t(p);
        for (size_t c = 0; c < byContent.count(); ++c)
            for (size_t p = byContent.starts[c]; p < byContent.starts[c + 1]; ++p) {
                const uint32_t row = byContent.rows[p];
                classOfRow[row] = uint32_t(c);
                hidden.setContentHash(row, full[byEdgesPosition[row]].hash);
            }
    }
    std::vector<uint32_t> out;
    out.reserve(byContent.rows.size());
    std::vector<bool> written(byContent.count(), false);
    for (uint32_t row : order) {
        const uint32_t c = classOfRow[row];
        if (c == UINT32_MAX || written[c])
            continue;
        written[c] = true;
        out.insert(out.end(), byContent.rows.begin() + long(byContent.starts[c]),
                   byContent.rows.begin() + long(byContent.starts[c + 1]));
    }
    return out;
}

void SimilarLeftOut::add(LeftOutReason reason, std::string_view name,
                         const std::function<std::string()>& path) {
    ++(reason == LeftOutReason::NotPicture    ? notPictures
       : reason == LeftOutReason::Undecodable ? undecodable
                                              : nearlyBlank);
    const size_t dot = name.rfind('.');
    std::string_view ext = dot == std::string_view::npos ? std::string_view() : name.substr(dot);
    // Most extensions are short and already lower case: looked up without a copy.
    const bool lower =
        std::none_of(ext.begin(), ext.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
    std::map<std::string, size_t, std::less<>>& counts = kinds[int(reason)];
    if (lower && ext.size() <= 16) {
        if (auto it = counts.find(ext); it != counts.end())
            ++it->second;
        else
            counts.emplace(std::string(ext), 1);
    } else {
        std::string folded(ext.substr(0, 16));
        for (char& c : folded)
            c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
        ++counts[folded];
    }
    if (listFiles)
        files.emplace_back(path(), reason);
}

std::string DescribeLeftOutKinds(const std::map<std::string, size_t, std::less<>>& kinds,
                                 size_t most) {
    std::vector<std::pair<size_t, std::string_view>> byCount;
    for (const auto& [ext, count] : kinds)
        byCount.emplace_back(count, ext);
    std::stable_sort(byCount.begin(), byCount.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    std::string out;
    size_t shown = 0;
    size_t others = 0;
    for (const auto& [count, ext] : byCount) {
        if (shown == most) {
            ++others;
            continue;
        }
        if (!out.empty())
            out += ", ";
        out += std::to_string(count) + " " +
               (ext.empty() ? std::string("without extension") : std::string(ext));
        ++shown;
    }
    if (others > 0)
        out += " and " + std::to_string(others) + (others == 1 ? " other kind" : " other kinds");
    return out;
}

std::vector<uint32_t> FindDuplicates(FileRecordStore& hidden, const Criteria& ticked,
                                     const ContentCheckOptions& options, SimilarLeftOut* leftOut) {
    const Criteria candidates = candidateCriteria(ticked);
    std::vector<uint32_t> order;
    if (candidates.any()) {
        order = FindDuplicateRows(hidden, ticked, options.progress, options.stop);
    } else {
        // Similar alone: every row is a candidate, in reading order.
        order.resize(hidden.size());
        for (size_t q = 0; q < order.size(); ++q)
            order[q] = uint32_t(q);
    }
    Criteria grouped = candidates;
    if (ticked.content) {
        order = SplitGroupsByContent(hidden, order, candidates, options);
        grouped.content = true;
    }
    if (ticked.similar) {
        if (!options.similar)
            throw std::invalid_argument("a search for similar pictures without their stage");
        order = options.similar->split(hidden, order, grouped, options, leftOut);
    }
    return order;
}

} // namespace fenwa
