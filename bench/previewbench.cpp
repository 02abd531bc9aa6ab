// Enter on a group of six JPEG pictures in the real main window, offscreen: the
// preview (at half size) and the five slides (at an eighth) are loaded, decoded and
// painted. Against it, in the same process and alternately, the six raw decodes of the
// same files by libjpeg-turbo at the same scales (processor time, medians). Prints
// "name value" lines.
//
//   fenwa-bench-preview DIR [rounds]     (DIR holds six equal pictures, one a directory)

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTreeView>
#include <QtTest>
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <jpeglib.h>
#include <vector>

#include "TAdvImage.h"
#include "filesystem.h"
#include "messages.h"
#include "tfrmmain.h"
#include "tfrmprogress.h"
#include "tfrmviewer.h"

using namespace fenwa;

namespace {

struct NotedMessages : UserMessages {
    void error(QWidget*, const QString& text) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    void information(QWidget*, const QString&) override {}
};

struct Failure {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void failed(j_common_ptr info) {
    std::longjmp(reinterpret_cast<Failure*>(info->err)->jump, 1);
}

// Reads the file and decodes it at 1/denominator into blue-green-red rows.
size_t rawDecode(const QByteArray& path, unsigned denominator) {
    std::ifstream in(path.constData(), std::ios::binary | std::ios::ate);
    std::vector<unsigned char> bytes(size_t(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    jpeg_decompress_struct cinfo{};
    Failure errors{};
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = failed;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return 0;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.scale_num = 1;
    cinfo.scale_denom = denominator;
    cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    const size_t stride = (size_t(cinfo.output_width) * 3 + 3) & ~size_t(3);
    std::vector<unsigned char> out(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out.data() + stride * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return out.size();
}

// Processor time: steadier than the clock on a shared machine, and both sides run on
// this one thread.
double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: previewbench DIR [rounds]\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::initialiseProcess();
    QApplication app(argc, argv);
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;

    NotedMessages messages;
    TfrmProgress progress;
    TfrmViewer viewer;
    MainWindowServices services;
    services.messages = &messages;
    TfrmMain w(&progress, &viewer, services);
    w.resize(1000, 700);
    w.show();
    if (!QTest::qWaitForWindowExposed(&w))
        return 1;
    w.Edit1->setText(QString::fromLocal8Bit(argv[1]));
    w.AddPendingDirectory();
    w.ckName->setChecked(true);
    w.ckSize->setChecked(true);
    w.ckTime->setChecked(false);
    w.raDblClick->setChecked(true);
    w.ckPreview->setChecked(true);
    w.ckShowSlides->setChecked(true);
    w.btnFindDuplicatesClick();
    if (w.lvFilesModel->rowCount() < 6) {
        std::fprintf(stderr, "previewbench: expected a group of six pictures\n");
        return 1;
    }
    std::vector<QByteArray> paths;
    const FileRecordStore& rows = w.lvFilesModel->store();
    for (int r = 0; r < 6; ++r)
        paths.push_back(QByteArray::fromStdString(rows.fullPath(size_t(r))));

    w.lvFiles->setFocus();
    std::vector<double> window, raw;
    for (int round = 0; round <= rounds; ++round) {
        // Nothing loaded: every round decodes all six again.
        w.ClearSlides();
        w.Image->loadNativeFile(QByteArray());
        w.SelectRowAlone(0);
        QApplication::processEvents();

        double start = cpuSeconds();
        QTest::keyClick(w.lvFiles, Qt::Key_Return);
        QApplication::processEvents();
        w.Image->repaint();
        for (TAdvImage* slide : w.AdvImage)
            slide->repaint();
        const double windowSeconds = cpuSeconds() - start;

        start = cpuSeconds();
        size_t bytes = rawDecode(paths[0], 2);
        for (int i = 1; i < 6; ++i)
            bytes += rawDecode(paths[size_t(i)], 8);
        const double rawSeconds = cpuSeconds() - start;
        if (bytes == 0 || w.Image->ImageWidth() == 0) {
            std::fprintf(stderr, "previewbench: a picture did not decode\n");
            return 1;
        }
        if (round > 0) { // the first round only warms the caches
            window.push_back(windowSeconds);
            raw.push_back(rawSeconds);
        }
    }
    std::printf("preview_window_s %.6f\npreview_raw_s %.6f\npreview_ratio %.4f\n", median(window),
                median(raw), median(window) / median(raw));
    return 0;
}
