#pragma once

#include "dictation/DictationState.h"
#include "ui/PillModel.h"

#include <QImage>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QWidget>
#include <functional>

// The floating status panel near the bottom of the screen under the pointer. It never takes
// focus and lets the mouse through, so dictating never disturbs the field being typed into.
class QScreen;

class Pill : public QObject {
    Q_OBJECT
  public:
    static constexpr int width = 520;
    static constexpr int height = 64;
    static constexpr int errorSeconds = 3;
    // How long a level change takes to show, easing out.
    static constexpr int levelEaseMs = 100;
    // A bar on its way from `from` to `to`, `milliseconds` after the change (cubic ease-out).
    static float easedLevel(float from, float to, qint64 milliseconds);
    // The bars' levels as drawn at this moment.
    std::array<float, PillModel::levelCount> shownLevels() const;

    explicit Pill(QObject* parent = nullptr);
    // A pill that shows what `state` publishes, for as long as both live.
    explicit Pill(const DictationState& state, QObject* parent = nullptr);
    ~Pill() override;

    PillModel& model() { return model_; }
    QWidget& panel() { return *panel_; }
    const QTimer& hideTimer() const { return hideTimer_; }

    // Clears the hint, words and levels, then shows the listening state.
    void listening();
    void working();
    // Shows the message and hides the panel three seconds later.
    void error(const QString& message);
    void setLevel(float level) { model_.pushLevel(level); }
    void hide();

    // Where the pill is drawn when its own window cannot float (Wayland): each frame as a
    // picture of the given size in device pixels at the given scale, `bottom` points above the
    // bottom of the screen; null to hide it.
    using Overlay = std::function<void(const QImage* picture, int scale, int bottom)>;
    void setOverlay(Overlay overlay);

    // Where the panel goes on a screen with this available area: centred, 24 above the bottom,
    // `wide` across (at least `width`, at most the screen less a margin).
    static QRect placement(const QRect& available, int wide = width);
    // How wide the pill must be to show the model's hint or message whole.
    static int widthFor(const PillModel& model, const QFont& font);

  private:
    void show(PillModel::State state, const QString& message = {});
    // Places the panel on `screen` at the width its text needs.
    void fit(const QScreen& screen);
    void drawOverlay();

    PillModel model_;
    QPointer<QWidget> panel_;
    QTimer hideTimer_;
    Overlay overlay_;
    // Redraws the overlay while it shows: the spinner, the easing and the words move.
    QTimer overlayFrames_;
};
