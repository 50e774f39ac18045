#include "ui/window/StyleScreen.h"

#include "WritingStyle.h"
#include "ui/window/Figures.h"
#include "ui/window/ScreenParts.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QRadioButton>
#include <QScrollArea>
#include <QVBoxLayout>

using ScreenParts::text;

namespace {

QString title(AppGroup group) {
    switch (group) {
    case AppGroup::messages:
        return QStringLiteral("Messages");
    case AppGroup::work:
        return QStringLiteral("Work chat");
    case AppGroup::email:
        return QStringLiteral("Email");
    case AppGroup::other:
        return QStringLiteral("Everything else");
    }
    return {};
}

std::size_t slot(AppGroup group) {
    return static_cast<std::size_t>(group);
}

QString examplesLine(AppGroup group) {
    QStringList apps;
    for (const std::string_view app : AppGroups::examples(group)) {
        apps << text(app);
    }
    return (group == AppGroup::other ? QStringLiteral("Editors, documents, terminals: ")
                                     : QStringLiteral("For example ")) +
           apps.join(QStringLiteral(", "));
}

// A sample chooses its style when clicked, as its label would in a form.
class SampleLabel : public QLabel {
  public:
    SampleLabel(const QString& text, QAbstractButton& choice) : QLabel(text), choice_(choice) {
        setCursor(Qt::PointingHandCursor);
    }

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        QLabel::mouseReleaseEvent(event);
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
            choice_.click();
        }
    }

  private:
    QAbstractButton& choice_;
};

} // namespace

StyleScreen::StyleScreen(Settings& settings, QWidget* parent)
    : QWidget(parent), settings_(settings) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    // Four groups of three samples outgrow a small window at large scales.
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    // Tab goes straight to the choices; the area follows the focus.
    scroll->setFocusPolicy(Qt::NoFocus);
    auto* content = new QWidget;
    auto* layout = ScreenParts::column(content);
    layout->addWidget(ScreenParts::heading(QStringLiteral("Style")));
    layout->addWidget(ScreenParts::note(
        QStringLiteral("Punctuation and capitals for each kind of app. Your words never change.")));
    for (const AppGroup group : AppGroups::allCases) {
        layout->addWidget(makeGroup(group));
    }
    layout->addStretch();
    scroll->setWidget(content);
    outer->addWidget(scroll);

    // Shows what the file holds after every change, so a choice that could not be written does
    // not look kept.
    connect(&settings, &Settings::changed, this, [this](const QString& key) {
        if (key.startsWith(QStringLiteral("style-"))) {
            showStored();
        }
    });
    showStored();
}

QWidget* StyleScreen::makeGroup(AppGroup group) {
    auto* box = new QGroupBox;
    box->setAccessibleName(title(group));
    box->setFlat(true);
    auto* grid = new QGridLayout(box);
    grid->setColumnStretch(1, 1);
    grid->addWidget(Figures::subheading(title(group)), 0, 0, 1, 2);
    auto* apps = ScreenParts::note(examplesLine(group));
    apps->setAccessibleName(title(group) + QStringLiteral(" apps"));
    grid->addWidget(apps, 1, 0, 1, 2);
    auto* choices = new QButtonGroup(box);
    choices->setExclusive(true);
    int row = 2;
    for (const WritingStyle style : WritingStyles::allCases) {
        const QString name = text(WritingStyles::rawValue(style));
        // What dictation would type in this style, from the same function it uses.
        const QString styled = text(WritingStyles::apply(style, sample));
        auto* choice = new QRadioButton(name);
        choice->setAccessibleName(name);
        choice->setAccessibleDescription(styled);
        choices->addButton(choice, static_cast<int>(style));
        auto* shown = new SampleLabel(styled, *choice);
        shown->setWordWrap(true);
        ScreenParts::describe(shown, name + QStringLiteral(" sample"));
        shown->setBuddy(choice);
        grid->addWidget(choice, row, 0, Qt::AlignTop);
        grid->addWidget(shown, row, 1);
        ++row;
    }
    // A choice counts however it was made (a click, a key, a screen reader's toggle); checking
    // the stored one writes nothing.
    connect(choices, &QButtonGroup::idToggled, this, [this, group](int style, bool checked) {
        if (checked) {
            choose(group, style);
        }
    });
    choices_[slot(group)] = choices;
    return box;
}

void StyleScreen::choose(AppGroup group, int style) {
    if (settings_.get(SettingKeys::style(group)) != static_cast<WritingStyle>(style)) {
        settings_.set(SettingKeys::style(group), static_cast<WritingStyle>(style));
    }
}

void StyleScreen::showStored() {
    for (const AppGroup group : AppGroups::allCases) {
        const WritingStyle stored = settings_.get(SettingKeys::style(group));
        if (QAbstractButton* button = choices_[slot(group)]->button(static_cast<int>(stored))) {
            button->setChecked(true);
        }
    }
}
