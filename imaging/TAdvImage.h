#pragma once
// TAdvImage is the light-weight picture control behind every picture of the program
// (the preview, the slides, the viewer). Writing FileName loads the file, choosing
// the loader by extension through the picture registry, and the control paints the
// picture at natural size (optionally centred) or, when it does not fit and
// StretchRatio is on, scaled into the control with its aspect ratio kept. The rest of
// the control is filled with its Color.
//
// A load never fails loudly: a missing, unreadable, damaged or mislabelled file leaves
// the control empty. imageLoading and imageLoaded bracket every load.

#include "JpegCodec.h"
#include "PaintGeometry.h"
#include "PictureHolder.h"
#include "PictureLoader.h"

#include <QByteArray>
#include <QColor>
#include <QString>
#include <QWidget>

class QMouseEvent;

class TAdvImage : public QWidget {
    Q_OBJECT
    Q_PROPERTY(qint64 FileSize READ FileSize)
    Q_PROPERTY(TImageType ImageType READ ImageType)
    Q_PROPERTY(bool GIFAnimate READ GIFAnimate WRITE setGIFAnimate)
    Q_PROPERTY(bool StretchRatio READ StretchRatio WRITE setStretchRatio)
    Q_PROPERTY(QString SaveName READ SaveName WRITE setSaveName)
    Q_PROPERTY(bool CenterView READ CenterView WRITE setCenterView)
    Q_PROPERTY(bool ShowEmptyLabel READ ShowEmptyLabel WRITE setShowEmptyLabel)
    Q_PROPERTY(bool JPEGGrayscale READ JPEGGrayscale WRITE setJPEGGrayscale)
    Q_PROPERTY(
        bool JPEGProgressiveDisplay READ JPEGProgressiveDisplay WRITE setJPEGProgressiveDisplay)
    Q_PROPERTY(bool JPEGSmoothing READ JPEGSmoothing WRITE setJPEGSmoothing)
    Q_PROPERTY(
        bool JPEGProgressiveEncoding READ JPEGProgressiveEncoding WRITE setJPEGProgressiveEncoding)
    Q_PROPERTY(
        int JPEGCompressionQuality READ JPEGCompressionQuality WRITE setJPEGCompressionQuality)
    Q_PROPERTY(bool Loading READ Loading)
    Q_PROPERTY(QString FileName READ FileName WRITE setFileName)
    Q_PROPERTY(int ImageWidth READ ImageWidth)
    Q_PROPERTY(int ImageHeight READ ImageHeight)
    Q_PROPERTY(QColor Color READ Color WRITE setColor)

public:
    enum TImageType { itBMP, itGIF, itJPG, itunknown };
    Q_ENUM(TImageType)

    explicit TAdvImage(QWidget* parent = nullptr);
    ~TAdvImage() override;

    // Writing loads the file, raising imageLoading and imageLoaded around the load;
    // writing the same name loads again, and the empty text clears the control.
    QString FileName() const { return fileName_; }
    void setFileName(const QString& fileName);
    // The same load for a path given as native bytes, for names that are not UTF-8.
    void loadNativeFile(const QByteArray& nativePath);
    QByteArray NativeFileName() const { return nativeFileName_; }

    // The picture's size in pixels after the JPEG reduction; 0 when empty.
    int ImageWidth() const { return imageWidth_; }
    int ImageHeight() const { return imageHeight_; }
    // Bytes of the file named by the last load; 0 when that was not an existing file.
    qint64 FileSize() const { return fileSize_; }
    bool Loading() const { return loading_; }
    TImageType ImageType() const { return imageType_; }

    QColor Color() const { return color_; }
    void setColor(const QColor& color);

    bool StretchRatio() const { return stretchRatio_; }
    void setStretchRatio(bool value);
    bool CenterView() const { return centerView_; }
    void setCenterView(bool value);
    bool ShowEmptyLabel() const { return showEmptyLabel_; }
    void setShowEmptyLabel(bool value);

    // JPEG settings, handed to each JPEG picture right after it is loaded. A change
    // repaints the picture already loaded unchanged; it applies from the next load.
    TJPEGPixelFormat JPEGPixelFormat() const { return jpegLoad_.pixelFormat; }
    void setJPEGPixelFormat(TJPEGPixelFormat value);
    TJPEGScale JPEGScale() const { return jpegLoad_.scale; }
    void setJPEGScale(TJPEGScale value);
    bool JPEGGrayscale() const { return jpegLoad_.grayscale; }
    void setJPEGGrayscale(bool value);
    TJPEGPerformance JPEGPerformance() const { return jpegLoad_.performance; }
    void setJPEGPerformance(TJPEGPerformance value);
    bool JPEGProgressiveDisplay() const { return jpegLoad_.progressiveDisplay; }
    void setJPEGProgressiveDisplay(bool value) { jpegLoad_.progressiveDisplay = value; }
    // Stored for the control's owner; not handed to the JPEG picture.
    bool JPEGSmoothing() const { return jpegSmoothing_; }
    void setJPEGSmoothing(bool value);
    bool JPEGProgressiveEncoding() const { return jpegProgressiveEncoding_; }
    void setJPEGProgressiveEncoding(bool value);
    int JPEGCompressionQuality() const { return jpegCompressionQuality_; }
    void setJPEGCompressionQuality(int value) { jpegCompressionQuality_ = value; }

    // Plain stored values.
    bool GIFAnimate() const { return gifAnimate_; }
    void setGIFAnimate(bool value) { gifAnimate_ = value; }
    QString SaveName() const { return saveName_; }
    void setSaveName(const QString& value) { saveName_ = value; }

    // The loaded picture (for callers that need its pixels, e.g. to save them).
    const TPicture& Picture() const { return picture_; }

signals:
    // A load begins: Loading is already true, FileName still the previous name.
    void imageLoading(TAdvImage* sender);
    // A load has ended: FileName is the new name, Loading false again.
    void imageLoaded(TAdvImage* sender);
    void mouseDown(TAdvImage* sender, QMouseEvent* event);
    void mouseMove(TAdvImage* sender, QMouseEvent* event);
    void mouseUp(TAdvImage* sender, QMouseEvent* event);
    void doubleClicked(TAdvImage* sender);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void load(const QByteArray& nativePath, const QString& fileName);
    void clearPicture();
    // Paints at once, then asks for the usual repaint.
    void paintNowAndInvalidate();
    template <typename T> void changeAndRepaint(T& field, const T& value);

    TPicture picture_;
    QString fileName_;
    QByteArray nativeFileName_;
    int imageWidth_ = 0;
    int imageHeight_ = 0;
    qint64 fileSize_ = 0;
    bool loading_ = false;
    TImageType imageType_ = itBMP;
    QColor color_;
    bool gifAnimate_ = false;
    bool stretchRatio_ = false;
    QString saveName_;
    bool centerView_ = false;
    bool showEmptyLabel_ = false;
    // Kept in the form each load takes them.
    TPictureLoadSettings jpegLoad_;
    bool jpegSmoothing_ = false;
    bool jpegProgressiveEncoding_ = false;
    int jpegCompressionQuality_ = 0;
};
