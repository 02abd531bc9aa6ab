#pragma once
// The photo kinds people keep beside JPEG: PNG, WebP, TIFF, HEIF and AVIF, JPEG XL and
// camera RAW. Each is read by its own library through one small table entry: how its
// files begin, its header facts (size, orientation, capture time) read without decoding
// any pixels, and a decoder that may return a reduced picture when a small one is asked
// for (a RAW file's embedded preview, a HEIF thumbnail, WebP's scaled decoding).
//
// Every decoder checks the picture's dimensions against PhotoFitsBound before it
// allocates pixels, and bounds what its library may allocate, because the bytes come
// from any file on the disk.

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace fenwa::platform {
class RegularFile;
}

namespace fenwa::imaging {

// Random access to a picture's bytes: a file opened once (read at offsets, so that a
// RAW file's preview is found without reading its sensor data) or bytes in memory.
class PictureSource {
public:
    virtual ~PictureSource() = default;
    virtual int64_t size() const = 0;
    // Reads up to count bytes at offset: the number read (fewer only at the end of the
    // bytes), -1 on an error.
    virtual int64_t readAt(void* buffer, size_t count, int64_t offset) = 0;
    // The whole bytes when they are in memory already, else null.
    virtual const QByteArray* bytes() const { return nullptr; }

    // The first count bytes (fewer for a shorter source), empty on an error.
    QByteArray head(int64_t count);
    // Bytes [offset, offset + count) exactly, or nullopt when they are not all there.
    std::optional<QByteArray> range(int64_t offset, int64_t count);
};

class BytesSource final : public PictureSource {
public:
    explicit BytesSource(const QByteArray& bytes) : bytes_(bytes) {}
    int64_t size() const override { return bytes_.size(); }
    int64_t readAt(void* buffer, size_t count, int64_t offset) override;
    const QByteArray* bytes() const override { return &bytes_; }

private:
    const QByteArray& bytes_;
};

// Reads an open regular file at offsets; the file stays the caller's.
class FileSource final : public PictureSource {
public:
    explicit FileSource(platform::RegularFile& file) : file_(file) {}
    int64_t size() const override;
    int64_t readAt(void* buffer, size_t count, int64_t offset) override;

private:
    platform::RegularFile& file_;
};

// Larger pictures are refused before any pixel is allocated: 65,535 pixels a side and
// 128 Mi pixels (512 MiB at four bytes a pixel), as for the other kinds.
inline constexpr int MaxPhotoSide = 65535;
inline constexpr int64_t MaxPhotoPixels = int64_t(128) << 20;
inline bool PhotoFitsBound(int64_t width, int64_t height) {
    return width > 0 && height > 0 && width <= MaxPhotoSide && height <= MaxPhotoSide &&
           width * height <= MaxPhotoPixels;
}
// What a decoder's library may allocate for one picture, beyond the pixels returned.
inline constexpr int64_t MaxDecoderBytes = int64_t(1) << 30;

// What a header tells without decoding pixels.
struct PhotoHeader {
    int width = 0; // as stored, before the orientation is applied
    int height = 0;
    int orientation = 1; // EXIF 1..8 still to be applied to the stored picture
    // When the photo was taken as EXIF writes it ("YYYY:MM:DD HH:MM:SS"), or the
    // format's own; empty when the file does not say.
    QString captureTime;
};

struct PhotoRequest {
    // The decoder may return any picture whose shorter side is at least this many
    // pixels (0: the full picture), taking the fastest way its format offers: an
    // embedded preview or thumbnail, or decoding at a reduced scale.
    int minShortSide = 0;
    // Whether the decoder may spread one picture over threads of its own: yes for the
    // one picture a window shows, no for a search, which already decodes a picture on
    // every core.
    bool ownThreads = true;
};

struct PhotoImage {
    // The pixels as stored: Format_RGB32, Format_ARGB32, Format_RGB888 or
    // Format_Grayscale8, with `orientation` not yet applied.
    QImage image;
    int orientation = 1;
    // The full picture's stored size, which `image` may be a reduction of.
    int fullWidth = 0;
    int fullHeight = 0;
};

struct PhotoFormat {
    const char* kind;        // shown in messages: "PNG", "WebP", "HEIF", "camera RAW" ...
    const char* description; // for the picture registry: "PNG Image" ...
    std::vector<const char*> extensions; // lower case, without the dot
    // Whether a file beginning with these bytes (at least the first 64 when the file
    // has them) is of this kind.
    bool (*sniff)(const QByteArray& head);
    std::optional<PhotoHeader> (*readHeader)(PictureSource& source);
    // Never throws; nullopt when the bytes cannot be decoded or exceed the bounds.
    std::optional<PhotoImage> (*decode)(PictureSource& source, const PhotoRequest& request);
};

// Every photo kind, in the order they are tried.
const std::vector<PhotoFormat>& PhotoFormats();
// The kind of a file name's extension (compared without regard to case), else null.
const PhotoFormat* PhotoFormatForName(std::string_view name);
// The kind whose sniff accepts the head, else null.
const PhotoFormat* PhotoFormatForHead(const QByteArray& head);
// The kind of a file: its name's kind when the head is of that kind (a DNG or a NEF
// begins as any TIFF does), else the kind the head shows.
const PhotoFormat* PhotoFormatFor(std::string_view name, const QByteArray& head);
// How many bytes of a file's head the sniffs need.
inline constexpr int PhotoSniffBytes = 64;

// The kinds one by one; each lives in its own file with its library.
const PhotoFormat& PngFormat();
const PhotoFormat& WebpFormat();
const PhotoFormat& TiffFormat();
const PhotoFormat& HeifFormat(); // HEIC/HEIF and AVIF
const PhotoFormat& JxlFormat();
const PhotoFormat& RawFormat();

// EXIF facts from a TIFF-structured EXIF block ("II*\0" or "MM\0*", optionally after
// "Exif\0\0"), as HEIF, WebP, PNG and JPEG XL files carry it: the orientation of the
// first directory (1 when absent or unusable) and DateTimeOriginal from the EXIF
// directory (DateTime of the first directory when that is missing). Reads only the
// bytes given, whatever the offsets inside claim.
struct ExifFacts {
    int orientation = 1;
    QString captureTime;
};
ExifFacts ReadExifBlock(const QByteArray& block);

// The picture turned and mirrored as `orientation` asks (1..8; others as stored).
QImage OrientedImage(const QImage& image, int orientation);

} // namespace fenwa::imaging
