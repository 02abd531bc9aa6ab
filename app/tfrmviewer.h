#pragma once
// The full-size viewer window: borderless and black. It exists for the whole run and
// stays hidden until an image is shown in it.

#include <QStringList>
#include <QWidget>

namespace fenwa {

class TfrmViewer : public QWidget {
    Q_OBJECT
public:
    explicit TfrmViewer(QWidget* parent = nullptr);

    // The popup menu's captions, in the order miNextImage, miPriorImage, miFirstImage,
    // miLastImage, miDelete, miClose.
    void SetMenuCaptions(const QStringList& captions);
    QStringList menuCaptions;
};

} // namespace fenwa
