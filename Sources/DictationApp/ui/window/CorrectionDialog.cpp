#include "ui/window/CorrectionDialog.h"

#include "ui/window/ScreenParts.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

CorrectionDialog::CorrectionDialog(const Dictation& record, QWidget* parent)
    : QDialog(parent), record_(record) {
    setWindowTitle(QStringLiteral("What did you mean?"));
    setAccessibleName(windowTitle());
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ScreenParts::heading(windowTitle()));

    auto* heard = ScreenParts::note(QStringLiteral("It heard: ") + ScreenParts::text(record.heard));
    heard->setTextFormat(Qt::PlainText);
    heard->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(heard);

    field_ = new QPlainTextEdit(ScreenParts::text(record.finalText()));
    field_->setAccessibleName(QStringLiteral("What you said"));
    field_->setTabChangesFocus(true);
    layout->addWidget(field_, 1);

    auto* buttons = new QDialogButtonBox;
    QPushButton* cancel =
        buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setAccessibleName(cancel->text());
    QPushButton* save =
        buttons->addButton(QStringLiteral("Save correction"), QDialogButtonBox::AcceptRole);
    save->setAccessibleName(save->text());
    save->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(480, 300);
    field_->setFocus(Qt::OtherFocusReason);
}

QString CorrectionDialog::text() const {
    return field_->toPlainText();
}
