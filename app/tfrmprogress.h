#pragma once
// The progress window: a small fixed window without title-bar buttons, centred on the
// screen, that long operations show and feed. It has no behaviour of its own.

#include <QWidget>

class QProgressBar;

namespace fenwa {

class TfrmProgress : public QWidget {
    Q_OBJECT
public:
    explicit TfrmProgress(QWidget* parent = nullptr);

    QProgressBar* Progress;

    void showCentred();
};

} // namespace fenwa
