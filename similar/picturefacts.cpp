#include "picturefacts.h"

#include <cctype>

#include "PictureLoader.h"

namespace fenwa::similar {

namespace {

// "YYYY:MM:DD HH:MM:SS" with the date's colons made dashes, which spreadsheets and
// date parsers read; any other text as it is.
std::string asIsoDate(std::string text) {
    static constexpr char Shape[] = "dddd:dd:dd dd:dd:dd";
    if (text.size() != sizeof Shape - 1)
        return text;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
        if (Shape[i] == 'd' ? !digit : text[i] != Shape[i])
            return text;
    }
    text[4] = text[7] = '-';
    return text;
}

} // namespace

PictureFacts ReadPictureFacts(const std::string& path) {
    const TPictureHeaderFacts header = PictureHeaderFacts(QByteArray::fromStdString(path));
    PictureFacts facts;
    facts.width = header.width;
    facts.height = header.height;
    facts.taken = asIsoDate(header.captureTime.toStdString());
    return facts;
}

} // namespace fenwa::similar
