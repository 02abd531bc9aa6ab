#include "PhotoFormat.h"

namespace fenwa::imaging {

ExifFacts ReadExifBlock(const QByteArray& block) {
    (void)block;
    return {};
}

} // namespace fenwa::imaging
