#pragma once
// The picture holder and the process-wide registry of picture kinds by extension.
//
// The registry starts with the kinds every program has: "bmp" and "ico" through Qt's
// image readers, "wmf" and "emf" through our metafile player, then the JPEG picture's
// "jpeg" and "jpg", and the photo kinds of formats/PhotoFormat.h. Extensions are compared without
// regard to letter case and the most recent registration wins. Other libraries add their kinds at
// start-up, e.g.
//
//     RegisterImageLoader("gif", "GIF Image", loadGifFirstImageFromData);

#include "Graphic.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

using TGraphicFactory = std::function<std::unique_ptr<TGraphic>()>;

class TPictureFormats {
public:
    struct Entry {
        QString extension; // without the dot, as registered
        QString description;
        TGraphicFactory factory;
        QString kind; // groups the extensions of one picture kind for unregistering
    };

    static void RegisterFileFormat(const QString& extension, const QString& description,
                                   TGraphicFactory factory, const QString& kind);
    // Removes every extension of the kind.
    static void UnregisterKind(const QString& kind);
    // The most recent registration of the extension (with or without its dot).
    static std::optional<Entry> Find(const QString& extension);
    static std::vector<Entry> Entries();
};

// Registers a kind whose files a function decodes into a QImage from the file's bytes
// (a null image means they could not be read). The picture then behaves as a bitmap.
void RegisterImageLoader(const QString& extension, const QString& description,
                         std::function<QImage(const QByteArray& bytes)> loader);

// The extension of the last path element: from its last "." on, dot included, empty
// if there is none; letters kept as given.
QString PictureExtension(const QByteArray& nativePath);

// Owns at most one graphic; loads one from a file by the file's extension.
class TPicture {
public:
    // Throws EInvalidGraphic for an extension that no kind is registered for (before
    // the file is read), for a file that is not a readable regular file, and whatever
    // the kind's loader throws.
    void loadFromFile(const QByteArray& nativePath);
    // The same for a file's bytes already read; the name only chooses the kind.
    void loadFromBytes(const QByteArray& bytes, const QByteArray& nativeName);
    // Holds a copy of the image as a bitmap.
    void assign(const QImage& image);
    void clear() { graphic_.reset(); }

    TGraphic* graphic() const { return graphic_.get(); }
    int width() const { return graphic_ ? graphic_->width() : 0; }
    int height() const { return graphic_ ? graphic_->height() : 0; }
    void draw(QPainter& painter, const QRect& dest) const;

private:
    std::unique_ptr<TGraphic> graphic_;
};
