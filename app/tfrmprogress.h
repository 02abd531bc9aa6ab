#pragma once
// The progress window: a small fixed window without title-bar buttons, centred on the
// screen, that long operations show and feed. While it is shown it keeps the program
// painting, refuses input to every other window, and offers "Cancel" (and Esc), which
// the running operation sees through cancelRequested().

#include <QElapsedTimer>
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

    // Called by the operation at each step: lets the windows repaint and the user reach
    // "Cancel" whenever the bar has moved and otherwise now and then (the clock is read
    // only every few calls, so a step costs almost nothing). Answers whether the user
    // has asked to stop.
    bool keepResponsive();
    bool cancelRequested() const { return cancelRequested_; }

public slots:
    void btnCancelClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void processEventsNow();

    bool cancelRequested_ = false;
    bool guarding_ = false;
    bool processedSinceShow_ = false;
    unsigned callsSinceClock_ = 0;
    int valueAtEvents_ = -1;
    QElapsedTimer sinceEvents_;
};

} // namespace fenwa
