#pragma once
// Plays an enhanced metafile (EMF) through a GdiCanvas. libuemf vets each record's
// framing (U_emf_record_safe) before any field of it is read.

#include <QByteArray>
#include <QRectF>
#include <QSizeF>
#include <optional>

class QPainter;

namespace metafile {

struct EmfHeader {
    QRectF frame; // 0.01 mm
    QSizeF devicePixels;
    QSizeF deviceMillimetres;
};

// The header record, if the bytes start with one.
std::optional<EmfHeader> readEmfHeader(const QByteArray& bytes);
// Whether every record passes the checks and the last one is the end of the file.
bool emfRecordsAreSound(const QByteArray& bytes);
// Plays the records with the header's frame mapped onto dest.
void playEmf(const QByteArray& bytes, const EmfHeader& header, QPainter& painter,
             const QRectF& dest);

} // namespace metafile
