// libFuzzer target for the GIF codec: reads any bytes as a GIF file (reader and LZW
// decoder), then builds the first image's bitmap and its 32-bit pixels, as the image view
// control does. Every failure must be one of the codec's exceptions; anything else (a
// crash, a sanitizer report, a hang, running out of memory) is a finding.

#include "GifBitmap.h"
#include "GifErrors.h"
#include "GifFile.h"

#include <cstddef>
#include <cstdint>
#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fenwa::gif::TGifFile file;
    try {
        file.ReadGifStream(std::span(data, size));
    } catch (const std::exception&) {
        // The images read before the error stay; go on with them.
    }
    (void)file.AnimationDelay();
    if (file.ImageCount() == 0)
        return 0;
    // Huge images are covered by the unit tests of our bounds; converting them here would
    // only slow the search down.
    const auto& first = file.GetImage(1);
    if (int64_t{first.Width} * first.Height > (1 << 20))
        return 0;
    try {
        const fenwa::gif::TIndexedBitmap& bitmap = file.GetImage(1).GetBitmap();
        const auto pixels = bitmap.ToArgb32();
        volatile uint32_t sink = pixels.empty() ? 0 : pixels[pixels.size() / 2];
        (void)sink;
    } catch (const std::exception&) {
    }
    return 0;
}
