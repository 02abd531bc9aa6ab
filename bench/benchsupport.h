#pragma once
// Pieces the benchmark programs share: files read whole, processor time, and
// libjpeg-turbo decoding as djpeg drives it.

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <jpeglib.h>
#include <string>
#include <vector>

namespace fenwa::bench {

inline std::vector<unsigned char> readWholeFile(const char* path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::vector<unsigned char> bytes(size_t(std::max<std::streamoff>(in.tellg(), 0)));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    return bytes;
}

// Processor time of the whole process, in seconds: steadier than the clock on a shared
// machine when the compared work runs on one thread.
inline double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

namespace detail {
struct JpegFailure {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};
inline void jpegFailed(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegFailure*>(info->err)->jump, 1);
}
} // namespace detail

// libjpeg-turbo as djpeg drives it, into one buffer of blue-green-red (or grey) rows.
inline bool referenceJpegDecode(const std::vector<unsigned char>& bytes, unsigned denominator,
                                bool grey, bool fast, std::vector<unsigned char>& out,
                                unsigned& width, unsigned& height, int colors = 0) {
    jpeg_decompress_struct cinfo{};
    detail::JpegFailure errors{};
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = detail::jpegFailed;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.scale_num = 1;
    cinfo.scale_denom = denominator;
    cinfo.out_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    if (colors > 0) {
        cinfo.quantize_colors = TRUE;
        cinfo.desired_number_of_colors = colors;
    }
    if (fast) {
        cinfo.dct_method = JDCT_IFAST;
        cinfo.do_fancy_upsampling = FALSE;
    }
    jpeg_start_decompress(&cinfo);
    width = cinfo.output_width;
    height = cinfo.output_height;
    const size_t stride = (size_t(width) * size_t(cinfo.output_components) + 3) & ~size_t(3);
    out.resize(stride * height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out.data() + stride * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

} // namespace fenwa::bench
