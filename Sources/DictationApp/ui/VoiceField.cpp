#include "ui/VoiceField.h"

#include "ui/Motion.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <numbers>

VoiceField::VoiceField(const DictationState& voice, QWidget* parent)
    : QWidget(parent), voice_(voice) {
    setAccessibleName(QStringLiteral("Input level"));
    setMinimumHeight(56);
    connect(&frames_, &QTimer::timeout, this, &VoiceField::frame);
    connect(&voice_, &DictationState::phaseChanged, this, [this] {
        frames_.setInterval(voice_.isListening() ? recordingInterval : idleInterval);
    });
    frames_.setInterval(voice_.isListening() ? recordingInterval : idleInterval);
}

void VoiceField::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    frames_.start();
}

void VoiceField::hideEvent(QHideEvent* event) {
    frames_.stop();
    QWidget::hideEvent(event);
}

void VoiceField::frame() {
    smoother_.step(voice_.level());
    // Calmer when the desktop asks for less motion: the ribbon still follows the voice.
    phase_ += (voice_.isListening() ? 0.18 : 0.04) * (Motion::reduced() ? 0.25 : 1.0);
    if (!sinceBackground_.isValid() || sinceBackground_.elapsed() >= backgroundInterval) {
        drawBackground();
        sinceBackground_.start();
    }
    update();
}

void VoiceField::drawBackground() {
    const qreal scale = devicePixelRatioF();
    QPixmap picture(size() * scale);
    picture.setDevicePixelRatio(scale);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box(rect());
    const QColor base = palette().color(QPalette::Base);
    p.setPen(QPen(palette().color(QPalette::Mid), 1));
    p.setBrush(base);
    p.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    // The glow: brighter while the voice is loud, as of this quarter second.
    QRadialGradient glow(box.center(), box.width() / 2);
    QColor sky(96, 165, 250);
    sky.setAlphaF(0.10 + 0.35 * std::min(1.0, smoother_.displayed()));
    glow.setColorAt(0, sky);
    glow.setColorAt(1, Qt::transparent);
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawRoundedRect(box.adjusted(1, 1, -1, -1), 10, 10);
    background_ = picture;
}

void VoiceField::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (background_.size() != size() * devicePixelRatioF()) {
        drawBackground();
    }
    p.drawPixmap(0, 0, background_);
    const double level = std::min(1.0, smoother_.displayed());
    const qreal middle = height() / 2.0;
    const qreal amplitude = (height() / 2.0 - 8) * std::max(0.06, level);
    QPainterPath ribbon;
    const int steps = 64;
    for (int i = 0; i <= steps; ++i) {
        const qreal x = 10 + (width() - 20) * i / static_cast<qreal>(steps);
        // Tapered at both ends, so the ribbon lies inside the field.
        const qreal taper = std::sin(std::numbers::pi * i / steps);
        const qreal y =
            middle + amplitude * taper * std::sin(phase_ + 2 * std::numbers::pi * 2.0 * i / steps);
        i == 0 ? ribbon.moveTo(x, y) : ribbon.lineTo(x, y);
    }
    QLinearGradient stroke(0, 0, width(), 0);
    stroke.setColorAt(0, QColor(110, 231, 183)); // mint
    stroke.setColorAt(1, QColor(96, 165, 250));  // sky
    p.setPen(QPen(QBrush(stroke), 3, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(ribbon);
}
