#pragma once

#include <QObject>
#include <QString>
#include <array>

// What the floating pill shows: listening with the live level and words, working, or an error.
class PillModel : public QObject {
    Q_OBJECT
  public:
    enum class State { listening, working, error };
    static constexpr int levelCount = 14;

    using QObject::QObject;

    State state() const { return state_; }
    const QString& message() const { return message_; } // the error text
    const QString& words() const { return words_; }
    const QString& hint() const { return hint_; }
    // The last 14 input levels, newest last.
    const std::array<float, levelCount>& levels() const { return levels_; }

    void setState(State state, QString message = {});
    void setWords(const QString& words);
    void setHint(const QString& hint);
    // Slides the window: the oldest level drops out, `level` comes in last.
    void pushLevel(float level);
    void resetLevels();

  signals:
    void changed();

  private:
    State state_ = State::listening;
    QString message_;
    QString words_;
    QString hint_;
    std::array<float, levelCount> levels_{};
};
