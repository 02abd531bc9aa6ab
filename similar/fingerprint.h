#pragma once
// The perceptual fingerprint of a picture: a 64-bit hash that stays close under resizing,
// recompression, small changes of brightness and contrast, colour loss and small crops,
// and whose distance ignores the eight orientations (turns and mirrors).
//
// The greyscale picture is area-averaged to 32 x 32, centre-weighted by a Hann window
// (the border, which crops and corner marks change, counts little), the 8 x 8 lowest
// frequencies of its two-dimensional DCT-II are taken, and bit 8v + u is set when coefficient (u,
// v) is positive (u horizontal, v vertical); the DC coefficient's bit 0 is always clear. Signs
// ignore brightness and contrast. Mirroring the picture left-right negates the
// coefficients of odd u, top-bottom those of odd v, and a transpose swaps u and v, so the
// hash of any orientation is a bit operation on the hash: all eight come from one DCT.

#include <array>
#include <compare>
#include <cstdint>
#include <optional>

namespace fenwa::similar {

// Changes whenever the same picture could hash differently (caches key on it).
inline constexpr int FingerprintVersion = 3;

// Below this standard deviation of the 32 x 32 reduction (in grey levels) a picture is
// nearly blank: its signs are noise and would match every other blank picture, so it
// gets no fingerprint and takes no part. Real pictures measured 7 and above, blank
// overlays under 0.2.
inline constexpr double BlankDeviation = 2.0;

// Greyscale samples, rows top-down, `stride` bytes apart. Nothing for empty and nearly
// blank pictures.
std::optional<uint64_t> FingerprintGrey(const uint8_t* pixels, int width, int height, int stride);

// The same, saying why there is no hash: an empty picture cannot be read, a nearly blank
// one is counted apart.
enum class GreyOutcome { Hashed, Empty, NearlyBlank };
struct GreyFingerprint {
    GreyOutcome outcome = GreyOutcome::Empty;
    uint64_t hash = 0;
};
GreyFingerprint FingerprintGreyOutcome(const uint8_t* pixels, int width, int height, int stride);

// The hash of the picture turned by one of the eight orientations: bit 0 mirrors
// left-right, bit 1 top-bottom, bit 2 transposes (applied first).
uint64_t OrientedFingerprint(uint64_t hash, int orientation);

// Bit 8v + u of a hash is the sign of frequency (u, v). Mirroring flips the bits of odd u
// (OddColumns) or of odd v (OddRows); a transpose swaps u and v.
inline constexpr uint64_t OddColumns = 0xAAAAAAAAAAAAAAAAull;
inline constexpr uint64_t OddRows = 0xFF00FF00FF00FF00ull;

// The smallest Hamming distance between `a` and any orientation of `b`.
int FingerprintDistance(uint64_t a, uint64_t b);

// A second feature that confirms a match: the hue of each cell of a 4 x 4 grid, 4 bits a
// cell (cell 4 row + column), 0 where the cell is grey (too little chroma for a hue),
// else 1 + the hue in 15 steps. Hue survives brightness, contrast, saturation and
// recompression, and tells apart one drawing in different colour schemes, which the
// grey hash cannot. Samples are 3 bytes a pixel, RGB or JPEG's YCbCr, rows `stride`
// bytes apart.
enum class ColourSpace { Rgb, YCbCr };
uint64_t ColourLayout(const uint8_t* samples, int width, int height, int stride,
                      ColourSpace space = ColourSpace::Rgb);

// Whether two layouts agree in some orientation: at most a quarter of the cells coloured
// in both may differ by more than one hue step. With too few such cells (a grey copy)
// colour cannot tell.
enum class ColourMatch { Differ, Unknown, Agree };
ColourMatch CompareColours(uint64_t a, uint64_t b);

// The confirmation a match within `threshold` needs: colours that agree, or, when colour
// cannot tell, a hash within UnconfirmedMargin less (a grey copy of one drawing in
// several colour schemes is as close to each of them).
inline constexpr int UnconfirmedMargin = 2;
bool ConfirmSimilar(uint64_t hashA, uint64_t colourA, uint64_t hashB, uint64_t colourB,
                    int threshold);

// Hashes of centred parts of a picture, made the way the whole picture's hash is: a copy
// cropped to one of these parts (another aspect ratio, a tenth off each side) hashes
// close to it, though far from the whole. Part k: 0 the largest centred square, 1 the
// largest centred 16:9 rectangle (9:16 for a picture standing up), 2 the centre with
// CentreMargin off each side. A part's hash is 0 where it is under 32 pixels on a side,
// nearly blank, or nearly the whole picture (its whole hash already stands for it).
// Centred parts are the same parts in every orientation, so distances still ignore turns.
inline constexpr int CentreParts = 3;
inline constexpr double CentreMargin = 0.10;
using CentreHashes = std::array<uint64_t, CentreParts>;
CentreHashes CentreFingerprints(const uint8_t* pixels, int width, int height, int stride);

// What is kept of a picture: the hash that is indexed, the colour layout that confirms,
// and the hashes of its centred parts, which find crops.
struct PictureFingerprint {
    uint64_t hash = 0;
    uint64_t colour = 0;
    CentreHashes centre{};
    auto operator<=>(const PictureFingerprint&) const = default;
};

// Levels of likeness the user picks from, as the largest distance that still matches.
enum class SimilarLevel : int { Strict = 0, Normal = 1, Loose = 2 };
inline constexpr int SimilarLevelCount = 3;
int LevelThreshold(SimilarLevel level);

} // namespace fenwa::similar
