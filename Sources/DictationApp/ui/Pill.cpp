#include "ui/Pill.h"

#include "ui/Motion.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

namespace {

// Draws the model; repaints on every change, and spins while working.
class PillView : public QWidget {
  public:
    explicit PillView(PillModel& model) : model_(model) {
        setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool |
                       Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput |
                       Qt::NoDropShadowWindowHint);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        setWindowTitle(QStringLiteral("Dictation"));
        setFixedSize(Pill::width, Pill::height);
        connect(&model_, &PillModel::changed, this, [this] {
            // Level changes ease out over a tenth of a second, from where the bars are.
            if (model_.levels() != to_) {
                from_ = shown();
                to_ = model_.levels();
                easing_.start();
                if (!ease_.isActive()) {
                    ease_.start();
                }
            }
            update();
        });
        ease_.setInterval(16);
        connect(&ease_, &QTimer::timeout, this, [this] {
            if (easing_.elapsed() >= Pill::levelEaseMs) {
                ease_.stop();
            }
            update();
        });
        spin_.setInterval(33);
        connect(&spin_, &QTimer::timeout, this, [this] {
            angle_ = (angle_ + 12) % 360;
            update();
        });
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF box = QRectF(rect()).adjusted(4, 4, -4, -4);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(24, 26, 32, 235));
        p.drawRoundedRect(box, box.height() / 2, box.height() / 2);

        const bool working = model_.state() == PillModel::State::working;
        if (working != spin_.isActive()) {
            working ? spin_.start() : spin_.stop();
        }
        qreal x = box.left() + 26;
        const qreal middle = box.center().y();
        QString caption;
        QColor captionColor(235, 238, 243);

        switch (model_.state()) {
        case PillModel::State::listening: {
            QLinearGradient fill(0, middle - 10, 0, middle + 10);
            fill.setColorAt(0, QColor(110, 231, 183)); // mint
            fill.setColorAt(1, QColor(96, 165, 250));  // sky
            p.setBrush(fill);
            for (float level : shown()) {
                const qreal h = 20 * std::clamp<qreal>(std::max(level, 0.14f), 0, 1);
                p.drawRoundedRect(QRectF(x, middle - h / 2, 2.5, h), 1.25, 1.25);
                x += 6;
            }
            x += 10;
            if (!model_.hint().isEmpty()) {
                caption = model_.hint();
            } else if (!model_.words().isEmpty()) {
                caption = model_.words();
                captionColor.setAlphaF(0.7);
            }
            break;
        }
        case PillModel::State::working: {
            p.setPen(QPen(QColor(96, 165, 250), 2.5, Qt::SolidLine, Qt::RoundCap));
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRectF(x, middle - 9, 18, 18), -angle_ * 16, 270 * 16);
            x += 32;
            caption = model_.hint().isEmpty() ? QStringLiteral("Working…") : model_.hint();
            break;
        }
        case PillModel::State::error: {
            QPainterPath triangle;
            triangle.moveTo(x + 10, middle - 10);
            triangle.lineTo(x + 20, middle + 8);
            triangle.lineTo(x, middle + 8);
            triangle.closeSubpath();
            p.setBrush(QColor(251, 191, 36)); // warning
            p.drawPath(triangle);
            p.setPen(QPen(QColor(24, 26, 32), 2));
            p.drawLine(QPointF(x + 10, middle - 4), QPointF(x + 10, middle + 2));
            p.drawPoint(QPointF(x + 10, middle + 5));
            x += 32;
            caption = model_.message();
            break;
        }
        }
        if (!caption.isEmpty()) {
            p.setPen(captionColor);
            QFont font = p.font();
            font.setPointSizeF(12);
            p.setFont(font);
            const QRectF area(x, box.top(), box.right() - 22 - x, box.height());
            // One line; long live words keep their newest end visible.
            const QString shown =
                p.fontMetrics().elidedText(caption, Qt::ElideLeft, int(area.width()));
            p.drawText(area, Qt::AlignVCenter | Qt::AlignLeft, shown);
        }
    }

  public:
    // The bars' levels as drawn now: on their way from the last ones to the newest.
    std::array<float, PillModel::levelCount> shown() const {
        if (!easing_.isValid() || Motion::reduced()) {
            return to_;
        }
        std::array<float, PillModel::levelCount> levels{};
        for (std::size_t i = 0; i < levels.size(); ++i) {
            levels[i] = Pill::easedLevel(from_[i], to_[i], easing_.elapsed());
        }
        return levels;
    }

  private:
    PillModel& model_;
    QTimer spin_;
    int angle_ = 0;
    std::array<float, PillModel::levelCount> from_{};
    std::array<float, PillModel::levelCount> to_{};
    QElapsedTimer easing_;
    QTimer ease_;
};

} // namespace

float Pill::easedLevel(float from, float to, qint64 milliseconds) {
    const double t = std::clamp(static_cast<double>(milliseconds) / levelEaseMs, 0.0, 1.0);
    return static_cast<float>(from + (to - from) * (1 - std::pow(1 - t, 3)));
}

std::array<float, PillModel::levelCount> Pill::shownLevels() const {
    return static_cast<const PillView*>(panel_.data())->shown();
}

Pill::Pill(QObject* parent) : QObject(parent), panel_(new PillView(model_)) {
    // A hint that comes while the pill shows (hands-free) gets the room it needs.
    connect(&model_, &PillModel::changed, this, [this] {
        if (panel_ && (panel_->isVisible() || overlayFrames_.isActive()) && panel_->screen()) {
            fit(*panel_->screen());
        }
    });
    overlayFrames_.setInterval(1000 / 30);
    connect(&overlayFrames_, &QTimer::timeout, this, [this] { drawOverlay(); });
    hideTimer_.setSingleShot(true);
    hideTimer_.setInterval(errorSeconds * 1000);
    connect(&hideTimer_, &QTimer::timeout, this, &Pill::hide);
}

Pill::Pill(const DictationState& state, QObject* parent) : Pill(parent) {
    connect(&state, &DictationState::phaseChanged, this, [this, &state](auto phase) {
        switch (phase) {
        case DictationState::Phase::idle:
            hide();
            break;
        case DictationState::Phase::listening:
            listening();
            break;
        case DictationState::Phase::working:
            working();
            break;
        case DictationState::Phase::error:
            error(state.errorText());
            break;
        }
    });
    connect(&state, &DictationState::levelChanged, this, &Pill::setLevel);
    connect(&state, &DictationState::wordsChanged, &model_, &PillModel::setWords);
    connect(&state, &DictationState::hintChanged, &model_, &PillModel::setHint);
}

Pill::~Pill() {
    delete panel_.data();
}

void Pill::listening() {
    model_.setHint({});
    model_.setWords({});
    model_.resetLevels();
    show(PillModel::State::listening);
}

void Pill::working() {
    show(PillModel::State::working);
}

void Pill::error(const QString& message) {
    show(PillModel::State::error, message);
    hideTimer_.start();
}

void Pill::hide() {
    hideTimer_.stop();
    panel_->hide();
    if (overlay_ && overlayFrames_.isActive()) {
        overlayFrames_.stop();
        overlay_(nullptr, 1, 0);
    }
}

void Pill::setOverlay(Overlay overlay) {
    overlay_ = std::move(overlay);
}

void Pill::drawOverlay() {
    const int scale = std::max(1, static_cast<int>(std::ceil(panel_->devicePixelRatioF())));
    QImage picture(panel_->size() * scale, QImage::Format_ARGB32_Premultiplied);
    picture.setDevicePixelRatio(scale);
    picture.fill(Qt::transparent);
    panel_->render(&picture, QPoint(), QRegion(), QWidget::DrawChildren);
    overlay_(&picture, scale, 24);
}

QRect Pill::placement(const QRect& available, int wide) {
    wide = std::clamp(wide, width, std::max(width, available.width() - 48));
    return QRect(available.x() + available.width() / 2 - wide / 2,
                 available.y() + available.height() - 24 - height, wide, height);
}

void Pill::fit(const QScreen& screen) {
    const QRect place = placement(screen.availableGeometry(), widthFor(model_, panel_->font()));
    panel_->setFixedSize(place.size());
    panel_->setGeometry(place);
}

int Pill::widthFor(const PillModel& model, const QFont& font) {
    // Live words keep their newest end in view; a hint or a message is read whole.
    QString caption = model.hint();
    int leading = 26 + 32;
    switch (model.state()) {
    case PillModel::State::listening:
        leading = 26 + PillModel::levelCount * 6 + 10;
        break;
    case PillModel::State::working:
        caption = caption.isEmpty() ? QStringLiteral("Working…") : caption;
        break;
    default:
        caption = model.message();
        break;
    }
    QFont captionFont = font;
    captionFont.setPointSizeF(12);
    // The margins: 4 each side of the box and 22 after the text.
    return 4 + leading + QFontMetrics(captionFont).horizontalAdvance(caption) + 22 + 4 + 8;
}

void Pill::show(PillModel::State state, const QString& message) {
    hideTimer_.stop();
    model_.setState(state, message);
    // A Wayland window cannot float above the others unasked: a tiling compositor would give
    // it the focus the dictation is about to type into: the compositor's overlay layer does,
    // where it has one, else the tray carries the state.
    QScreen* screen = overlay_ ? nullptr : QGuiApplication::screenAt(QCursor::pos());
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen) {
        fit(*screen);
    }
    if (overlay_) {
        drawOverlay();
        overlayFrames_.start();
        return;
    }
    if (QGuiApplication::platformName() == QLatin1String("wayland")) {
        return;
    }
    panel_->show();
    panel_->raise();
}
