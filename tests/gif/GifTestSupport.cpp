#include "GifTestSupport.h"

#include <stdexcept>
#include <unordered_map>

namespace fenwa::gif::test {

Bytes PackCodes(const std::vector<Code>& codes) {
    Bytes out;
    uint64_t buffer = 0;
    uint32_t bits = 0;
    for (const Code& code : codes) {
        buffer |= static_cast<uint64_t>(code.value & ((1u << code.width) - 1)) << bits;
        bits += code.width;
        while (bits >= 8) {
            out.push_back(static_cast<uint8_t>(buffer));
            buffer >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0)
        out.push_back(static_cast<uint8_t>(buffer));
    return out;
}

Bytes SubBlocks(const Bytes& data, size_t blockSize) {
    Bytes out;
    for (size_t i = 0; i < data.size(); i += blockSize) {
        const size_t n = std::min(blockSize, data.size() - i);
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), data.begin() + static_cast<ptrdiff_t>(i),
                   data.begin() + static_cast<ptrdiff_t>(i + n));
    }
    out.push_back(0);
    return out;
}

Bytes EncodeLzw(const Bytes& indexes, int codeSize) {
    const uint32_t clear = 1u << codeSize;
    const uint32_t end = clear + 1;
    std::vector<Code> codes;
    std::unordered_map<uint32_t, uint32_t> table; // (prefix << 8 | byte) -> code
    // The decoder's state, mirrored so that widths and clear codes come when it expects.
    uint32_t nextFree = 0;
    uint32_t width = 0;
    bool afterClear = false;
    const auto clearTable = [&] {
        codes.push_back({clear, width == 0 ? static_cast<uint32_t>(codeSize + 1) : width});
        table.clear();
        nextFree = end + 1;
        width = static_cast<uint32_t>(codeSize + 1);
        afterClear = true;
    };
    // Returns true when the decoder's table is now full.
    const auto emit = [&](uint32_t code) {
        codes.push_back({code, width});
        if (afterClear) {
            afterClear = false;
            return false;
        }
        ++nextFree;
        if (nextFree == (1u << width)) {
            if (width == 12)
                return true;
            ++width;
        }
        return false;
    };
    clearTable();
    if (!indexes.empty()) {
        uint32_t prefix = indexes[0];
        for (size_t i = 1; i < indexes.size(); ++i) {
            const uint8_t byte = indexes[i];
            const uint32_t key = prefix << 8 | byte;
            if (auto it = table.find(key); it != table.end()) {
                prefix = it->second;
                continue;
            }
            if (emit(prefix)) {
                clearTable();
            } else {
                table.emplace(key, nextFree);
            }
            prefix = byte;
        }
        emit(prefix);
    }
    codes.push_back({end, width});
    return PackCodes(codes);
}

Bytes InterlaceRows(const Bytes& pixels, int width, int height) {
    Bytes out;
    const int start[] = {0, 4, 2, 1};
    const int step[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < height; y += step[pass])
            out.insert(out.end(), pixels.begin() + y * width, pixels.begin() + (y + 1) * width);
    return out;
}

namespace {

void PutWord(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

uint8_t TableBits(size_t count) {
    for (uint8_t bits = 1; bits <= 8; ++bits)
        if (count == (1u << bits))
            return bits;
    throw std::invalid_argument("colour table size must be a power of two");
}

void PutColors(Bytes& out, const std::vector<TRgb>& colors) {
    for (const TRgb& c : colors) {
        out.push_back(c.Red);
        out.push_back(c.Green);
        out.push_back(c.Blue);
    }
}

} // namespace

Bytes BuildGif(const GifSpec& spec) {
    Bytes out = {'G', 'I', 'F'};
    out.insert(out.end(), spec.version.begin(), spec.version.end());
    PutWord(out, spec.screenWidth);
    PutWord(out, spec.screenHeight);
    out.push_back(spec.globalColors.empty()
                      ? spec.globalBitsWhenAbsent
                      : static_cast<uint8_t>(0x80 | (TableBits(spec.globalColors.size()) - 1)));
    out.push_back(0); // background
    out.push_back(0); // aspect ratio
    PutColors(out, spec.globalColors);
    for (const ImageSpec& image : spec.images) {
        out.insert(out.end(), image.extensions.begin(), image.extensions.end());
        out.push_back(0x2C);
        PutWord(out, image.left);
        PutWord(out, image.top);
        PutWord(out, image.width);
        PutWord(out, image.height);
        uint8_t flags = image.interlaced ? 0x40 : 0;
        if (!image.localColors.empty())
            flags |= static_cast<uint8_t>(0x80 | (TableBits(image.localColors.size()) - 1));
        out.push_back(flags);
        PutColors(out, image.localColors);
        out.push_back(image.codeSize);
        Bytes lzw = image.lzw;
        if (lzw.empty()) {
            const Bytes ordered = image.interlaced
                                      ? InterlaceRows(image.pixels, image.width, image.height)
                                      : image.pixels;
            lzw = EncodeLzw(ordered, image.codeSize);
        }
        const Bytes blocks = SubBlocks(lzw);
        out.insert(out.end(), blocks.begin(), blocks.end());
    }
    if (spec.trailer)
        out.push_back(0x3B);
    return out;
}

Bytes GraphicControl(uint16_t delay, uint8_t flags, uint8_t transparentIndex) {
    Bytes out = {0x21, 0xF9, 4, flags};
    PutWord(out, delay);
    out.push_back(transparentIndex);
    out.push_back(0);
    return out;
}

Bytes CommentExtension(const std::string& text) {
    Bytes out = {0x21, 0xFE};
    const Bytes blocks = SubBlocks(Bytes(text.begin(), text.end()));
    out.insert(out.end(), blocks.begin(), blocks.end());
    return out;
}

Bytes ApplicationExtension(const std::string& identifier8, const std::string& code3,
                           const Bytes& data) {
    Bytes out = {0x21, 0xFF, 11};
    out.insert(out.end(), identifier8.begin(), identifier8.end());
    out.insert(out.end(), code3.begin(), code3.end());
    const Bytes blocks = SubBlocks(data);
    out.insert(out.end(), blocks.begin(), blocks.end());
    return out;
}

Bytes PlainTextExtension(const std::string& text) {
    // Grid at (0, 0), 8 x 8 pixels of 8 x 8 cells, colours 1 on 0.
    Bytes out = {0x21, 0x01, 12, 0, 0, 0, 0, 8, 0, 8, 0, 8, 8, 1, 0};
    const Bytes blocks = SubBlocks(Bytes(text.begin(), text.end()));
    out.insert(out.end(), blocks.begin(), blocks.end());
    return out;
}

std::vector<TRgb> Ramp(int n, uint8_t seed) {
    std::vector<TRgb> colors;
    for (int i = 0; i < n; ++i)
        colors.push_back({static_cast<uint8_t>(i * 7 + seed), static_cast<uint8_t>(255 - i),
                          static_cast<uint8_t>(i * 31 + 3 * seed)});
    return colors;
}

Bytes Noise(size_t count, int colours, uint32_t seed) {
    Bytes out(count);
    uint32_t state = seed * 2654435761u + 1;
    for (auto& b : out) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = static_cast<uint8_t>(state % static_cast<uint32_t>(colours));
    }
    return out;
}

} // namespace fenwa::gif::test
