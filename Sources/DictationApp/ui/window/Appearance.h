#pragma once

#include "config/Settings.h"

#include <QDBusVariant>
#include <QObject>
#include <optional>

// The light or dark look of the app's windows. "Match system" follows the desktop's colour
// scheme: the settings portal's org.freedesktop.appearance color-scheme where it answers, else
// the platform theme's own palette.
class Appearance : public QObject {
    Q_OBJECT
  public:
    explicit Appearance(QObject* parent = nullptr);

    // Sets the application's palette for `look`.
    void apply(Look look);
    bool isDark() const { return isDark_; }

    // What the desktop prefers: true dark, false light, nothing when it does not say.
    static std::optional<bool> systemPrefersDark();
    // Whether the desktop asks for less motion (GNOME's animations switched off, read through
    // the settings portal); false when it does not say.
    static bool systemPrefersLessMotion();

  signals:
    // The desktop changed its scheme while "Match system" is chosen.
    void changed();

  private slots:
    void settingChanged(const QString& group, const QString& key, const QDBusVariant& value);

  private:
    void setDark(bool dark);

    Look look_ = Look::light;
    bool isDark_ = false;
};
