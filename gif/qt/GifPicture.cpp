#include "GifPicture.h"

#include "GifBitmap.h"
#include "GifBusyCursor.h"
#include "GifErrors.h"
#include "GifFile.h"

namespace fenwa {

QImage toQImage(const gif::TIndexedBitmap& bitmap) {
    if (bitmap.Width() == 0 || bitmap.Height() == 0)
        return {};
    QImage image(bitmap.Width(), bitmap.Height(), QImage::Format_RGB32);
    if (image.isNull())
        throw gif::ENotEnoughMemory(
            gif::NotEnoughMemoryMessage(int64_t{bitmap.Width()} * bitmap.Height() * 4));
    bitmap.FillArgb32(reinterpret_cast<uint32_t*>(image.bits()), image.bytesPerLine() / 4);
    return image;
}

QImage loadGifFirstImage(const QByteArray& nativePath) {
    gif::TGifFile file;
    {
        const GifBusyCursor busy;
        file.LoadFromFile(nativePath.toStdString());
    }
    return toQImage(file.GetImage(1).GetBitmap());
}

QImage loadGifFirstImageFromData(const QByteArray& bytes) {
    const GifBusyCursor busy;
    const auto bitmap = gif::LoadFirstGifBitmap(
        std::span(reinterpret_cast<const uint8_t*>(bytes.constData()), bytes.size()));
    return toQImage(bitmap);
}

} // namespace fenwa
