#pragma once

#include "WritingContext.h"
#include "ui/window/AppState.h"

#include <QWidget>
#include <array>

class QButtonGroup;

// Style: the writing style of each group of apps, each choice shown on a sample.
class StyleScreen : public QWidget {
    Q_OBJECT
  public:
    explicit StyleScreen(Settings& settings, QWidget* parent = nullptr);

    static constexpr const char* sample =
        "Hey Sam, I can do Friday. Does three still work? See you then.";

  private:
    QWidget* makeGroup(AppGroup group);
    void choose(AppGroup group, int style);
    // Checks the stored style of each group.
    void showStored();

    Settings& settings_;
    std::array<QButtonGroup*, AppGroups::allCases.size()> choices_{};
};
