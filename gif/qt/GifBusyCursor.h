#pragma once
// The hourglass while a GIF file is read. Leaving puts back the default cursor (not the
// one that showed before), also when the read fails. Nothing without a GUI application
// or away from its thread.

#include <QCursor>
#include <QGuiApplication>
#include <QThread>

namespace fenwa {

class GifBusyCursor {
public:
    GifBusyCursor()
        : shown_(qobject_cast<QGuiApplication*>(QCoreApplication::instance()) &&
                 QThread::currentThread() == QCoreApplication::instance()->thread()) {
        if (shown_)
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~GifBusyCursor() {
        if (shown_)
            while (QGuiApplication::overrideCursor())
                QGuiApplication::restoreOverrideCursor();
    }
    GifBusyCursor(const GifBusyCursor&) = delete;
    GifBusyCursor& operator=(const GifBusyCursor&) = delete;

private:
    bool shown_;
};

} // namespace fenwa
