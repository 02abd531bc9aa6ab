#pragma once
// The directory list box. As a list box of the system does, it reports a click when the
// user moves its current entry with the keyboard as well as with the mouse.

#include <QKeyEvent>
#include <QListWidget>
#include <functional>

namespace fenwa {

class DirListBox : public QListWidget {
public:
    using QListWidget::QListWidget;

    // Runs after a click on an entry, and after a key has moved the current entry.
    std::function<void()> onClick;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const QListWidgetItem* before = currentItem();
        QListWidget::keyPressEvent(event);
        if (currentItem() != before && currentItem() && onClick)
            onClick();
    }
};

} // namespace fenwa
