#include "platform/MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>

Deliver mainThread() {
    return [](std::function<void()> work) {
        if (QCoreApplication* app = QCoreApplication::instance()) {
            QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
        }
    };
}
