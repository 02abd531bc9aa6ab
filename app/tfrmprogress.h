#pragma once
// The progress window: a small fixed window without title-bar buttons, centred on the
// screen, that long operations show and feed. From an operation's begin() to its end()
// every other window refuses input, even before the window shows at the operation's
// first report; "Cancel", and Esc in any window, reach the operation through
// cancelled() or cancelRequested().

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

    // An operation starts: nothing is cancelled yet and other windows refuse input; the
    // window itself stays hidden until showCentred().
    void begin();
    // Shows the window centred, beginning an operation unless one has begun.
    void showCentred();
    // The operation is over: hidden, and the other windows take input again.
    void end();

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
    void stopGuarding();
    bool cancelRequested_ = false;
    bool guarding_ = false;
};

} // namespace fenwa
