#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

namespace fenwa::gif {

// A read-only stream over bytes held in memory. A read near the end delivers what is left
// and reports how much that was; the reader decides what a short read means.
class TGifStream {
public:
    explicit TGifStream(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    int64_t Position() const { return position_; }
    int64_t Size() const { return static_cast<int64_t>(bytes_.size()); }
    void Seek(int64_t position) { position_ = std::clamp<int64_t>(position, 0, Size()); }
    bool AtEnd() const { return position_ >= Size(); }

    size_t Read(void* buffer, size_t count) {
        const size_t n = std::min(count, static_cast<size_t>(Size() - position_));
        if (n > 0)
            std::memcpy(buffer, bytes_.data() + position_, n);
        position_ += static_cast<int64_t>(n);
        return n;
    }
    // The next byte, or false at the end of the stream (the byte is then left unchanged).
    bool ReadByte(uint8_t& value) { return Read(&value, 1) == 1; }
    std::span<const uint8_t> Remaining() const { return bytes_.subspan(position_); }

private:
    std::span<const uint8_t> bytes_;
    int64_t position_ = 0;
};

} // namespace fenwa::gif
