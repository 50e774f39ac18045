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

Deliver Inbox::post() const {
    return [deliver = deliver_, open = open_](std::function<void()> work) {
        deliver([open, work = std::move(work)] {
            if (*open) {
                work();
            }
        });
    };
}

std::function<void()> Inbox::guard(std::function<void()> work) const {
    return [open = open_, work = std::move(work)] {
        if (*open) {
            work();
        }
    };
}
