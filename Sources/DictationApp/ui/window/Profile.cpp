#include "ui/window/Profile.h"

#include <QStringList>
#include <QTextBoundaryFinder>

namespace {

QStringList pieces(const QString& name) {
    return name.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// A whole character as the user sees it, so an accent or an emoji is never cut in half.
QString firstCharacter(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    const qsizetype end = finder.toNextBoundary();
    return end > 0 ? text.left(end) : text.left(1);
}

} // namespace

Profile::Profile(Settings& settings, QObject* parent)
    : QObject(parent), settings_(settings), name_(QString::fromStdString(settings.profileName())) {}

void Profile::setName(const QString& name) {
    if (name == name_) {
        return;
    }
    name_ = name;
    settings_.set(SettingKeys::profileName, std::optional<std::string>(name.toStdString()));
    emit nameChanged();
}

QString Profile::firstName(const QString& name) {
    const QStringList parts = pieces(name);
    return parts.isEmpty() ? QString() : parts.front();
}

QString Profile::initials(const QString& name) {
    QString result;
    const QStringList parts = pieces(name);
    for (qsizetype i = 0; i < std::min<qsizetype>(2, parts.size()); ++i) {
        result += firstCharacter(parts[i]);
    }
    return result.toUpper();
}
