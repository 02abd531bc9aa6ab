#include "tupdown.h"

#include <QEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

namespace fenwa {

TUpDown::TUpDown(QWidget* parent)
    : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (QToolButton* b : {up_, down_}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        layout->addWidget(b);
    }
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    up_->setObjectName("up");
    down_->setObjectName("down");
    connect(up_, &QToolButton::clicked, this, &TUpDown::stepUp);
    connect(down_, &QToolButton::clicked, this, &TUpDown::stepDown);
}

void TUpDown::setAssociate(QLineEdit* edit) {
    associate_ = edit;
    setPosition(position_);
}

void TUpDown::setRange(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = maximum;
    setPosition(position_);
}

void TUpDown::setPosition(int position) {
    position_ = std::clamp(position, minimum_, maximum_);
    if (associate_) {
        const QString text = QString::number(position_); // no thousands separator
        if (associate_->text() != text)
            associate_->setText(text);
    }
}

void TUpDown::syncFromEdit() {
    if (!associate_)
        return;
    bool ok = false;
    const int typed = associate_->text().toInt(&ok);
    if (ok)
        position_ = std::clamp(typed, minimum_, maximum_);
}

void TUpDown::step(int direction) {
    syncFromEdit();
    setPosition(position_ + direction * increment_);
}

void TUpDown::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        up_->setEnabled(isEnabled());
        down_->setEnabled(isEnabled());
    }
    QWidget::changeEvent(event);
}

} // namespace fenwa
