#include "core/app_settings.h"
#include "settings_fixture.h"
#include "settings_ui/settings_card.h"
#include "settings_ui/updates_settings_tab.h"
#include "support/fake_app.h"
#include "support/fake_http_client.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QCoreApplication>
#include <QKeyEvent>

namespace {

const QByteArray newerFeed =
    R"({"version":"1.4.0","build":27,"notes":"Faster checks.","downloadURL":"https://u.example/q.zip","sha256":"ab"})";

// The tab over a real updater whose network and alerts the test drives, on an English system in
// UTC.
class UpdatesTabTest : public SettingsTest {
protected:
    UpdatesTabTest() {
        auto surface = std::make_unique<testsupport::FakeAlertSurface>();
        alertSurface = surface.get();
        alerts = std::make_unique<platform::AlertPresenter>(std::move(surface));
        updater = std::make_unique<AppUpdater>(AppUpdaterEnvironment{
            &defaults(), &scheduler(), &http, alerts.get(), &application,
            [this] { return InstalledAppVersion{installedVersion, installedBuild}; }});
    }

    std::unique_ptr<UpdatesSettingsTab> makeTab() {
        return std::make_unique<UpdatesSettingsTab>(environment, *updater, nullptr,
                                                     [] { return QLocale(QLocale::English, QLocale::UnitedStates); },
                                                     QTimeZone::utc());
    }
    // An interactive check answered with `body` (or the status), its alert closed.
    void check(std::optional<QByteArray> body, int status = 200) {
        updater->checkForUpdatesInteractively();
        scheduler().drain();
        if (body) {
            http.respondOk(*body);
        } else {
            http.respondStatus(status);
        }
        alertSurface->answer(1);
    }
    QString text(QWidget* root, const char* name) { return find<QLabel>(root, name)->text(); }
    bool shown(QWidget* root, const char* name) { return !find<QWidget>(root, name)->isHidden(); }

    testsupport::FakeHttpClient http{scheduler()};
    testsupport::FakeApplication application;
    testsupport::FakeAlertSurface* alertSurface = nullptr;
    std::unique_ptr<platform::AlertPresenter> alerts;
    QString installedVersion = QStringLiteral("1.3.0");
    std::optional<int64_t> installedBuild = 20;
    std::unique_ptr<AppUpdater> updater;
};

void type(QWidget* target, const QString& text) {
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(target, &press);
    }
}

void press(QWidget* target, int key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}

SettingsCard* card(QWidget* tab, int index) { return tab->findChildren<SettingsCard*>().at(index); }

}  // namespace

TEST_F(UpdatesTabTest, FreshTabBeforeAnyCheck) {
    auto tab = makeTab();
    ASSERT_EQ(tab->findChildren<SettingsCard*>().size(), 3);
    EXPECT_EQ(card(tab.get(), 0)->titleLabel()->text(), "Software Updates");
    EXPECT_EQ(card(tab.get(), 1)->titleLabel()->text(), "Update Feed URL");
    EXPECT_EQ(card(tab.get(), 2)->titleLabel()->text(), "Update Status");
    EXPECT_EQ(card(tab.get(), 2)->subtitleLabel()->text(), "Updater is ready");
    EXPECT_EQ(find<SettingsKeyValueRow>(tab.get(), "currentVersionRow")->valueLabel()->text(), "1.3.0 (20)");
    EXPECT_EQ(find<SettingsKeyValueRow>(tab.get(), "lastCheckedRow")->valueLabel()->text(), "Not checked yet");
    EXPECT_TRUE(find<SwitchToggle>(tab.get(), "automaticUpdateChecksSwitch")->isChecked());
    auto* field = find<QLineEdit>(tab.get(), "updateFeedURLField");
    EXPECT_EQ(field->text(), AppSettings::builtInUpdateFeedURL);  // never written: the built-in address
    EXPECT_EQ(field->placeholderText(), AppSettings::builtInUpdateFeedURL);
    EXPECT_FALSE(shown(tab.get(), "updateLine"));
    EXPECT_FALSE(shown(tab.get(), "releaseNotesBlock"));
    EXPECT_FALSE(shown(tab.get(), "errorLine"));
    EXPECT_FALSE(find<QPushButton>(tab.get(), "installUpdateButton")->isEnabled());
    EXPECT_TRUE(written.isEmpty());
    EXPECT_EQ(text(tab.get(), "feedNote"), "Points to the latest.json feed used for in-app updates. Keep shipping a ZIP "
                                           "of Quillvex.app here for updater downloads.");
    // "Check for Updates" is the prominent one: filled with the accent colour, its text in the
    // accent's text colour; "Install Update" keeps the plain style.
    auto* checkButton = find<QPushButton>(tab.get(), "checkForUpdatesButton");
    checkButton->resize(checkButton->sizeHint());
    const QImage drawn = checkButton->grab().toImage();
    EXPECT_EQ(drawn.pixelColor(4, drawn.height() / 2), checkButton->palette().color(QPalette::Highlight));
    EXPECT_FALSE(find<QPushButton>(tab.get(), "installUpdateButton")->isDefault());

    // A failed check records no time.
    check(std::nullopt, 404);
    EXPECT_EQ(find<SettingsKeyValueRow>(tab.get(), "lastCheckedRow")->valueLabel()->text(), "Not checked yet");
}

TEST_F(UpdatesTabTest, AFoundUpdateShowsWithItsNotesAndSurvivesAFailedCheck) {
    auto tab = makeTab();
    check(newerFeed);
    EXPECT_EQ(text(tab.get(), "updateLine"), "Update to 1.4.0 (27) is available");
    EXPECT_TRUE(shown(tab.get(), "updateLine"));
    EXPECT_TRUE(shown(tab.get(), "releaseNotesBlock"));
    EXPECT_EQ(text(tab.get(), "releaseNotes"), "Faster checks.");
    EXPECT_EQ(card(tab.get(), 2)->subtitleLabel()->text(), "1.4.0 (27) is ready to install");
    EXPECT_TRUE(find<QPushButton>(tab.get(), "installUpdateButton")->isEnabled());
    // Medium date, short time, in the system's locale and zone.
    EXPECT_EQ(find<SettingsKeyValueRow>(tab.get(), "lastCheckedRow")->valueLabel()->text(),
              QStringLiteral("Jan 15, 2027, 8:00\u202fAM"));

    check(std::nullopt, 404);
    const QString message = "The update server returned an invalid response.";
    EXPECT_TRUE(shown(tab.get(), "updateLine"));
    EXPECT_TRUE(shown(tab.get(), "releaseNotesBlock"));
    EXPECT_EQ(text(tab.get(), "errorLine"), message);
    EXPECT_TRUE(shown(tab.get(), "errorLine"));
    EXPECT_EQ(card(tab.get(), 2)->subtitleLabel()->text(), "Error: " + message);
    EXPECT_TRUE(find<QPushButton>(tab.get(), "installUpdateButton")->isEnabled());

    // The next check clears the error the moment it starts.
    updater->checkForUpdatesInteractively();
    scheduler().drain();
    EXPECT_FALSE(shown(tab.get(), "errorLine"));
    EXPECT_EQ(card(tab.get(), 2)->subtitleLabel()->text(), "Checking for updates...");
    // Up to date: the update line goes and Install Update is disabled.
    http.respondOk(R"({"version":"1.3.0","build":20,"downloadURL":"https://u.example/q.zip","sha256":"ab"})");
    alertSurface->answer(0);
    EXPECT_FALSE(shown(tab.get(), "updateLine"));
    EXPECT_FALSE(find<QPushButton>(tab.get(), "installUpdateButton")->isEnabled());
    EXPECT_EQ(card(tab.get(), 2)->subtitleLabel()->text(), "You're on the latest version");
}

TEST_F(UpdatesTabTest, NotesAbsentOrEmptyHideTheBlockButBlanksShow) {
    auto tab = makeTab();
    check(R"({"version":"2.0","downloadURL":"https://u.example/q.zip","sha256":"ab","notes":""})");
    EXPECT_EQ(text(tab.get(), "updateLine"), "Update to 2.0 is available");
    EXPECT_FALSE(shown(tab.get(), "releaseNotesBlock"));
    check(R"({"version":"2.0","downloadURL":"https://u.example/q.zip","sha256":"ab","notes":"  "})");
    EXPECT_TRUE(shown(tab.get(), "releaseNotesBlock"));
}

TEST_F(UpdatesTabTest, ControlsWriteTheirKeysAsTheyChange) {
    auto tab = makeTab();
    find<SwitchToggle>(tab.get(), "automaticUpdateChecksSwitch")->click();
    EXPECT_EQ(written, QStringList{AppSettings::automaticUpdateChecksKey});
    EXPECT_FALSE(AppSettings(&defaults()).automaticUpdateChecks());

    written.clear();
    auto* field = find<QLineEdit>(tab.get(), "updateFeedURLField");
    field->clear();
    type(field, " https://m.example/latest.json ");
    EXPECT_EQ(written.size(), 31);  // every keystroke
    EXPECT_EQ(defaults().stringValue(AppSettings::updateFeedURLKey), " https://m.example/latest.json ");  // untrimmed
    EXPECT_EQ(AppSettings(&defaults()).updateFeedURL(), "https://m.example/latest.json");

    // An emptied field shows the built-in address as placeholder, and checks use it.
    field->selectAll();
    press(field, Qt::Key_Backspace);
    EXPECT_EQ(defaults().stringValue(AppSettings::updateFeedURLKey), "");
    EXPECT_EQ(field->text(), "");
    EXPECT_EQ(field->placeholderText(), AppSettings::builtInUpdateFeedURL);
    find<QPushButton>(tab.get(), "checkForUpdatesButton")->click();
    scheduler().drain();
    ASSERT_EQ(http.sent().size(), 1u);
    EXPECT_EQ(http.sent()[0].url, QUrl(AppSettings::builtInUpdateFeedURL));
}

TEST_F(UpdatesTabTest, JapaneseLabelsWithTheSystemsDateAndTheInstalledBuild) {
    installedBuild = std::nullopt;
    auto tab = makeTab();
    check(newerFeed);
    useJapanese();
    EXPECT_EQ(card(tab.get(), 0)->titleLabel()->text(), "ソフトウェアアップデート");
    EXPECT_EQ(find<SettingsKeyValueRow>(tab.get(), "currentVersionRow")->labelLabel()->text(), "現在のバージョン");
    EXPECT_EQ(find<SettingsKeyValueRow>(tab.get(), "lastCheckedRow")->labelLabel()->text(), "最終確認");
    // The date stays in the system's English medium style.
    EXPECT_TRUE(find<SettingsKeyValueRow>(tab.get(), "lastCheckedRow")->valueLabel()->text().startsWith("Jan 15, 2027"));
    EXPECT_EQ(text(tab.get(), "updateLine"), "1.4.0 (27) にアップデートできます");
    EXPECT_EQ(find<QPushButton>(tab.get(), "installUpdateButton")->text(), "アップデートを適用");
    EXPECT_EQ(text(tab.get(), "feedNote"),
              "アプリ内アップデート用の latest.json を指定します。更新用に Quillvex.app の ZIP をここから配信します。");
    EXPECT_EQ(find<SettingsKeyValueRow>(tab.get(), "currentVersionRow")->valueLabel()->text(), "1.3.0");
}
