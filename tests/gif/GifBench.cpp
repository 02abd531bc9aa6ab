// Side-by-side timing (processor time) of our decoder and giflib's DGifSlurp on the same GIF file in memory.
// Not a test: run by hand, e.g. gif_bench photo.gif 10. Prints the median times and their
// ratio (ours / giflib); a ratio above 1.0 means we are slower.

#include "GifFile.h"

#include <gif_lib.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

struct MemoryReader {
    const std::vector<uint8_t>* bytes;
    size_t position = 0;
};

int ReadFromMemory(GifFileType* gif, GifByteType* out, int count) {
    auto* reader = static_cast<MemoryReader*>(gif->UserData);
    const size_t n = std::min(static_cast<size_t>(count), reader->bytes->size() - reader->position);
    std::memcpy(out, reader->bytes->data() + reader->position, n);
    reader->position += n;
    return static_cast<int>(n);
}

// Processor time rather than wall time: the machines are shared and busy.
double CpuMs() { return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

template <typename F> double MedianMs(int runs, F&& f) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double start = CpuMs();
        f();
        times.push_back(CpuMs() - start);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s file.gif [runs]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());

    const double ours = MedianMs(runs, [&] {
        fenwa::gif::TGifFile file;
        file.ReadGifStream(bytes);
    });
    const double theirs = MedianMs(runs, [&] {
        MemoryReader reader{&bytes};
        int error = 0;
        GifFileType* gif = DGifOpen(&reader, ReadFromMemory, &error);
        if (!gif || DGifSlurp(gif) != GIF_OK)
            std::fprintf(stderr, "giflib failed\n");
        DGifCloseFile(gif, &error);
    });
    // Both must have decoded the same first image.
    fenwa::gif::TGifFile file;
    file.ReadGifStream(bytes);
    MemoryReader reader{&bytes};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, ReadFromMemory, &error);
    const bool same = gif && DGifSlurp(gif) == GIF_OK && gif->ImageCount == file.ImageCount() &&
                      std::memcmp(gif->SavedImages[0].RasterBits,
                                  file.GetImage(1).Pixels->Cells().Bytes(),
                                  file.GetImage(1).Pixels->Cells().Count()) == 0;
    DGifCloseFile(gif, &error);
    std::printf("ours %.1f ms, giflib %.1f ms, ratio %.2f, first image %s\n", ours, theirs,
                ours / theirs, same ? "identical" : "DIFFERENT");
    return same ? 0 : 1;
    return 0;
}
