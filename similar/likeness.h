#pragma once
// The check two pictures pass before they are grouped. The fingerprint finds pairs that
// may be copies of each other fast, but a 64-bit hash of a 32 x 32 reduction cannot see a
// changed word, a figure pasted in or another pair of colours in a gradient. So each
// candidate pair is confirmed by comparing the two pictures themselves, region by region,
// after aligning one onto the other.
//
// A picture's likeness print is what that comparison needs, small enough to keep in the
// cache beside the fingerprint: the grey picture reduced to LikenessSide x LikenessSide
// (stretched to a square, whatever its shape; the shape is kept beside it), and the mean
// chroma of each cell of a LikenessChromaSide x LikenessChromaSide grid when the picture
// has colour. It is an opaque byte string: empty means "none".

#include <cstdint>
#include <string>

#include "fingerprint.h"
#include "similarindex.h"

namespace fenwa::similar {

inline constexpr int LikenessSide = 128;
inline constexpr int LikenessChromaSide = 16;

// The print of a decoded picture: `channels` 1 (grey) or 3 (RGB, or YCbCr as JPEG stores
// it), rows `stride` bytes apart. Empty for an empty picture.
std::string MakeLikenessPrint(const uint8_t* samples, int width, int height, int stride,
                              int channels, ColourSpace space = ColourSpace::Rgb);

// Whether a print is well formed (a damaged cache entry is not).
bool ValidLikenessPrint(const std::string& print);

// What the comparison of two prints measured: the alignment found (the member's
// normalised position (u, v) lies at m (u, v) + t in the leader, in the member's
// orientation `orientation`), the brightness fit, and the worst region.
struct LikenessMeasure {
    int orientation = 0;
    double m[4] = {1, 0, 0, 1};
    double t[2] = {0, 0};
    double gain = 1, offset = 0, saturation = 1;
    double residual = 1e9;     // root mean square difference after alignment, grey levels
    double covered = 0;        // share of the member that lies in the leader
    double area = 0;           // share of the leader the member covers
    int regions = 0;           // regions compared
    double worstStructure = 1; // lowest structural agreement of a region (1: same)
    double worstMean = 0;      // largest difference of a region's mean, grey levels
    double worstChroma = -1;   // largest chroma difference of a cell; -1: not compared
    // The same two outside the corner (a third of each side) that holds the worst.
    double structureBesideCorner = 1;
    double chromaBesideCorner = -1;
    double typicalStructure = 1;    // the median region's
    double meanStructure = 1;       // over every region compared
    int uneasyRegions = 0;          // regions below 0.98
    bool greyAgainstColour = false; // one print has colour, the other none
    double spread = 1; // the member's standard deviation over the leader's, whole prints
};
LikenessMeasure MeasureLikeness(const std::string& leaderPrint, uint64_t leaderHash,
                                const std::string& memberPrint, uint64_t memberHash);

// Whether the member is a copy of the leader, as far as the prints tell: the two are
// aligned in the orientation their fingerprints are closest in (ties tried each), over
// scale, shift, a few percent of crop, another aspect ratio and a slight turn, and then
// compared region by region, after matching brightness and contrast within the range a
// copy keeps. `level` picks how much change is tolerated. A pair with a missing or
// malformed print is not confirmed.
bool VerifyLikeness(const std::string& leaderPrint, uint64_t leaderHash,
                    const std::string& memberPrint, uint64_t memberHash, SimilarLevel level);

// The check for a pair the index found `how` (PairMatch): a whole match is aligned in
// the orientation the whole hashes agree in, a crop in the one its part's hash does.
// `measured`, when given, receives what the comparison measured.
bool VerifyLikeness(const std::string& leaderPrint, const PictureFingerprint& leader,
                    const std::string& memberPrint, const PictureFingerprint& member, PairMatch how,
                    SimilarLevel level, LikenessMeasure* measured = nullptr);

// How alike the member is to the leader in percent, as a list shows it: the mean
// structural agreement of their regions once aligned (MeasureLikeness), times 100. 100:
// no region the comparison sees differs in its pattern of light and dark; a copy
// recompressed or resized keeps the high nineties, a mark or an edit takes off what its
// regions lose, and unrelated pictures come near 0. A crop counts by the part the two
// share; colour, which the grouping checks, is not graded. -1 when the prints could not
// be compared at all.
int LikenessPercent(const LikenessMeasure& measure);

// The two pictures compared for LikenessPercent, aligned in the orientation their closest
// hashes agree in: whole against whole, or a centred part of one against the other whole
// (whichever pair of hashes is nearest), as a search would have paired them.
LikenessMeasure MeasurePictures(const std::string& leaderPrint, const PictureFingerprint& leader,
                                const std::string& memberPrint, const PictureFingerprint& member);

// A picture as the delete planner reads it again: its fingerprint and its print.
struct PictureLikeness {
    PictureFingerprint fingerprint;
    std::string print;
    bool operator==(const PictureLikeness&) const = default;
};

// Whether two pictures are still copies of each other at `level` as a search would group
// them: their whole hashes within the level's threshold with colours that confirm, or one
// a crop of a centred part of the other (CropThreshold); and their prints agree. The
// delete planner asks this again of the files as they are when it acts.
bool PicturesAlike(const PictureFingerprint& a, const std::string& printA,
                   const PictureFingerprint& b, const std::string& printB, SimilarLevel level);

} // namespace fenwa::similar
