#include "ui/window/ModelServerPane.h"

#include "cleanup/ChatModel.h"
#include "cleanup/LocalModel.h"
#include "ui/window/ScreenParts.h"
#include "ui/window/SettingsRows.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {

QLineEdit* field(const QString& name, const QString& placeholder) {
    auto* edit = new QLineEdit;
    edit->setAccessibleName(name);
    edit->setPlaceholderText(placeholder);
    return edit;
}

// Nothing for an empty field, so the key is removed rather than stored empty.
std::optional<std::string> stored(const QLineEdit* edit) {
    const QString text = edit->text().trimmed();
    return text.isEmpty() ? std::nullopt : std::optional(text.toStdString());
}

} // namespace

ModelServerPane::ModelServerPane(Settings& settings, LocalModel& model, QWidget* parent)
    : QWidget(parent), settings_(settings), model_(model) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    tidy_ = SettingsRows::toggle(QStringLiteral("Tidy with a local model"));
    column->addWidget(tidy_);
    column->addWidget(ScreenParts::note(QStringLiteral(
        "A language model server you run (llama.cpp, Ollama, LM Studio) removes fillers and "
        "fixes punctuation first. Dictations are sent to the address below; plain http only "
        "reaches this computer. An edit that changes a word is never used.")));
    auto* form = new QFormLayout;
    address_ = field(QStringLiteral("Server address"), ChatModel::standardEndpoint);
    form->addRow(QStringLiteral("Server address"), address_);
    name_ = new QComboBox;
    name_->setEditable(true);
    name_->setAccessibleName(QStringLiteral("Model"));
    name_->setInsertPolicy(QComboBox::NoInsert);
    form->addRow(QStringLiteral("Model"), name_);
    key_ = field(QStringLiteral("API key"), QStringLiteral("none"));
    key_->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("API key"), key_);
    column->addLayout(form);
    problem_ = ScreenParts::problemLine();
    column->addWidget(problem_);
    try_ = SettingsRows::button(QStringLiteral("Test"));
    column->addWidget(try_, 0, Qt::AlignLeft);
    trial_ = ScreenParts::note({});
    trial_->setAccessibleName(QStringLiteral("Test result"));
    trial_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(trial_);

    connect(tidy_, &QCheckBox::toggled, this,
            [this](bool on) { settings_.set(SettingKeys::tidyWithModel, on); });
    connect(address_, &QLineEdit::editingFinished, this, &ModelServerPane::storeAddress);
    connect(name_->lineEdit(), &QLineEdit::editingFinished, this, &ModelServerPane::storeName);
    connect(name_, &QComboBox::activated, this, &ModelServerPane::storeName);
    connect(key_, &QLineEdit::editingFinished, this, &ModelServerPane::storeKey);
    connect(try_, &QPushButton::clicked, &model_, &LocalModel::tryExample);
    connect(&settings_, &Settings::changed, this, &ModelServerPane::showSettings);
    connect(&model_, &LocalModel::changed, this, &ModelServerPane::showModel);
    showSettings();
    showModel();
    model_.askForModels();
}

void ModelServerPane::storeAddress() {
    const auto address = stored(address_);
    const std::string endpoint = address.value_or(ChatModel::standardEndpoint);
    if (const auto problem = ModelEndpoint::problem(endpoint)) {
        ScreenParts::showProblem(problem_, problem);
        return;
    }
    const auto store = [this, address] {
        ScreenParts::showProblem(problem_, std::nullopt);
        settings_.set(SettingKeys::modelEndpoint, address);
        model_.askForModels();
    };
    if (ModelEndpoint::isOnThisComputer(endpoint) ||
        settings_.get(SettingKeys::modelEndpointAllowed) == endpoint) {
        store();
        return;
    }
    ScreenParts::showProblem(problem_,
                             "Not saved: that server is on another computer. Agree to send "
                             "dictations there, or use one on this computer.");
    ScreenParts::confirm(
        this, QStringLiteral("Send dictations to another computer"),
        QStringLiteral("Send your dictations to %1?").arg(QString::fromStdString(endpoint)),
        QStringLiteral("Each dictation leaves this computer to be tidied there, before it is "
                       "typed. Only do this for a server you trust."),
        QStringLiteral("Send"), [this, endpoint, store] {
            settings_.set(SettingKeys::modelEndpointAllowed, std::optional(endpoint));
            store();
        });
}

void ModelServerPane::storeName() {
    settings_.set(SettingKeys::modelName, stored(name_->lineEdit()));
}

void ModelServerPane::storeKey() {
    settings_.set(SettingKeys::modelApiKey, stored(key_));
}

void ModelServerPane::showSettings() {
    const QSignalBlocker tidyBlocker(tidy_);
    tidy_->setChecked(settings_.get(SettingKeys::tidyWithModel));
    if (!address_->hasFocus() && problem_->isHidden()) {
        address_->setText(
            QString::fromStdString(settings_.get(SettingKeys::modelEndpoint).value_or("")));
    }
    if (!name_->lineEdit()->hasFocus()) {
        name_->setEditText(
            QString::fromStdString(settings_.get(SettingKeys::modelName).value_or("")));
    }
    if (!key_->hasFocus()) {
        key_->setText(QString::fromStdString(settings_.get(SettingKeys::modelApiKey).value_or("")));
    }
}

void ModelServerPane::showModel() {
    const QString typed = name_->currentText();
    {
        const QSignalBlocker blocker(name_);
        name_->clear();
        name_->addItems(model_.models());
        name_->setEditText(typed);
    }
    try_->setEnabled(!model_.isBusy());
    trial_->setText(model_.trial());
    trial_->setVisible(!model_.trial().isEmpty());
}
