#pragma once

#include "config/Settings.h"
#include "platform/MainThread.h"
#include "platform/SerialQueue.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <string_view>

// The model server the settings name, for the settings screen: the models it offers, and a
// trial of the first example through the edit and its guard. Each question goes to a worker
// with the settings as they are; the answer comes back here on the main thread.
class LocalModel : public QObject {
    Q_OBJECT
  public:
    static constexpr std::string_view example =
        "um what time is it in Tokyo and and can you tell me a story";

    explicit LocalModel(Settings& settings, Deliver deliver = mainThread(),
                        QObject* parent = nullptr);
    ~LocalModel() override;

    // What the server offered when last asked; empty before, or when it answered nothing.
    const QStringList& models() const { return models_; }
    // What became of the last trial, for the user; empty before one.
    const QString& trial() const { return trial_; }
    bool isBusy() const { return busy_ > 0; }

    void askForModels();
    void tryExample();

  signals:
    void changed();

  private:
    Settings& settings_;
    Inbox inbox_;
    QStringList models_;
    QString trial_;
    int busy_ = 0;
    SerialQueue worker_{"app.model"};
};
