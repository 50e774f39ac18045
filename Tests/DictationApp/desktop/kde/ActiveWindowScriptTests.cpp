// Our KWin script in Qt's JavaScript engine, the one KWin runs scripts in, with a workspace
// made of plain JavaScript objects standing in for KWin's: which calls it makes as windows
// are activated, change their captions and close. KWin's real workspace objects cannot be
// had on this machine.
#include "desktop/kde/ActiveWindowScript.h"

#include <QJSEngine>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// callDBus records its arguments as one line each; Signal is connect/disconnect/emit.
const char* const fakeKWin = R"(
var calls = [];
function callDBus() {
    calls.push(Array.prototype.slice.call(arguments).join("|"));
}
function Signal() { this.slots = []; }
Signal.prototype.connect = function (f) { this.slots.push(f); };
Signal.prototype.disconnect = function (f) { this.slots = this.slots.filter(s => s !== f); };
Signal.prototype.emit = function (x) { this.slots.forEach(s => s(x)); };
function bytes(text) {
    return new Uint8Array(text.split("").map(c => c.charCodeAt(0))).buffer;
}
function Window(cls, caption, pid, asBytes) {
    this.resourceClass = asBytes ? bytes(cls) : cls;
    this.resourceName = asBytes ? bytes(cls + "-name") : cls + "-name";
    this.caption = caption;
    this.pid = pid;
    this.captionChanged = new Signal();
}
)";

struct Row {
    const char* plasma;
    // The workspace and windows for that version (Plasma 5 has clients and byte arrays).
    const char* setUp;
    const char* activate;
};

TEST(ActiveWindowScript, reportsActivationsCaptionsAndClosingOnPlasma6And5) {
    const std::vector<Row> rows{
        {"6",
         "var editor = new Window('org.example.Editor', 'notes', 42, false);"
         "var other = new Window('other', undefined, undefined, false);"
         "var workspace = { windowActivated: new Signal(), activeWindow: editor };",
         "workspace.windowActivated.emit"},
        {"5",
         "var editor = new Window('org.example.Editor', 'notes', 42, true);"
         "var other = new Window('other', undefined, undefined, true);"
         "var workspace = { clientActivated: new Signal(), activeClient: editor };",
         "workspace.clientActivated.emit"},
    };
    const QString name = QStringLiteral(":1.42");
    const std::string prefix =
        ":1.42|/org/parlwick/Parlwick/ActiveWindow|org.parlwick.Parlwick.ActiveWindow|";
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("Plasma ") + row.plasma);
        QJSEngine engine;
        for (const QString& part : {QString::fromLatin1(fakeKWin), QString::fromLatin1(row.setUp),
                                    ActiveWindowScript::text(name)}) {
            const QJSValue result = engine.evaluate(part);
            ASSERT_FALSE(result.isError()) << result.toString().toStdString();
        }
        const QString steps =
            QStringLiteral("%1(other);"
                           "editor.caption = 'ignored'; editor.captionChanged.emit();"
                           "other.caption = 'renamed'; other.captionChanged.emit();"
                           "%1(null);"
                           "other.captionChanged.emit();")
                .arg(QString::fromLatin1(row.activate));
        const QJSValue result = engine.evaluate(steps);
        ASSERT_FALSE(result.isError()) << result.toString().toStdString();

        std::vector<std::string> calls;
        const QJSValue recorded = engine.globalObject().property(QStringLiteral("calls"));
        for (int i = 0; i < recorded.property(QStringLiteral("length")).toInt(); ++i) {
            calls.push_back(recorded.property(i).toString().toStdString());
        }
        EXPECT_EQ(calls,
                  (std::vector<std::string>{
                      // The window active when the script starts.
                      prefix + "Activated|org.example.Editor|org.example.Editor-name|notes|42",
                      prefix + "Activated|other|other-name||0",
                      // Only the active window's caption is followed.
                      prefix + "Activated|other|other-name|renamed|0",
                      prefix + "Closed",
                  }));
    }
}

TEST(ActiveWindowScript, takesOnlyWellFormedBusNames) {
    const std::vector<std::pair<QString, bool>> rows{
        {QStringLiteral(":1.42"), true},
        {QStringLiteral("org.parlwick.Parlwick"), true},
        {QStringLiteral("org.parlwick.Parlwick-2"), true},
        {QStringLiteral("noDots"), false},
        {QStringLiteral("org.\"; evil(); \""), false},
        {QStringLiteral("org.parlwick.Parlwick\n"), false},
        {QStringLiteral("1org.parlwick"), false},
        {QStringLiteral("org.") + QString(300, QLatin1Char('a')), false},
    };
    for (const auto& [name, valid] : rows) {
        EXPECT_EQ(ActiveWindowScript::isValidBusName(name), valid) << name.toStdString();
    }
}

} // namespace
