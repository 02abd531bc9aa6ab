#include "headerfacts.h"

#include "PictureLoader.h"

namespace fenwa::similar {

PictureFacts ReadPictureFacts(const std::string& path) {
    const TPictureHeaderFacts header = PictureHeaderFacts(QByteArray::fromStdString(path));
    PictureFacts facts;
    facts.width = header.width;
    facts.height = header.height;
    facts.taken = captureTimeKey(header.captureTime.toStdString());
    return facts;
}

} // namespace fenwa::similar
