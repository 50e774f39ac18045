#pragma once

#include <QWidget>
#include <cstdint>
#include <vector>

// Words per day as bars, oldest day first, today last.
class DayChart : public QWidget {
    Q_OBJECT
  public:
    explicit DayChart(QWidget* parent = nullptr);

    void setWords(std::vector<std::int64_t> words);
    const std::vector<std::int64_t>& words() const { return words_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::vector<std::int64_t> words_;
};
