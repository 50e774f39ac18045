#include "dictation/DictationState.h"

void DictationState::listen() {
    level_ = 0;
    setWords({});
    setHint({});
    setPhase(Phase::listening);
}

void DictationState::work() {
    setWords({});
    setPhase(Phase::working);
}

void DictationState::fail(const QString& text) {
    setPhase(Phase::error, text);
}

void DictationState::finish() {
    setPhase(Phase::idle);
}

// Announced every time, also for the same phase: a second error shows again.
void DictationState::setPhase(Phase phase, const QString& errorText) {
    // The level is the voice heard now: none once the recording has ended.
    if (phase != Phase::listening) {
        level_ = 0;
    }
    phase_ = phase;
    errorText_ = errorText;
    emit phaseChanged(phase_);
}

void DictationState::setLevel(float level) {
    if (phase_ != Phase::listening) {
        return;
    }
    level_ = level;
    emit levelChanged(level_);
}

void DictationState::setWords(const QString& words) {
    if (words == words_) {
        return;
    }
    words_ = words;
    emit wordsChanged(words_);
}

void DictationState::setHint(const QString& hint) {
    if (hint == hint_) {
        return;
    }
    hint_ = hint;
    emit hintChanged(hint_);
}

void DictationState::setCanRetry(bool canRetry) {
    if (canRetry == canRetry_) {
        return;
    }
    canRetry_ = canRetry;
    emit canRetryChanged(canRetry_);
}
