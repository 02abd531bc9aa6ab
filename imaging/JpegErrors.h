#pragma once
// The one way this program meets libjpeg's errors. A fatal error ends in error_exit,
// which must not return: it longjmps back to the setjmp point (`jump`) of the function
// that called the library. Warnings and messages are ignored; the decoder goes on where
// it can (a truncated file decodes with its missing rows grey).

#include <csetjmp>
#include <cstdio> // before jpeglib.h, which uses FILE
#include <jpeglib.h>

struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

// Fills `errors` and answers what a decompressor's `err` takes.
jpeg_error_mgr* JpegQuietErrors(JpegErrorManager& errors);
