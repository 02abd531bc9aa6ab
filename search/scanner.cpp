#include "scanner.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <deque>
#include <limits>
#include <mutex>
#include <optional>
#include <unordered_set>

#include "directorycollation.h"
#include "filesystem.h"
#include "uitext.h"
#include "workerpool.h"

namespace fenwa {

using platform::nativePathStyle;

bool SearchFilter::keeps(std::string_view name, int64_t size) const {
    if (size < minSize || (skipEmpty && size == 0) || (maxSize > 0 && size > maxSize))
        return false;
    return !picturesOnly || IsImageName(name);
}

namespace {

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

} // namespace

std::optional<int64_t> ParseFileSize(std::string_view text) {
    text = trimmed(text);
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    size_t i = 0;
    uint64_t whole = 0;
    for (; i < text.size() && digit(text[i]); ++i) {
        const uint64_t d = uint64_t(text[i] - '0');
        if (whole > (uint64_t(std::numeric_limits<int64_t>::max()) - d) / 10)
            return std::nullopt;
        whole = whole * 10 + d;
    }
    const size_t wholeDigits = i;
    // The fraction's digits, as many as make a difference to a size in bytes.
    long double fraction = 0, scale = 1;
    size_t fractionDigits = 0;
    const bool point = i < text.size() && text[i] == '.';
    if (point)
        for (++i; i < text.size() && digit(text[i]); ++i, ++fractionDigits)
            if (fractionDigits < 18)
                fraction += (text[i] - '0') / (scale *= 10);
    if (wholeDigits + fractionDigits == 0)
        return std::nullopt;
    while (i < text.size() && text[i] == ' ')
        ++i;
    int shift = 0;
    if (i < text.size()) {
        switch (text[i]) {
        case 'k':
        case 'K':
            shift = 10;
            break;
        case 'm':
        case 'M':
            shift = 20;
            break;
        case 'g':
        case 'G':
            shift = 30;
            break;
        default:
            break;
        }
        if (shift)
            ++i;
        if (i < text.size() && (text[i] == 'b' || text[i] == 'B'))
            ++i;
    }
    // A part of a byte is no size.
    if (i != text.size() || (point && shift == 0))
        return std::nullopt;
    if (whole > (uint64_t(std::numeric_limits<int64_t>::max()) >> shift) - 1)
        return std::nullopt;
    return int64_t(whole << shift) + int64_t(std::llround(fraction * (1ull << shift)));
}

std::string ReadFilterSizes(std::string_view minText, std::string_view maxText,
                            SearchFilter& filter) {
    const auto read = [](std::string_view text, int64_t& out, const char* english,
                         const char* chinese) -> std::string {
        out = 0;
        if (trimmed(text).empty())
            return {};
        const std::optional<int64_t> size = ParseFileSize(text);
        if (size) {
            out = *size;
            return {};
        }
        std::string message = say(english, chinese);
        const size_t at = message.find("%1");
        return message.replace(at, 2, std::string(trimmed(text)));
    };
    std::string problem =
        read(minText, filter.minSize,
             "The minimum size '%1' is not a size: write a number of bytes, or a number with k, M "
             "or G after it (1k is 1024 bytes).",
             "最小檔案大小 '%1' 不是大小: 請輸入位元組數, 或在數字後加上 k, M 或 G (1k 是 1024 "
             "位元組)。");
    if (problem.empty())
        problem = read(maxText, filter.maxSize,
                       "The maximum size '%1' is not a size: write a number of bytes, or a "
                       "number with k, M or G after it (1k is 1024 bytes).",
                       "最大檔案大小 '%1' 不是大小: 請輸入位元組數, 或在數字後加上 k, M 或 G "
                       "(1k 是 1024 位元組)。");
    if (problem.empty() && filter.maxSize > 0 && filter.maxSize < filter.minSize)
        problem = std::string(say("The maximum size is smaller than the minimum size: no file "
                                  "could be found.",
                                  "最大檔案大小小於最小檔案大小: 找不到任何檔案。"));
    return problem;
}

std::vector<std::string> ScanSession::setFilter(const SearchFilter& filter) {
    filter_ = filter;
    filterFiles_ = filter.leavesOutFiles();
    filteredOut_ = 0;
    skip_.clear();
    std::vector<std::string> notFound;
    for (const std::string& folder : filter.skipFolders) {
        platform::DirectoryHandle handle;
        platform::FileIdentity id;
        if (folder.empty())
            continue;
        if (!handle.open(folder) || !handle.identity(id))
            notFound.push_back(folder);
        else if (std::find(skip_.begin(), skip_.end(), id) == skip_.end())
            skip_.push_back(id);
    }
    skipMet_ = std::make_unique<std::atomic<bool>[]>(skip_.size());
    return notFound;
}

size_t ScanSession::foldersSkipped() const {
    size_t met = 0;
    for (size_t i = 0; i < skip_.size(); ++i)
        met += skipMet_[i].load(std::memory_order_relaxed) ? 1 : 0;
    return met;
}

void sortDirectoryNames(std::vector<std::string>& texts) {
    if (texts.size() < 2)
        return;
    CollateDirectoryNames(texts);
}

size_t ListSubdirectories(const std::string& dir, std::vector<std::string>& list) {
    std::vector<std::string> found;
    platform::forEachSubdirectory(dir, [&](std::string_view name) {
        found.push_back(platform::JoinPath(nativePathStyle(), dir, name));
    });
    size_t count = found.size();
    list.insert(list.end(), std::make_move_iterator(found.begin()),
                std::make_move_iterator(found.end()));
    sortDirectoryNames(list);
    return count;
}

namespace {

// The full texts of a directory's subdirectories `names`, in sibling order, into
// `children`; answers the length of the directory's prefix in each.
size_t childrenOf(const std::string& text, const std::vector<std::string>& names,
                  std::vector<std::string>& children) {
    const std::string prefix = platform::JoinPath(nativePathStyle(), text, "");
    children.clear();
    for (const std::string& name : names)
        children.push_back(prefix + name);
    sortDirectoryNames(children);
    return prefix.size();
}

// Walks a tree in pre-order, siblings in the order sortDirectoryNames gives, opening
// every directory relative to its parent by name: no path length limit applies, so a
// tree nested thousands of levels deep is walked whole. At most a few dozen directories
// are held open however deep the tree is: the newest levels of the current branch and
// every 32nd level above them. A level closed on the way down is opened again from the
// nearest open one above it when the walk comes back to its remaining children. A
// directory met a second time (a bind mount looping back into its own tree) is not
// walked again. Links are never followed.
class TreeWalker {
public:
    // visit(text, handle, identity, subdirectoryNames) is called once per directory in
    // walk order; it reads the directory through the handle (which may be closed when
    // the directory could not be opened) and appends the names of its subdirectories.
    // It answers false to end the walk.
    template <class Visit> void walk(const std::string& dir, Visit&& visit) {
        top_ = {};
        walkFrom(platform::normalizeDirectory(nativePathStyle(), dir), visit);
    }

    // Directories the walk must not enter: those read before it, or above where it starts,
    // and the session's skipped folders. The session is only read while the walk runs.
    void avoid(const ScanSession* session) { avoid_ = session; }

    // The same walk below `text`, which `top` holds open.
    template <class Visit>
    void walk(const std::string& text, platform::DirectoryHandle&& top, Visit&& visit) {
        top_ = std::move(top);
        walkFrom(text, visit);
    }

private:
    template <class Visit> void walkFrom(const std::string& text, Visit& visit) {
        struct Pending {
            std::string text;
            uint32_t depth;
        };
        std::vector<Pending> pending{{text, 0}};
        std::vector<std::string> names;
        std::vector<std::string> children;
        while (!pending.empty()) {
            Pending current = std::move(pending.back());
            pending.pop_back();
            enter(current.text, current.depth);
            const platform::DirectoryHandle& handle = chain_.back().handle;
            platform::FileIdentity id;
            if (handle.isOpen() && handle.identity(id) &&
                ((avoid_ && (avoid_->wasRead(id) || avoid_->skips(id))) ||
                 !visited_.insert(id).second))
                continue;
            names.clear();
            if (!visit(current.text, handle, id, names))
                break;
            childrenOf(current.text, names, children);
            // Pushed in reverse so the first sibling is walked next: pre-order.
            for (auto it = children.rbegin(); it != children.rend(); ++it)
                pending.push_back({std::move(*it), current.depth + 1});
        }
        chain_.clear();
    }

    static constexpr size_t RecentLevels = 32;
    static constexpr size_t KeptEvery = 32;

    struct Level {
        std::string name;
        platform::DirectoryHandle handle;
    };

    // Makes the directory `text` at `depth` the last level of the chain.
    void enter(const std::string& text, uint32_t depth) {
        if (depth == 0) {
            chain_.clear();
            chain_.push_back({text, {}});
            if (top_.isOpen())
                chain_.back().handle = std::move(top_);
            else
                chain_.back().handle.open(text);
            return;
        }
        chain_.resize(depth); // its parent is now the last level
        Level level{text.substr(text.size() - nameLength(text)), {}};
        const platform::DirectoryHandle& parent = reopened(depth - 1);
        level.handle.openChild(parent, level.name);
        chain_.push_back(std::move(level));
        // Keeps the number of open directories bounded on a deep branch.
        if (chain_.size() > RecentLevels + 1) {
            const size_t old = chain_.size() - RecentLevels - 1;
            if (old % KeptEvery != 0)
                chain_[old].handle.close();
        }
    }

    // The handle of chain level `depth`, opened again from the nearest open level above
    // it when it was closed to save descriptors.
    const platform::DirectoryHandle& reopened(size_t depth) {
        if (chain_[depth].handle.isOpen())
            return chain_[depth].handle;
        size_t from = depth;
        while (from > 0 && !chain_[from].handle.isOpen())
            --from;
        if (!chain_[from].handle.isOpen())
            return chain_[depth].handle; // the top could not be opened: nothing below can
        platform::DirectoryHandle step;
        const platform::DirectoryHandle* above = &chain_[from].handle;
        for (size_t i = from + 1; i <= depth; ++i) {
            platform::DirectoryHandle next;
            if (!next.openChild(*above, chain_[i].name))
                break;
            step = std::move(next);
            above = &step;
            if (i == depth)
                chain_[depth].handle = std::move(step);
        }
        return chain_[depth].handle;
    }

    static size_t nameLength(const std::string& text) {
        const size_t slash = text.find_last_of(platform::pathSeparator(nativePathStyle()));
        return slash == std::string::npos ? text.size() : text.size() - slash - 1;
    }

    platform::DirectoryHandle top_;
    std::vector<Level> chain_;
    const ScanSession* avoid_ = nullptr;
    std::unordered_set<platform::FileIdentity, platform::FileIdentityHash> visited_;
};

} // namespace

size_t CollectDirectories(const std::string& dir, std::vector<std::string>& list) {
    // The texts are exact (POSIX names differ by case); a directory reached twice is
    // listed once.
    std::unordered_set<std::string> listed(list.begin(), list.end());
    size_t added = 0;
    TreeWalker walker;
    walker.walk(dir, [&](const std::string& text, const platform::DirectoryHandle& handle,
                         const platform::FileIdentity&, std::vector<std::string>& subdirectories) {
        if (listed.insert(text).second) {
            list.push_back(text);
            ++added;
        }
        handle.read(nullptr, subdirectories);
        return true;
    });
    return added;
}

namespace {

// Reads one directory's files that pass the filter (all without one) into `store`
// (interning its text only when it has files) and appends its subdirectories' names.
// Answers the number of files the filter left out.
size_t readInto(const std::string& text, const platform::DirectoryHandle& handle,
                const platform::FileIdentity& id, const SearchFilter* filter,
                FileRecordStore& store, std::vector<std::string>& subdirectories) {
    uint32_t directory = UINT32_MAX;
    size_t filteredOut = 0;
    handle.read(
        [&](const platform::FileEntry& e) {
            if (filter && !filter->keeps(e.name, e.size)) {
                ++filteredOut;
                return;
            }
            if (directory == UINT32_MAX)
                directory = store.internDirectory(text, id.device);
            // A file bind-mounted over an entry lives on another device than its
            // directory: its identity is not kept, so no check ever trusts it.
            const bool sameDevice = e.identity.device == id.device;
            store.append(directory, e.name, e.size, platform::localMinuteOf(e.mtimeSeconds),
                         sameDevice ? e.identity.inode : 0, sameDevice ? e.changeStamp : 0);
        },
        subdirectories);
    return filteredOut;
}

} // namespace

size_t ReadFiles(const std::string& dir, FileRecordStore& store, ScanSession* session) {
    ScanSession own;
    ScanSession& s = session ? *session : own;
    s.addKnown(1);
    platform::DirectoryHandle handle;
    platform::FileIdentity id;
    const size_t before = store.size();
    if (handle.open(dir) && handle.identity(id) && !s.skips(id) && s.firstReading(id)) {
        std::vector<std::string> ignored;
        s.addFilteredOut(readInto(dir, handle, id, s.fileFilter(), store, ignored));
    }
    s.addRead(1);
    return store.size() - before;
}

size_t ReadDirectory(const std::string& dir, FileRecordStore& store, bool includeSubdirectories,
                     ScanSession* session) {
    if (!includeSubdirectories)
        return ReadFiles(dir, store, session);
    ScanSession own;
    ScanSession& s = session ? *session : own;
    const size_t before = store.size();

    // The top of the tree is read here, down to the first directory with more than one
    // subdirectory. Its subtrees are then walked side by side, each into a store of its
    // own, and the stores are joined in walk order: the rows come out exactly as one
    // pre-order walk would give them, each directory's files read while it is open.
    std::string text = platform::normalizeDirectory(nativePathStyle(), dir);
    const uint64_t blocksBefore = ThreadBlocksRead();
    platform::DirectoryHandle top;
    top.open(text);
    std::vector<std::string> names, children;
    // Where each directory's rows lie in its subtree's store, so that a directory read by
    // two subtrees (a bind mount of one inside another) keeps only its first reading.
    struct Span {
        platform::FileIdentity id;
        size_t first = 0;
        size_t end = 0;
        size_t filteredOut = 0; // files the filter left out of it
    };
    // A unit of the walk: the subtree under a directory, opened by its name from its
    // parent's handle; or (filesOnly) the files of a directory already read.
    struct Subtree {
        std::string text;
        FileRecordStore rows;
        std::vector<Span> spans;
        const platform::DirectoryHandle* parent = nullptr;
        size_t nameFrom = 0; // where the name in `parent` begins in `text`
        bool filesOnly = false;
    };
    std::vector<Subtree> subtrees;
    s.addKnown(1);
    for (;;) {
        if (s.stopRequested())
            return store.size() - before;
        platform::FileIdentity id;
        if (!top.isOpen() || !top.identity(id) || s.skips(id) || !s.firstReading(id)) {
            s.addRead(1);
            break; // unreadable, skipped, or read already through another spelling
        }
        names.clear();
        s.addFilteredOut(readInto(text, top, id, s.fileFilter(), store, names));
        s.addRead(1);
        const size_t prefix = childrenOf(text, names, children);
        s.addKnown(children.size());
        if (children.size() == 1) {
            platform::DirectoryHandle child;
            child.openChild(top, std::string_view(children[0]).substr(prefix));
            top = std::move(child);
            text = std::move(children[0]);
            continue;
        }
        for (std::string& child : children)
            subtrees.push_back({std::move(child), {}, {}, &top, prefix});
        break;
    }

    // A few subtrees may hold most of the tree (a folder of photos beside two small
    // ones), and one thread would then read it alone: while there are fewer subtrees
    // than the threads can share, each is opened one level further, its own files
    // becoming a unit of their own before its subdirectories'. Which reading of a
    // directory reached twice is kept is still decided in walk order at the end, so the
    // directories read here are not marked read yet.
    std::deque<platform::DirectoryHandle> opened; // parents of the units made here
    constexpr size_t EnoughUnits = 16, MostUnits = 4096;
    for (int level = 0; level < 2 && !s.stopRequested(); ++level) {
        if (subtrees.size() >= EnoughUnits || subtrees.size() < 2)
            break;
        std::vector<Subtree> split;
        for (Subtree& subtree : subtrees) {
            platform::DirectoryHandle& handle = opened.emplace_back();
            platform::FileIdentity dirId;
            names.clear();
            if (subtree.filesOnly || split.size() >= MostUnits ||
                !handle.openChild(*subtree.parent,
                                  std::string_view(subtree.text).substr(subtree.nameFrom)) ||
                !handle.identity(dirId) || s.wasRead(dirId) || s.skips(dirId)) {
                opened.pop_back();
                split.push_back(std::move(subtree));
                continue;
            }
            Subtree files{subtree.text, {}, {}, nullptr, 0, true};
            const size_t filteredOut =
                readInto(subtree.text, handle, dirId, s.fileFilter(), files.rows, names);
            files.spans.push_back({dirId, 0, files.rows.size(), filteredOut});
            s.addRead(1);
            s.addKnown(names.size());
            split.push_back(std::move(files));
            const size_t prefix = childrenOf(subtree.text, names, children);
            for (std::string& child : children)
                split.push_back({std::move(child), {}, {}, &handle, prefix});
        }
        subtrees = std::move(split);
    }

    // Each subtree is joined to the store as soon as it and every subtree before it are
    // read, by the worker that finished last, while the others walk on: what is left
    // after the walk is the last few joins. A directory that an earlier subtree read
    // already keeps only that first reading. The stores of joined subtrees are emptied
    // and walked into again, so their memory is not cleared afresh for every subtree.
    struct Join {
        std::mutex lock;
        size_t next = 0;
        std::vector<char> read;
        std::unordered_set<platform::FileIdentity, platform::FileIdentityHash> firstReadings;
        std::vector<platform::FileIdentity> inOrder;
        size_t filteredOut = 0;
        std::vector<FileRecordStore> spare;
    } join;
    join.read.assign(subtrees.size(), 0);
    std::vector<bool> drop;
    const auto joinReadSubtrees = [&] {
        for (; join.next < subtrees.size() && join.read[join.next]; ++join.next) {
            Subtree& subtree = subtrees[join.next];
            if (s.stopRequested())
                continue;
            drop.clear();
            for (const Span& span : subtree.spans) {
                // The walkers left out every directory the session read before.
                const bool first = join.firstReadings.insert(span.id).second;
                if (first) {
                    join.inOrder.push_back(span.id);
                    join.filteredOut += span.filteredOut;
                }
                if (first || span.first == span.end)
                    continue;
                drop.resize(subtree.rows.size(), false);
                std::fill(drop.begin() + long(span.first), drop.begin() + long(span.end), true);
            }
            if (!drop.empty())
                subtree.rows.removeRows(drop);
            store.appendCopy(subtree.rows);
            s.rowsAdded(store);
            subtree.rows.clearKeepingRoom();
            join.spare.push_back(std::move(subtree.rows));
            subtree.spans = {};
        }
    };

    // A failure on one worker stops the others' walks too, not only their next subtree.
    std::atomic<bool> failed = false;
    const auto walkSubtree = [&](size_t i, unsigned) {
        Subtree& subtree = subtrees[i];
        try {
            if (!subtree.filesOnly) {
                {
                    std::lock_guard<std::mutex> hold(join.lock);
                    if (!join.spare.empty()) {
                        subtree.rows = std::move(join.spare.back());
                        join.spare.pop_back();
                    }
                }
                platform::DirectoryHandle handle;
                handle.openChild(*subtree.parent,
                                 std::string_view(subtree.text).substr(subtree.nameFrom));
                TreeWalker walker;
                walker.avoid(&s);
                walker.walk(
                    subtree.text, std::move(handle),
                    [&](const std::string& dirText, const platform::DirectoryHandle& h,
                        const platform::FileIdentity& id,
                        std::vector<std::string>& subdirectories) {
                        if (failed || s.stopRequested())
                            return false;
                        const size_t first = subtree.rows.size();
                        const size_t filteredOut =
                            readInto(dirText, h, id, s.fileFilter(), subtree.rows, subdirectories);
                        subtree.spans.push_back({id, first, subtree.rows.size(), filteredOut});
                        s.addRead(1);
                        s.addKnown(subdirectories.size());
                        return true;
                    });
                // A subtree whose top could not be opened was still counted as known.
                if (subtree.spans.empty())
                    s.addRead(1);
            }
            std::lock_guard<std::mutex> hold(join.lock);
            join.read[i] = 1;
            joinReadSubtrees();
        } catch (...) {
            failed = true;
            throw;
        }
    };
    // The caller and its helpers: at most one thread for two subtrees. Where reading the
    // top of the tree had to go to the disk, the walk will mostly wait for it: more
    // walkers then keep several reads in flight.
    const unsigned walkers = subtrees.size() < 2 ? 1
                             : ThreadBlocksRead() > blocksBefore
                                 ? std::max(WorkerThreads(), DiskWaitingThreads)
                                 : WorkerThreads();
    RunWorkers(subtrees.size(), unsigned(std::min<size_t>(walkers, 1 + subtrees.size() / 2)),
               walkSubtree);
    if (s.stopRequested())
        return store.size() - before;
    for (const platform::FileIdentity& id : join.inOrder)
        s.firstReading(id);
    s.addFilteredOut(join.filteredOut);
    return store.size() - before;
}

} // namespace fenwa
