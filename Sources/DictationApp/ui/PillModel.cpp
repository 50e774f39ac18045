#include "ui/PillModel.h"

#include <algorithm>

void PillModel::setState(State state, QString message) {
    state_ = state;
    message_ = std::move(message);
    emit changed();
}

void PillModel::setWords(const QString& words) {
    words_ = words;
    emit changed();
}

void PillModel::setHint(const QString& hint) {
    hint_ = hint;
    emit changed();
}

void PillModel::pushLevel(float level) {
    std::rotate(levels_.begin(), levels_.begin() + 1, levels_.end());
    levels_.back() = level;
    emit changed();
}

void PillModel::resetLevels() {
    levels_.fill(0);
    emit changed();
}
