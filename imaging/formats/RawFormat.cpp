#include "PhotoFormat.h"

// A placeholder until the kind's decoder is written: nothing is accepted.
namespace fenwa::imaging {

const PhotoFormat& RawFormat() {
    static const PhotoFormat format{
        "camera RAW",
        "Camera RAW Image",
        {"dng", "cr2", "cr3", "nef", "arw", "orf", "raf", "rw2"},
        [](const QByteArray&) { return false; },
        [](PictureSource&) -> std::optional<PhotoHeader> { return std::nullopt; },
        [](PictureSource&, const PhotoRequest&) -> std::optional<PhotoImage> {
            return std::nullopt;
        }};
    return format;
}

} // namespace fenwa::imaging
