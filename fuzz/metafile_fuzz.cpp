// libFuzzer target for the metafile players: any bytes as a WMF (with or without its
// placeable header) or an EMF file, played into a small image when it loads. Every
// failure must be one of the picture's exceptions; anything else (a crash, a sanitizer
// report, a hang, running out of memory) is a finding.

#include "GraphicErrors.h"
#include "MetafileGraphic.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Text records need the font database, so there must be an application.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int appArgc = 1;
    static char name[] = "metafile_fuzz";
    static char* appArgv[] = {name, nullptr};
    (void)argc;
    (void)argv;
    new QGuiApplication(appArgc, appArgv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    TMetafileGraphic graphic;
    try {
        graphic.loadFromBytes(bytes);
    } catch (const std::exception&) {
        return 0;
    }
    QImage image(48, 32, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    try {
        graphic.draw(painter, QRect(2, 2, 44, 28));
    } catch (const std::exception&) {
    }
    return 0;
}
