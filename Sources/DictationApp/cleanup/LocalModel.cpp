#include "cleanup/LocalModel.h"

#include "CleanupPipeline.h"
#include "cleanup/ChatModel.h"

#include <chrono>

namespace {

QString inQuotes(const std::string& text) {
    return QStringLiteral("\u201C") + QString::fromStdString(text) + QStringLiteral("\u201D");
}

// The trial's outcome in the user's words: the answer and whether the guard kept it.
QString tryOn(const std::optional<ChatModel::Setup>& setup) {
    if (!setup) {
        return QStringLiteral("Agree to send dictations to that server first.");
    }
    ChatModel model(*setup);
    if (!model.isAvailable()) {
        return QStringLiteral("Enter the server's address and a model first.");
    }
    std::string answer;
    try {
        answer = model.respond(OnDeviceCleaner::request(LocalModel::example),
                               std::chrono::steady_clock::now() + OnDeviceCleaner::timeLimit);
    } catch (const std::exception& error) {
        return QStringLiteral("No edit came back: ") + QString::fromStdString(error.what()) +
               QLatin1Char('.');
    }
    const auto stages =
        CleanupPipeline::clean(LocalModel::example, true, CleanupPipeline::fixed(answer));
    return QStringLiteral("The model answered ") + inQuotes(answer) +
           (stages.usedModel ? QStringLiteral(". It kept every word, so dictations will use it.")
                             : QStringLiteral(". It changed the words, so it would not be used."));
}

} // namespace

LocalModel::LocalModel(Settings& settings, Deliver deliver, QObject* parent)
    : QObject(parent), settings_(settings), inbox_(std::move(deliver)) {}

LocalModel::~LocalModel() {
    inbox_.close();
    worker_.drain();
}

void LocalModel::askForModels() {
    ++busy_;
    emit changed();
    worker_.async([this, setup = ChatModel::configured(settings_.file()), post = inbox_.post()] {
        QStringList names;
        try {
            if (setup) {
                for (const auto& name : ChatModel::listModels(*setup, std::chrono::seconds(2))) {
                    names << QString::fromStdString(name);
                }
            }
        } catch (const std::exception&) {
            // No list: the user types the model's name.
        }
        post([this, names = std::move(names)] {
            --busy_;
            models_ = names;
            emit changed();
        });
    });
}

void LocalModel::tryExample() {
    ++busy_;
    trial_ = QStringLiteral("Asking the model…");
    emit changed();
    worker_.async([this, setup = ChatModel::configured(settings_.file()), post = inbox_.post()] {
        post([this, trial = tryOn(setup)] {
            --busy_;
            trial_ = trial;
            emit changed();
        });
    });
}
