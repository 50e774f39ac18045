#include "ui/LiveVoice.h"

void LiveVoice::recordingChanged(bool recording) {
    level_ = 0;
    if (recording) {
        setWords({});
    }
    if (isRecording_ != recording) {
        isRecording_ = recording;
        emit isRecordingChanged(recording);
    }
}

void LiveVoice::setLevel(float level) {
    if (isRecording_) {
        level_ = level;
    }
}

void LiveVoice::setWords(const QString& words) {
    if (words_ != words) {
        words_ = words;
        emit wordsChanged(words_);
    }
}
