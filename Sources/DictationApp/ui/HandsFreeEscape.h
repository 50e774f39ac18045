#pragma once

#include "dictation/RecordKeyMonitor.h"

#include <QObject>

// Escape in one of the program's own windows during hands-free recording: cancels it and is
// not delivered, so it cannot also close a dialog or trigger a shortcut there. Install it on
// the application (qApp->installEventFilter).
class HandsFreeEscape : public QObject {
  public:
    explicit HandsFreeEscape(RecordKeyTarget& target, QObject* parent = nullptr);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    RecordKeyTarget& target_;
};
