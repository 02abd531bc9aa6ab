#pragma once
// What the metafile players share for reading records: bounds-checked field reads
// inside one record, device-independent bitmaps and the code pages of fonts.

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QStringDecoder>
#include <QtEndian>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace metafile {

// Bounds-checked little-endian reads inside one record: past the record's end every
// field reads as 0, so a record that lies about its counts cannot make us read outside it.
class RecordReader {
public:
    RecordReader(const char* data, std::size_t size) : data_(data), size_(size) {}
    std::size_t size() const { return size_; }
    const char* data() const { return data_; }
    bool has(std::size_t offset, std::size_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    uint32_t u32(std::size_t offset) const {
        return has(offset, 4) ? qFromLittleEndian<uint32_t>(data_ + offset) : 0;
    }
    int32_t i32(std::size_t offset) const { return int32_t(u32(offset)); }
    uint16_t u16(std::size_t offset) const {
        return has(offset, 2) ? qFromLittleEndian<uint16_t>(data_ + offset) : 0;
    }
    int16_t i16(std::size_t offset) const { return int16_t(u16(offset)); }
    uint8_t u8(std::size_t offset) const { return has(offset, 1) ? uint8_t(data_[offset]) : 0; }
    float f32(std::size_t offset) const {
        const uint32_t bits = u32(offset);
        float value;
        std::memcpy(&value, &bits, 4);
        return std::isfinite(value) ? value : 0.0f;
    }
    QColor colour(std::size_t offset) const {
        return QColor(u8(offset), u8(offset + 1), u8(offset + 2));
    }
    QRectF rect32(std::size_t offset) const { // left, top, right, bottom
        return QRectF(QPointF(i32(offset), i32(offset + 4)),
                      QPointF(i32(offset + 8), i32(offset + 12)));
    }

private:
    const char* data_;
    std::size_t size_;
};

// A device-independent bitmap (BITMAPINFO followed by its bits) as a QImage.
QImage imageFromDib(const char* info, std::size_t infoSize, const char* bits, std::size_t bitsSize);

// The byte size of a BITMAPINFO (header and colour table) at offset, or 0.
std::size_t dibInfoSize(const RecordReader& r, std::size_t offset);

// Decodes the 8-bit text of a font with the given character set.
QStringDecoder decoderForCharset(int charset);

} // namespace metafile
