#pragma once
// Makes JPEG files for the tests with libjpeg-turbo's own compressor, and runs
// djpeg (libjpeg-turbo-progs) as the reference decoder.

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

struct JpegEncodeOptions {
    int width = 64;
    int height = 48;
    bool grayscale = false;   // one-component file
    bool progressive = false; // several scans
    bool cmyk = false;        // four-component file (Adobe-style inverted)
    int restartInterval = 0;  // rows of MCUs between restart markers; 0 for none
    int quality = 85;
};

// A picture with gradients and sharp edges, so that scaling and quantisation matter.
QByteArray EncodeTestJpeg(const JpegEncodeOptions& options);

// Replaces the frame's width and height in the SOF marker of a JPEG file.
QByteArray PatchJpegSize(QByteArray jpeg, int width, int height);

// Decodes with djpeg and the given arguments (-pnm is added); the result as RGB888 or
// Grayscale8. A null image when djpeg fails or is missing.
QImage DecodeWithDjpeg(const QByteArray& jpeg, const QStringList& arguments);

bool WriteFile(const QString& path, const QByteArray& bytes);

// A TIFF block as an EXIF segment carries it: a header in the given byte order and
// one directory with a camera-make entry followed by the orientation entry (a SHORT
// unless another type is given).
QByteArray ExifTiffBlock(int orientation, bool bigEndian, int type = 3);

// An APP1 segment (marker and length included) holding "Exif\0\0" and the block.
QByteArray ExifSegment(const QByteArray& tiff);

// The JPEG file with a segment inserted after its start marker, and after the JFIF
// segment when there is one.
QByteArray InsertJpegSegment(const QByteArray& jpeg, const QByteArray& segment);

// The JPEG file carrying an EXIF orientation.
QByteArray WithExifOrientation(const QByteArray& jpeg, int orientation, bool bigEndian = false);

// The JPEG file with a second start-of-image marker put into the entropy data of its
// scan'th scan (from 0), at the given fraction of that data (1 for just after it). The
// library decodes up to the marker as if the data ended there, and fails when it reads
// the marker. Empty when the file has no such scan.
QByteArray WithStrayStartMarker(const QByteArray& jpeg, int scan, double fraction);
