#include "MetafileRecord.h"

#include <QByteArray>

namespace metafile {

// Wraps the bitmap in a .bmp file header for Qt's reader.
QImage imageFromDib(const char* info, std::size_t infoSize, const char* bits,
                    std::size_t bitsSize) {
    if (!info || infoSize < 12 || infoSize > (1u << 20) || bitsSize > (std::size_t(1) << 30))
        return {};
    QByteArray file(14, '\0');
    file[0] = 'B';
    file[1] = 'M';
    qToLittleEndian<uint32_t>(uint32_t(14 + infoSize + bitsSize), file.data() + 2);
    qToLittleEndian<uint32_t>(uint32_t(14 + infoSize), file.data() + 10);
    file.append(info, qsizetype(infoSize));
    if (bits)
        file.append(bits, qsizetype(bitsSize));
    QImage image;
    image.loadFromData(file, "BMP");
    return image;
}

std::size_t dibInfoSize(const RecordReader& r, std::size_t offset) {
    const uint32_t headerSize = r.u32(offset);
    if (headerSize == 12) { // BITMAPCOREHEADER: 3-byte colour entries
        const int bitCount = r.u16(offset + 10);
        return 12 + (bitCount <= 8 ? (std::size_t(1) << bitCount) * 3 : 0);
    }
    if (headerSize < 40 || headerSize > 124)
        return 0;
    const int bitCount = r.u16(offset + 14);
    const uint32_t compression = r.u32(offset + 16);
    uint32_t colours = r.u32(offset + 32);
    if (colours == 0 && bitCount <= 8)
        colours = 1u << bitCount;
    if (colours > 256)
        colours = 256;
    std::size_t size = headerSize + std::size_t(colours) * 4;
    if (compression == 3 && headerSize == 40) // BI_BITFIELDS masks follow the header
        size += 12;
    return size;
}

QStringDecoder decoderForCharset(int charset) {
    const char* name = "windows-1252";
    switch (charset) {
    case 2:
        name = "ISO-8859-1";
        break;
    case 128:
        name = "Shift_JIS";
        break;
    case 129:
        name = "CP949";
        break;
    case 134:
        name = "GBK";
        break;
    case 136:
        name = "Big5";
        break;
    case 161:
        name = "windows-1253";
        break;
    case 162:
        name = "windows-1254";
        break;
    case 177:
        name = "windows-1255";
        break;
    case 178:
        name = "windows-1256";
        break;
    case 186:
        name = "windows-1257";
        break;
    case 204:
        name = "windows-1251";
        break;
    case 222:
        name = "windows-874";
        break;
    case 238:
        name = "windows-1250";
        break;
    default:
        break;
    }
    QStringDecoder decoder(name);
    if (!decoder.isValid())
        return QStringDecoder(QStringDecoder::Latin1);
    return decoder;
}

} // namespace metafile
