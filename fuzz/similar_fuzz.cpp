// libFuzzer target for the fingerprint path: any bytes, under a name whose extension the
// input's last byte picks, go through ReadPictureBytes (print and all) as a search would read a
// file. Anything but an answer (a crash, a sanitizer report, a hang, running out of memory) is a
// finding.

#include "picturefingerprint.h"

#include <QByteArray>
#include <QGuiApplication>
#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool prepared = [] {
        static int argc = 1;
        static char name[] = "similar_fuzz";
        static char* argv[] = {name, nullptr};
        qputenv("QT_QPA_PLATFORM", "offscreen");
        new QGuiApplication(argc, argv);
        fenwa::similar::PrepareFingerprinting();
        return true;
    }();
    (void)prepared;
    static const char* const names[] = {"f.jpg",  "f.gif", "f.bmp",  "f.ico", "f.emf",
                                        "f.wmf",  "f.png", "f.webp", "f.tif", "f.heic",
                                        "f.avif", "f.jxl", "f.dng"};
    constexpr size_t count = sizeof names / sizeof names[0];
    const char* name = names[size > 0 ? data[size - 1] % count : 0];
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    (void)fenwa::similar::ReadPictureBytes(bytes, name, true);
    return 0;
}
