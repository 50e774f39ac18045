#pragma once

#include <QLabel>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

class QVBoxLayout;
class QWidget;

// The pieces every screen is built from, so they look alike: a heading, a muted line of
// explanation, a store's problem, a big figure over its caption.
namespace ScreenParts {

// The screen's column, with the usual margins.
QVBoxLayout* column(QWidget* screen);
// The same column inside a scroll area filling `screen`, for screens that a large scale or a
// small window makes taller than the window.
QVBoxLayout* scrollingColumn(QWidget* screen);
QLabel* heading(const QString& text);
QLabel* note(const QString& text);
// For a label that shows a value (a count, a rank, a sentence): a screen reader reads the value
// as its name and `role` as what it is, so the role must not stand in for the name.
void describe(QLabel* label, const QString& role);
// The field Ctrl+F takes the user to on its screen.
void makeFindTarget(QWidget* field);
QWidget* findTarget(QWidget* screen);
// A number over its caption ("1,234" over "total words"); the number's label is returned
// through `number` for updates.
QWidget* figure(const QString& caption, QLabel** number);

// A question with a weighty `action` and Cancel as the default, which Return and Escape
// choose; `then` runs only on `action`. It does not block: the caller goes on at once.
void confirm(QWidget* parent, const QString& name, const QString& question, const QString& detail,
             const QString& action, std::function<void()> then);

// A line for a store's problem, hidden while there is none.
QLabel* problemLine();
void showProblem(QLabel* line, const std::optional<std::string>& problem);

inline QString text(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

} // namespace ScreenParts
