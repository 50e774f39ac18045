#include "ui/WindowPlacement.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace WindowPlacement {

namespace {

QRect freeArea(const QWidget& window) {
    const QScreen* screen = window.screen();
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    return screen ? screen->availableGeometry() : QRect();
}

} // namespace

void fit(QWidget& window, QSize wanted) {
    const QRect area = freeArea(window);
    if (area.isEmpty()) {
        window.resize(wanted);
        return;
    }
    const QSize room = area.size() - QSize(frameAllowance / 3, frameAllowance);
    const QSize size = wanted.boundedTo(room).expandedTo(window.minimumSize().boundedTo(room));
    window.resize(size);
    QRect frame(QPoint(), size + QSize(0, frameAllowance));
    frame.moveCenter(area.center());
    window.move(frame.topLeft().x(), std::max(area.top(), frame.top()));
}

void keepInside(QWidget& window) {
    const QRect area = freeArea(window);
    QRect frame = window.frameGeometry();
    if (area.isEmpty() || area.contains(frame)) {
        return;
    }
    const QSize margins = frame.size() - window.geometry().size();
    if (frame.width() > area.width() || frame.height() > area.height()) {
        const QSize size = (area.size() - margins).expandedTo(QSize(1, 1));
        window.setMinimumSize(window.minimumSize().boundedTo(size));
        window.resize(window.size().boundedTo(size));
        frame.setSize(window.size() + margins);
    }
    frame.moveLeft(std::clamp(frame.left(), area.left(), area.right() - frame.width() + 1));
    frame.moveTop(std::clamp(frame.top(), area.top(), area.bottom() - frame.height() + 1));
    window.move(frame.topLeft());
}

void bringForward(QWidget& window) {
    if (window.isMinimized()) {
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    }
    window.show();
    window.raise();
    window.activateWindow();
}

} // namespace WindowPlacement
