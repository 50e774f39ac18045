#pragma once

#include "setup/SetupModel.h"

#include <QString>
#include <QWidget>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

// What the setup window shows: the welcome, the three steps as the model has them now, the key
// to hold and the footer. Follows the model; Return presses the footer's button.
class SetupView : public QWidget {
    Q_OBJECT
  public:
    SetupView(SetupModel& model, QString appName, QWidget* parent = nullptr);

    // The footer's button was pressed (or Return): the window closes.
    std::function<void()> onDone = [] {};

    // The texts for the model's state now, as shown.
    static QString microphoneText(const SetupModel& model);
    static QString accessibilityText(const SetupModel& model, const QString& appName);
    static QString downloadText(const SetupModel::Download& download);

    // Draws it again from the application's palette, after the look changed.
    void showLook();

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    struct Step {
        QLabel* mark;
        QLabel* detail;
    };
    // A card titled `title` in `column`; more of the step goes into `body`.
    Step addStep(class QVBoxLayout* column, const QString& title, class QVBoxLayout** body);
    void show(Step step, bool done, const QString& detail);
    void update();

    SetupModel& model_;
    QString appName_;
    QLabel* count_;
    Step microphone_;
    Step accessibility_;
    Step download_;
    QPushButton* allow_;
    QPushButton* openSettings_;
    QProgressBar* progress_;
    QPushButton* tryAgain_;
    QComboBox* key_;
    QLabel* fnHint_;
    QLabel* footerText_;
    QWidget* footerKey_;
    QLabel* keyCap_;
    QLabel* footerAfterKey_;
    QPushButton* finish_;
};
