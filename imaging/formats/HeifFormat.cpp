#include "PhotoFormat.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

// HEIF (HEIC from phones and cameras) and AVIF, both read by libheif. libheif applies
// the file's rotation, mirroring and cropping when it decodes, and the handle's size is
// already the turned one, so the header gives the size as shown and orientation 1. The
// EXIF orientation inside a HEIF file is not applied: the file's own transform boxes
// decide how it is shown, and phones write both.
namespace fenwa::imaging {
namespace {

// The brands of a still picture or picture sequence that libheif reads.
constexpr const char* HeifBrands[] = {"heic", "heix", "hevc", "heim", "heis",
                                      "mif1", "msf1", "avif", "avis"};

bool isHeifBrand(const char* fourcc) {
    return std::any_of(std::begin(HeifBrands), std::end(HeifBrands),
                       [&](const char* brand) { return std::memcmp(brand, fourcc, 4) == 0; });
}

uint32_t bigEndian32(const char* p) {
    return uint32_t(uchar(p[0])) << 24 | uint32_t(uchar(p[1])) << 16 | uint32_t(uchar(p[2])) << 8 |
           uint32_t(uchar(p[3]));
}

// An ftyp box first: its size, "ftyp", the major brand, a minor version and the
// compatible brands up to the box's end (or the end of the head).
bool sniffHeif(const QByteArray& head) {
    if (head.size() < 16 || std::memcmp(head.constData() + 4, "ftyp", 4) != 0)
        return false;
    const uint32_t boxSize = bigEndian32(head.constData());
    if (boxSize < 16)
        return false;
    if (isHeifBrand(head.constData() + 8))
        return true;
    const qsizetype end = qsizetype(std::min<int64_t>(boxSize, head.size()));
    for (qsizetype at = 16; at + 4 <= end; at += 4)
        if (isHeifBrand(head.constData() + at))
            return true;
    return false;
}

void initLibheif() {
    // Once for the process; never undone, as decoders on other threads may be running.
    static const bool initialised = [] {
        heif_init(nullptr);
        return true;
    }();
    (void)initialised;
}

// libheif reads the file through this at the offsets it needs. On opening, libheif 1.15
// also reads every top-level box whole, the media data too, though it reads each
// picture's data again at its own offsets when decoding it. That whole read of a media
// data box, which comes before any item is read, is answered once without touching the
// file, so reading a header costs a few boxes, not the photo. Afterwards every read,
// a picture's data included, goes to the file.
struct SourceReader {
    explicit SourceReader(PictureSource& s) : source(s), size(s.size()) { findMediaData(); }

    PictureSource& source;
    const int64_t size;
    int64_t position = 0;
    struct Range {
        int64_t offset;
        int64_t count;
    };
    std::vector<Range> mediaData; // the bodies of the top-level mdat boxes not yet skipped
    bool opening = true;

    // Walks the top-level box headers.
    void findMediaData() {
        constexpr int MaxBoxes = 256;
        int64_t at = 0;
        for (int box = 0; box < MaxBoxes && at <= size - 8; ++box) {
            const std::optional<QByteArray> header =
                source.range(at, std::min<int64_t>(16, size - at));
            if (!header)
                return;
            int64_t boxSize = bigEndian32(header->constData());
            int64_t headerSize = 8;
            if (boxSize == 1 && header->size() == 16) {
                boxSize = int64_t(bigEndian32(header->constData() + 8)) << 32 |
                          bigEndian32(header->constData() + 12);
                headerSize = 16;
            } else if (boxSize == 0) {
                boxSize = size - at;
            }
            if (boxSize < headerSize || boxSize > size - at)
                return;
            if (std::memcmp(header->constData() + 4, "mdat", 4) == 0)
                mediaData.push_back({at + headerSize, boxSize - headerSize});
            at += boxSize;
        }
    }

    static SourceReader& of(void* userdata) { return *static_cast<SourceReader*>(userdata); }

    static int64_t getPosition(void* userdata) { return of(userdata).position; }
    static int read(void* data, size_t count, void* userdata) {
        SourceReader& r = of(userdata);
        if (count > uint64_t(r.size - r.position))
            return 1;
        const auto skipped =
            std::find_if(r.mediaData.begin(), r.mediaData.end(), [&](const Range& m) {
                return r.opening && m.offset == r.position && m.count == int64_t(count);
            });
        if (skipped != r.mediaData.end())
            r.mediaData.erase(skipped);
        else if (r.source.readAt(data, count, r.position) != int64_t(count))
            return 1;
        r.position += int64_t(count);
        return 0;
    }
    static int seek(int64_t position, void* userdata) {
        SourceReader& r = of(userdata);
        if (position < 0 || position > r.size)
            return 1;
        r.position = position;
        return 0;
    }
    static heif_reader_grow_status waitForFileSize(int64_t target, void* userdata) {
        return target <= of(userdata).size ? heif_reader_grow_status_size_reached
                                           : heif_reader_grow_status_size_beyond_eof;
    }
};

constexpr heif_reader Reader{1, &SourceReader::getPosition, &SourceReader::read,
                             &SourceReader::seek, &SourceReader::waitForFileSize};

struct ContextFree {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleRelease {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct OptionsFree {
    void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};
using Handle = std::unique_ptr<heif_image_handle, HandleRelease>;

// The opened file and its primary picture. libheif reads the pictures' data through
// the reader only when they are decoded, so the reader lives as long as the context.
struct OpenHeif {
    std::unique_ptr<SourceReader> reader;
    std::unique_ptr<heif_context, ContextFree> context;
    Handle primary;
};

std::optional<OpenHeif> openHeif(PictureSource& source) {
    initLibheif();
    OpenHeif open;
    open.context.reset(heif_context_alloc());
    if (!open.context)
        return std::nullopt;
    heif_context_set_maximum_image_size_limit(open.context.get(), MaxPhotoSide);
    open.reader = std::make_unique<SourceReader>(source);
    if (open.reader->size <= 0 ||
        heif_context_read_from_reader(open.context.get(), &Reader, open.reader.get(), nullptr)
                .code != heif_error_Ok)
        return std::nullopt;
    open.reader->opening = false;
    heif_image_handle* primary = nullptr;
    if (heif_context_get_primary_image_handle(open.context.get(), &primary).code != heif_error_Ok)
        return std::nullopt;
    open.primary.reset(primary);
    return open;
}

// The Exif item begins with the offset from its fifth byte to the TIFF header.
QString captureTime(heif_image_handle* handle) {
    // EXIF written by a camera is at most tens of kilobytes; anything larger is not read.
    constexpr size_t MaxExifBytes = size_t(4) << 20;
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(handle, "Exif", &id, 1) < 1)
        return {};
    const size_t size = heif_image_handle_get_metadata_size(handle, id);
    if (size < 4 || size > MaxExifBytes)
        return {};
    QByteArray item(qsizetype(size), Qt::Uninitialized);
    if (heif_image_handle_get_metadata(handle, id, item.data()).code != heif_error_Ok)
        return {};
    const uint32_t offset = bigEndian32(item.constData());
    if (offset > size - 4)
        return {};
    return ReadExifBlock(item.mid(qsizetype(4 + offset))).captureTime;
}

std::optional<PhotoHeader> readHeifHeader(PictureSource& source) try {
    std::optional<OpenHeif> open = openHeif(source);
    if (!open)
        return std::nullopt;
    PhotoHeader header;
    header.width = heif_image_handle_get_width(open->primary.get());
    header.height = heif_image_handle_get_height(open->primary.get());
    if (header.width <= 0 || header.height <= 0)
        return std::nullopt;
    header.captureTime = captureTime(open->primary.get());
    return header;
} catch (...) {
    return std::nullopt;
}

// The smallest thumbnail whose shorter side is at least minShortSide, else null.
Handle thumbnailFor(heif_image_handle* primary, int minShortSide) {
    const int count = heif_image_handle_get_number_of_thumbnails(primary);
    if (count <= 0 || count > 64)
        return {};
    std::vector<heif_item_id> ids(static_cast<size_t>(count));
    const int listed = heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(), count);
    Handle best;
    for (int i = 0; i < listed; ++i) {
        heif_image_handle* thumbnail = nullptr;
        if (heif_image_handle_get_thumbnail(primary, ids[size_t(i)], &thumbnail).code !=
            heif_error_Ok)
            continue;
        Handle candidate(thumbnail);
        const int w = heif_image_handle_get_width(thumbnail);
        const int h = heif_image_handle_get_height(thumbnail);
        if (std::min(w, h) < minShortSide || !PhotoFitsBound(w, h))
            continue;
        if (!best || int64_t(w) * h < int64_t(heif_image_handle_get_width(best.get())) *
                                          heif_image_handle_get_height(best.get()))
            best = std::move(candidate);
    }
    return best;
}

// Decodes to interleaved 8-bit RGB (RGBA when there is alpha); the QImage is laid over
// the decoded plane and releases it when the last copy goes.
QImage decodeHandle(heif_image_handle* handle) {
    const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    std::unique_ptr<heif_decoding_options, OptionsFree> options(heif_decoding_options_alloc());
    if (!options)
        return {};
    options->convert_hdr_to_8bit = 1;
    heif_image* decoded = nullptr;
    if (heif_decode_image(handle, &decoded, heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                          options.get())
                .code != heif_error_Ok ||
        !decoded)
        return {};
    const auto release = [](void* image) { heif_image_release(static_cast<heif_image*>(image)); };
    const int width = heif_image_get_width(decoded, heif_channel_interleaved);
    const int height = heif_image_get_height(decoded, heif_channel_interleaved);
    int stride = 0;
    const uint8_t* plane =
        heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
    if (!plane || !PhotoFitsBound(width, height) ||
        heif_image_get_bits_per_pixel(decoded, heif_channel_interleaved) != (alpha ? 32 : 24) ||
        stride < width * (alpha ? 4 : 3)) {
        heif_image_release(decoded);
        return {};
    }
    // Read-only pixels: a painter or a conversion gets its own copy.
    const QImage wrapped(plane, width, height, stride,
                         alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888, release, decoded);
    if (wrapped.isNull()) {
        heif_image_release(decoded);
        return {};
    }
    return alpha ? wrapped.convertToFormat(QImage::Format_ARGB32) : wrapped;
}

std::optional<PhotoImage> decodeHeif(PictureSource& source, const PhotoRequest& request) try {
    std::optional<OpenHeif> open = openHeif(source);
    if (!open)
        return std::nullopt;
    PhotoImage photo;
    photo.fullWidth = heif_image_handle_get_width(open->primary.get());
    photo.fullHeight = heif_image_handle_get_height(open->primary.get());
    if (!PhotoFitsBound(photo.fullWidth, photo.fullHeight))
        return std::nullopt;
    // A thumbnail big enough for the request is decoded in a fraction of the time.
    if (request.minShortSide > 0)
        if (Handle thumbnail = thumbnailFor(open->primary.get(), request.minShortSide))
            photo.image = decodeHandle(thumbnail.get());
    if (photo.image.isNull()) {
        photo.image = decodeHandle(open->primary.get());
        // A damaged file may declare another size than its coded picture has: the pixels
        // decoded are the picture.
        if (!photo.image.isNull()) {
            photo.fullWidth = photo.image.width();
            photo.fullHeight = photo.image.height();
        }
    }
    if (photo.image.isNull())
        return std::nullopt;
    return photo;
} catch (...) {
    return std::nullopt;
}

} // namespace

const PhotoFormat& HeifFormat() {
    static const PhotoFormat format{"HEIF",     "HEIF Image",    {"heic", "heif", "hif", "avif"},
                                    &sniffHeif, &readHeifHeader, &decodeHeif};
    return format;
}

} // namespace fenwa::imaging
