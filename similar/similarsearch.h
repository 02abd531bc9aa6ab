#pragma once
// Similar pictures in a search: the split of a search's groups by likeness, and the one
// place where the window and the command line equip a search with the cache file and
// the picture fingerprints.

#include <functional>
#include <optional>
#include <vector>

#include "contentcheck.h"
#include "fingerprint.h"
#include "picturefingerprint.h"
#include "search.h"

namespace fenwa::similar {

// Reads a picture row (called on reader threads at once). Without `withPrint`: its
// fingerprint, and its likeness print too when it was decoded for it (the decode is the
// cost; the print then costs little). With `withPrint`: the print as well, decoded again
// when it was not kept.
using RowFingerprinter =
    std::function<PictureReading(const FileRecordStore&, size_t row, bool withPrint)>;
// Keeps the print a reading without `withPrint` made, once the picture turns out to need
// it (called on reader threads at once).
using RowPrintKeeper =
    std::function<void(const FileRecordStore&, size_t row, const PictureReading&)>;

// Splits every group of `order` (runs that match on `groupedBy`; with nothing ticked
// there, all of `order` is one group) into groups of similar pictures: in each group the
// pictures are taken largest first, each one not yet placed leads a group, and every
// other picture within the level's threshold of the leader (FingerprintDistance) whose
// colours confirm the match (ConfirmSimilar) and whose likeness print passes the check
// against the leader's (VerifyLikeness) joins it. Only pictures that have a neighbour the
// colours confirm need a print. Kept rows get their similar group in `hidden`; groups of
// one, files that are no pictures and pictures without a fingerprint or a needed print
// drop out (counted in `leftOut`). Each new group stands, in reading order, where its
// group stood, the groups ordered by their first rows.
std::vector<uint32_t>
SplitGroupsBySimilarity(FileRecordStore& hidden, const std::vector<uint32_t>& order,
                        const Criteria& groupedBy, const RowFingerprinter& fingerprint,
                        SimilarLevel level, const ContentCheckOptions& options = {},
                        SimilarLeftOut* leftOut = nullptr, const RowPrintKeeper& keep = {});

// The search's similar stage over a fingerprinter and a level.
class SimilarPictures : public SimilarStage {
public:
    SimilarPictures(RowFingerprinter fingerprint, SimilarLevel level, RowPrintKeeper keep = {})
        : fingerprint_(std::move(fingerprint)), keep_(std::move(keep)), level_(level) {}
    std::vector<uint32_t> split(FileRecordStore& hidden, const std::vector<uint32_t>& order,
                                const Criteria& groupedBy, const ContentCheckOptions& options,
                                SimilarLeftOut* leftOut) override {
        return SplitGroupsBySimilarity(hidden, order, groupedBy, fingerprint_, level_, options,
                                       leftOut, keep_);
    }

private:
    RowFingerprinter fingerprint_;
    RowPrintKeeper keep_;
    SimilarLevel level_;
};

// Fills in request.tools: with Content or Similar ticked and a cache path, one cache
// file for fingerprints and content hashes (opened on the search's thread); with Similar,
// the fingerprints of the pictures through it at the request's level. Call it on the
// main thread (the picture loaders get ready here).
void EquipSearch(SearchRequest& request);

} // namespace fenwa::similar
