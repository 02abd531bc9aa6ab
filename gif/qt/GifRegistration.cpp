#include "GifRegistration.h"

#include <exception>

#include "GifLimits.h"
#include "GifPicture.h"
#include "PictureHolder.h"

namespace fenwa {

void RegisterGifPictureKind() {
    static const bool registered = [] {
        RegisterImageLoader(QString::fromLatin1(kGifExtension),
                            QString::fromLatin1(kGifDescription),
                            [](const QByteArray& bytes) -> QImage {
                                // A file the codec refuses leaves the control empty.
                                if (bytes.size() > gif::kMaxFileBytes)
                                    return QImage();
                                try {
                                    return loadGifFirstImageFromData(bytes);
                                } catch (const std::exception&) {
                                    return QImage();
                                }
                            });
        return true;
    }();
    (void)registered;
}

} // namespace fenwa
