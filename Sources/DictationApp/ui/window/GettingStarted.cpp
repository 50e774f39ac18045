#include "ui/window/GettingStarted.h"

#include "connector/Connections.h"
#include "storage/HistoryStore.h"
#include "storage/Stores.h"
#include "ui/window/ScreenParts.h"

#include <algorithm>

namespace {

bool anyAppConnected(const Paths& paths) {
    return std::ranges::any_of(ConnectedApps::allCases, [&paths](ConnectedApp app) {
        return ConnectedApps::isConnected(app, paths);
    });
}

} // namespace

std::vector<Step> GettingStarted::steps(AppState& state, const AppParts& parts,
                                        std::function<void()> tryHere) {
    AppState* shared = &state;
    return {
        {"talk", QStringLiteral("Say something"),
         QStringLiteral("Click in any text box, hold ") +
             ScreenParts::text(HotKeys::label(state.key())) + QStringLiteral(" and talk."),
         QStringLiteral("Try it here"), parts.history.totals().words > 0, std::move(tryHere)},
        {"style", QStringLiteral("Choose your style"),
         QStringLiteral("Casual in messages, polished in email."), QStringLiteral("Choose"),
         parts.settings.hasChosenStyle(), [shared] { shared->setSection(Section::style); }},
        {"words", QStringLiteral("Teach it a name"),
         QStringLiteral("Add the names and terms it should spell correctly."),
         QStringLiteral("Add one"), !parts.words.terms().empty(),
         [shared] { shared->setSection(Section::words); }},
        {"snippet", QStringLiteral("Make a snippet"),
         QStringLiteral("Say a short phrase, get your link or sign-off."),
         QStringLiteral("Make one"), !parts.snippets.items().empty(),
         [shared] { shared->setSection(Section::snippets); }},
        {"connect", QStringLiteral("Connect an AI app"),
         QStringLiteral("Ask Claude or Cursor about what you've dictated."),
         QStringLiteral("Connect"), anyAppConnected(parts.paths),
         [shared] { shared->setSettingsTab(SettingsTab::connections); }},
    };
}
