#include "ui/window/ScreenParts.h"

#include <QFont>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QWidget>

QVBoxLayout* ScreenParts::column(QWidget* screen) {
    auto* layout = new QVBoxLayout(screen);
    layout->setContentsMargins(32, 28, 32, 24);
    layout->setSpacing(12);
    return layout;
}

QVBoxLayout* ScreenParts::scrollingColumn(QWidget* screen) {
    auto* outer = new QVBoxLayout(screen);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget;
    QVBoxLayout* layout = column(content);
    scroll->setWidget(content);
    outer->addWidget(scroll);
    return layout;
}

QLabel* ScreenParts::heading(const QString& text) {
    auto* label = new QLabel(text);
    label->setObjectName(QStringLiteral("heading"));
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 1.6);
    font.setWeight(QFont::DemiBold);
    label->setFont(font);
    label->setAccessibleName(text);
    return label;
}

QLabel* ScreenParts::note(const QString& text) {
    auto* label = new QLabel(text);
    label->setObjectName(QStringLiteral("note"));
    label->setWordWrap(true);
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setAccessibleName(text);
    return label;
}

QWidget* ScreenParts::figure(const QString& caption, QLabel** number) {
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    *number = new QLabel;
    (*number)->setObjectName(QStringLiteral("figure"));
    QFont font = (*number)->font();
    font.setPointSizeF(font.pointSizeF() * 1.8);
    font.setWeight(QFont::DemiBold);
    (*number)->setFont(font);
    describe(*number, caption);
    layout->addWidget(*number);
    layout->addWidget(note(caption));
    return box;
}

void ScreenParts::describe(QLabel* label, const QString& role) {
    label->setAccessibleName({});
    label->setAccessibleDescription(role);
}

void ScreenParts::makeFindTarget(QWidget* field) {
    field->setProperty("findTarget", true);
}

QWidget* ScreenParts::findTarget(QWidget* screen) {
    for (QWidget* widget : screen->findChildren<QWidget*>()) {
        if (widget->property("findTarget").toBool()) {
            return widget;
        }
    }
    return nullptr;
}

QLabel* ScreenParts::problemLine() {
    auto* label = new QLabel;
    label->setObjectName(QStringLiteral("problem"));
    label->setWordWrap(true);
    describe(label, QStringLiteral("Problem"));
    label->hide();
    return label;
}

void ScreenParts::showProblem(QLabel* line, const std::optional<std::string>& problem) {
    line->setText(problem ? text(*problem) : QString());
    line->setVisible(problem.has_value());
}

void ScreenParts::confirm(QWidget* parent, const QString& name, const QString& question,
                          const QString& detail, const QString& action,
                          std::function<void()> then) {
    auto* box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setAccessibleName(name);
    box->setIcon(QMessageBox::Warning);
    box->setText(question);
    box->setInformativeText(detail);
    QPushButton* go = box->addButton(action, QMessageBox::DestructiveRole);
    go->setAccessibleName(go->text());
    QPushButton* cancel = box->addButton(QMessageBox::Cancel);
    cancel->setAccessibleName(cancel->text());
    // Nothing is lost by a stray Return.
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    QObject::connect(box, &QMessageBox::finished, parent, [box, go, then = std::move(then)] {
        if (box->clickedButton() == go) {
            then();
        }
    });
    box->open();
}
