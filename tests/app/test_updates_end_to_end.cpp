#include "app/desktop_app_updater.h"
#include "app/quillvex_app.h"
#include "app_delegate_fixture.h"
#include "core/l10n.h"
#include "platform/http/qt_http_client.h"
#include "support/loopback_http_server.h"

#include <gtest/gtest.h>

using apptest::AppDelegateTest;
using testsupport::LoopbackHttpServer;

namespace {

const QByteArray newerFeed =
    R"({"version":"1.4.0","build":27,"notes":"Faster checks.","downloadURL":"https://u.example/q.zip","sha256":"ab"})";

// The application with its real updater, talking to a feed on a loopback server through the
// network client; only the installed version and the alerts are scripted.
class UpdatesEndToEndTest : public AppDelegateTest {
protected:
    UpdatesEndToEndTest() {
        auto surface = std::make_unique<testsupport::FakeAlertSurface>();
        alertSurface = surface.get();
        alerts = std::make_unique<platform::AlertPresenter>(std::move(surface));
        updaterCore = std::make_unique<AppUpdater>(AppUpdaterEnvironment{
            &defaults(), &scheduler(), &http, alerts.get(), &application,
            [] { return InstalledAppVersion{QStringLiteral("1.3.0"), 20}; }});
        port = std::make_unique<DesktopAppUpdater>(*updaterCore);
        defaults().set(L10n::languageKey, L10n::languageEnglish);
        defaults().set(AppSettings::updateFeedURLKey, server.url(QStringLiteral("/updates/latest.json")));
    }

    AppDelegateEnvironment appEnvironment() {
        AppDelegateEnvironment env = environment();
        env.updater = port.get();
        return env;
    }

    // Lets the posted steps run and the network answer until an alert is up.
    bool waitForAlert(size_t count) {
        return testsupport::spinUntil([&] {
            scheduler().drain();
            return alertSurface->shown().size() >= count;
        });
    }

    QByteArray body = newerFeed;
    LoopbackHttpServer server{[this](const QString& path) {
        return path == "/updates/latest.json" ? LoopbackHttpServer::ok(body) : LoopbackHttpServer::status(404);
    }};
    platform::QtHttpClient http{platform::HttpSecurity{.allowLoopbackHttp = true, .caCertificates = {}}};
    testsupport::FakeAlertSurface* alertSurface = nullptr;
    std::unique_ptr<platform::AlertPresenter> alerts;
    std::unique_ptr<AppUpdater> updaterCore;
    std::unique_ptr<DesktopAppUpdater> port;
};

}  // namespace

TEST_F(UpdatesEndToEndTest, TheScheduleAndTheMenuCommandCheckTheFeedAndTerminationStopsTheSchedule) {
    ASSERT_TRUE(grantFullDiskAccess());
    scheduler().setRandomSource([] { return 0.5; });
    QuillvexApp app(application, platform::StatusItem::Presentation::ModelOnly, appEnvironment());
    ASSERT_TRUE(server.isListening());
    app.appDelegate().applicationDidFinishLaunching();
    EXPECT_TRUE(updaterCore->hasTimer());

    scheduler().advance(97.5);  // the first scheduled check, 15 + 0.5 * 165 s after start
    ASSERT_TRUE(waitForAlert(1));
    EXPECT_EQ(server.requests(), QStringList{"/updates/latest.json"});
    const platform::Alert& offer = alertSurface->shown().back().alert;
    EXPECT_EQ(offer.messageText, "Update to 1.4.0 (27) is available");
    EXPECT_TRUE(offer.informativeText.contains("Faster checks."));
    EXPECT_EQ(updaterCore->state().kind, AppUpdater::State::Kind::updateAvailable);
    EXPECT_EQ(defaults().stringValue(AppSettings::lastPromptedUpdateVersionKey), "1.4.0 (27)");
    EXPECT_TRUE(AppSettings(&defaults()).lastUpdateCheckAt());
    alertSurface->answer(1);  // Later

    // The menu command: an interactive check offers the same update again.
    ASSERT_TRUE(app.menuBarExtra().trigger("Check for Updates"));
    ASSERT_TRUE(waitForAlert(2));
    EXPECT_EQ(alertSurface->shown().back().alert.messageText, "Update to 1.4.0 (27) is available");
    alertSurface->answer(1);

    // A failing server: the error alert, and the known update stays.
    body = "{}";
    ASSERT_TRUE(app.menuBarExtra().trigger("Check for Updates"));
    ASSERT_TRUE(waitForAlert(3));
    EXPECT_EQ(alertSurface->shown().back().alert.messageText, "Update Failed");
    EXPECT_EQ(alertSurface->shown().back().alert.informativeText,
              "The update feed has no value for \"version\".");
    EXPECT_TRUE(updaterCore->availableUpdate());

    application.terminate();
    EXPECT_FALSE(updaterCore->hasTimer());
}
