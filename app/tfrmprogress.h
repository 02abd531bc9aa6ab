#pragma once
// The progress window: a small fixed window without title-bar buttons, centred on the
// screen, that long operations show and feed. While it is shown it refuses input to
// every other window, and offers "Cancel" (and Esc), which the running operation hears
// through cancelled() or sees through cancelRequested().

#include <QWidget>

class QProgressBar;
class QPushButton;

namespace fenwa {

class TfrmProgress : public QWidget {
    Q_OBJECT
public:
    explicit TfrmProgress(QWidget* parent = nullptr);
    ~TfrmProgress() override;

    QProgressBar* Progress;
    QPushButton* btnCancel;

    // Shows the window for a new operation: nothing is cancelled yet.
    void showCentred();

    bool cancelRequested() const { return cancelRequested_; }

signals:
    void cancelled();

public slots:
    void btnCancelClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    bool cancelRequested_ = false;
    bool guarding_ = false;
};

} // namespace fenwa
