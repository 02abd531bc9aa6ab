#include "similarsearch.h"

#include <algorithm>
#include <atomic>
#include <memory>

#include "picturefingerprint.h"
#include "resultlist.h"
#include "searchcache.h"
#include "similarindex.h"

namespace fenwa::similar {

namespace {

// The leader of each of `members` (positions in it): the index groups the hashes, and the
// colours must confirm each member's match with its leader (ConfirmSimilar).
std::vector<uint32_t> groupConfirmed(const std::vector<uint32_t>& members,
                                     const std::vector<PictureFingerprint>& printOf, int threshold,
                                     const std::atomic<bool>* stop) {
    std::vector<uint64_t> hashes;
    hashes.reserve(members.size());
    for (uint32_t row : members)
        hashes.push_back(printOf[row].hash);
    // The colours confirm each match with the leader; a member they refuse stays free for
    // a later leader, so two colour schemes of one drawing make two groups.
    const auto confirm = [&](uint32_t leader, uint32_t member) {
        const PictureFingerprint &a = printOf[members[leader]], &b = printOf[members[member]];
        return ConfirmSimilar(a.hash, a.colour, b.hash, b.colour, threshold);
    };
    return GroupFingerprints(hashes, threshold, {}, stop, confirm);
}

size_t stepOf(size_t done, size_t total) {
    return done == 0 ? 0 : std::min(done, total) - 1;
}

} // namespace

std::vector<uint32_t> SplitGroupsBySimilarity(FileRecordStore& hidden,
                                              const std::vector<uint32_t>& order,
                                              const Criteria& groupedBy,
                                              const RowFingerprinter& fingerprint, int threshold,
                                              const ContentCheckOptions& options,
                                              SimilarLeftOut* leftOut) {
    SimilarLeftOut counts;
    // The groups of `order`, and its pictures.
    std::vector<size_t> groupStarts;
    std::vector<uint32_t> pictures;
    for (size_t p = 0; p < order.size(); ++p) {
        if (p == 0 || (groupedBy.any() && !RowsMatch(hidden, order[p - 1], order[p], groupedBy)))
            groupStarts.push_back(p);
        if (IsImageName(hidden.name(order[p])))
            pictures.push_back(order[p]);
        else
            ++counts.notPictures;
    }
    groupStarts.push_back(order.size());

    if (options.beforeFingerprinting)
        options.beforeFingerprinting();
    std::vector<std::optional<PictureFingerprint>> hashOf(pictures.size());
    std::atomic<bool> stop{false};
    std::atomic<size_t> done{0};
    if (fingerprint)
        RunReaderJobs(
            pictures.size(), ReaderThreads(options.threads),
            [&](size_t i, unsigned) {
                hashOf[i] = fingerprint(hidden, pictures[i]);
                done.fetch_add(1, std::memory_order_relaxed);
            },
            stop, options.stop,
            [&] {
                if (options.progress)
                    options.progress(stepOf(done.load(), pictures.size()), pictures.size());
            });
    if (stop || (options.stop && options.stop->load()))
        return {};
    std::vector<PictureFingerprint> hashOfRow(hidden.size());
    std::vector<bool> hashed(hidden.size(), false);
    for (size_t i = 0; i < pictures.size(); ++i) {
        if (hashOf[i]) {
            hashOfRow[pictures[i]] = *hashOf[i];
            hashed[pictures[i]] = true;
        } else {
            ++counts.undecodable;
        }
    }

    std::vector<uint32_t> out;
    std::vector<uint32_t> members;
    for (size_t g = 0; g + 1 < groupStarts.size(); ++g) {
        members.clear();
        for (size_t p = groupStarts[g]; p < groupStarts[g + 1]; ++p)
            if (hashed[order[p]])
                members.push_back(order[p]);
        // Leaders are tried largest file first: the largest is most often the original the
        // others were made from (resized, recompressed, cropped, turned grey), and each of
        // them is closer to it than to one another, so it gathers them all. Ties go in
        // reading order, which keeps the answer deterministic.
        std::sort(members.begin(), members.end(), [&](uint32_t a, uint32_t b) {
            const int64_t sa = hidden.fileSize(a), sb = hidden.fileSize(b);
            return sa != sb ? sa > sb : a < b;
        });
        const std::vector<uint32_t> leader =
            groupConfirmed(members, hashOfRow, threshold, options.stop);
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
                byLeader[leader[i]].push_back(members[i]);
            }
        uint32_t id = FileRecordStore::reserveGroups(firstSeen.size());
        for (uint32_t l : firstSeen) {
            for (uint32_t row : byLeader[l]) {
                hidden.setGroup(row, id);
                out.push_back(row);
            }
            ++id;
        }
    }
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
                [cache](const FileRecordStore& rows, size_t row) {
                    return CachedFingerprint(cache.get(), rows, row);
                },
                LevelThreshold(SimilarLevel(r.similarLevel)));
        // The cache goes back to the file when the search ends, fingerprints too.
        if (!tools.contentCache)
            tools.contentCache = cache;
        return tools;
    };
}

} // namespace fenwa::similar
