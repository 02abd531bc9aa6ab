#include "PhotoFormat.h"

// A placeholder until the kind's decoder is written: nothing is accepted.
namespace fenwa::imaging {

const PhotoFormat& HeifFormat() {
    static const PhotoFormat format{
        "HEIF",
        "HEIF Image",
        {"heic", "heif", "hif", "avif"},
        [](const QByteArray&) { return false; },
        [](PictureSource&) -> std::optional<PhotoHeader> { return std::nullopt; },
        [](PictureSource&, const PhotoRequest&) -> std::optional<PhotoImage> {
            return std::nullopt;
        }};
    return format;
}

} // namespace fenwa::imaging
