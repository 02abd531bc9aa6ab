#include "TAdvImage.h"
#include "JPEGImage.h"
#include "PictureLoader.h"

#include <QFile>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

namespace {

QRect toQRect(const TEdges& e) {
    return QRect(QPoint(e.left, e.top), QSize(e.width(), e.height()));
}

} // namespace

TAdvImage::TAdvImage(QWidget* parent) : QWidget(parent) {
    EnsureJpeExtension();
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
    // The JPEG picture is decoded inside the load, between the two events.
    const TPictureLoadResult result = LoadPictureFile(picture_, nativePath, jpegLoad_);
    imageWidth_ = result.width;
    imageHeight_ = result.height;
    fileSize_ = result.fileSize;
    repaint();

    loading_ = false;
    emit imageLoaded(this);
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
    changeAndRepaint(jpegLoad_.pixelFormat, value);
}
void TAdvImage::setJPEGScale(TJPEGScale value) {
    changeAndRepaint(jpegLoad_.scale, value);
}
void TAdvImage::setJPEGGrayscale(bool value) {
    changeAndRepaint(jpegLoad_.grayscale, value);
}
void TAdvImage::setJPEGPerformance(TJPEGPerformance value) {
    changeAndRepaint(jpegLoad_.performance, value);
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
