#pragma once

// For helper programs that other processes drive on a private X server: prints "ready" once the
// widget's window is exposed, that is mapped on the server, where the pointer and a drag find it.

#include <QEvent>
#include <QObject>
#include <QWidget>
#include <QWindow>

#include <cstdio>

namespace testsupport {

inline void announceReadyWhenExposed(QWidget& widget) {
    struct Watcher : QObject {
        bool eventFilter(QObject* object, QEvent* event) override {
            auto* window = static_cast<QWindow*>(object);
            if (event->type() == QEvent::Expose && window->isExposed()) {
                std::printf("ready\n");
                std::fflush(stdout);
                window->removeEventFilter(this);
                deleteLater();
            }
            return false;
        }
    };
    widget.winId();  // the native window, so its first expose is not missed
    widget.windowHandle()->installEventFilter(new Watcher);
}

}  // namespace testsupport
