#include "ui/HandsFreeEscape.h"

#include <QKeyEvent>

HandsFreeEscape::HandsFreeEscape(RecordKeyTarget& target, QObject* parent)
    : QObject(parent), target_(target) {}

bool HandsFreeEscape::eventFilter(QObject* watched, QEvent* event) {
    const auto type = event->type();
    if ((type != QEvent::KeyPress && type != QEvent::ShortcutOverride) ||
        static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape || !target_.isHandsFree()) {
        return QObject::eventFilter(watched, event);
    }
    // Qt asks first whether a shortcut may have the key: keeping it from shortcuts lets
    // the press itself come, and that press cancels.
    event->accept();
    if (type == QEvent::KeyPress) {
        target_.cancel();
    }
    return true;
}
