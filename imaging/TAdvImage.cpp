#include "TAdvImage.h"
#include "JPEGImage.h"

#include <QFile>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <filesystem>
#include <fstream>

namespace {

std::filesystem::path nativeFsPath(const QByteArray& nativePath) {
    return std::filesystem::path(nativePath.toStdString());
}

// A regular file; directories, devices and pipes do not count (reading a pipe or a
// device as a picture could block or never end).
bool isExistingFile(const QByteArray& nativePath) {
    if (nativePath.isEmpty())
        return false;
    std::error_code error;
    return std::filesystem::is_regular_file(nativeFsPath(nativePath), error) && !error;
}

// The file's length from an open for reading; 0 when it cannot be opened or measured.
qint64 measureFile(const QByteArray& nativePath) {
    std::ifstream in(nativePath.toStdString(), std::ios::binary | std::ios::ate);
    if (!in)
        return 0;
    const std::streamoff size = in.tellg();
    return size < 0 ? 0 : qint64(size);
}

QRect toQRect(const TEdges& e) {
    return QRect(QPoint(e.left, e.top), QSize(e.width(), e.height()));
}

void ensureJpeExtension() {
    static const bool registered = [] {
        TPictureFormats::RegisterFileFormat(
            "jpe", "JPEG Image File", [] { return std::make_unique<TJPEGImage>(); }, "TJPEGImage");
        return true;
    }();
    (void)registered;
}

} // namespace

TAdvImage::TAdvImage(QWidget* parent) : QWidget(parent) {
    ensureJpeExtension();
    color_ = palette().color(QPalette::Window);
}

TAdvImage::~TAdvImage() = default;

void TAdvImage::setFileName(const QString& fileName) {
    load(QFile::encodeName(fileName), fileName);
}

void TAdvImage::loadNativeFile(const QByteArray& nativePath) {
    load(nativePath, QFile::decodeName(nativePath));
}

void TAdvImage::load(const QByteArray& nativePath, const QString& fileName) {
    loading_ = true;
    emit imageLoading(this);

    fileName_ = fileName;
    nativeFileName_ = nativePath;
    bool ok = isExistingFile(nativePath);
    int width = 0;
    int height = 0;
    if (ok) {
        try {
            try {
                picture_.loadFromFile(nativePath);
            } catch (const EInvalidGraphic&) {
                picture_.clear();
            }
            applyJpegSettings();
            width = picture_.width();
            height = picture_.height();
        } catch (...) {
            ok = false;
        }
    }
    if (!ok)
        picture_.clear();
    imageWidth_ = ok ? width : 0;
    imageHeight_ = ok ? height : 0;
    fileSize_ = isExistingFile(nativePath) ? measureFile(nativePath) : 0;

    // A JPEG picture decodes at its first draw; doing that work here keeps it inside
    // the load (between the two events) and lets a failure empty the control rather
    // than escape from a paint event.
    if (TGraphic* graphic = picture_.graphic()) {
        try {
            graphic->prepareForDraw();
        } catch (...) {
            clearPicture();
        }
    }
    repaint();

    loading_ = false;
    emit imageLoaded(this);
}

void TAdvImage::applyJpegSettings() {
    auto* jpeg = dynamic_cast<TJPEGImage*>(picture_.graphic());
    if (!jpeg)
        return;
    jpeg->setPixelFormat(jpegPixelFormat_);
    jpeg->setScale(jpegScale_);
    jpeg->setGrayscale(jpegGrayscale_);
    jpeg->setPerformance(jpegPerformance_);
    jpeg->ProgressiveDisplay = jpegProgressiveDisplay_;
}

void TAdvImage::clearPicture() {
    picture_.clear();
    imageWidth_ = 0;
    imageHeight_ = 0;
}

void TAdvImage::paintNowAndInvalidate() {
    repaint();
    update();
}

template <typename T> void TAdvImage::changeAndRepaint(T& field, const T& value) {
    if (field == value)
        return;
    field = value;
    paintNowAndInvalidate();
}

void TAdvImage::setColor(const QColor& color) {
    changeAndRepaint(color_, color);
}
void TAdvImage::setStretchRatio(bool value) {
    changeAndRepaint(stretchRatio_, value);
}
void TAdvImage::setCenterView(bool value) {
    changeAndRepaint(centerView_, value);
}
void TAdvImage::setShowEmptyLabel(bool value) {
    changeAndRepaint(showEmptyLabel_, value);
}
void TAdvImage::setJPEGPixelFormat(TJPEGPixelFormat value) {
    changeAndRepaint(jpegPixelFormat_, value);
}
void TAdvImage::setJPEGScale(TJPEGScale value) {
    changeAndRepaint(jpegScale_, value);
}
void TAdvImage::setJPEGGrayscale(bool value) {
    changeAndRepaint(jpegGrayscale_, value);
}
void TAdvImage::setJPEGPerformance(TJPEGPerformance value) {
    changeAndRepaint(jpegPerformance_, value);
}
void TAdvImage::setJPEGSmoothing(bool value) {
    changeAndRepaint(jpegSmoothing_, value);
}
void TAdvImage::setJPEGProgressiveEncoding(bool value) {
    changeAndRepaint(jpegProgressiveEncoding_, value);
}

void TAdvImage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect client = rect();
    int pictureWidth = 0;
    int pictureHeight = 0;
    try {
        pictureWidth = picture_.width();
        pictureHeight = picture_.height();
    } catch (...) {
        clearPicture();
    }
    if (pictureWidth <= 0) {
        picture_.clear();
        if (showEmptyLabel_) {
            const QString text = QStringLiteral("Empty");
            const QFontMetrics metrics(font());
            const int textWidth = metrics.horizontalAdvance(text);
            const int textHeight = metrics.height();
            const QRect box(client.left() + (client.width() - textWidth) / 2,
                            client.top() + (client.height() - textHeight) / 2, textWidth,
                            textHeight);
            painter.fillRect(box, color_);
            painter.setPen(palette().color(QPalette::WindowText));
            painter.drawText(box, Qt::AlignLeft | Qt::AlignTop, text);
        }
        return;
    }
    const TEdges clientEdges{client.left(), client.top(), client.left() + client.width(),
                             client.top() + client.height()};
    const TPaintLayout layout = ComputePaintLayout(clientEdges, width(), height(), pictureWidth,
                                                   pictureHeight, stretchRatio_, centerView_);
    try {
        picture_.draw(painter, toQRect(layout.picture));
    } catch (...) {
        // A picture that cannot draw itself shows as an empty control from now on.
        clearPicture();
        update();
        return;
    }
    for (const TEdges& strip : layout.strips) {
        if (strip.width() > 0 && strip.height() > 0)
            painter.fillRect(toQRect(strip), color_);
    }
}

void TAdvImage::mousePressEvent(QMouseEvent* event) {
    emit mouseDown(this, event);
    QWidget::mousePressEvent(event);
}

void TAdvImage::mouseMoveEvent(QMouseEvent* event) {
    emit mouseMove(this, event);
    QWidget::mouseMoveEvent(event);
}

void TAdvImage::mouseReleaseEvent(QMouseEvent* event) {
    emit mouseUp(this, event);
    QWidget::mouseReleaseEvent(event);
}

void TAdvImage::mouseDoubleClickEvent(QMouseEvent* event) {
    emit doubleClicked(this);
    QWidget::mouseDoubleClickEvent(event);
}
