#pragma once

// Helpers that build GIF files byte by byte for the codec tests.

#include "GifArrays.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace fenwa::gif::test {

using Bytes = std::vector<uint8_t>;

// One LZW code and the width in bits it is written with.
struct Code {
    uint32_t value;
    uint32_t width;
};

// Packs codes least significant bit first, padding the last byte with zeros.
Bytes PackCodes(const std::vector<Code>& codes);

// The data as sub-blocks of at most blockSize bytes, then the zero-length terminator.
Bytes SubBlocks(const Bytes& data, size_t blockSize = 255);

// An LZW encoder of our own: a clear code first, a clear code whenever the table has all
// 4096 entries, the end code last. Works for code sizes 2..9.
Bytes EncodeLzw(const Bytes& indexes, int codeSize);

// The rows of an image in the order an interlaced file stores them.
Bytes InterlaceRows(const Bytes& pixels, int width, int height);

struct ImageSpec {
    uint16_t left = 0;
    uint16_t top = 0;
    uint16_t width = 1;
    uint16_t height = 1;
    bool interlaced = false;
    std::vector<TRgb> localColors; // empty: no local table; otherwise a power of two
    uint8_t codeSize = 2;
    Bytes pixels;     // top-down colour indexes; encoded with EncodeLzw unless lzw is set
    Bytes lzw;        // raw code stream (used when not empty)
    Bytes extensions; // raw bytes written before the image separator
};

struct GifSpec {
    std::string version = "89a";
    uint16_t screenWidth = 1;
    uint16_t screenHeight = 1;
    std::vector<TRgb> globalColors;   // empty: no global table
    uint8_t globalBitsWhenAbsent = 0; // low three bits of the flags without a table
    std::vector<ImageSpec> images;
    bool trailer = true;
};

Bytes BuildGif(const GifSpec& spec);

// A graphic control extension with the given delay (hundredths of a second).
Bytes GraphicControl(uint16_t delay, uint8_t flags = 0, uint8_t transparentIndex = 0);
Bytes CommentExtension(const std::string& text);
Bytes ApplicationExtension(const std::string& identifier8, const std::string& code3,
                           const Bytes& data);
Bytes PlainTextExtension(const std::string& text);

// n colours of a recognisable ramp.
std::vector<TRgb> Ramp(int n, uint8_t seed = 0);

// Pseudo-random indexes below colours, reproducible from the seed.
Bytes Noise(size_t count, int colours, uint32_t seed);

} // namespace fenwa::gif::test
