#include "PhotoFormat.h"

#include <jxl/decode.h>
#include <jxl/encode.h>
#include <jxl/resizable_parallel_runner.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>

// JPEG XL through libjxl. The decoder is asked to keep the stored orientation: the
// header gives the stored size and the codestream's orientation (the one that counts;
// an Exif box's is ignored), and the picture is turned when it is shown, as for the
// other kinds.
namespace fenwa::imaging {
namespace {

bool sniffJxl(const QByteArray& head) {
    static constexpr char Container[] = "\0\0\0\x0CJXL \r\n\x87\n";
    return head.startsWith(QByteArray::fromRawData("\xFF\x0A", 2)) ||
           head.startsWith(QByteArray::fromRawData(Container, sizeof Container - 1));
}

struct DecoderDestroy {
    void operator()(JxlDecoder* decoder) const { JxlDecoderDestroy(decoder); }
};
using Decoder = std::unique_ptr<JxlDecoder, DecoderDestroy>;

struct RunnerDestroy {
    void operator()(void* runner) const { JxlResizableParallelRunnerDestroy(runner); }
};

// Gives the decoder the source's bytes: all at once when they are in memory, else read
// in chunks as it asks for more, keeping what it has not consumed yet.
class Input {
public:
    Input(PictureSource& source, int64_t chunk)
        : source_(source), size_(source.size()), chunk_(chunk) {}

    // False when there is nothing more to give or the source fails.
    bool feed(JxlDecoder* decoder) {
        if (const QByteArray* all = source_.bytes()) {
            if (offset_ > 0 || all->isEmpty())
                return false;
            offset_ = all->size();
            JxlDecoderSetInput(decoder, reinterpret_cast<const uint8_t*>(all->constData()),
                               size_t(all->size()));
            JxlDecoderCloseInput(decoder);
            return true;
        }
        const qsizetype unread = qsizetype(JxlDecoderReleaseInput(decoder));
        if (offset_ >= size_ || unread > buffer_.size())
            return false;
        // Growing with what is still unread keeps a long section from being copied
        // over and over.
        const int64_t count = std::min<int64_t>(size_ - offset_, std::max<int64_t>(chunk_, unread));
        QByteArray next(unread + qsizetype(count), Qt::Uninitialized);
        std::memcpy(next.data(), buffer_.constData() + buffer_.size() - unread, size_t(unread));
        if (source_.readAt(next.data() + unread, size_t(count), offset_) != count)
            return false;
        offset_ += count;
        buffer_ = std::move(next);
        JxlDecoderSetInput(decoder, reinterpret_cast<const uint8_t*>(buffer_.constData()),
                           size_t(buffer_.size()));
        if (offset_ >= size_)
            JxlDecoderCloseInput(decoder);
        return true;
    }

private:
    PictureSource& source_;
    const int64_t size_;
    const int64_t chunk_;
    int64_t offset_ = 0;
    QByteArray buffer_;
};

// Collects the first Exif box (decompressed when it is stored compressed).
class ExifBox {
public:
    void boxStarts(JxlDecoder* decoder) {
        finish(decoder);
        JxlBoxType type;
        if (done_ || JxlDecoderGetBoxType(decoder, type, JXL_TRUE) != JXL_DEC_SUCCESS ||
            std::memcmp(type, "Exif", 4) != 0)
            return;
        buffer_ = QByteArray(16 << 10, Qt::Uninitialized);
        filling_ = JxlDecoderSetBoxBuffer(decoder, reinterpret_cast<uint8_t*>(buffer_.data()),
                                          size_t(buffer_.size())) == JXL_DEC_SUCCESS;
    }
    void needsMore(JxlDecoder* decoder) {
        // EXIF written by a camera is at most tens of kilobytes; a larger box is skipped.
        constexpr qsizetype MaxExifBytes = qsizetype(4) << 20;
        const qsizetype filled = buffer_.size() - qsizetype(JxlDecoderReleaseBoxBuffer(decoder));
        if (!filling_ || buffer_.size() >= MaxExifBytes) {
            filling_ = false;
            done_ = true;
            buffer_.clear();
            return;
        }
        buffer_.resize(buffer_.size() * 2);
        JxlDecoderSetBoxBuffer(decoder, reinterpret_cast<uint8_t*>(buffer_.data()) + filled,
                               size_t(buffer_.size() - filled));
    }
    // The box ends where the next begins, or at the end of the file.
    void finish(JxlDecoder* decoder) {
        if (!filling_)
            return;
        buffer_.resize(buffer_.size() - qsizetype(JxlDecoderReleaseBoxBuffer(decoder)));
        filling_ = false;
        done_ = true;
    }
    // The box begins with the offset from its fifth byte to the TIFF header.
    QString captureTime() const {
        if (!done_ || buffer_.size() < 4)
            return {};
        const uint32_t offset = uint32_t(uchar(buffer_[0])) << 24 |
                                uint32_t(uchar(buffer_[1])) << 16 |
                                uint32_t(uchar(buffer_[2])) << 8 | uint32_t(uchar(buffer_[3]));
        if (offset > uint32_t(buffer_.size() - 4))
            return {};
        return ReadExifBlock(buffer_.mid(qsizetype(4 + offset))).captureTime;
    }

private:
    QByteArray buffer_;
    bool filling_ = false;
    bool done_ = false;
};

// Basic info and an Exif box written before the pixels: before a whole-codestream box,
// or after a first partial one holding the headers (as cjxl writes them). The pixels
// and anything after them are not read.
std::optional<PhotoHeader> readJxlHeader(PictureSource& source) try {
    Decoder decoder(JxlDecoderCreate(nullptr));
    if (!decoder || JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO | JXL_DEC_BOX) !=
                        JXL_DEC_SUCCESS)
        return std::nullopt;
    JxlDecoderSetKeepOrientation(decoder.get(), JXL_TRUE);
    JxlDecoderSetDecompressBoxes(decoder.get(), JXL_TRUE);
    Input input(source, 4 << 10);
    ExifBox exif;
    std::optional<PhotoHeader> header;
    bool wholeCodestream = false; // the box being read holds all of the codestream
    const auto finished = [&] {
        exif.finish(decoder.get());
        header->captureTime = exif.captureTime();
        return header;
    };
    for (;;) {
        switch (JxlDecoderProcessInput(decoder.get())) {
        case JXL_DEC_NEED_MORE_INPUT:
            if (!input.feed(decoder.get()))
                return header ? finished() : std::nullopt;
            break;
        case JXL_DEC_BOX: {
            JxlBoxType type;
            if (JxlDecoderGetBoxType(decoder.get(), type, JXL_FALSE) != JXL_DEC_SUCCESS)
                return std::nullopt;
            wholeCodestream = std::memcmp(type, "jxlc", 4) == 0;
            if (header && (wholeCodestream || std::memcmp(type, "jxlp", 4) == 0))
                return finished();
            exif.boxStarts(decoder.get());
            break;
        }
        case JXL_DEC_BOX_NEED_MORE_OUTPUT:
            exif.needsMore(decoder.get());
            break;
        case JXL_DEC_BASIC_INFO: {
            JxlBasicInfo info;
            if (JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS)
                return std::nullopt;
            header.emplace();
            header->width = int(std::min<uint32_t>(info.xsize, INT32_MAX));
            header->height = int(std::min<uint32_t>(info.ysize, INT32_MAX));
            header->orientation = int(info.orientation);
            if (!info.have_container || wholeCodestream)
                return finished();
            break;
        }
        case JXL_DEC_SUCCESS:
            return header ? finished() : std::nullopt;
        default:
            return std::nullopt;
        }
    }
} catch (...) {
    return std::nullopt;
}

// What libjxl holds while decoding: up to four bytes a sample for every channel of a
// lossless (modular) picture, besides the pixels returned.
bool decoderFitsBound(const JxlBasicInfo& info) {
    const int64_t channels = int64_t(info.num_color_channels) + info.num_extra_channels;
    return int64_t(info.xsize) * info.ysize * channels * 4 <= MaxDecoderBytes;
}

std::optional<PhotoImage> decodeJxl(PictureSource& source, const PhotoRequest& request) try {
    Decoder decoder(JxlDecoderCreate(nullptr));
    std::unique_ptr<void, RunnerDestroy> runner(
        request.ownThreads ? JxlResizableParallelRunnerCreate(nullptr) : nullptr);
    if (!decoder || (request.ownThreads && !runner) ||
        JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING |
                                                     JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS ||
        (runner && JxlDecoderSetParallelRunner(decoder.get(), JxlResizableParallelRunner,
                                               runner.get()) != JXL_DEC_SUCCESS))
        return std::nullopt;
    JxlDecoderSetKeepOrientation(decoder.get(), JXL_TRUE);
    // ARGB32 holds straight alpha.
    JxlDecoderSetUnpremultiplyAlpha(decoder.get(), JXL_TRUE);
    Input input(source, 1 << 20);
    JxlBasicInfo info{};
    PhotoImage photo;
    bool alpha = false;
    bool grey = false;
    for (;;) {
        switch (JxlDecoderProcessInput(decoder.get())) {
        case JXL_DEC_NEED_MORE_INPUT:
            if (!input.feed(decoder.get()))
                return std::nullopt;
            break;
        case JXL_DEC_BASIC_INFO: {
            if (JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS ||
                !PhotoFitsBound(info.xsize, info.ysize) || !decoderFitsBound(info))
                return std::nullopt;
            photo.fullWidth = int(info.xsize);
            photo.fullHeight = int(info.ysize);
            photo.orientation = int(info.orientation);
            alpha = info.alpha_bits > 0;
            grey = info.num_color_channels == 1;
            // Threads pay off only on larger pictures; small ones stay on this thread.
            const uint32_t threads =
                std::min<uint32_t>(JxlResizableParallelRunnerSuggestThreads(info.xsize, info.ysize),
                                   std::max(1u, std::thread::hardware_concurrency()));
            if (runner && threads > 1)
                JxlResizableParallelRunnerSetThreads(runner.get(), threads);
            break;
        }
        case JXL_DEC_COLOR_ENCODING: {
            // A lossy picture may be given in any space; sRGB is what gets shown.
            JxlColorEncoding srgb;
            JxlColorEncodingSetToSRGB(&srgb, grey ? JXL_TRUE : JXL_FALSE);
            JxlDecoderSetPreferredColorProfile(decoder.get(), &srgb);
            break;
        }
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            // libjxl writes straight into the picture's rows (4-byte aligned, as QImage's).
            const uint32_t channels = alpha ? 4 : grey ? 1 : 3;
            photo.image = QImage(int(info.xsize), int(info.ysize),
                                 alpha  ? QImage::Format_RGBA8888
                                 : grey ? QImage::Format_Grayscale8
                                        : QImage::Format_RGB888);
            const JxlPixelFormat format{channels, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 4};
            size_t needed = 0;
            if (photo.image.isNull() ||
                JxlDecoderImageOutBufferSize(decoder.get(), &format, &needed) != JXL_DEC_SUCCESS ||
                needed != size_t(photo.image.bytesPerLine()) * size_t(photo.image.height()) ||
                JxlDecoderSetImageOutBuffer(decoder.get(), &format, photo.image.bits(), needed) !=
                    JXL_DEC_SUCCESS)
                return std::nullopt;
            break;
        }
        case JXL_DEC_FULL_IMAGE:
            // The first frame is the picture; an animation's others are not wanted.
            if (photo.image.isNull())
                return std::nullopt;
            if (alpha)
                photo.image.convertTo(QImage::Format_ARGB32);
            return photo;
        default: // an error, or the end without a frame
            return std::nullopt;
        }
    }
} catch (...) {
    return std::nullopt;
}

} // namespace

const PhotoFormat& JxlFormat() {
    static const PhotoFormat format{"JPEG XL", "JPEG XL Image", {"jxl"},
                                    &sniffJxl, &readJxlHeader,  &decodeJxl};
    return format;
}

} // namespace fenwa::imaging
