#include "PictureHolder.h"
#include "GraphicErrors.h"
#include "JPEGImage.h"
#include "MetafileGraphic.h"
#include "formats/PhotoGraphic.h"

#include <QFile>
#include <mutex>
#include <optional>

namespace {

class Registry {
public:
    Registry() {
        entries.push_back(
            {"bmp", "Bitmaps", [] { return std::make_unique<TBitmapGraphic>("bmp"); }, "TBitmap"});
        entries.push_back(
            {"ico", "Icons", [] { return std::make_unique<TIconGraphic>(); }, "TIcon"});
        entries.push_back(
            {"wmf", "Metafiles", [] { return std::make_unique<TMetafileGraphic>(); }, "TMetafile"});
        entries.push_back({"emf", "Enhanced Metafiles",
                           [] { return std::make_unique<TMetafileGraphic>(); }, "TMetafile"});
        // JPEG is built in, like the kinds above.
        auto jpeg = [] { return std::make_unique<TJPEGImage>(); };
        entries.push_back({"jpeg", "JPEG Image File", jpeg, "TJPEGImage"});
        entries.push_back({"jpg", "JPEG Image File", jpeg, "TJPEGImage"});
        // The photo kinds of today's cameras, phones and web, each by its own library.
        for (const fenwa::imaging::PhotoFormat& format : fenwa::imaging::PhotoFormats())
            for (const char* extension : format.extensions)
                entries.push_back({extension, format.description,
                                   [&format] { return std::make_unique<TPhotoGraphic>(format); },
                                   "TPhotoGraphic"});
    }
    std::recursive_mutex mutex;
    std::vector<TPictureFormats::Entry> entries;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

QString withoutDot(const QString& extension) {
    return extension.startsWith('.') ? extension.mid(1) : extension;
}

// A bitmap whose pixels a registered function decodes from the file's bytes.
class LoadedImageGraphic : public TBitmapGraphic {
public:
    explicit LoadedImageGraphic(std::function<QImage(const QByteArray&)> loader)
        : loader_(std::move(loader)) {}
    void loadFromBytes(const QByteArray& bytes) override {
        const QImage image = loader_(bytes);
        if (image.isNull())
            throw EInvalidGraphic("cannot read picture");
        assign(image);
    }

private:
    std::function<QImage(const QByteArray&)> loader_;
};

} // namespace

void TPictureFormats::RegisterFileFormat(const QString& extension, const QString& description,
                                         TGraphicFactory factory, const QString& kind) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.entries.push_back({withoutDot(extension), description, std::move(factory), kind});
}

void TPictureFormats::UnregisterKind(const QString& kind) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    std::erase_if(r.entries, [&](const Entry& e) { return e.kind == kind; });
}

std::optional<TPictureFormats::Entry> TPictureFormats::Find(const QString& extension) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const QString wanted = withoutDot(extension);
    if (wanted.isEmpty())
        return std::nullopt;
    for (auto it = r.entries.rbegin(); it != r.entries.rend(); ++it) {
        if (it->extension.compare(wanted, Qt::CaseInsensitive) == 0)
            return *it;
    }
    return std::nullopt;
}

std::vector<TPictureFormats::Entry> TPictureFormats::Entries() {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.entries;
}

void RegisterImageLoader(const QString& extension, const QString& description,
                         std::function<QImage(const QByteArray& bytes)> loader) {
    TPictureFormats::RegisterFileFormat(
        extension, description, [loader] { return std::make_unique<LoadedImageGraphic>(loader); },
        "loader:" + withoutDot(extension).toLower());
}

QString PictureExtension(const QByteArray& nativePath) {
    const qsizetype slash = nativePath.lastIndexOf('/');
    const qsizetype dot = nativePath.lastIndexOf('.');
    if (dot < 0 || dot < slash)
        return {};
    return QFile::decodeName(nativePath.mid(dot));
}

namespace {

TPictureFormats::Entry kindOf(const QByteArray& nativeName) {
    const QString extension = PictureExtension(nativeName);
    std::optional<TPictureFormats::Entry> entry = TPictureFormats::Find(extension);
    if (!entry)
        throw EInvalidGraphic("Unknown picture file extension (" + extension.toStdString() + ")");
    return std::move(*entry);
}

} // namespace

void TPicture::loadFromFile(const QByteArray& nativePath) {
    const TPictureFormats::Entry entry = kindOf(nativePath); // before any read
    std::unique_ptr<TGraphic> graphic = entry.factory();
    graphic->loadFromBytes(ReadWholeFile(nativePath));
    graphic_ = std::move(graphic);
}

void TPicture::loadFromBytes(const QByteArray& bytes, const QByteArray& nativeName) {
    std::unique_ptr<TGraphic> graphic = kindOf(nativeName).factory();
    graphic->loadFromBytes(bytes);
    graphic_ = std::move(graphic);
}

void TPicture::assign(const QImage& image) {
    auto graphic = std::make_unique<TBitmapGraphic>();
    graphic->assign(image);
    graphic_ = std::move(graphic);
}

void TPicture::draw(QPainter& painter, const QRect& dest) const {
    if (graphic_)
        graphic_->draw(painter, dest);
}
