#pragma once

#include "config/Settings.h"

#include <QObject>
#include <QString>

// The local profile: the user's name, kept under "profileName" (else the account's full name),
// and what the window derives from it.
class Profile : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)

  public:
    explicit Profile(Settings& settings, QObject* parent = nullptr);

    const QString& name() const { return name_; }
    // Stored at once.
    void setName(const QString& name);

    QString firstName() const { return firstName(name_); }
    QString initials() const { return initials(name_); }

    // The first of the blank-separated pieces, or nothing.
    static QString firstName(const QString& name);
    // The first character of each of the first two pieces, upper-cased.
    static QString initials(const QString& name);

  signals:
    void nameChanged();

  private:
    Settings& settings_;
    QString name_;
};
