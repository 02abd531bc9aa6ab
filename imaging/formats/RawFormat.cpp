// Camera RAW files through LibRaw (its thread-safe build). A RAW file is mostly sensor
// data, so LibRaw reads it through a stream over the picture source: only the
// directories and the preview it asks for are read, never the whole file. The picture
// shown is the camera's embedded preview; only a file without a usable one is
// developed from its sensor data. Each call has its own LibRaw object.

#include "../ExifOrientation.h"
#include "../GraphicErrors.h"
#include "../JpegCodec.h"
#include "PhotoFormat.h"

#include <QDateTime>

#include <libraw/libraw.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <tuple>
#include <utility>

namespace fenwa::imaging {

namespace {

// LibRaw's stream over a picture source. Bytes in memory are read in place; a file is
// read through a small window, since LibRaw parses directories a few bytes at a time,
// and large reads (the preview, the sensor data) go straight to the caller's buffer.
class SourceStream final : public LibRaw_abstract_datastream {
public:
    explicit SourceStream(PictureSource& source)
        : source_(source), size_(std::max<int64_t>(source.size(), 0)) {
        if (const QByteArray* bytes = source.bytes())
            memory_ = reinterpret_cast<const unsigned char*>(bytes->constData());
    }

    int valid() override { return 1; }
    INT64 size() override { return size_; }
    INT64 tell() override { return position_; }
    int eof() override { return position_ >= size_; }
    void* make_jas_stream() override { return nullptr; }

    int seek(INT64 offset, int whence) override {
        INT64 base = 0;
        if (whence == SEEK_CUR)
            base = position_;
        else if (whence == SEEK_END)
            base = size_;
        else if (whence != SEEK_SET)
            return -1;
        if (offset > size_ - base) // past the end: stay at the end, as LibRaw's own do
            offset = size_ - base;
        position_ = std::max<INT64>(base + offset, 0);
        return 0;
    }

    // Whole items read, as fread counts them.
    int read(void* buffer, size_t itemSize, size_t count) override {
        if (itemSize == 0)
            return 0;
        count = std::min(count, size_t(INT_MAX) / itemSize);
        return int(copyOut(static_cast<unsigned char*>(buffer), itemSize * count) / itemSize);
    }

    // Compressed sensor data is read a byte at a time: those bytes come straight from
    // memory or the window.
    int get_char() override {
        if (memory_)
            return position_ < size_ ? memory_[position_++] : -1;
        if (position_ >= windowAt_ && position_ < windowAt_ + windowLength_)
            return window_[position_++ - windowAt_];
        unsigned char c;
        return copyOut(&c, 1) == 1 ? c : -1;
    }

    char* gets(char* line, int capacity) override {
        if (capacity <= 0 || eof())
            return nullptr;
        int n = 0;
        while (n < capacity - 1) {
            const int c = get_char();
            if (c < 0)
                break;
            line[n++] = char(c);
            if (c == '\n')
                break;
        }
        line[n] = '\0';
        return line;
    }

    // One number in text, as the few text-based headers LibRaw reads are written.
    int scanf_one(const char* format, void* value) override {
        char text[32] = {};
        const INT64 start = position_;
        const size_t got = copyOut(reinterpret_cast<unsigned char*>(text), sizeof text - 1);
        text[got] = '\0';
        int used = 0;
        const char* p = text;
        while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')
            ++p;
        while (*p && *p != ' ' && *p != '\t' && *p != '\n' && *p != '\r')
            ++p;
        used = int(p - text);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        const int result = std::sscanf(text, format, value);
#pragma GCC diagnostic pop
        position_ = start + (result > 0 ? used : 0);
        return result;
    }

private:
    // Copies up to count bytes from the position and moves past them.
    size_t copyOut(unsigned char* out, size_t count) {
        count = size_t(std::min<INT64>(INT64(count), size_ - position_));
        if (memory_) {
            std::memcpy(out, memory_ + position_, count);
            position_ += INT64(count);
            return count;
        }
        size_t done = 0;
        while (done < count) {
            if (position_ >= windowAt_ && position_ < windowAt_ + windowLength_) {
                const size_t n =
                    std::min<size_t>(count - done, size_t(windowAt_ + windowLength_ - position_));
                std::memcpy(out + done, window_ + (position_ - windowAt_), n);
                done += n;
                position_ += INT64(n);
            } else if (count - done >= sizeof window_) {
                const int64_t n = source_.readAt(out + done, count - done, position_);
                if (n <= 0)
                    break;
                done += size_t(n);
                position_ += n;
            } else {
                const int64_t n = source_.readAt(window_, sizeof window_, position_);
                if (n <= 0)
                    break;
                windowAt_ = position_;
                windowLength_ = n;
            }
        }
        return done;
    }

    PictureSource& source_;
    const INT64 size_;
    const unsigned char* memory_ = nullptr;
    INT64 position_ = 0;
    INT64 windowAt_ = 0;
    INT64 windowLength_ = 0;
    unsigned char window_[16384];
};

// One LibRaw object with its stream, opened on the source. The stream outlives the
// object, which only borrows it.
struct OpenRaw {
    explicit OpenRaw(PictureSource& source) : stream(source) {}

    bool open() {
        // Quiet: a cut file fails its call, and damaged data shows as it is, as in a JPEG.
        raw = std::make_unique<LibRaw>(LIBRAW_OPIONS_NO_MEMERR_CALLBACK |
                                       LIBRAW_OPIONS_NO_DATAERR_CALLBACK);
        raw->imgdata.params.max_raw_memory_mb = unsigned(MaxDecoderBytes >> 20);
        stream.seek(0, SEEK_SET);
        return raw->open_datastream(&stream) == LIBRAW_SUCCESS;
    }

    SourceStream stream;
    std::unique_ptr<LibRaw> raw;
};

// LibRaw's flip (bit 0 mirrors left-right, bit 1 top-bottom, bit 2 exchanges the axes
// first) as the EXIF orientation that shows the picture the same way.
int ExifFromFlip(int flip) {
    static constexpr int exif[8] = {1, 2, 4, 3, 5, 8, 6, 7};
    return flip >= 0 && flip < 8 ? exif[flip] : 1;
}

// The developed picture's size before the flip, and whether it and the sensor data are
// within the bounds; what a preview or a decode may report as the full picture.
std::optional<QSize> FullSize(LibRaw& raw) {
    const libraw_image_sizes_t& s = raw.imgdata.sizes;
    if (!PhotoFitsBound(s.raw_width, s.raw_height) || !PhotoFitsBound(s.width, s.height))
        return std::nullopt;
    const int flip = s.flip;
    if (raw.adjust_sizes_info_only() != LIBRAW_SUCCESS)
        return std::nullopt;
    const bool swapped = (flip & 4) != 0;
    const QSize size = swapped ? QSize(s.iheight, s.iwidth) : QSize(s.iwidth, s.iheight);
    if (!PhotoFitsBound(size.width(), size.height()))
        return std::nullopt;
    return size;
}

std::optional<PhotoHeader> ReadRawHeader(PictureSource& source) {
    try {
        OpenRaw open(source);
        if (!open.open())
            return std::nullopt;
        LibRaw& raw = *open.raw;
        PhotoHeader header;
        header.orientation = ExifFromFlip(raw.imgdata.sizes.flip);
        if (const time_t taken = raw.imgdata.other.timestamp; taken > 0)
            header.captureTime =
                QDateTime::fromSecsSinceEpoch(qint64(taken)).toString("yyyy:MM:dd HH:mm:ss");
        const std::optional<QSize> size = FullSize(raw);
        if (!size)
            return std::nullopt;
        header.width = size->width();
        header.height = size->height();
        return header;
    } catch (...) {
        return std::nullopt;
    }
}

// The JPEG preview at the smallest DCT scale whose shorter side reaches minShortSide.
QImage DecodeJpegPreview(const QByteArray& jpeg, int minShortSide) {
    const TJpegHeaderInfo info = JpegReadHeader(jpeg);
    if (!PhotoFitsBound(info.width, info.height))
        return {};
    TJpegDecodeOptions options;
    for (TJPEGScale scale : {jsEighth, jsQuarter, jsHalf}) {
        const int d = 1 << int(scale);
        if (minShortSide > 0 && (std::min(info.width, info.height) + d - 1) / d >= minShortSide) {
            options.scale = scale;
            break;
        }
    }
    TDibBitmap bitmap;
    JpegDecode(jpeg, options, nullptr, bitmap, {});
    const QImage view = bitmap.toQImage();
    return view.format() == QImage::Format_Indexed8
               ? view.convertToFormat(QImage::Format_Grayscale8)
               : view.convertToFormat(QImage::Format_RGB888);
}

// The embedded preview as stored, with the orientation it is to be shown in; a null
// image when the file has none that can be used.
std::pair<QImage, int> DecodePreview(OpenRaw& open, PictureSource& source, int minShortSide) {
    LibRaw& raw = *open.raw;
    const libraw_thumbnail_t& thumb = raw.imgdata.thumbnail;
    const int orientation = ExifFromFlip(raw.imgdata.sizes.flip);
    if (int64_t(thumb.tlength) > source.size() || int64_t(thumb.tlength) > MaxDecoderBytes ||
        int64_t(thumb.twidth) * thumb.theight > MaxPhotoPixels)
        return {};
    if (raw.unpack_thumb() != LIBRAW_SUCCESS || !thumb.thumb)
        return {};
    if (thumb.tformat == LIBRAW_THUMBNAIL_JPEG) {
        const QByteArray jpeg = QByteArray::fromRawData(thumb.thumb, qsizetype(thumb.tlength));
        QImage image = DecodeJpegPreview(jpeg, minShortSide);
        // A preview that says how to turn itself knows better than the sensor's flag.
        const int own = image.isNull() ? 1 : JpegExifOrientation(jpeg);
        return {image, own != 1 ? own : orientation};
    }
    if (thumb.tformat == LIBRAW_THUMBNAIL_BITMAP && (thumb.tcolors == 1 || thumb.tcolors == 3) &&
        PhotoFitsBound(thumb.twidth, thumb.theight) &&
        int64_t(thumb.tlength) >= int64_t(thumb.twidth) * thumb.theight * thumb.tcolors) {
        const QImage view(reinterpret_cast<const uchar*>(thumb.thumb), thumb.twidth, thumb.theight,
                          qsizetype(thumb.twidth) * thumb.tcolors,
                          thumb.tcolors == 3 ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
        return {view.copy(), orientation};
    }
    return {};
}

// Develops the sensor data; half size when the request allows. The picture comes as
// stored (the flip is left to the caller).
QImage DevelopRaw(LibRaw& raw, int minShortSide) {
    const libraw_image_sizes_t& s = raw.imgdata.sizes;
    if (!PhotoFitsBound(s.raw_width, s.raw_height) || !PhotoFitsBound(s.width, s.height) ||
        int64_t(s.raw_width) * s.raw_height * 2 > MaxDecoderBytes)
        return {};
    libraw_output_params_t& params = raw.imgdata.params;
    params.user_flip = 0;
    params.use_camera_wb = 1;
    params.output_bps = 8;
    params.half_size = minShortSide > 0 && std::min(s.width, s.height) / 2 >= minShortSide;
    if (raw.unpack() != LIBRAW_SUCCESS || raw.dcraw_process() != LIBRAW_SUCCESS)
        return {};
    int error = 0;
    std::unique_ptr<libraw_processed_image_t, void (*)(libraw_processed_image_t*)> made(
        raw.dcraw_make_mem_image(&error), LibRaw::dcraw_clear_mem);
    if (!made || made->type != LIBRAW_IMAGE_BITMAP || made->bits != 8 ||
        (made->colors != 3 && made->colors != 1) || !PhotoFitsBound(made->width, made->height))
        return {};
    const QImage view(made->data, made->width, made->height, qsizetype(made->width) * made->colors,
                      made->colors == 3 ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
    return view.copy();
}

std::optional<PhotoImage> DecodeRaw(PictureSource& source, const PhotoRequest& request) {
    try {
        OpenRaw open(source);
        if (!open.open())
            return std::nullopt;
        const int flip = open.raw->imgdata.sizes.flip;
        const std::optional<QSize> full = FullSize(*open.raw);
        if (!full)
            return std::nullopt;
        PhotoImage photo;
        photo.fullWidth = full->width();
        photo.fullHeight = full->height();
        try {
            std::tie(photo.image, photo.orientation) =
                DecodePreview(open, source, request.minShortSide);
        } catch (const EJPEG&) {
            // A damaged preview: the sensor data may still be fine.
        }
        if (!photo.image.isNull())
            return photo;
        // Sizes were adjusted for the header; the sensor data is read from a fresh start.
        if (!open.open())
            return std::nullopt;
        photo.image = DevelopRaw(*open.raw, request.minShortSide);
        photo.orientation = ExifFromFlip(flip);
        if (photo.image.isNull())
            return std::nullopt;
        return photo;
    } catch (...) {
        return std::nullopt;
    }
}

bool SniffRaw(const QByteArray& head) {
    const auto starts = [&](const char* magic, qsizetype length, qsizetype at = 0) {
        return head.size() >= at + length && std::memcmp(head.constData() + at, magic, length) == 0;
    };
    return starts("II*\0", 4) || starts("MM\0*", 4) || starts("IIRO", 4) || starts("IIRS", 4) ||
           starts("MMOR", 4) || starts("IIU\0", 4) || starts("FUJIFILMCCD-RAW", 15) ||
           (starts("ftyp", 4, 4) && starts("crx ", 4, 8));
}

} // namespace

const PhotoFormat& RawFormat() {
    static const PhotoFormat format{
        "camera RAW", "Camera RAW Image", {"dng", "cr2", "cr3", "nef", "arw", "orf", "raf", "rw2"},
        SniffRaw,     ReadRawHeader,      DecodeRaw};
    return format;
}

} // namespace fenwa::imaging
