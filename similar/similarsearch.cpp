#include "similarsearch.h"

#include <algorithm>
#include <atomic>
#include <memory>

#include "likeness.h"
#include "picturefingerprint.h"
#include "resultlist.h"
#include "searchcache.h"
#include "similarindex.h"

namespace fenwa::similar {

namespace {

// Prints made in the first reading are kept while they take no more than this; the rest
// are made again for the pictures that need them.
constexpr size_t PrintBudget = size_t(256) << 20;

size_t stepOf(size_t done, size_t total) {
    return done == 0 ? 0 : std::min(done, total) - 1;
}

constexpr uint32_t NoPicture = UINT32_MAX;

} // namespace

std::vector<uint32_t>
SplitGroupsBySimilarity(FileRecordStore& hidden, const std::vector<uint32_t>& order,
                        const Criteria& groupedBy, const RowFingerprinter& fingerprint,
                        SimilarLevel level, const ContentCheckOptions& options,
                        SimilarLeftOut* leftOut, const RowPrintKeeper& keep) {
    const int threshold = LevelThreshold(level);
    SimilarLeftOut counts;
    counts.listFiles = leftOut && leftOut->listFiles;
    const auto leave = [&](uint32_t row, LeftOutReason reason) {
        counts.add(reason, hidden.name(row), [&] { return hidden.fullPath(row); });
    };
    // The groups of `order`, and its pictures.
    std::vector<size_t> groupStarts;
    std::vector<uint32_t> pictures;
    for (size_t p = 0; p < order.size(); ++p) {
        if (p == 0 || (groupedBy.any() && !RowsMatch(hidden, order[p - 1], order[p], groupedBy)))
            groupStarts.push_back(p);
        if (IsImageName(hidden.name(order[p])))
            pictures.push_back(order[p]);
        else
            leave(order[p], LeftOutReason::NotPicture);
    }
    groupStarts.push_back(order.size());
    const auto cancelled = [&] { return options.stop && options.stop->load(); };
    // Runs job(i) for i below count on the reader threads, with progress and stop.
    const auto onReaders = [&](size_t count, const std::function<void(size_t)>& job) {
        std::atomic<bool> stop{false};
        std::atomic<size_t> done{0};
        RunReaderJobs(
            count, ReaderThreads(options.threads),
            [&](size_t i, unsigned) {
                job(i);
                done.fetch_add(1, std::memory_order_relaxed);
            },
            stop, options.stop,
            [&] {
                if (options.progress)
                    options.progress(stepOf(done.load(), count), count);
            });
        return !stop && !cancelled();
    };

    // First every picture's fingerprint; a print made on the way is kept within the budget.
    if (options.beforeFingerprinting)
        options.beforeFingerprinting();
    std::vector<PictureReading> readings(pictures.size());
    std::atomic<size_t> printBytes{0};
    if (fingerprint && !onReaders(pictures.size(), [&](size_t i) {
            PictureReading reading = fingerprint(hidden, pictures[i], false);
            const size_t size = reading.fingerprinted() ? reading.print.size() : 0;
            if (size == 0 || printBytes.fetch_add(size) + size > PrintBudget) {
                if (size > 0)
                    printBytes.fetch_sub(size);
                reading.print = std::string();
            }
            readings[i] = std::move(reading);
        }))
        return {};
    std::vector<uint32_t> pictureOf(hidden.size(), NoPicture);
    for (size_t i = 0; i < pictures.size(); ++i) {
        if (readings[i].fingerprinted())
            pictureOf[pictures[i]] = uint32_t(i);
        else if (readings[i].outcome == PictureOutcome::NearlyBlank)
            leave(pictures[i], LeftOutReason::NearlyBlank);
        else
            leave(pictures[i], LeftOutReason::Undecodable);
    }

    // Each group's fingerprinted pictures. Leaders are tried largest file first: the
    // largest is most often the original the others were made from (resized,
    // recompressed, cropped, turned grey), and each of them is closer to it than to one
    // another, so it gathers them all. Ties go in reading order, which keeps the answer
    // deterministic.
    const auto membersOf = [&](size_t g, const std::vector<char>& wanted) {
        std::vector<uint32_t> members;
        for (size_t p = groupStarts[g]; p < groupStarts[g + 1]; ++p)
            if (pictureOf[order[p]] != NoPicture && wanted[pictureOf[order[p]]])
                members.push_back(order[p]);
        std::sort(members.begin(), members.end(), [&](uint32_t a, uint32_t b) {
            const int64_t sa = hidden.fileSize(a), sb = hidden.fileSize(b);
            return sa != sb ? sa > sb : a < b;
        });
        return members;
    };
    const auto fingerprintOf = [&](uint32_t row) -> const PictureReading& {
        return readings[pictureOf[row]];
    };
    // The colours confirm a match (a member they refuse stays free for a later leader, so
    // two colour schemes of one drawing make two groups).
    const auto colours = [&](const std::vector<uint32_t>& members, uint32_t a, uint32_t b) {
        const PictureFingerprint &x = fingerprintOf(members[a]).fingerprint,
                                 &y = fingerprintOf(members[b]).fingerprint;
        return ConfirmSimilar(x.hash, x.colour, y.hash, y.colour, threshold);
    };
    const auto hashesOf = [&](const std::vector<uint32_t>& members) {
        std::vector<uint64_t> hashes;
        hashes.reserve(members.size());
        for (uint32_t row : members)
            hashes.push_back(fingerprintOf(row).fingerprint.hash);
        return hashes;
    };
    const auto centresOf = [&](const std::vector<uint32_t>& members) {
        std::vector<CentreHashes> centres;
        centres.reserve(members.size());
        for (uint32_t row : members)
            centres.push_back(fingerprintOf(row).fingerprint.centre);
        return centres;
    };

    // The candidates: pictures with a neighbour in their group that the colours confirm,
    // or a crop of one or cropped to one. Only they need a print; the others' are let go.
    const std::vector<char> all(pictures.size(), 1);
    std::vector<char> candidate(pictures.size(), 0);
    for (size_t g = 0; g + 1 < groupStarts.size(); ++g) {
        const std::vector<uint32_t> members = membersOf(g, all);
        const std::vector<CentreHashes> centres = centresOf(members);
        const std::vector<char> paired = ConfirmedNeighbours(
            hashesOf(members), threshold,
            [&](uint32_t a, uint32_t b) { return colours(members, a, b); }, options.stop, 0,
            &centres);
        for (size_t m = 0; m < members.size(); ++m)
            candidate[pictureOf[members[m]]] = paired[m];
    }
    if (cancelled())
        return {};
    std::vector<uint32_t> needed;
    for (size_t i = 0; i < pictures.size(); ++i) {
        if (candidate[i])
            needed.push_back(uint32_t(i));
        else
            readings[i].print = std::string();
    }

    // Then the candidates' prints: kept from the first reading, else from the cache or
    // decoded again. Only candidates' prints go to the cache, which stays small: a
    // picture without a neighbour never needs one.
    if (!onReaders(needed.size(), [&](size_t n) {
            const uint32_t i = needed[n];
            PictureReading& reading = readings[i];
            if (!reading.print.empty()) {
                if (keep)
                    keep(hidden, pictures[i], reading);
                return;
            }
            if (!fingerprint)
                return;
            PictureReading again = fingerprint(hidden, pictures[i], true);
            if (again.fingerprinted())
                reading.print = std::move(again.print);
        }))
        return {};
    for (uint32_t i : needed)
        if (readings[i].print.empty()) {
            // Could not be decoded again: it takes no part.
            candidate[i] = 0;
            pictureOf[pictures[i]] = NoPicture;
            leave(pictures[i], LeftOutReason::Undecodable);
        }

    std::vector<uint32_t> out;
    // Every kept row's likeness to its group's first row (LikenessPercent). The
    // comparison that confirmed a member measured it against its leader already; where
    // the leader is not the group's first row, the pair is compared once more below.
    std::vector<int> percentOf(hidden.size(), -1);
    std::vector<std::pair<uint32_t, uint32_t>> toMeasure; // (first row, row)
    for (size_t g = 0; g + 1 < groupStarts.size(); ++g) {
        // Pictures that are no candidates could join no one: they are left out at once.
        const std::vector<uint32_t> members = membersOf(g, candidate);
        // Each member's match with its leader is confirmed by the likeness prints, a match
        // of the whole pictures first by the colours (a crop's colours sit elsewhere).
        // A member is asked on one thread at a time and joins at its first yes, so its
        // slot is written once.
        std::vector<int> measured(members.size(), -1);
        const auto confirm = [&](uint32_t leader, uint32_t member, PairMatch how) {
            if (how.kind == PairMatch::Whole && !colours(members, leader, member))
                return false;
            const PictureReading &a = fingerprintOf(members[leader]),
                                 &b = fingerprintOf(members[member]);
            LikenessMeasure measure;
            const bool alike = VerifyLikeness(a.print, a.fingerprint, b.print, b.fingerprint, how,
                                              level, &measure);
            if (alike)
                measured[member] = LikenessPercent(measure);
            return alike;
        };
        const std::vector<uint32_t> leader =
            GroupFingerprintsWithCrops(hashesOf(members), centresOf(members), threshold,
                                       CropThreshold, {}, options.stop, confirm, 0, nullptr, true);
        // Groups come out by their first row in reading order, each in reading order.
        std::vector<uint32_t> byRow(members.size());
        for (size_t i = 0; i < members.size(); ++i)
            byRow[i] = uint32_t(i);
        std::sort(byRow.begin(), byRow.end(),
                  [&](uint32_t a, uint32_t b) { return members[a] < members[b]; });
        std::vector<uint32_t> groupSize(members.size(), 0);
        for (uint32_t l : leader)
            ++groupSize[l];
        std::vector<std::vector<uint32_t>> byLeader(members.size());
        std::vector<uint32_t> firstSeen; // leaders, by their group's first row
        for (uint32_t i : byRow)
            if (groupSize[leader[i]] >= 2) {
                if (byLeader[leader[i]].empty())
                    firstSeen.push_back(leader[i]);
                byLeader[leader[i]].push_back(i);
            }
        uint32_t id = FileRecordStore::reserveGroups(firstSeen.size());
        for (uint32_t l : firstSeen) {
            const uint32_t first = byLeader[l].front();
            for (uint32_t i : byLeader[l]) {
                const uint32_t row = members[i];
                hidden.setGroup(row, id);
                out.push_back(row);
                if (i == first)
                    percentOf[row] = 100;
                else if (first == l)
                    percentOf[row] = measured[i];
                else
                    toMeasure.emplace_back(members[first], row);
            }
            ++id;
        }
    }
    if (cancelled())
        return {};
    if (!onReaders(toMeasure.size(), [&](size_t n) {
            const auto [first, row] = toMeasure[n];
            const PictureReading &a = fingerprintOf(first), &b = fingerprintOf(row);
            percentOf[row] =
                LikenessPercent(MeasurePictures(a.print, a.fingerprint, b.print, b.fingerprint));
        }))
        return {};
    for (uint32_t row : out)
        if (percentOf[row] >= 0)
            hidden.setLikeness(row, uint8_t(percentOf[row]));
    if (leftOut)
        *leftOut = counts;
    return out;
}

void EquipSearch(SearchRequest& request) {
    const Criteria& ticked = request.criteria;
    if (!request.duplicatesOnly || !(ticked.content || ticked.similar))
        return;
    if (ticked.similar)
        PrepareFingerprinting();
    request.tools = [](const SearchRequest& r) {
        SearchTools tools;
        std::shared_ptr<SearchCache> cache;
        if (!r.cachePath.empty())
            cache = std::make_shared<SearchCache>(r.cachePath);
        if (r.criteria.content)
            tools.contentCache = cache;
        if (r.criteria.similar)
            tools.similar = std::make_shared<SimilarPictures>(
                [cache](const FileRecordStore& rows, size_t row, bool withPrint) {
                    return CachedPicture(cache.get(), rows, row, withPrint);
                },
                SimilarLevel(r.similarLevel),
                [cache](const FileRecordStore& rows, size_t row, const PictureReading& reading) {
                    KeepPicturePrint(cache.get(), rows, row, reading);
                });
        // The cache goes back to the file when the search ends, fingerprints too.
        if (!tools.contentCache)
            tools.contentCache = cache;
        return tools;
    };
}

} // namespace fenwa::similar
