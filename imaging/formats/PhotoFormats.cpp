#include "PhotoFormat.h"

#include "readfile.h"

#include <QTransform>
#include <algorithm>
#include <cstring>

namespace fenwa::imaging {

QByteArray PictureSource::head(int64_t count) {
    QByteArray out(qsizetype(std::clamp<int64_t>(count, 0, std::max<int64_t>(size(), 0))),
                   Qt::Uninitialized);
    const int64_t got = out.isEmpty() ? 0 : readAt(out.data(), size_t(out.size()), 0);
    out.resize(qsizetype(std::max<int64_t>(got, 0)));
    return out;
}

std::optional<QByteArray> PictureSource::range(int64_t offset, int64_t count) {
    if (offset < 0 || count < 0 || offset > size() || count > size() - offset)
        return std::nullopt;
    QByteArray out(qsizetype(count), Qt::Uninitialized);
    if (count > 0 && readAt(out.data(), size_t(count), offset) != count)
        return std::nullopt;
    return out;
}

int64_t BytesSource::readAt(void* buffer, size_t count, int64_t offset) {
    if (offset < 0)
        return -1;
    if (offset >= bytes_.size())
        return 0;
    const size_t n = std::min<size_t>(count, size_t(bytes_.size() - offset));
    if (n > 0) // a reader may ask for nothing with no buffer at all
        std::memcpy(buffer, bytes_.constData() + offset, n);
    return int64_t(n);
}

int64_t FileSource::size() const {
    return file_.size();
}

int64_t FileSource::readAt(void* buffer, size_t count, int64_t offset) {
    return offset < 0 ? -1 : file_.readAt(buffer, count, offset);
}

const std::vector<PhotoFormat>& PhotoFormats() {
    static const std::vector<PhotoFormat> formats = {PngFormat(),  WebpFormat(), TiffFormat(),
                                                     HeifFormat(), JxlFormat(),  RawFormat()};
    return formats;
}

const PhotoFormat* PhotoFormatForName(std::string_view name) {
    const size_t dot = name.find_last_of("./");
    if (dot == std::string_view::npos || name[dot] != '.')
        return nullptr;
    const std::string_view ext = name.substr(dot + 1);
    for (const PhotoFormat& format : PhotoFormats())
        for (const char* e : format.extensions)
            if (ext.size() == std::strlen(e) &&
                std::equal(ext.begin(), ext.end(), e, [](char a, char b) {
                    return (a >= 'A' && a <= 'Z' ? char(a - 'A' + 'a') : a) == b;
                }))
                return &format;
    return nullptr;
}

const PhotoFormat* PhotoFormatForHead(const QByteArray& head) {
    for (const PhotoFormat& format : PhotoFormats())
        if (format.sniff(head))
            return &format;
    return nullptr;
}

const PhotoFormat* PhotoFormatFor(std::string_view name, const QByteArray& head) {
    const PhotoFormat* named = PhotoFormatForName(name);
    return named && named->sniff(head) ? named : PhotoFormatForHead(head);
}

QImage OrientedImage(const QImage& image, int orientation) {
    switch (orientation) {
    case 2:
        return image.mirrored(true, false);
    case 3:
        return image.mirrored(true, true);
    case 4:
        return image.mirrored(false, true);
    case 5:
        return image.transformed(QTransform(0, 1, 1, 0, 0, 0));
    case 6:
        return image.transformed(QTransform().rotate(90));
    case 7:
        return image.transformed(QTransform(0, -1, -1, 0, 0, 0));
    case 8:
        return image.transformed(QTransform().rotate(270));
    default:
        return image;
    }
}

} // namespace fenwa::imaging
