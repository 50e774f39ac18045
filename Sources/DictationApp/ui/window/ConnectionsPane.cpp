#include "ui/window/ConnectionsPane.h"

#include "platform/Log.h"
#include "platform/MainThread.h"
#include "ui/window/Icons.h"
#include "ui/window/ScreenParts.h"
#include "ui/window/SettingsRows.h"

#include <QClipboard>
#include <QFont>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdlib>
#include <exception>
#include <memory>

namespace {

QLabel* boldLabel(const QString& text) {
    auto* label = new QLabel(text);
    QFont font = label->font();
    font.setWeight(QFont::DemiBold);
    label->setFont(font);
    return label;
}

// The check-mark before "Connected".
QWidget* connectedMark() {
    auto* mark = new QWidget;
    auto* layout = new QHBoxLayout(mark);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    auto* icon = new QLabel;
    const int side = icon->fontMetrics().height();
    icon->setPixmap(Icons::symbol("checkmark.seal.fill").pixmap(side, side));
    layout->addWidget(icon);
    auto* text = new QLabel(QStringLiteral("Connected"));
    text->setAccessibleName(text->text());
    layout->addWidget(text);
    return mark;
}

QString display(ConnectedApp app) {
    return ScreenParts::text(ConnectedApps::rawValue(app));
}

} // namespace

ConnectionsPane::ConnectionsPane(Paths paths, QWidget* parent)
    : QWidget(parent), paths_(std::move(paths)) {
    QVBoxLayout* column = ScreenParts::scrollingColumn(this);
    column->addWidget(ScreenParts::heading(QStringLiteral("Connections")));
    column->addWidget(ScreenParts::note(QStringLiteral(
        "Let AI apps on this computer search your dictations and notes. They can read, never "
        "change.")));

    for (const ConnectedApp app : ConnectedApps::allCases) {
        Row& row = rows_[static_cast<std::size_t>(app)];
        auto* frame = new QFrame;
        frame->setAccessibleName(display(app));
        auto* line = new QHBoxLayout(frame);
        line->setContentsMargins(0, 8, 0, 8);
        auto* text = new QVBoxLayout;
        text->setSpacing(2);
        text->addWidget(boldLabel(display(app)));
        text->addWidget(ScreenParts::note(ScreenParts::text(ConnectedApps::detail(app))));
        line->addLayout(text, 1);
        row.connected = connectedMark();
        line->addWidget(row.connected);
        row.remove = SettingsRows::button(QStringLiteral("Remove"));
        line->addWidget(row.remove);
        row.connect = SettingsRows::button(QStringLiteral("Connect"));
        line->addWidget(row.connect);
        column->addWidget(frame);

        connect(row.connect, &QPushButton::clicked, this, [this, app] { ask(app); });
        connect(row.remove, &QPushButton::clicked, this, [this, app] { change(app, false); });
    }

    problemLine_ = ScreenParts::problemLine();
    column->addWidget(problemLine_);

    auto* other = new QFrame;
    other->setAccessibleName(QStringLiteral("Any other app"));
    auto* line = new QHBoxLayout(other);
    line->setContentsMargins(0, 8, 0, 8);
    auto* text = new QVBoxLayout;
    text->setSpacing(2);
    text->addWidget(boldLabel(QStringLiteral("Any other app")));
    text->addWidget(ScreenParts::note(QStringLiteral("Paste this into its MCP settings.")));
    line->addLayout(text, 1);
    copy_ = SettingsRows::button(QStringLiteral("Copy setup"));
    line->addWidget(copy_);
    column->addWidget(other);
    column->addStretch();

    connect(copy_, &QPushButton::clicked, this, [this] {
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setText(QString::fromStdString(ConnectedApps::copyable(paths_)));
        isCopied_ = true;
        showState();
    });
    showState();
}

void ConnectionsPane::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
}

void ConnectionsPane::refresh() {
    std::set<ConnectedApp> found;
    for (const ConnectedApp app : ConnectedApps::allCases) {
        if (ConnectedApps::isConnected(app, paths_)) {
            found.insert(app);
        }
    }
    connected_ = std::move(found);
    showState();
}

void ConnectionsPane::ask(ConnectedApp app) {
    if (busy_) {
        return;
    }
    asking_ = app;
    confirmation_ = new QMessageBox(this);
    confirmation_->setAttribute(Qt::WA_DeleteOnClose);
    confirmation_->setAccessibleName(QStringLiteral("Connect ") + display(app));
    confirmation_->setIcon(QMessageBox::Question);
    confirmation_->setText(QStringLiteral("Let ") + display(app) +
                           QStringLiteral(" read your dictations?"));
    confirmation_->setInformativeText(
        QStringLiteral("What it reads may be sent to the company that runs it."));
    QPushButton* accept =
        confirmation_->addButton(QStringLiteral("Connect"), QMessageBox::AcceptRole);
    accept->setAccessibleName(accept->text());
    QPushButton* cancel = confirmation_->addButton(QMessageBox::Cancel);
    cancel->setAccessibleName(cancel->text());
    confirmation_->setDefaultButton(accept);
    confirmation_->setEscapeButton(cancel);
    connect(confirmation_, &QMessageBox::finished, this, [this, app, accept] {
        const bool confirmed = confirmation_ && confirmation_->clickedButton() == accept;
        confirmation_ = nullptr;
        asking_.reset();
        if (confirmed) {
            change(app, true);
        }
    });
    confirmation_->open();
}

void ConnectionsPane::change(ConnectedApp app, bool connect) {
    if (busy_) {
        return;
    }
    busy_ = app;
    problem_.reset();
    showState();

    // The worker gets values only: the app, the choice and its own copy of the paths.
    worker_.async([this, app, connect, paths = paths_, post = inbox_.post()] {
        std::optional<std::string> errorType;
        std::optional<std::string> problem;
        try {
            ConnectedApps::set(app, connect, paths);
        } catch (const std::exception& error) {
            errorType = typeName(error);
            problem = ConnectedApps::problem(app, error);
            log("connection: " + *errorType);
        }
        post([this, problem] { finished(problem); });
    });
}

ConnectionsPane::~ConnectionsPane() {
    inbox_.close();
    worker_.drain();
}

void ConnectionsPane::finished(const std::optional<std::string>& problem) {
    busy_.reset();
    problem_ = problem;
    refresh();
}

void ConnectionsPane::showState() {
    for (const ConnectedApp app : ConnectedApps::allCases) {
        Row& row = rows_[static_cast<std::size_t>(app)];
        const bool isConnected = connected_.contains(app);
        row.connected->setVisible(isConnected);
        row.remove->setVisible(isConnected);
        row.connect->setVisible(!isConnected);
        const QString label =
            busy_ == app ? QStringLiteral("Connecting…") : QStringLiteral("Connect");
        row.connect->setText(label);
        row.connect->setAccessibleName(label);
        row.connect->setEnabled(!busy_);
        row.remove->setEnabled(!busy_);
    }
    ScreenParts::showProblem(problemLine_, problem_);
    const QString copyLabel = isCopied_ ? QStringLiteral("Copied") : QStringLiteral("Copy setup");
    copy_->setText(copyLabel);
    copy_->setAccessibleName(copyLabel);
}
