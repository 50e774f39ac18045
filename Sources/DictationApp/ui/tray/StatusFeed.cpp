#include "ui/tray/StatusFeed.h"

#include "dictation/Controller.h"

StatusFeed::StatusFeed(AppState& state, const DictationState& dictation, QObject* parent)
    : QObject(parent), state_(state), standing_(state.status()) {
    if (standing_.isEmpty() && !state.isReady()) {
        standing_ = QString::fromUtf8(startingText);
    }
    connect(&dictation, &DictationState::phaseChanged, this,
            [this, &dictation](DictationState::Phase phase) {
                if (phase == DictationState::Phase::error) {
                    error_ = dictation.errorText();
                    // Silence is most often the wrong microphone: say which one listened.
                    if (error_ == QLatin1String(Controller::noSpeech) &&
                        !state_.microphoneName().isEmpty()) {
                        error_ += QStringLiteral(" (microphone: ") + state_.microphoneName() +
                                  QStringLiteral(")");
                    }
                } else if (phase == DictationState::Phase::listening) {
                    error_.clear();
                } else {
                    return;
                }
                publish();
            });
    publish();
}

void StatusFeed::show(const QString& text) {
    standing_ = text;
    error_.clear();
    publish();
}

void StatusFeed::showWhile(const QString& text) {
    passing_ = text;
    publish();
}

void StatusFeed::publish() {
    state_.setStatus(!error_.isEmpty() ? error_ : !passing_.isEmpty() ? passing_ : standing_);
}
