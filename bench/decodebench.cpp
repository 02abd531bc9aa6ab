// Side-by-side decode timing in one process: our decoders against the reference
// libraries doing the same work on the same bytes in memory, run alternately so that a
// busy machine weighs on both alike. Processor time, medians.
//
//   fenwa-bench-decode jpeg FILE SCALE(1|2|4|8) [grey] [fast] [runs]
//       TJPEGImage (load, settings, decode into its bitmap) against libjpeg-turbo
//       decoding to blue-green-red rows as djpeg does with the same options.
//   fenwa-bench-decode gif FILE [runs]
//       TGifFile::ReadGifStream against giflib's DGifSlurp.
//   fenwa-bench-decode make-gif FILE WIDTH HEIGHT [interlaced]
//       writes the benchmark's GIF picture.
//
// Prints "ours_ms theirs_ms ratio same|DIFFERENT".

#include "GifFile.h"
#include "JPEGImage.h"
#include "benchsupport.h"

#include <gif_lib.h>
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
}

// Runs both alternately; answers their median times.
std::pair<double, double> race(int runs, const std::function<void()>& ours,
                               const std::function<void()>& theirs) {
    std::vector<double> a, b;
    ours(); // warm both once
    theirs();
    for (int i = 0; i < runs; ++i) {
        double start = cpuMs();
        ours();
        a.push_back(cpuMs() - start);
        start = cpuMs();
        theirs();
        b.push_back(cpuMs() - start);
    }
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return {a[a.size() / 2], b[b.size() / 2]};
}

// ---- GIF

struct MemoryReader {
    const std::vector<uint8_t>* bytes;
    size_t position = 0;
};

int readFromMemory(GifFileType* gif, GifByteType* out, int count) {
    auto* reader = static_cast<MemoryReader*>(gif->UserData);
    const size_t n = std::min(static_cast<size_t>(count), reader->bytes->size() - reader->position);
    std::memcpy(out, reader->bytes->data() + reader->position, n);
    reader->position += n;
    return static_cast<int>(n);
}

int gifRace(const std::vector<uint8_t>& bytes, int runs) {
    const auto [ours, theirs] = race(
        runs,
        [&] {
            fenwa::gif::TGifFile file;
            file.ReadGifStream(bytes);
        },
        [&] {
            MemoryReader reader{&bytes};
            int error = 0;
            GifFileType* gif = DGifOpen(&reader, readFromMemory, &error);
            if (!gif || DGifSlurp(gif) != GIF_OK)
                std::fprintf(stderr, "giflib failed\n");
            DGifCloseFile(gif, &error);
        });
    // Both must have decoded the same first image.
    fenwa::gif::TGifFile file;
    file.ReadGifStream(bytes);
    MemoryReader reader{&bytes};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, readFromMemory, &error);
    const bool same =
        gif && DGifSlurp(gif) == GIF_OK && gif->ImageCount == file.ImageCount() &&
        std::memcmp(gif->SavedImages[0].RasterBits, file.GetImage(1).Pixels->Cells().Bytes(),
                    file.GetImage(1).Pixels->Cells().Count()) == 0;
    DGifCloseFile(gif, &error);
    std::printf("%.2f %.2f %.3f %s\n", ours, theirs, ours / theirs, same ? "same" : "DIFFERENT");
    return same ? 0 : 1;
}

// ---- JPEG

int jpegRace(const std::vector<uint8_t>& bytes, int scale, bool grey, bool fast, int runs) {
    const QByteArray data(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    const TJPEGScale scales[] = {jsFullSize, jsHalf, jsQuarter, jsEighth};
    const TJPEGScale jpegScale = scales[scale == 1 ? 0 : scale == 2 ? 1 : scale == 4 ? 2 : 3];
    int ourWidth = 0, ourHeight = 0;
    const auto ours = [&] {
        TJPEGImage image;
        image.loadFromBytes(data);
        image.setScale(jpegScale);
        image.setGrayscale(grey);
        if (fast)
            image.setPerformance(jpBestSpeed);
        const TDibBitmap& bitmap = image.bitmap();
        ourWidth = bitmap.width();
        ourHeight = bitmap.height();
    };
    std::vector<uint8_t> out;
    unsigned width = 0, height = 0;
    const auto theirs = [&] {
        // A grey picture of ours is quantised to 236 levels: the library does the same, as
        // djpeg -grayscale -colors 236 does.
        fenwa::bench::referenceJpegDecode(bytes, unsigned(scale), grey, fast, out, width, height,
                                          grey ? 236 : 0);
    };
    const auto [a, b] = race(runs, ours, theirs);
    const bool same = ourWidth == int(width) && ourHeight == int(height);
    std::printf("%.2f %.2f %.3f %s\n", a, b, a / b, same ? "same" : "DIFFERENT");
    return same ? 0 : 1;
}

// A deterministic 256-colour picture with smooth runs and noise, written by giflib.
int makeGif(const char* path, int width, int height, bool interlaced) {
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path, false, &error);
    if (!gif)
        return 1;
    GifColorType colors[256];
    for (int i = 0; i < 256; ++i)
        colors[i] = {GifByteType(i), GifByteType(i * 7), GifByteType(i * 13)};
    ColorMapObject* map = GifMakeMapObject(256, colors);
    EGifSetGifVersion(gif, true);
    bool ok = EGifPutScreenDesc(gif, width, height, 8, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, width, height, interlaced, nullptr) == GIF_OK;
    std::vector<GifPixelType> pattern(size_t(width) + 4096);
    for (size_t x = 0; x < pattern.size(); ++x)
        pattern[x] = GifPixelType(((x * x / 97 + (x / 13) * 5) ^ (x >> 3)) & 255);
    const auto rowAt = [&](int y) { return pattern.data() + (y * 131 + (y / 40) * 17) % 4096; };
    if (interlaced) {
        // Rows go out in the four passes' order.
        const int starts[] = {0, 4, 2, 1}, steps[] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4 && ok; ++pass)
            for (int y = starts[pass]; y < height && ok; y += steps[pass])
                ok = EGifPutLine(gif, rowAt(y), width) == GIF_OK;
    } else {
        for (int y = 0; y < height && ok; ++y)
            ok = EGifPutLine(gif, rowAt(y), width) == GIF_OK;
    }
    GifFreeMapObject(map);
    return EGifCloseFile(gif, &error) == GIF_OK && ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::string kind = argc > 2 ? argv[1] : "";
    if (kind == "make-gif" && argc > 4)
        return makeGif(argv[2], std::atoi(argv[3]), std::atoi(argv[4]),
                       argc > 5 && std::string(argv[5]) == "interlaced");
    if (kind == "gif") {
        const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 7;
        return gifRace(fenwa::bench::readWholeFile(argv[2]), runs);
    }
    if (kind == "jpeg" && argc > 3) {
        const int scale = std::atoi(argv[3]);
        bool grey = false, fast = false;
        int runs = 7;
        for (int i = 4; i < argc; ++i) {
            const std::string a = argv[i];
            if (a == "grey")
                grey = true;
            else if (a == "fast")
                fast = true;
            else
                runs = std::max(1, std::atoi(argv[i]));
        }
        if (scale != 1 && scale != 2 && scale != 4 && scale != 8)
            return 2;
        return jpegRace(fenwa::bench::readWholeFile(argv[2]), scale, grey, fast, runs);
    }
    std::fprintf(stderr,
                 "usage: %s jpeg FILE 1|2|4|8 [grey] [fast] [runs]\n"
                 "       %s gif FILE [runs]\n",
                 argv[0], argv[0]);
    return 2;
}
