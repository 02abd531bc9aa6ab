#include "PhotoFormat.h"

// A placeholder until the kind's decoder is written: nothing is accepted.
namespace fenwa::imaging {

const PhotoFormat& PngFormat() {
    static const PhotoFormat format{
        "PNG",
        "PNG Image",
        {"png"},
        [](const QByteArray&) { return false; },
        [](PictureSource&) -> std::optional<PhotoHeader> { return std::nullopt; },
        [](PictureSource&, const PhotoRequest&) -> std::optional<PhotoImage> {
            return std::nullopt;
        }};
    return format;
}

const PhotoFormat& WebpFormat() {
    static const PhotoFormat format{
        "WebP",
        "WebP Image",
        {"webp"},
        [](const QByteArray&) { return false; },
        [](PictureSource&) -> std::optional<PhotoHeader> { return std::nullopt; },
        [](PictureSource&, const PhotoRequest&) -> std::optional<PhotoImage> {
            return std::nullopt;
        }};
    return format;
}

const PhotoFormat& TiffFormat() {
    static const PhotoFormat format{
        "TIFF",
        "TIFF Image",
        {"tif", "tiff"},
        [](const QByteArray&) { return false; },
        [](PictureSource&) -> std::optional<PhotoHeader> { return std::nullopt; },
        [](PictureSource&, const PhotoRequest&) -> std::optional<PhotoImage> {
            return std::nullopt;
        }};
    return format;
}

} // namespace fenwa::imaging
