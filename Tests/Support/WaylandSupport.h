#pragma once

// Helpers for tests that run inside the private Wayland desktop of
// Tests/Support/sway-session.sh: sway (through swaymsg), wtype as the user's hands, wl-copy and
// wl-paste as another program's clipboard, and a GTK 4 window of text fields.

#include "DesktopSupport.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QProcess>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace WaylandSupport {

using DesktopSupport::run;
using DesktopSupport::spin;
using DesktopSupport::waitUntil;

// Why the Wayland tests cannot run here; empty when they can.
inline std::string missingWayland() {
    if (const char* missing = std::getenv("PARLWICK_WAYLAND_MISSING")) {
        return std::string("no Wayland desktop for this test: ") + missing;
    }
    if (!std::getenv("WAYLAND_DISPLAY") || !std::getenv("SWAYSOCK")) {
        return "no Wayland desktop for this test: not started through sway-session.sh";
    }
    return {};
}

// A Qt main loop for the helper processes, made once per process; no display connection.
inline QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "wayland-tests";
    static char* argv[] = {name, nullptr};
    static std::unique_ptr<QCoreApplication> app = [] {
        return std::make_unique<QCoreApplication>(argc, argv);
    }();
    return *app;
}

// Runs a sway command ("bindsym Ctrl+Alt+r exec ...", "[pid=42] focus"); whether sway took it.
inline bool swaymsg(const std::string& command) {
    const std::string reply = run("swaymsg", {"--raw", QString::fromStdString(command)}, 5);
    const auto parsed = nlohmann::json::parse(reply, nullptr, false);
    if (!parsed.is_array() || parsed.empty()) {
        return false;
    }
    for (const auto& result : parsed) {
        if (!result.is_object() || !result.value("success", false)) {
            return false;
        }
    }
    return true;
}

// `word` quoted for the shell.
inline std::string shellQuoted(const std::string& word) {
    std::string quoted = "'";
    for (const char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// Binds `keys` ("Ctrl+Alt+r", "--release Ctrl+Alt+r") to run the program and arguments `words`
// as a shortcut the user set up in sway does, but as this test's user, in the session's
// environment (sway-session.sh relays it); whether sway took the binding. The words go into a
// script of their own, since sway's command parser takes quotes apart.
inline bool bindCommand(const std::string& keys, const std::vector<std::string>& words) {
    const char* asCaller = std::getenv("PARLWICK_SWAY_EXEC");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!asCaller || !runtime || words.empty()) {
        return false;
    }
    static int count = 0;
    const auto folder = std::filesystem::path(runtime) / "bindings";
    std::filesystem::create_directories(folder);
    const auto script = folder / ("binding-" + std::to_string(++count));
    std::string text = "#!/bin/sh\nexec";
    for (const auto& word : words) {
        text += " " + shellQuoted(word);
    }
    writeAll(script, text + "\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    return swaymsg("bindsym " + keys + " exec " + asCaller + " " + script.string());
}

// The window that has the focus as sway names it.
struct FocusedWindow {
    std::string appId;
    std::string title;
    long long pid = 0;
};

inline std::optional<FocusedWindow> focusedIn(const nlohmann::json& node) {
    if (!node.is_object()) {
        return std::nullopt;
    }
    if (node.value("focused", false) && node.contains("pid")) {
        FocusedWindow window;
        if (node.contains("app_id") && node["app_id"].is_string()) {
            window.appId = node["app_id"].get<std::string>();
        }
        if (node.contains("name") && node["name"].is_string()) {
            window.title = node["name"].get<std::string>();
        }
        if (node["pid"].is_number_integer()) {
            window.pid = node["pid"].get<long long>();
        }
        return window;
    }
    for (const char* children : {"nodes", "floating_nodes"}) {
        if (node.contains(children) && node[children].is_array()) {
            for (const auto& child : node[children]) {
                if (auto found = focusedIn(child)) {
                    return found;
                }
            }
        }
    }
    return std::nullopt;
}

// From `swaymsg -t get_tree`; nothing when no window has the focus (an empty workspace does).
inline std::optional<FocusedWindow> focusedWindow() {
    const auto tree =
        nlohmann::json::parse(run("swaymsg", {"--raw", "-t", "get_tree"}, 5), nullptr, false);
    return focusedIn(tree);
}

// The clipboard as another program reads it; nothing when it is empty or lacks `type`.
inline std::optional<std::string> paste(const std::string& type = "text/plain;charset=utf-8") {
    QProcess process;
    process.start("wl-paste", {"--no-newline", "--type", QString::fromStdString(type)});
    waitUntil([&] { return process.state() == QProcess::NotRunning; }, 5);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << "wl-paste did not finish";
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        return std::nullopt;
    }
    return process.readAllStandardOutput().toStdString();
}

// The types the clipboard offers now.
inline std::vector<std::string> clipboardTypes() {
    std::vector<std::string> types;
    std::istringstream lines(run("wl-paste", {"--list-types"}, 5));
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) {
            types.push_back(line);
        }
    }
    return types;
}

// Another program owning the clipboard with `text`, as when the user copied it.
inline void copyElsewhere(const std::string& text) {
    QProcess process;
    // wl-copy leaves a server behind that holds the clipboard; it must not hold our pipes.
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start("wl-copy", {"--type", "text/plain;charset=utf-8"});
    process.waitForStarted();
    process.write(text.c_str(), static_cast<qint64>(text.size()));
    process.closeWriteChannel();
    waitUntil([&] { return process.state() == QProcess::NotRunning; }, 5);
    ASSERT_TRUE(waitUntil([&] { return paste() == text; }, 5)) << "wl-copy did not take";
}

// wtype with raw arguments: "-M ctrl -k v -m ctrl", "-k Return".
inline void wtype(const QStringList& arguments) {
    QProcess process;
    process.start("wtype", arguments);
    EXPECT_TRUE(waitUntil([&] { return process.state() == QProcess::NotRunning; }, 10));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
}

// The user typing `text` on the keyboard. Every run brings its own keymap; a window that takes
// it up too late misses the first key, so wtype waits a little before typing.
inline void type(const std::string& text) {
    QProcess process;
    process.start("wtype", {"-s", "50", "-"});
    process.waitForStarted();
    process.write(text.c_str(), static_cast<qint64>(text.size()));
    process.closeWriteChannel();
    EXPECT_TRUE(waitUntil([&] { return process.state() == QProcess::NotRunning; }, 10));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
}

// A GTK 4 window of text fields (normal, password, multiline) in another process, on Wayland;
// its fields' texts, the keys it got and its pastes in files.
class Gtk4Window {
  public:
    Gtk4Window(const std::string& title, const std::string& appId,
               const std::vector<std::pair<QString, QString>>& environment = {}) {
        auto env = environment;
        env.emplace_back("GDK_BACKEND", "wayland");
        child_ = std::make_unique<DesktopSupport::Child>(
            "/usr/bin/python3",
            QStringList{GTK4_FIELDS, QString::fromStdString(folder_.path().string()),
                        QString::fromStdString(title), QString::fromStdString(appId)},
            env);
        // Ready once sway has given it the keyboard focus.
        ready_ = waitUntil([&] { return std::filesystem::exists(folder_ / "ready"); }, 15);
    }

    bool ready() const { return ready_; }
    qint64 pid() const { return child_->pid(); }
    const std::filesystem::path& folder() const { return folder_.path(); }

    // Gives the window the focus and one field the keyboard; waits until the field says so.
    void focus(const std::string& field) {
        std::filesystem::remove(folder_ / "focused");
        EXPECT_TRUE(swaymsg("[pid=" + std::to_string(pid()) + "] focus"));
        child_->send("focus " + field);
        EXPECT_TRUE(waitUntil([&] { return readAll(folder_ / "focused") == field; }))
            << "focus " << field;
    }
    std::string text(const std::string& field) const { return readAll(folder_ / (field + ".txt")); }
    // Waits until the field holds `expected`; its text then.
    std::string waitForText(const std::string& field, const std::string& expected,
                            double seconds = 5) const {
        waitUntil([&] { return text(field) == expected; }, seconds);
        return text(field);
    }
    // Lines "down <key>" and "up <key>" in the order the window got them.
    std::vector<std::string> keyLog() const { return lines("keys.log"); }
    // The keys pressed more often than released: a key still held.
    std::vector<std::string> keysStillDown() const {
        std::map<std::string, int> held;
        for (const auto& line : keyLog()) {
            if (line.rfind("down ", 0) == 0) {
                ++held[line.substr(5)];
            } else if (line.rfind("up ", 0) == 0) {
                --held[line.substr(3)];
            }
        }
        std::vector<std::string> keys;
        for (const auto& [key, count] : held) {
            if (count > 0) {
                keys.push_back(key);
            }
        }
        return keys;
    }
    // The keys still down once the window has had `seconds` to get the releases: a release
    // reaches it after the text the press typed.
    std::vector<std::string> keysStillDownAfter(double seconds = 2) const {
        waitUntil([&] { return keysStillDown().empty(); }, seconds);
        return keysStillDown();
    }
    // One line per paste from the clipboard, naming the field.
    std::vector<std::string> clipboardReads() const { return lines("clipboard-reads.log"); }
    void close() { child_->stop(); }

  private:
    std::vector<std::string> lines(const std::string& name) const {
        std::vector<std::string> result;
        std::istringstream in(readAll(folder_ / name));
        for (std::string line; std::getline(in, line);) {
            result.push_back(line);
        }
        return result;
    }

    TempDir folder_;
    std::unique_ptr<DesktopSupport::Child> child_;
    bool ready_ = false;
};

} // namespace WaylandSupport
