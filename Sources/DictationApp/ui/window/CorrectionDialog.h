#pragma once

#include "Dictation.h"

#include <QDialog>
#include <QString>

class QPlainTextEdit;

// "What did you mean?": what the recogniser heard, and a field for what the user said, filled
// with the text as it stands. Accepted, `text()` is the correction to store.
class CorrectionDialog : public QDialog {
    Q_OBJECT
  public:
    CorrectionDialog(const Dictation& record, QWidget* parent = nullptr);

    // The dictation it corrects.
    const Dictation& record() const { return record_; }
    QString text() const;

  private:
    Dictation record_;
    QPlainTextEdit* field_ = nullptr;
};
