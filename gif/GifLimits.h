#pragma once

#include <cstdint>

namespace fenwa::gif {

// Bounds checked before anything is allocated, so that a damaged or hostile header cannot
// make the program exhaust memory. A header may claim 65535 x 65535 pixels (4 GiB) while
// the file holds a few bytes; such files fail with ENotEnoughMemory instead.

// Largest pixel matrix of one image: 128 Mi pixels (for example 16384 x 8192), far above
// any photograph stored as GIF (a 4000 x 3000 image is 12 Mi).
inline constexpr int64_t kMaxImagePixels = int64_t{1} << 27;

// Largest sum of the pixel matrices of all images of one file. Every image of an animation
// is decoded and kept, so a file of many large frames is refused as a whole.
inline constexpr int64_t kMaxFilePixels = int64_t{1} << 29;

// Largest file that is read into memory.
inline constexpr int64_t kMaxFileBytes = int64_t{1} << 29;

// Most images and extension blocks one file may have. Each costs far more memory than the
// few bytes it takes in the file (an image carries a 768-byte colour table), so a file of
// millions of tiny blocks is refused rather than read. Real animations have a few thousand.
inline constexpr int32_t kMaxImages = 1 << 16;
inline constexpr int32_t kMaxExtensions = 1 << 18;

} // namespace fenwa::gif
