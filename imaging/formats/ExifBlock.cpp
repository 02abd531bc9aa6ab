#include "PhotoFormat.h"

#include <cstdint>
#include <cstring>

namespace fenwa::imaging {

namespace {

constexpr uint16_t OrientationTag = 0x0112;
constexpr uint16_t DateTimeTag = 0x0132;
constexpr uint16_t ExifIfdTag = 0x8769;
constexpr uint16_t DateTimeOriginalTag = 0x9003;

constexpr uint16_t TypeAscii = 2;
constexpr uint16_t TypeShort = 3;
constexpr uint16_t TypeLong = 4;
constexpr uint16_t TypeIfd = 13;

// The TIFF structure of the block. Every offset comes from the file, so each read is
// checked against the block's length in 64-bit arithmetic first; only two directories
// are read, whatever the pointers claim, so a pointer loop ends by itself.
class ExifReader {
public:
    ExifReader(const uint8_t* data, uint64_t size) : data_(data), size_(size) {}

    bool readHeader() {
        if (size_ < 8)
            return false;
        if (data_[0] == 'I' && data_[1] == 'I')
            bigEndian_ = false;
        else if (data_[0] == 'M' && data_[1] == 'M')
            bigEndian_ = true;
        else
            return false;
        return u16(2) == 42;
    }

    bool fits(uint64_t offset, uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    uint16_t u16(uint64_t offset) const {
        const uint8_t a = data_[offset], b = data_[offset + 1];
        return bigEndian_ ? uint16_t(a << 8 | b) : uint16_t(b << 8 | a);
    }
    uint32_t u32(uint64_t offset) const {
        const uint32_t first = u16(offset), second = u16(offset + 2);
        return bigEndian_ ? (first << 16 | second) : (second << 16 | first);
    }

    // The entry of `tag` in the directory at `ifd`: the offset of its 12 bytes, or 0
    // when the directory does not fit or has no such entry.
    uint64_t findEntry(uint64_t ifd, uint16_t tag) const {
        if (ifd < 8 || !fits(ifd, 2))
            return 0;
        const unsigned count = u16(ifd);
        for (unsigned i = 0; i < count; ++i) {
            const uint64_t entry = ifd + 2 + uint64_t(i) * 12;
            if (!fits(entry, 12))
                return 0;
            if (u16(entry) == tag)
                return entry;
        }
        return 0;
    }

    int orientation(uint64_t ifd) const {
        const uint64_t entry = findEntry(ifd, OrientationTag);
        // One SHORT sits in the first two bytes of the value field.
        if (entry == 0 || u16(entry + 2) != TypeShort || u32(entry + 4) < 1)
            return 1;
        const int value = u16(entry + 8);
        return value >= 1 && value <= 8 ? value : 1;
    }

    uint64_t exifIfd(uint64_t ifd) const {
        const uint64_t entry = findEntry(ifd, ExifIfdTag);
        if (entry == 0 || (u16(entry + 2) != TypeLong && u16(entry + 2) != TypeIfd))
            return 0;
        return u32(entry + 8);
    }

    // An ASCII date of "YYYY:MM:DD HH:MM:SS"; empty when missing, not text, or the
    // blanks and zeros that cameras write when their clock was never set.
    QString date(uint64_t ifd, uint16_t tag) const {
        const uint64_t entry = findEntry(ifd, tag);
        if (entry == 0 || u16(entry + 2) != TypeAscii)
            return {};
        const uint64_t count = u32(entry + 4);
        const uint64_t at = count <= 4 ? entry + 8 : u32(entry + 8);
        if (count == 0 || !fits(at, count))
            return {};
        QByteArray text;
        for (uint64_t i = 0; i < count && i < 64 && data_[at + i] != 0; ++i) {
            const uint8_t c = data_[at + i];
            if (c < 0x20 || c > 0x7e)
                return {};
            text.append(char(c));
        }
        text = text.trimmed();
        if (text.isEmpty() || text.count('0') + text.count(':') + text.count(' ') == text.size())
            return {};
        return QString::fromLatin1(text);
    }

private:
    const uint8_t* data_;
    uint64_t size_;
    bool bigEndian_ = false;
};

} // namespace

ExifFacts ReadExifBlock(const QByteArray& block) {
    static const char Prefix[6] = {'E', 'x', 'i', 'f', 0, 0};
    const auto* data = reinterpret_cast<const uint8_t*>(block.constData());
    uint64_t size = uint64_t(block.size());
    if (size >= 6 && std::memcmp(data, Prefix, 6) == 0) {
        data += 6;
        size -= 6;
    }
    ExifFacts facts;
    ExifReader exif(data, size);
    if (!exif.readHeader())
        return facts;
    const uint64_t ifd0 = exif.u32(4);
    facts.orientation = exif.orientation(ifd0);
    if (const uint64_t sub = exif.exifIfd(ifd0); sub != 0)
        facts.captureTime = exif.date(sub, DateTimeOriginalTag);
    if (facts.captureTime.isEmpty())
        facts.captureTime = exif.date(ifd0, DateTimeTag);
    return facts;
}

} // namespace fenwa::imaging
