#include "OffscreenWidgets.h"
#include "ProcessRunner.h"
#include "TestSupport.h"
#include "config/Settings.h"
#include "housekeeping/CrashReports.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QMessageBox>
#include <QTimer>
#include <QUrlQuery>
#include <fcntl.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

class CrashReportsTest : public OffscreenWidgets {
  protected:
    // A report written `age` seconds ago.
    fs::path report(const std::string& name, const std::string& text, int age) {
        const fs::path file = paths.crashes() / name;
        writeAll(file, text);
        const timespec when{::time(nullptr) - age, 123456789};
        const timespec times[2] = {when, when};
        ::utimensat(AT_FDCWD, file.c_str(), times, 0);
        return file;
    }

    // The real alert, answered by pressing the button with this text once it shows.
    CrashReports reports(const QString& answer) {
        CrashReports::Desktop desktop = CrashReports::Desktop::real();
        const auto realAsk = desktop.ask;
        desktop.ask = [this, realAsk, answer](const QString& message, const QString& informative) {
            ++asked;
            lastMessage = message;
            lastInformative = informative;
            QTimer::singleShot(0, [answer] {
                auto* alert = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                for (QAbstractButton* button :
                     alert ? alert->buttons() : QList<QAbstractButton*>{}) {
                    if (button->text() == answer) {
                        button->click();
                    }
                }
            });
            return realAsk(message, informative);
        };
        desktop.open = [this](const QUrl& page) { opened.push_back(page); };
        return CrashReports(paths, settings, support, desktop);
    }

    TempDir home;
    Paths paths{
        "/home/ada/.local/bin/parlwick",
        Paths::Bundle{"/home/ada/.local", "org.parlwick.Parlwick", "Parlwick", {}, {}, {}, {}, {}},
        Paths::Homes::under(home.path()), home / "work"};
    Settings settings{paths.settings()};
    std::optional<std::string> support = "https://issues.example/new?template=crash";
    int asked = 0;
    QString lastMessage, lastInformative;
    std::vector<QUrl> opened;
};

TEST_F(CrashReportsTest, NothingIsOfferedUnlessTheUserAgreed) {
    report("Parlwick-2026-12-09-061000.ips", "crash", 60);
    EXPECT_FALSE(reports("Not Now").offerIfNeeded());
    EXPECT_EQ(asked, 0);
    settings.set(SettingKeys::offersCrashReports, true);
    EXPECT_TRUE(reports("Not Now").offerIfNeeded());
    EXPECT_EQ(lastMessage, "Parlwick quit unexpectedly last time");
    EXPECT_EQ(lastInformative,
              "Share the crash report to help fix it? It holds technical details, not what you "
              "dictated. It is copied for you to paste and check before anything is sent.");
}

TEST_F(CrashReportsTest, EachReportIsOfferedOnceAndOnlyOurs) {
    settings.set(SettingKeys::offersCrashReports, true);
    report("Parlwick-2026-12-09-060000.ips", "older", 120);
    report("Parlwickish-2026-12-09-061500.ips", "another app", 10);
    report("Parlwick-2026-12-09-061600.txt", "not a report", 5);

    EXPECT_TRUE(reports("Not Now").offerIfNeeded());
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(opened.empty());
    EXPECT_FALSE(reports("Not Now").offerIfNeeded()) << "Not Now is remembered";
    EXPECT_EQ(asked, 1);

    report("Parlwick-2026-12-09-061700.ips", "newer", 2);
    EXPECT_TRUE(reports("Not Now").offerIfNeeded());
    EXPECT_EQ(asked, 2);
}

TEST_F(CrashReportsTest, SharingCopiesTheMaskedCutReportAndOpensThePage) {
    settings.set(SettingKeys::offersCrashReports, true);
    const std::string homePath = paths.homes().home.string();
    std::string text = "Path: " + homePath + "/x\n";
    while (text.size() < 200'000) {
        text += "frame in " + homePath + "/lib ";
    }
    report("Parlwick-2026-12-09-061000.ips", text, 30);

    EXPECT_TRUE(reports("Copy and Open Report Page").offerIfNeeded());

    const QString copied = QGuiApplication::clipboard()->text();
    EXPECT_EQ(copied.size(), 60'000);
    EXPECT_TRUE(copied.startsWith("Path: ~/x\n"));
    EXPECT_FALSE(copied.contains(QString::fromStdString(homePath)));
    EXPECT_EQ(copied, CrashReports::masked(text, QString::fromStdString(homePath), "nobody-here"));
    ASSERT_EQ(opened.size(), 1u);
    const QUrlQuery query(opened[0]);
    EXPECT_EQ(opened[0].host(), "issues.example");
    EXPECT_EQ(query.queryItemValue("title"), "Crash report");
    EXPECT_EQ(query.queryItemValue("body", QUrl::FullyDecoded),
              "Paste the copied report below this line.\n\n");
    EXPECT_FALSE(query.hasQueryItem("template")) << "the old query is replaced";
}

TEST_F(CrashReportsTest, ARealCrashIsOfferedOnceAtTheNextStart) {
    settings.set(SettingKeys::offersCrashReports, true);
    settings.set(
        SettingKeys::lastCrashReport,
        std::optional<Timestamp>(std::chrono::system_clock::now() - std::chrono::hours(1)));
    const auto crashed =
        runProcess({CRASH_PROBE, paths.crashes().string(), "segv"},
                   {{"ASAN_OPTIONS", "handle_segv=0:handle_abort=0:allow_user_segv_handler=1"}});
    ASSERT_NE(crashed.status, 0);

    EXPECT_TRUE(reports("Copy and Open Report Page").offerIfNeeded());
    const QString copied = QGuiApplication::clipboard()->text();
    EXPECT_TRUE(copied.startsWith("Process: Parlwick\nVersion: 9.9\nSignal: 11 (SIGSEGV)"))
        << copied.left(200).toStdString();
    EXPECT_TRUE(copied.contains("parlwickCrashHere"));
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_FALSE(reports("Copy and Open Report Page").offerIfNeeded()) << "offered once";
    EXPECT_EQ(asked, 1);
}

TEST(CrashReportPages, MailGetsASubjectTheWebATitleAndNothingWithoutAnAddress) {
    const auto mail = CrashReports::reportPage("mailto:crashes@example.org?cc=someone");
    ASSERT_TRUE(mail);
    const QUrlQuery mailQuery(*mail);
    EXPECT_EQ(mailQuery.queryItemValue("subject"), "Crash report");
    EXPECT_TRUE(mailQuery.hasQueryItem("body"));
    EXPECT_FALSE(mailQuery.hasQueryItem("cc"));
    EXPECT_FALSE(mailQuery.hasQueryItem("title"));

    EXPECT_EQ(CrashReports::reportPage(std::nullopt), std::nullopt);
    EXPECT_EQ(CrashReports::reportPage(""), std::nullopt);
    EXPECT_EQ(CrashReports::reportPage("not an address"), std::nullopt);
}

TEST(CrashReportMasking, TheHomeGoesFirstThenTheAccountAndCutsKeepWholeCharacters) {
    EXPECT_EQ(CrashReports::masked("/home/ada/x ada", "/home/ada", "ada"), "~/x user");
    std::string emoji;
    for (int i = 0; i < 60'001; ++i) {
        emoji += "🎤";
    }
    const QString cut = CrashReports::masked(emoji, "/home/ada", "ada");
    EXPECT_EQ(cut.toUcs4().size(), 60'000);
    EXPECT_TRUE(cut.endsWith(QString::fromUtf8("🎤")));
}

} // namespace
