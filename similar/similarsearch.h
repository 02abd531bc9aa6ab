#pragma once
// Similar pictures in a search: the split of a search's groups by likeness, and the one
// place where the window and the command line equip a search with the cache file and
// the picture fingerprints.

#include <functional>
#include <optional>
#include <vector>

#include "contentcheck.h"
#include "fingerprint.h"
#include "search.h"

namespace fenwa::similar {

// The fingerprint of a picture row (called on reader threads at once; nothing when the
// picture cannot be decoded).
using RowFingerprinter =
    std::function<std::optional<PictureFingerprint>(const FileRecordStore&, size_t row)>;

// Splits every group of `order` (runs that match on `groupedBy`; with nothing ticked
// there, all of `order` is one group) into groups of similar pictures: in each group the
// pictures are taken largest first, each one not yet placed leads a group, and every
// other picture within `threshold` of the leader (FingerprintDistance) whose colours
// confirm the match (ConfirmSimilar) joins it. Kept rows get their similar group in
// `hidden`; groups of one, files that are no pictures and pictures without a fingerprint
// drop out (counted in `leftOut`). Each new group stands, in reading order, where its
// group stood, the groups ordered by their first rows.
std::vector<uint32_t> SplitGroupsBySimilarity(FileRecordStore& hidden,
                                              const std::vector<uint32_t>& order,
                                              const Criteria& groupedBy,
                                              const RowFingerprinter& fingerprint, int threshold,
                                              const ContentCheckOptions& options = {},
                                              SimilarLeftOut* leftOut = nullptr);

// The search's similar stage over a fingerprinter and a threshold.
class SimilarPictures : public SimilarStage {
public:
    SimilarPictures(RowFingerprinter fingerprint, int threshold)
        : fingerprint_(std::move(fingerprint)), threshold_(threshold) {}
    std::vector<uint32_t> split(FileRecordStore& hidden, const std::vector<uint32_t>& order,
                                const Criteria& groupedBy, const ContentCheckOptions& options,
                                SimilarLeftOut* leftOut) override {
        return SplitGroupsBySimilarity(hidden, order, groupedBy, fingerprint_, threshold_, options,
                                       leftOut);
    }

private:
    RowFingerprinter fingerprint_;
    int threshold_;
};

// Fills in request.tools: with Content or Similar ticked and a cache path, one cache
// file for fingerprints and content hashes (opened on the search's thread); with Similar,
// the fingerprints of the pictures through it at the request's level. Call it on the
// main thread (the picture loaders get ready here).
void EquipSearch(SearchRequest& request);

} // namespace fenwa::similar
