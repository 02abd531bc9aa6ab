#pragma once
// The perceptual fingerprint of a picture: a 64-bit hash that stays close under resizing,
// recompression, small changes of brightness and contrast, colour loss and small crops,
// and whose distance ignores the eight orientations (turns and mirrors).
//
// The greyscale picture is area-averaged to 32 x 32, the 8 x 8 lowest frequencies of its
// two-dimensional DCT-II are taken, and bit 8v + u is set when coefficient (u, v) is
// positive (u horizontal, v vertical); the DC coefficient's bit 0 is always clear. Signs
// ignore brightness and contrast. Mirroring the picture left-right negates the
// coefficients of odd u, top-bottom those of odd v, and a transpose swaps u and v, so the
// hash of any orientation is a bit operation on the hash: all eight come from one DCT.

#include <cstdint>

namespace fenwa::similar {

// Changes whenever the same picture could hash differently (caches key on it).
inline constexpr int FingerprintVersion = 1;

// Greyscale samples, rows top-down, `stride` bytes apart. Empty pictures hash to 0.
uint64_t FingerprintGrey(const uint8_t* pixels, int width, int height, int stride);

// The hash of the picture turned by one of the eight orientations: bit 0 mirrors
// left-right, bit 1 top-bottom, bit 2 transposes (applied first).
uint64_t OrientedFingerprint(uint64_t hash, int orientation);

// The smallest Hamming distance between `a` and any orientation of `b`.
int FingerprintDistance(uint64_t a, uint64_t b);

// Levels of likeness the user picks from, as the largest distance that still matches.
enum class SimilarLevel : int { Strict = 0, Normal = 1, Loose = 2 };
inline constexpr int SimilarLevelCount = 3;
int LevelThreshold(SimilarLevel level);

} // namespace fenwa::similar
