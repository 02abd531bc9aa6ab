// The only file that talks to libjpeg. libjpeg reports fatal errors through
// error_exit, which must not return; we longjmp back into the function that called the
// library and throw from the C++ side. The functions that hold a setjmp point keep all
// their state in a plain DecodeContext, so no object with a destructor is alive in a
// frame the jump skips.

#include "JpegCodec.h"
#include "JpegErrors.h"

#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include <jerror.h>
#include <jpeglib.h>

namespace {

struct DecodeContext;

// The library's progress record extended with what the throttled hook remembers.
struct ProgressRecord {
    jpeg_progress_mgr pub;
    DecodeContext* context;
    int lastPercent;
    long long lastTime;
    int lastRow;
};

enum Failure { NoFailure, LibraryError, TooLarge, OutOfMemory };

// Everything a decode needs, trivially destructible so a longjmp can skip it.
struct DecodeContext {
    jpeg_decompress_struct cinfo;
    JpegErrorManager errors;
    ProgressRecord progress;
    bool created;

    const unsigned char* data;
    unsigned long size;

    int scaleDenominator;
    bool smoothing;
    bool grayscale;
    bool eightBit;
    bool fast;
    bool progressiveDisplay;
    bool reportProgress;
    const TPaletteEntry* externalPalette;
    int externalPaletteCount;

    // Quality settings as they stand before progressive display overrides them.
    J_DCT_METHOD finalDctMethod;
    boolean finalTwoPassQuantize;
    J_DITHER_MODE finalDitherMode;
    bool buffered;
    bool fourComponent;

    const TProgressEvent* progressEvent;
    TDibBitmap* bitmap;
    bool started;    // decompression started: the bitmap has its size
    int rowsWritten; // rows from the top that some pass has written
    bool buildPalette;
    bool paletteModified;
    TPaletteEntry capturedPalette[256];
    int capturedCount;
    bool hasCapturedPalette;

    Failure failure;
    int code;
};

long long tickCount() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() + 1;
}

void reportProgress(DecodeContext* c, TProgressStage stage, int percent, bool redraw,
                    const QRect& rows) noexcept {
    if (!c->progressEvent || !*c->progressEvent)
        return;
    try {
        (*c->progressEvent)(stage, percent, redraw, rows);
    } catch (...) {
        // A listener's failure must not unwind through the library.
    }
}

// Called by the library while it decodes; at most one report per 500 ms, and only
// when the whole per cent changes.
void progressHook(j_common_ptr cinfo) {
    auto* record = reinterpret_cast<ProgressRecord*>(cinfo->progress);
    DecodeContext* c = record->context;
    if (!c)
        return;
    const long long now = tickCount();
    if (now - record->lastTime < 500)
        return;
    const long long previous = record->lastTime;
    record->lastTime = now;
    if (previous == 0)
        return;
    QRect rows;
    if (cinfo->is_decompressor) {
        auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
        int bottom = int(d->output_scanline);
        if (bottom < record->lastRow)
            bottom = int(d->output_height);
        rows = QRect(QPoint(0, record->lastRow), QPoint(int(d->output_width) - 1, bottom - 1));
    }
    const auto& p = record->pub;
    const int totalPasses = p.total_passes > 0 ? p.total_passes : 1;
    const double done = (p.pass_limit > 0 ? double(p.pass_counter) / double(p.pass_limit) : 0.0) +
                        double(p.completed_passes);
    const int percent = int(done * 100.0 / totalPasses);
    if (percent == record->lastPercent)
        return;
    record->lastPercent = percent;
    if (cinfo->is_decompressor)
        record->lastRow = int(reinterpret_cast<j_decompress_ptr>(cinfo)->output_scanline);
    reportProgress(c, TProgressStage::Running, percent, rows.height() >= 4, rows);
}

void prepareContext(DecodeContext* c, const QByteArray& bytes, const TJpegDecodeOptions& o) {
    c->data = reinterpret_cast<const unsigned char*>(bytes.constData());
    c->size = static_cast<unsigned long>(bytes.size());
    c->scaleDenominator = 1 << int(o.scale);
    c->smoothing = o.smoothing;
    c->grayscale = o.grayscale;
    c->eightBit = o.pixelFormat == jf8Bit;
    c->fast = o.performance == jpBestSpeed;
    c->progressiveDisplay = o.progressiveDisplay;
    c->failure = NoFailure;
    c->buildPalette = true;
}

// Creates the decompressor, reads the header and applies the settings. Must run
// below a setjmp point that catches the library's errors.
void setupDecoder(DecodeContext* c) {
    jpeg_decompress_struct& cinfo = c->cinfo;
    cinfo.err = JpegQuietErrors(c->errors);
    jpeg_create_decompress(&cinfo);
    c->created = true;
    cinfo.mem->max_memory_to_use = kMaxJpegDecoderMemory;
    if (c->reportProgress) {
        c->progress.pub.progress_monitor = progressHook;
        c->progress.context = c;
        c->progress.lastPercent = -1;
        cinfo.progress = &c->progress.pub;
    }

    jpeg_mem_src(&cinfo, c->data, c->size);
    jpeg_read_header(&cinfo, TRUE);

    cinfo.scale_num = 1;
    cinfo.scale_denom = unsigned(c->scaleDenominator);
    cinfo.do_block_smoothing = c->smoothing ? TRUE : FALSE;

    c->fourComponent = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    if (c->fourComponent) {
        // Four samples per pixel; converted to colour (or grey) row by row below.
        cinfo.out_color_space = JCS_CMYK;
    } else {
        if (cinfo.out_color_space == JCS_RGB)
            cinfo.out_color_space = JCS_EXT_BGR; // the bitmap's own sample order
        if (c->grayscale)
            cinfo.out_color_space = JCS_GRAYSCALE;
        if (c->eightBit || cinfo.out_color_space == JCS_GRAYSCALE) {
            cinfo.quantize_colors = TRUE;
            cinfo.desired_number_of_colors = 236;
        }
    }
    if (c->fast) {
        cinfo.dct_method = JDCT_IFAST;
        // Without this the library silently replaces ordered dithering by Floyd-Steinberg.
        cinfo.two_pass_quantize = FALSE;
        cinfo.dither_mode = JDITHER_ORDERED;
    }
    c->finalDctMethod = cinfo.dct_method;
    c->finalTwoPassQuantize = cinfo.two_pass_quantize;
    c->finalDitherMode = cinfo.dither_mode;
    c->buffered = false;
    if (c->progressiveDisplay && jpeg_has_multiple_scans(&cinfo)) {
        cinfo.enable_2pass_quant = cinfo.two_pass_quantize;
        cinfo.dct_method = JDCT_IFAST;
        cinfo.two_pass_quantize = FALSE;
        cinfo.dither_mode = JDITHER_ORDERED;
        cinfo.buffered_image = TRUE;
        c->buffered = true;
    }
}

void readHeaderInner(DecodeContext* c, TJpegHeaderInfo* info) {
    if (setjmp(c->errors.jump)) {
        c->failure = LibraryError;
        c->code = c->errors.pub.msg_code;
        return;
    }
    c->cinfo.err = JpegQuietErrors(c->errors);
    jpeg_create_decompress(&c->cinfo);
    c->created = true;
    jpeg_mem_src(&c->cinfo, c->data, c->size);
    jpeg_read_header(&c->cinfo, TRUE);
    info->width = int(c->cinfo.image_width);
    info->height = int(c->cinfo.image_height);
    info->grayscale = c->cinfo.jpeg_color_space == JCS_GRAYSCALE;
    info->progressive = jpeg_has_multiple_scans(&c->cinfo);
}

void outputSizeInner(DecodeContext* c, int* width, int* height) {
    if (setjmp(c->errors.jump)) {
        c->failure = LibraryError;
        c->code = c->errors.pub.msg_code;
        return;
    }
    setupDecoder(c);
    jpeg_calc_output_dimensions(&c->cinfo);
    *width = int(c->cinfo.output_width);
    *height = int(c->cinfo.output_height);
}

bool allocateBitmap(DecodeContext* c, int width, int height, int bitsPerPixel) noexcept {
    try {
        c->bitmap->allocate(width, height, bitsPerPixel);
        return true;
    } catch (const std::length_error&) {
        c->failure = TooLarge;
    } catch (...) {
        c->failure = OutOfMemory;
    }
    return false;
}

void capturePalette(DecodeContext* c) {
    const jpeg_decompress_struct& cinfo = c->cinfo;
    const int count = cinfo.actual_number_of_colors < 256 ? cinfo.actual_number_of_colors : 256;
    for (int i = 0; i < count; ++i) {
        TPaletteEntry& e = c->capturedPalette[i];
        if (cinfo.out_color_components == 1) {
            e.red = e.green = e.blue = cinfo.colormap[0][i];
        } else {
            // The samples come blue, green, red, so the map holds blue in row 0.
            e.blue = cinfo.colormap[0][i];
            e.green = cinfo.colormap[1][i];
            e.red = cinfo.colormap[2][i];
        }
    }
    c->capturedCount = count;
    c->hasCapturedPalette = true;
    c->paletteModified = true;
}

// Converts one row of four-component samples to blue-green-red or grey. Adobe files
// store the components inverted.
void convertFourComponentRow(const DecodeContext* c, const JSAMPLE* in, uint8_t* out) {
    const bool inverted = c->cinfo.saw_Adobe_marker;
    const unsigned width = c->cinfo.output_width;
    for (unsigned x = 0; x < width; ++x, in += 4) {
        int cyan = in[0], magenta = in[1], yellow = in[2], black = in[3];
        if (!inverted) {
            cyan = 255 - cyan;
            magenta = 255 - magenta;
            yellow = 255 - yellow;
            black = 255 - black;
        }
        const int red = cyan * black / 255;
        const int green = magenta * black / 255;
        const int blue = yellow * black / 255;
        if (c->grayscale) {
            *out++ = uint8_t((red * 77 + green * 150 + blue * 29 + 128) >> 8);
        } else {
            *out++ = uint8_t(blue);
            *out++ = uint8_t(green);
            *out++ = uint8_t(red);
        }
    }
}

// Reads the remaining rows of the current pass straight into the bitmap's rows.
void readRows(DecodeContext* c, JSAMPARRAY fourComponentRows) {
    jpeg_decompress_struct& cinfo = c->cinfo;
    TDibBitmap& bitmap = *c->bitmap;
    const std::size_t step = bitmap.stride();
    const int rowsPerRead = (step > 0 && step % 4 == 0)
                                ? (cinfo.rec_outbuf_height < 16 ? cinfo.rec_outbuf_height : 16)
                                : 1;
    JSAMPROW rows[16];
    while (cinfo.output_scanline < cinfo.output_height) {
        const int first = int(cinfo.output_scanline);
        int count = int(cinfo.output_height) - first;
        if (count > rowsPerRead)
            count = rowsPerRead;
        if (fourComponentRows) {
            const int got = int(jpeg_read_scanlines(&cinfo, fourComponentRows, JDIMENSION(count)));
            for (int i = 0; i < got; ++i)
                convertFourComponentRow(c, fourComponentRows[i], bitmap.scanLine(first + i));
        } else {
            for (int i = 0; i < count; ++i)
                rows[i] = bitmap.scanLine(first + i);
            jpeg_read_scanlines(&cinfo, rows, JDIMENSION(count));
        }
        if (int(cinfo.output_scanline) > c->rowsWritten)
            c->rowsWritten = int(cinfo.output_scanline);
    }
}

void decodeInner(DecodeContext* c) {
    if (setjmp(c->errors.jump)) {
        c->failure = LibraryError;
        c->code = c->errors.pub.msg_code;
        return;
    }
    setupDecoder(c);
    jpeg_decompress_struct& cinfo = c->cinfo;

    const bool greyOut = c->fourComponent ? c->grayscale : cinfo.out_color_space == JCS_GRAYSCALE;
    const int bitsPerPixel = (c->fourComponent ? greyOut : bool(cinfo.quantize_colors)) ? 8 : 24;

    if (c->externalPalette && c->externalPaletteCount > 0 && c->eightBit && !greyOut &&
        !c->fourComponent) {
        const int n = c->externalPaletteCount < 256 ? c->externalPaletteCount : 256;
        cinfo.colormap = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo),
                                                    JPOOL_IMAGE, JDIMENSION(n), 3);
        for (int i = 0; i < n; ++i) {
            cinfo.colormap[2][i] = c->externalPalette[i].red;
            cinfo.colormap[1][i] = c->externalPalette[i].green;
            cinfo.colormap[0][i] = c->externalPalette[i].blue;
        }
        cinfo.actual_number_of_colors = n;
        c->buildPalette = false;
    }

    // The bound is checked before the library or we allocate anything image-sized.
    jpeg_calc_output_dimensions(&cinfo);
    if (!allocateBitmap(c, int(cinfo.output_width), int(cinfo.output_height), bitsPerPixel))
        return;
    jpeg_start_decompress(&cinfo);
    c->started = true;

    JSAMPARRAY fourComponentRows = nullptr;
    if (c->fourComponent)
        fourComponentRows =
            (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                       cinfo.output_width * 4, JDIMENSION(cinfo.rec_outbuf_height));

    if (c->buffered) {
        bool firstPass = true;
        while (!jpeg_input_complete(&cinfo)) {
            jpeg_start_output(&cinfo, cinfo.input_scan_number);
            if (firstPass && cinfo.colormap && bitsPerPixel == 8 && c->buildPalette)
                capturePalette(c);
            firstPass = false;
            readRows(c, fourComponentRows);
            jpeg_finish_output(&cinfo);
        }
        cinfo.dct_method = c->finalDctMethod;
        cinfo.dither_mode = c->finalDitherMode;
        if (c->finalTwoPassQuantize) {
            cinfo.two_pass_quantize = TRUE;
            cinfo.colormap = nullptr; // a new map is made from the finished image
        }
        jpeg_start_output(&cinfo, cinfo.input_scan_number);
    }
    if (!c->buffered || c->finalTwoPassQuantize) {
        if (cinfo.colormap && c->buildPalette)
            capturePalette(c);
    }
    readRows(c, fourComponentRows);
    if (c->buffered)
        jpeg_finish_output(&cinfo);
    jpeg_finish_decompress(&cinfo);
}

struct ContextDeleter {
    void operator()(DecodeContext* c) const {
        if (c->created)
            jpeg_destroy_decompress(&c->cinfo);
        delete c;
    }
};
using ContextPtr = std::unique_ptr<DecodeContext, ContextDeleter>;

ContextPtr newContext() {
    // Value-initialised: every field zero, null or false.
    return ContextPtr(new DecodeContext{});
}

[[noreturn]] void throwFailure(const DecodeContext& c) {
    switch (c.failure) {
    case TooLarge:
        throw EJPEG(-1, "JPEG image too large to decode");
    case OutOfMemory:
        throw std::bad_alloc();
    default:
        throw EJPEG(c.code);
    }
}

void errorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegErrorManager*>(cinfo->err)->jump, 1);
}

void emitMessage(j_common_ptr, int) {}
void outputMessage(j_common_ptr) {}
void formatMessage(j_common_ptr, char* buffer) {
    buffer[0] = '\0';
}
void resetErrorManager(j_common_ptr cinfo) {
    cinfo->err->num_warnings = 0;
    cinfo->err->msg_code = 0;
}

} // namespace

jpeg_error_mgr* JpegQuietErrors(JpegErrorManager& errors) {
    jpeg_error_mgr* err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = errorExit;
    errors.pub.emit_message = emitMessage;
    errors.pub.output_message = outputMessage;
    errors.pub.format_message = formatMessage;
    errors.pub.reset_error_mgr = resetErrorManager;
    return err;
}

TJpegHeaderInfo JpegReadHeader(const QByteArray& bytes) {
    ContextPtr c = newContext();
    prepareContext(c.get(), bytes, {});
    TJpegHeaderInfo info;
    readHeaderInner(c.get(), &info);
    if (c->failure != NoFailure)
        throwFailure(*c);
    return info;
}

QSize JpegOutputSize(const QByteArray& bytes, const TJpegDecodeOptions& options) {
    ContextPtr c = newContext();
    prepareContext(c.get(), bytes, options);
    int width = 0;
    int height = 0;
    outputSizeInner(c.get(), &width, &height);
    if (c->failure != NoFailure)
        throwFailure(*c);
    return QSize(width, height);
}

bool JpegDecode(const QByteArray& bytes, const TJpegDecodeOptions& options,
                const TPalette* externalPalette, TDibBitmap& bitmap,
                const TProgressEvent& progress) {
    ContextPtr c = newContext();
    prepareContext(c.get(), bytes, options);
    c->reportProgress = true;
    c->progressEvent = &progress;
    c->bitmap = &bitmap;
    if (externalPalette) {
        c->externalPalette = externalPalette->data();
        c->externalPaletteCount = int(externalPalette->size());
    }
    reportProgress(c.get(), TProgressStage::Starting, 0, false, QRect());
    decodeInner(c.get());
    if (c->created) {
        jpeg_destroy_decompress(&c->cinfo);
        c->created = false;
    }
    if (c->hasCapturedPalette)
        bitmap.setPalette(TPalette(c->capturedPalette, c->capturedPalette + c->capturedCount));
    if (c->failure == LibraryError && c->started) {
        // What was decoded stays; rows no pass reached are black rather than whatever
        // the pooled memory held.
        for (int row = c->rowsWritten; row < bitmap.height(); ++row)
            std::memset(bitmap.scanLine(row), 0, bitmap.stride());
    } else if (c->failure != NoFailure) {
        bitmap.clear(); // nothing was decoded
    }
    reportProgress(c.get(), TProgressStage::Ending, c->failure == NoFailure ? 100 : 0,
                   c->paletteModified, QRect());
    if (c->failure != NoFailure)
        throwFailure(*c);
    return c->paletteModified;
}
