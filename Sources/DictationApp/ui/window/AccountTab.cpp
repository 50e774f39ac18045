#include "ui/window/AccountTab.h"

#include "Insights.h"
#include "platform/Log.h"
#include "storage/HistoryStore.h"
#include "ui/window/Figures.h"
#include "ui/window/ScreenParts.h"

#include <QDesktopServices>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// The initials in a circle of the accent colour, sized by the font so it scales with it.
class Avatar : public QLabel {
  public:
    Avatar() {
        setAlignment(Qt::AlignCenter);
        QFont font = this->font();
        font.setPointSizeF(font.pointSizeF() * 1.6);
        font.setWeight(QFont::DemiBold);
        setFont(font);
        const int size = fontMetrics().height() * 2 + 8;
        setFixedSize(size, size);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor accent = palette().color(QPalette::Highlight);
        QLinearGradient gradient(0, 0, width(), height());
        gradient.setColorAt(0, accent.lighter(125));
        gradient.setColorAt(1, accent.darker(115));
        painter.setPen(Qt::NoPen);
        painter.setBrush(gradient);
        painter.drawEllipse(rect().adjusted(1, 1, -1, -1));
        painter.setPen(palette().color(QPalette::HighlightedText));
        painter.setFont(font());
        painter.drawText(rect(), Qt::AlignCenter, text());
    }
};

QLabel* value() {
    auto* label = new QLabel;
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

AccountTab::AccountTab(AppState& state, const AppParts& parts, QWidget* parent)
    : QWidget(parent), state_(state), parts_(parts) {
    QVBoxLayout* column = ScreenParts::scrollingColumn(this);

    avatar_ = new Avatar;
    avatar_->setAccessibleName(QStringLiteral("Your initials"));
    column->addWidget(avatar_);
    problem_ = ScreenParts::problemLine();
    column->addWidget(problem_);

    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignLeft);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    form->setVerticalSpacing(10);
    column->addLayout(form);

    name_ = new QLineEdit;
    name_->setAccessibleName(QStringLiteral("Name"));
    name_->setPlaceholderText(QStringLiteral("Your name"));
    connect(name_, &QLineEdit::textEdited, this,
            [this](const QString& text) { state_.profile().setName(text); });
    form->addRow(QStringLiteral("Name"), name_);

    rank_ = value();
    rank_->setAccessibleName(QStringLiteral("Rank"));
    form->addRow(QStringLiteral("Rank"), rank_);

    pace_ = value();
    pace_->setAccessibleName(QStringLiteral("Speaking pace"));
    pace_->setFont(Figures::equalDigits(pace_->font()));
    form->addRow(QStringLiteral("Speaking pace"), pace_);

    apps_ = Figures::appList(QStringLiteral("Where you talk most"));
    form->addRow(QStringLiteral("Where you talk most"), apps_);

    corrections_ = value();
    corrections_->setAccessibleName(QStringLiteral("Corrections you've made"));
    corrections_->setFont(Figures::equalDigits(corrections_->font()));
    form->addRow(QStringLiteral("Corrections you've made"), corrections_);

    column->addSpacing(8);
    column->addWidget(Figures::subheading(QStringLiteral("Kept on this computer")));
    column->addWidget(
        ScreenParts::note(QStringLiteral("There is no online account to sign in to.")));
    auto* showFiles = new QPushButton(QStringLiteral("Show files"));
    showFiles->setAccessibleName(showFiles->text());
    connect(showFiles, &QPushButton::clicked, this, [this] {
        const QString folder = QString::fromStdString(parts_.paths.support().string());
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder))) {
            log("account: no file browser opened the support folder");
        }
    });
    column->addWidget(showFiles, 0, Qt::AlignLeft);
    column->addStretch();

    HistoryStore& history = parts.history;
    connect(&state.profile(), &Profile::nameChanged, this, &AccountTab::showName);
    connect(&history, &HistoryStore::totalsChanged, this, &AccountTab::showProgress);
    connect(&history, &HistoryStore::entriesChanged, this, &AccountTab::showProgress);
    connect(&history, &HistoryStore::problemChanged, this,
            [this] { ScreenParts::showProblem(problem_, parts_.history.problem()); });
    ScreenParts::showProblem(problem_, history.problem());
    showName();
    showProgress();
}

void AccountTab::showName() {
    const Profile& profile = state_.profile();
    // Only a change made elsewhere replaces the field, so the cursor stays where the user types.
    if (name_->text() != profile.name()) {
        name_->setText(profile.name());
    }
    avatar_->setText(profile.initials());
}

void AccountTab::showProgress() {
    HistoryStore& history = parts_.history;
    const Totals& totals = history.totals();
    rank_->setText(ScreenParts::text(Ranks::rawValue(Ranks::from(totals.words))));
    const std::int64_t pace = totals.wordsPerMinute();
    pace_->setText(pace > 0 ? Figures::grouped(pace) + QStringLiteral(" words a minute")
                            : QStringLiteral("Not enough yet"));

    const Insights insights = Insights::from(history.entries().oldestFirst(), parts_.clock->now(),
                                             14, parts_.clock->calendar());
    Figures::showApps(apps_, insights.apps);
    corrections_->setText(Figures::grouped(insights.corrected));
}

void AccountTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The fourteen days move on with the date.
    showProgress();
}
