#pragma once

#include <QString>
#include <QWidget>
#include <vector>

// The seven days of this week as circles, filled on the days the user talked.
class WeekStrip : public QWidget {
    Q_OBJECT
  public:
    struct Day {
        int weekday = 0; // 1 (Monday) to 7
        bool talked = false;
        bool isToday = false;
    };

    explicit WeekStrip(QWidget* parent = nullptr);

    void setDays(std::vector<Day> days);
    const std::vector<Day>& days() const { return days_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    int diameter() const;
    int gap() const;

    std::vector<Day> days_;
};
