// Enter on a group of six JPEG pictures in the real main window, offscreen: the
// preview (at half size) and the five slides (at an eighth) are loaded, decoded and
// painted. Against it, in the same process and alternately, the six raw decodes of the
// same files by libjpeg-turbo at the same scales (processor time, medians). Prints
// "name value" lines.
//
//   fenwa-bench-preview DIR [rounds]     (DIR holds six equal pictures, one a directory)

#include <QCheckBox>
#include <QRadioButton>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <vector>

#include <QRegularExpression>

#include "TAdvImage.h"
#include "benchsupport.h"
#include "benchwindow.h"
#include "filesystem.h"

using namespace fenwa;

namespace {

// Reads the file and decodes it at 1/denominator, as the raw side of the race.
size_t rawDecode(const QByteArray& path, unsigned denominator) {
    std::vector<unsigned char> out;
    unsigned width = 0, height = 0;
    if (!bench::referenceJpegDecode(bench::readWholeFile(path.constData()), denominator, false,
                                    false, out, width, height))
        return 0;
    return out.size();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    bench::BenchProcess process(argc, argv, "previewbench DIR [rounds]");
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;

    bench::BenchWindow bench(QString::fromLocal8Bit(argv[1]));
    TfrmMain& w = bench.w;
    bench.tick("ckName", true);
    bench.tick("ckSize", true);
    bench.tick("ckTime", false);
    bench.tick("raDblClick", true);
    bench.tick("ckPreview", true);
    bench.tick("ckShowSlides", true);
    bench.findDuplicates();
    if (bench.model()->rowCount() < 6) {
        std::fprintf(stderr, "previewbench: expected a group of six pictures\n");
        return 1;
    }
    std::vector<QByteArray> paths;
    const FileRecordStore& rows = bench.model()->store();
    for (int r = 0; r < 6; ++r)
        paths.push_back(QByteArray::fromStdString(rows.fullPath(size_t(r))));

    bench.list()->setFocus();
    std::vector<double> window, raw;
    for (int round = 0; round <= rounds; ++round) {
        // Nothing loaded: every round decodes all six again.
        w.ClearSlides();
        bench.part<TAdvImage>("Image")->loadNativeFile(QByteArray());
        bench.list()->setCurrentIndex(bench.model()->index(0, 0));
        QApplication::processEvents();

        double start = bench::cpuSeconds();
        QTest::keyClick(bench.list(), Qt::Key_Return);
        QApplication::processEvents();
        bench.part<TAdvImage>("Image")->repaint();
        for (TAdvImage* slide : bench.w.findChildren<TAdvImage*>(QRegularExpression("^AdvImage")))
            slide->repaint();
        const double windowSeconds = bench::cpuSeconds() - start;

        start = bench::cpuSeconds();
        size_t bytes = rawDecode(paths[0], 2);
        for (int i = 1; i < 6; ++i)
            bytes += rawDecode(paths[size_t(i)], 8);
        const double rawSeconds = bench::cpuSeconds() - start;
        if (bytes == 0 || bench.part<TAdvImage>("Image")->ImageWidth() == 0) {
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
