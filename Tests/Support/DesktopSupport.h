#pragma once

// Helpers for tests that run inside the private desktop of Tests/Support/desktop-session.sh.

#include "LogCapture.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace DesktopSupport {

// Why the desktop tests cannot run here; empty when they can.
inline std::string missingDesktop() {
    if (const char* missing = std::getenv("PARLWICK_DESKTOP_MISSING")) {
        return std::string("no desktop for this test: ") + missing;
    }
    if (!std::getenv("DISPLAY")) {
        return "no desktop for this test: not started through desktop-session.sh";
    }
    return {};
}

// The Qt application on the xcb platform, made once per process.
inline QGuiApplication& application() {
    static int argc = 1;
    static char name[] = "desktop-tests";
    static char* argv[] = {name, nullptr};
    static std::unique_ptr<QGuiApplication> app = [] {
        qputenv("QT_QPA_PLATFORM", "xcb");
        return std::make_unique<QGuiApplication>(argc, argv);
    }();
    return *app;
}

// A display name (":N") that no X server holds now, chosen by `attempt` among `count` numbers
// from `first`; empty when that one is taken, so callers try the next attempt.
inline std::string unusedDisplay(int attempt, int first, int count) {
    const std::string number = std::to_string(first + (::getpid() + 37 * attempt) % count);
    std::string socket = "/tmp/.X11-unix/X";
    socket += number;
    std::string lock = "/tmp/.X";
    lock += number;
    lock += "-lock";
    if (std::filesystem::exists(socket) || std::filesystem::exists(lock)) {
        return {};
    }
    std::string display = ":";
    display += number;
    return display;
}

// Runs the main loop until `done` holds or `seconds` pass; whether it held.
inline bool waitUntil(const std::function<bool()>& done, double seconds = 5) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > seconds * 1000) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

// Runs the main loop for `seconds`.
inline void spin(double seconds) {
    waitUntil([] { return false; }, seconds);
}

// Runs a program to its end while the main loop keeps going (it may need our clipboard);
// its standard output.
inline std::string run(const QString& program, const QStringList& arguments, double seconds = 10) {
    QProcess process;
    process.start(program, arguments);
    if (QCoreApplication::instance()) {
        waitUntil([&] { return process.state() == QProcess::NotRunning; }, seconds);
    } else {
        process.waitForFinished(static_cast<int>(seconds * 1000));
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << program.toStdString() << " did not finish";
    }
    return process.readAllStandardOutput().toStdString();
}

inline void xdotool(const QStringList& arguments) {
    run("xdotool", arguments);
}

// The clipboard as another program reads it ("TARGETS" lists its types).
inline std::string clipboard(const QString& target = "UTF8_STRING") {
    return run("xclip", {"-o", "-selection", "clipboard", "-t", target}, 5);
}

// Another program owning the clipboard with `text`, as when the user copied it.
inline void copyElsewhere(const std::string& text) {
    QProcess process;
    process.start("xclip", {"-i", "-selection", "clipboard"});
    process.waitForStarted();
    process.write(text.c_str());
    process.closeWriteChannel();
    // xclip forks a server into the background and exits.
    waitUntil([&] { return process.state() == QProcess::NotRunning; }, 5);
    ASSERT_TRUE(waitUntil([&] { return clipboard() == text; }, 5));
}

// A helper program that runs until the test ends.
class Child {
  public:
    Child(const QString& program, const QStringList& arguments,
          const std::vector<std::pair<QString, QString>>& environment = {}) {
        auto env = QProcessEnvironment::systemEnvironment();
        for (const auto& [name, value] : environment) {
            env.insert(name, value);
        }
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(program, arguments);
        EXPECT_TRUE(process_.waitForStarted()) << program.toStdString();
    }
    ~Child() { stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void send(const std::string& line) {
        process_.write((line + "\n").c_str());
        process_.waitForBytesWritten();
    }
    std::string readLine(double seconds = 5) {
        waitUntil([&] { return process_.canReadLine(); }, seconds);
        return process_.readLine().trimmed().toStdString();
    }
    void stop() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished();
        }
    }
    qint64 pid() const { return process_.processId(); }
    bool running() const { return process_.state() == QProcess::Running; }

  private:
    QProcess process_;
};

// An X server without XTEST on a display nobody uses; its name, or empty.
inline std::string startServerWithoutXTest(std::unique_ptr<Child>& server) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        const std::string candidate = unusedDisplay(attempt, 200, 700);
        if (candidate.empty()) {
            continue;
        }
        // -noreset: otherwise it starts over after each probe and refuses whoever connects then.
        server = std::make_unique<Child>("Xvfb",
                                         QStringList{QString::fromStdString(candidate), "-noreset",
                                                     "-extension", "XTEST", "-nolisten", "tcp"});
        for (int wait = 0; wait < 50; ++wait) {
            const std::string info =
                run("xdpyinfo", {"-display", QString::fromStdString(candidate)}, 5);
            if (info.find("XInputExtension") != std::string::npos &&
                info.find("XTEST") == std::string::npos) {
                return candidate;
            }
            spin(0.1);
        }
    }
    return {};
}

// Only suites built with the window programs' paths (the X11 ones) get their windows.
#if defined(GTK_FIELDS) && defined(QT_FIELDS)
// A window of text fields in another process (GTK 3 or Qt), its fields' texts in files.
class FieldsWindow {
  public:
    enum class Toolkit { gtk, qt };

    FieldsWindow(Toolkit toolkit, const std::string& title, const std::string& windowClass,
                 const std::vector<std::pair<QString, QString>>& environment = {})
        : title_(title) {
        const QStringList arguments{QString::fromStdString(folder_.path().string()),
                                    QString::fromStdString(title),
                                    QString::fromStdString(windowClass)};
        auto env = environment;
        if (toolkit == Toolkit::qt) {
            env.insert(env.end(), {{"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"},
                                   {"QT_ACCESSIBILITY", "1"},
                                   {"QT_QPA_PLATFORM", "xcb"}});
            child_ = std::make_unique<Child>(QT_FIELDS, arguments, env);
        } else {
            child_ = std::make_unique<Child>("/usr/bin/python3",
                                             QStringList{GTK_FIELDS} + arguments, env);
        }
        ready_ = waitUntil([&] { return std::filesystem::exists(folder_ / "ready"); }, 15);
        if (ready_) {
            windowId_ = run("xdotool",
                            {"search", "--sync", "--name",
                             "^" + QRegularExpression::escape(QString::fromStdString(title)) + "$"})
                            .substr(0, 20);
            while (!windowId_.empty() &&
                   !std::isdigit(static_cast<unsigned char>(windowId_.back()))) {
                windowId_.pop_back();
            }
        }
    }

    bool ready() const { return ready_ && !windowId_.empty(); }
    const std::string& windowId() const { return windowId_; }

    // Activates the window and focuses one field; waits until the field says so.
    void focus(const std::string& field) {
        std::filesystem::remove(folder_ / "focused");
        xdotool({"windowactivate", "--sync", QString::fromStdString(windowId_)});
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
    void close() { child_->stop(); }
    qint64 pid() const { return child_->pid(); }

  private:
    TempDir folder_;
    std::string title_;
    std::unique_ptr<Child> child_;
    bool ready_ = false;
    std::string windowId_;
};
#endif

} // namespace DesktopSupport
