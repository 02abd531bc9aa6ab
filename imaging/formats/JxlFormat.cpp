#include "PhotoFormat.h"

// A placeholder until the kind's decoder is written: nothing is accepted.
namespace fenwa::imaging {

const PhotoFormat& JxlFormat() {
    static const PhotoFormat format{
        "JPEG XL",
        "JPEG XL Image",
        {"jxl"},
        [](const QByteArray&) { return false; },
        [](PictureSource&) -> std::optional<PhotoHeader> { return std::nullopt; },
        [](PictureSource&, const PhotoRequest&) -> std::optional<PhotoImage> {
            return std::nullopt;
        }};
    return format;
}

} // namespace fenwa::imaging
