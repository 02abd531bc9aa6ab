#include "deleteplanner.h"

#include <algorithm>
#include <map>
#include <span>

#include "contentcheck.h"
#include "pathrules.h"
#include "protection.h"
#include "replacefile.h"
#include "uitext.h"

namespace fenwa::actions {

namespace {

bool canReflinkOnDisk(const std::string& path, const std::string& keeper) {
    return platform::canReflink(keeper,
                                platform::directoryOfFile(platform::nativePathStyle(), path))
        .ok;
}

RowCheck compare(const FileRecordStore& rows, size_t row, const platform::FileState& now) {
    if (!now.exists)
        return RowCheck::Gone;
    if (!now.regularFile)
        return RowCheck::NotAFile;
    // A row read without its identity is compared by size and minute alone.
    if (rows.inode(row) != 0 &&
        (now.identity.inode != rows.inode(row) || now.identity.device != rows.device(row)))
        return RowCheck::Replaced;
    if (now.size != rows.fileSize(row))
        return RowCheck::SizeChanged;
    if (rows.changeStamp(row) != 0 ? now.changeStamp != rows.changeStamp(row)
                                   : platform::localMinuteOf(now.mtimeSeconds) != rows.minute(row))
        return RowCheck::TimeChanged;
    return RowCheck::Unchanged;
}

KeepReason keepReasonOf(RowCheck check) {
    switch (check) {
    case RowCheck::SizeChanged:
        return KeepReason::SizeChanged;
    case RowCheck::TimeChanged:
        return KeepReason::TimeChanged;
    case RowCheck::Replaced:
        return KeepReason::Replaced;
    default:
        return KeepReason::NotAFile;
    }
}

// Each file looked at, and hashed, at most once per plan.
class DiskNow {
public:
    DiskNow(const FileRecordStore& rows, const FileProbe& probe, const ContentHasher& hasher,
            PlanProgress* progress = nullptr)
        : rows_(rows), probe_(probe), hasher_(hasher), progress_(progress) {}

    bool stopped() const { return progress_ && progress_->stopRequested(); }

    const platform::FileState& state(size_t row) {
        auto [it, added] = states_.try_emplace(row);
        if (added && !probe_(rows_.fullPath(row), it->second))
            it->second = platform::FileState{};
        return it->second;
    }
    RowCheck check(size_t row) { return compare(rows_, row, state(row)); }
    // Still the bytes the content check hashed (true for rows never hashed).
    bool sameBytes(size_t row) {
        const ContentHash* stored = rows_.contentHash(row);
        if (!stored)
            return true;
        const std::optional<ContentHash>& now = wholeHash(row);
        return now && *now == *stored;
    }
    // The file's whole content hashed now; nothing when it cannot be read as it was.
    const std::optional<ContentHash>& wholeHash(size_t row) {
        auto [it, added] = bytes_.try_emplace(row);
        if (added && !stopped()) {
            ContentHash now;
            if (hasher_(rows_.fullPath(row), rows_.fileSize(row), now))
                it->second = now;
        }
        return it->second;
    }
    // A picture's fingerprint now, taken once per plan.
    const std::optional<similar::PictureLikeness>& fingerprint(size_t row,
                                                               const FingerprintChecker& take) {
        auto [it, added] = fingerprints_.try_emplace(row);
        if (added && !stopped()) {
            it->second = take(rows_.fullPath(row));
            if (progress_)
                progress_->add(uint64_t(std::max<int64_t>(rows_.fileSize(row), 0)));
        }
        return it->second;
    }
    // Whether a clone of `keeper` can stand in `row`'s directory: asked once per
    // directory and file system of the kept copy (the probe makes a file there).
    bool reflinkable(size_t row, size_t keeper, const DeleteRequest& request) {
        const auto key = std::make_pair(rows_.record(row).directory, state(keeper).identity.device);
        auto [it, added] = reflinkable_.try_emplace(key, false);
        if (added)
            it->second = (request.canReflink ? request.canReflink : ReflinkProbe(canReflinkOnDisk))(
                rows_.fullPath(row), rows_.fullPath(keeper));
        return it->second;
    }
    // Two rows whose paths lead to one directory entry.
    bool sameEntry(size_t a, size_t b) {
        return rows_.name(a) == rows_.name(b) && state(a).directory == state(b).directory &&
               state(a).directory != platform::FileIdentity{};
    }

private:
    const FileRecordStore& rows_;
    const FileProbe& probe_;
    const ContentHasher& hasher_;
    PlanProgress* progress_;
    std::map<size_t, platform::FileState> states_;
    std::map<size_t, std::optional<ContentHash>> bytes_;
    std::map<size_t, std::optional<similar::PictureLikeness>> fingerprints_;
    std::map<std::pair<uint32_t, uint64_t>, bool> reflinkable_;
};

bool stillSimilar(const std::optional<similar::PictureLikeness>& a,
                  const std::optional<similar::PictureLikeness>& b, similar::SimilarLevel level) {
    // As the similarity check groups: close hashes (or a crop) and prints that agree.
    return a && b &&
           similar::PicturesAlike(a->fingerprint, a->print, b->fingerprint, b->print, level);
}

void markProtected(const FileRecordStore& rows, const DeleteRequest& request, DeletePlan& plan) {
    if (request.protectedDirectories.empty())
        return;
    ProtectionCheck covered(rows, request.protectedDirectories);
    for (size_t row : plan.remove)
        if (covered.row(row))
            plan.protectedRows.push_back(row);
}

// Move: where each file goes, below the folder moved to as it lies below the deepest
// listed directory holding it. A file without one, or whose destination is taken (on
// the disk, or by a file before it), stays; the others are answered.
std::vector<size_t> planDestinations(const FileRecordStore& rows, const DeleteRequest& request,
                                     const std::vector<size_t>& candidates, const FileProbe& probe,
                                     DeletePlan& plan,
                                     std::map<size_t, std::string>& destinationOf) {
    const platform::PathStyle style = platform::nativePathStyle();
    std::vector<size_t> moving;
    std::map<std::string, size_t> taken;
    for (size_t row : candidates) {
        // Both spelt as the scanner spells directories (a listed one may have been typed
        // with a trailing separator), so that the part below can be cut off by length.
        const std::string directory = platform::normalizeDirectory(style, rows.directory(row));
        std::optional<std::string> listed;
        for (const std::string& l : request.listedDirectories) {
            std::string candidate = platform::normalizeDirectory(style, l);
            if (isWithinDirectory(directory, candidate) &&
                (!listed || candidate.size() > listed->size()))
                listed = std::move(candidate);
        }
        if (!listed || request.moveTo.empty() || listed->size() > directory.size()) {
            plan.kept.push_back({row, KeepReason::NotUnderListed});
            continue;
        }
        std::string_view below = std::string_view(directory).substr(listed->size());
        while (!below.empty() && platform::isSeparator(style, below.front()))
            below.remove_prefix(1);
        const std::string folder =
            below.empty() ? request.moveTo : platform::JoinPath(style, request.moveTo, below);
        std::string destination = platform::JoinPath(style, folder, rows.name(row));
        platform::FileState there;
        if ((probe(destination, there) && there.exists) ||
            !taken.emplace(destination, row).second) {
            plan.kept.push_back({row, KeepReason::TargetExists});
            continue;
        }
        destinationOf.emplace(row, std::move(destination));
        moving.push_back(row);
    }
    return moving;
}

void addDestinations(DeletePlan& plan, std::map<size_t, std::string>& destinationOf) {
    if (destinationOf.empty())
        return;
    for (size_t row : plan.remove)
        plan.destinations.push_back({row, std::move(destinationOf[row])});
}

// A replacement: the row's path will show the kept copy's bytes, so the copy must hold
// those very bytes now, hashed whole whatever the list compared. A row that is a staying
// row's file already is left alone: replacing it would replace that file too.
void planReplacement(const DeleteRequest& request, DiskNow& disk, size_t row,
                     const std::vector<size_t>& staying, DeletePlan& plan) {
    for (size_t other : staying)
        if (!disk.sameEntry(row, other) && disk.state(other).exists &&
            (disk.state(other).identity == disk.state(row).identity ||
             platform::oneFile(disk.state(row), disk.state(other)))) {
            plan.kept.push_back({row, KeepReason::AlreadySameFile});
            return;
        }
    const std::optional<ContentHash> mine = disk.wholeHash(row);
    if (!mine) {
        plan.kept.push_back({row, KeepReason::ContentChanged});
        return;
    }
    // The reason given is that of the copy that came closest.
    KeepReason reason = KeepReason::NoCopyLeft;
    const auto refuse = [&reason](KeepReason r) {
        if (reason == KeepReason::NoCopyLeft || reason == KeepReason::NotIdentical)
            reason = r;
    };
    for (size_t other : staying) {
        if (disk.sameEntry(row, other) || disk.check(other) != RowCheck::Unchanged ||
            !disk.sameBytes(other))
            continue;
        const std::optional<ContentHash>& theirs = disk.wholeHash(other);
        if (!theirs || *theirs != *mine) {
            refuse(KeepReason::NotIdentical);
            continue;
        }
        if (request.act == ActKind::HardLink &&
            disk.state(other).identity.device != disk.state(row).identity.device) {
            refuse(KeepReason::OtherFileSystem);
            continue;
        }
        if (request.act == ActKind::Reflink && !disk.reflinkable(row, other, request)) {
            refuse(KeepReason::NoReflink);
            continue;
        }
        plan.remove.push_back(row);
        plan.countedOn.push_back({row, other, std::nullopt, *mine});
        return;
    }
    plan.kept.push_back({row, reason});
}

} // namespace

RowCheck checkRow(const FileRecordStore& rows, size_t row, const platform::FileState& now) {
    return compare(rows, row, now);
}

RowCheck checkRow(const FileRecordStore& rows, size_t row, const FileProbe& probe) {
    platform::FileState now;
    if (!probe(rows.fullPath(row), now))
        now = platform::FileState{};
    return compare(rows, row, now);
}

const char* rowCheckText(RowCheck check) {
    switch (check) {
    case RowCheck::Unchanged:
        return say("unchanged", "未改變");
    case RowCheck::Gone:
        return say("the file no longer exists", "檔案已經不存在");
    case RowCheck::NotAFile:
        return say("no longer a regular file", "已不是一般檔案");
    case RowCheck::Replaced:
        return say("replaced by another file", "已被另一個檔案取代");
    case RowCheck::SizeChanged:
        return say("size changed", "大小已改變");
    case RowCheck::TimeChanged:
        return say("modification time changed", "修改時間已改變");
    }
    return "";
}

const char* keepReasonText(KeepReason reason) {
    switch (reason) {
    case KeepReason::SizeChanged:
        return rowCheckText(RowCheck::SizeChanged);
    case KeepReason::TimeChanged:
        return rowCheckText(RowCheck::TimeChanged);
    case KeepReason::Replaced:
        return rowCheckText(RowCheck::Replaced);
    case KeepReason::NotAFile:
        return rowCheckText(RowCheck::NotAFile);
    case KeepReason::ContentChanged:
        return say("content changed", "內容已改變");
    case KeepReason::NoCopyLeft:
        return say("no unchanged copy left", "同組已沒有未改變的副本");
    case KeepReason::NoLongerSimilar:
        return say("the pictures that stay are no longer similar", "留下的圖片已不再相似");
    case KeepReason::AlreadySameFile:
        return say("already the same file as the kept copy", "已經和留下的副本是同一個檔案");
    case KeepReason::NotIdentical:
        return say("its bytes differ from the kept copy's", "內容和留下的副本不完全相同");
    case KeepReason::OtherFileSystem:
        return say("on another file system than the kept copy: a hard link cannot join them",
                   "和留下的副本不在同一個檔案系統, 無法建立硬連結");
    case KeepReason::NoReflink:
        return say("its file system cannot share the kept copy's data (reflink)",
                   "所在的檔案系統無法和留下的副本共用資料 (reflink)");
    case KeepReason::TargetExists:
        return say("something already exists where it would be moved to", "移動的目的地已經有檔案");
    case KeepReason::NotUnderListed:
        return say("no listed directory holds it", "不在任何列出的目錄中");
    }
    return "";
}

namespace {

// The bytes a plan may read again: every row asked for and, in a duplicate list, the rest
// of their groups, each hashed or fingerprinted at most once.
uint64_t bytesToRead(const FileRecordStore& rows, const DeleteRequest& request,
                     const std::vector<size_t>& asked) {
    const bool fingerprinting = bool(request.fingerprint);
    // A replacement hashes every file it compares, and fingerprints none.
    const bool replacing = replacesWithKeeper(request.act);
    std::vector<bool> counted(rows.size(), false);
    uint64_t total = 0;
    const auto count = [&](size_t row) {
        if (counted[row])
            return;
        counted[row] = true;
        const uint64_t reads =
            (rows.contentHash(row) || replacing ? 1 : 0) + (fingerprinting && !replacing ? 1 : 0);
        total += uint64_t(std::max<int64_t>(rows.fileSize(row), 0)) * reads;
    };
    const RecordedGroups groups(rows, asked);
    for (const size_t& row : asked) {
        count(row);
        if (request.duplicateList)
            for (size_t member : groups.groupOf(rows, row))
                count(member);
    }
    return total;
}

DeletePlan PlanDeleteUnwatched(const FileRecordStore& rows, const DeleteRequest& request,
                               const FileProbe& probe, const ContentHasher& hasher,
                               PlanProgress* progress);

} // namespace

int PlanProgress::percent() const {
    const uint64_t total = total_, done = done_;
    return total == 0 ? 0 : int(std::min(done, total) * 100 / total);
}

DeletePlan PlanDelete(const FileRecordStore& rows, const DeleteRequest& request,
                      const FileProbe& probe, const ContentHasher& hasher, PlanProgress* progress) {
    DeletePlan plan = PlanDeleteUnwatched(rows, request, probe, hasher, progress);
    plan.cancelled = progress && progress->stopRequested();
    return plan;
}

namespace {

DeletePlan PlanDeleteUnwatched(const FileRecordStore& rows, const DeleteRequest& request,
                               const FileProbe& probe, const ContentHasher& hasher,
                               PlanProgress* progress) {
    DeletePlan plan;
    DiskNow disk(rows, probe, hasher, progress);
    std::vector<size_t> asked = request.rows;
    std::sort(asked.begin(), asked.end());
    asked.erase(std::unique(asked.begin(), asked.end()), asked.end());
    asked.erase(std::remove_if(asked.begin(), asked.end(),
                               [&rows](size_t row) { return row >= rows.size(); }),
                asked.end());
    if (progress)
        progress->setTotal(bytesToRead(rows, request, asked));

    // Each file on its own: still the one the search read, with the same bytes.
    std::vector<size_t> candidates;
    for (size_t row : asked) {
        const RowCheck check = disk.check(row);
        if (check == RowCheck::Gone)
            plan.gone.push_back(row);
        else if (check != RowCheck::Unchanged)
            plan.kept.push_back({row, keepReasonOf(check)});
        else if (!disk.sameBytes(row))
            plan.kept.push_back({row, KeepReason::ContentChanged});
        else
            candidates.push_back(row);
    }
    std::map<size_t, std::string> destinationOf;
    if (request.act == ActKind::Move)
        candidates = planDestinations(rows, request, candidates, probe, plan, destinationOf);
    // A replacement needs the kept copy of a group; without groups there is none.
    if (!request.duplicateList && replacesWithKeeper(request.act)) {
        for (size_t row : candidates)
            plan.kept.push_back({row, KeepReason::NoCopyLeft});
        return plan;
    }
    if (!request.duplicateList) {
        plan.remove = std::move(candidates);
        addDestinations(plan, destinationOf);
        markProtected(rows, request, plan);
        return plan;
    }

    // Then each group: what stays of it must still hold the data.
    std::vector<bool> deleting(rows.size(), false);
    for (size_t row : candidates)
        deleting[row] = true;
    std::vector<bool> asking(rows.size(), false);
    for (size_t row : asked)
        asking[row] = true;
    const auto isCopy = [&](size_t other) {
        return disk.check(other) == RowCheck::Unchanged && disk.sameBytes(other);
    };
    // A group's members are found by the id the search recorded, across the whole list:
    // neither the ticks of the moment nor the order of the rows change them.
    const RecordedGroups groups(rows, candidates);
    std::map<size_t, std::vector<size_t>> stayingOf; // by the group's first row
    for (const size_t& row : candidates) {
        std::span<const size_t> group = groups.groupOf(rows, row);
        if (group.empty())
            group = std::span<const size_t>(&row, 1);
        auto [entry, firstOfGroup] = stayingOf.try_emplace(group.front());
        std::vector<size_t>& staying = entry->second;
        if (firstOfGroup) {
            // Rows asked for but gone or kept stay in the list, not necessarily as copies.
            // A second spelling of an entry being deleted goes with it.
            const auto goesWithDeleted = [&](size_t r) {
                for (size_t d : group)
                    if (deleting[d] && disk.sameEntry(r, d))
                        return true;
                return false;
            };
            for (size_t r : group)
                if (!deleting[r] && !(asking[r] && disk.check(r) == RowCheck::Gone) &&
                    !goesWithDeleted(r))
                    staying.push_back(r);
            if (staying.empty() && !replacesWithKeeper(request.act))
                plan.lastCopies.push_back(group.front());
        }
        if (replacesWithKeeper(request.act)) {
            planReplacement(request, disk, row, staying, plan);
            continue;
        }
        if (staying.empty()) {
            plan.remove.push_back(row);
            continue;
        }
        // A copy is another entry that stays, unchanged. A hard link of this very file
        // among them keeps the data but means the delete frees no space; the file shown
        // again through a mirror mount goes with it. Similar pictures must still match.
        const bool similarList = bool(request.fingerprint);
        std::optional<size_t> copy;
        bool twinStays = false;
        bool notSimilar = false;
        for (size_t other : staying) {
            if (disk.sameEntry(row, other) || !isCopy(other))
                continue;
            const bool twin = disk.state(other).identity == disk.state(row).identity;
            if (!twin && platform::oneFile(disk.state(row), disk.state(other)))
                continue;
            if (similarList &&
                !stillSimilar(disk.fingerprint(row, request.fingerprint),
                              disk.fingerprint(other, request.fingerprint), request.similarLevel)) {
                notSimilar = true;
                continue;
            }
            if (!copy)
                copy = other;
            twinStays = twinStays || twin;
        }
        if (!copy) {
            plan.kept.push_back(
                {row, notSimilar ? KeepReason::NoLongerSimilar : KeepReason::NoCopyLeft});
            continue;
        }
        plan.remove.push_back(row);
        plan.countedOn.push_back(
            {row, *copy,
             similarList ? disk.fingerprint(*copy, request.fingerprint) : std::nullopt});
        if (twinStays)
            plan.sharedData.push_back(row);
    }
    addDestinations(plan, destinationOf);
    markProtected(rows, request, plan);
    return plan;
}

} // namespace

FileRecordStore SeenFileRow(const std::string& nativePath, const platform::FileState& seen) {
    FileRecordStore row;
    if (!seen.exists || !seen.regularFile || seen.identity.inode == 0)
        return row;
    const platform::PathStyle style = platform::nativePathStyle();
    size_t cut = nativePath.size();
    while (cut > 0 && !platform::isSeparator(style, nativePath[cut - 1]))
        --cut;
    const std::string directory = platform::directoryOfFile(style, nativePath);
    const std::string_view name = std::string_view(nativePath).substr(cut);
    // The row must name the very path that was seen.
    if (name.empty() || platform::JoinPath(style, directory, name) != nativePath)
        return row;
    row.append(row.internDirectory(directory, seen.identity.device), name, seen.size,
               platform::localMinuteOf(seen.mtimeSeconds), seen.identity.inode, seen.changeStamp);
    return row;
}

bool probeDisk(const std::string& nativePath, platform::FileState& now) {
    return platform::statFileNow(nativePath, now);
}

bool hashFileNow(const std::string& nativePath, int64_t size, ContentHash& hash) {
    return hashWholeFile(nativePath, size, hash);
}

ContentHasher watchedHasher(PlanProgress& progress) {
    return [&progress](const std::string& nativePath, int64_t size, ContentHash& hash) {
        return hashWholeFile(nativePath, size, hash, [&progress](size_t bytes) {
            progress.add(bytes);
            return !progress.stopRequested();
        });
    };
}

bool copyStillHolds(const FileRecordStore& rows, const DeletePlan::CountedOn& counted,
                    const DeleteRequest& request, const FileProbe& probe,
                    const ContentHasher& hasher) {
    DiskNow disk(rows, probe, hasher);
    if (disk.check(counted.copy) != RowCheck::Unchanged || !disk.sameBytes(counted.copy))
        return false;
    if (!request.fingerprint)
        return true;
    return counted.fingerprint &&
           disk.fingerprint(counted.copy, request.fingerprint) == counted.fingerprint;
}

} // namespace fenwa::actions

namespace fenwa::actions {

std::optional<size_t> keeperOf(const DeletePlan& plan, size_t row) {
    for (const DeletePlan::CountedOn& counted : plan.countedOn)
        if (counted.row == row)
            return counted.copy;
    return std::nullopt;
}

int64_t bytesFreed(const FileRecordStore& rows, const DeletePlan& plan) {
    int64_t bytes = 0;
    for (size_t row : plan.remove)
        // sharedData is in row order, as `remove` is.
        if (!std::binary_search(plan.sharedData.begin(), plan.sharedData.end(), row))
            bytes += std::max<int64_t>(rows.fileSize(row), 0);
    return bytes;
}

std::string describeAct(const FileRecordStore& rows, const DeletePlan& plan,
                        const DeleteRequest& request, size_t row, bool toTrash,
                        std::string_view prefix) {
    std::string line(prefix);
    const std::string path = rows.fullPath(row);
    switch (request.act) {
    case ActKind::Delete:
        return line + (toTrash ? "trash " : "delete ") + path;
    case ActKind::Move:
        for (const DeletePlan::Destination& d : plan.destinations)
            if (d.row == row)
                return line + "move " + path + " -> " + d.path;
        return line + "move " + path;
    default:
        break;
    }
    line += std::string(actKindName(request.act)) + " " + path;
    if (const std::optional<size_t> keeper = keeperOf(plan, row))
        line += " -> " + rows.fullPath(*keeper);
    return line;
}

} // namespace fenwa::actions
