#pragma once
// A pair of up and down arrows bound to an edit field holding a number: each click
// steps the number by the increment within the range, without wrapping.

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace fenwa {

class TUpDown : public QWidget {
    Q_OBJECT
public:
    explicit TUpDown(QWidget* parent = nullptr);

    void setAssociate(QLineEdit* edit);
    void setRange(int minimum, int maximum);
    void setIncrement(int increment) { increment_ = increment; }
    void setPosition(int position);
    int position() const { return position_; }

public slots:
    void stepUp() { step(+1); }
    void stepDown() { step(-1); }

protected:
    void changeEvent(QEvent* event) override;

private:
    void step(int direction);
    void syncFromEdit();

    QLineEdit* associate_ = nullptr;
    QToolButton* up_;
    QToolButton* down_;
    int minimum_ = 0;
    int maximum_ = 100;
    int increment_ = 1;
    int position_ = 0;
};

} // namespace fenwa
