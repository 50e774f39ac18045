#include "ui/window/AppState.h"

AppState::AppState(RecordKey& key, Settings& settings, const DictationState& dictation,
                   QObject* parent)
    : QObject(parent), key_(key), settings_(settings), dictation_(dictation), profile_(settings) {
    connect(&key_, &RecordKey::changed, this, &AppState::keyChanged);
    connect(&settings_, &Settings::changed, this, [this](const QString& name) {
        if (name == QLatin1String(SettingKeys::look.name.data(),
                                  static_cast<qsizetype>(SettingKeys::look.name.size()))) {
            emit lookChanged();
        }
    });
}

void AppState::setStatus(const QString& status) {
    if (status != status_) {
        status_ = status;
        emit statusChanged();
    }
}

void AppState::setReady(bool ready) {
    if (ready != isReady_) {
        isReady_ = ready;
        emit readyChanged();
    }
}

void AppState::setMicrophoneName(const QString& name) {
    if (name != microphoneName_) {
        microphoneName_ = name;
        emit microphoneNameChanged();
    }
}

void AppState::setHasTray(bool hasTray) {
    if (hasTray != hasTray_) {
        hasTray_ = hasTray;
        emit hasTrayChanged();
    }
}

void AppState::setSection(Section section) {
    if (section != section_) {
        section_ = section;
        emit sectionChanged();
    }
}

void AppState::setSettingsTab(std::optional<SettingsTab> tab) {
    if (tab != settingsTab_) {
        settingsTab_ = tab;
        emit settingsTabChanged();
    }
}

Look AppState::look() const {
    return settings_.get(SettingKeys::look);
}

void AppState::setLook(Look look) {
    settings_.set(SettingKeys::look, look); // announced through the settings' change
}
