#include "GifRegistration.h"

#include <exception>

#include "GifPicture.h"
#include "PictureHolder.h"

namespace fenwa {

void RegisterGifPictureKind() {
    static const bool registered = [] {
        RegisterImageLoader(QString::fromLatin1(kGifExtension),
                            QString::fromLatin1(kGifDescription),
                            [](const QByteArray& nativePath) -> QImage {
                                // A file the codec refuses leaves the control empty.
                                try {
                                    return loadGifFirstImage(nativePath);
                                } catch (const std::exception&) {
                                    return QImage();
                                }
                            });
        return true;
    }();
    (void)registered;
}

} // namespace fenwa
