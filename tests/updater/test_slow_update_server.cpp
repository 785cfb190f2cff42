// The updater against a loopback server that sends a byte now and then, on the real event loop:
// the idle timeout never runs out, so only a deadline for the whole transfer, or a package
// download that brings too little, ends the check or the download. The deadlines and the stall
// window are shortened; the server's pace is far below them, or, for a slow but steady link,
// well above what the stall window asks.
#include "updater/app_updater.h"

#include "package_builder.h"
#include "core/app_settings.h"
#include "core/l10n.h"
#include "platform/http/qt_http_client.h"
#include "platform/runtime/qt_scheduler.h"
#include "support/fake_app.h"
#include "support/fake_process.h"
#include "support/fixtures.h"
#include "support/loopback_http_server.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using Kind = AppUpdater::State::Kind;
using testsupport::LoopbackHttpServer;

constexpr const char* timedOut = "The request timed out.";

class SlowUpdateServerTest : public testsupport::QuillvexTest {
protected:
    SlowUpdateServerTest() {
        defaults().set(L10n::languageKey, L10n::languageEnglish);
        auto surface = std::make_unique<testsupport::FakeAlertSurface>();
        alertSurface = surface.get();
        alerts = std::make_unique<platform::AlertPresenter>(std::move(surface));
        EXPECT_TRUE(writeZip(temp.filePath("p.zip"), bundleEntries("Quillvex.app")));
        QFile file(temp.filePath("p.zip"));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        package = file.readAll();
        EXPECT_TRUE(server.isListening());
        defaults().set(AppSettings::updateFeedURLKey, server.url("/feed.json"));
    }

    AppUpdater& updater() {
        if (!updater_) {
            updater_ = std::make_unique<AppUpdater>(AppUpdaterEnvironment{
                &defaults(), realClock ? static_cast<platform::Scheduler*>(&*realClock) : &scheduler(), &http, alerts.get(), &application,
                [] { return InstalledAppVersion{QStringLiteral("1.3.0"), 20}; }, &processes, &bundle, temp.filePath("support"),
                [] { return 4242LL; }, deadlines});
        }
        return *updater_;
    }

    bool spin(const std::function<bool()>& done, double seconds = 10.0) {
        return testsupport::spinUntil([&] {
            scheduler().drain();
            return done();
        }, seconds);
    }
    QByteArray feedJson(const QString& size) const {
        const QString digest = QString::fromLatin1(QCryptographicHash::hash(package, QCryptographicHash::Sha256).toHex());
        return QStringLiteral(R"({"version":"1.4.0","build":27,"downloadURL":"%1","sha256":"%2"%3})")
            .arg(server.url("/Quillvex-1.4.0.zip"), digest, size)
            .toUtf8();
    }
    // The failure the user sees: status line, red line and the alert, which the test closes.
    void expectFailed(const QString& message) {
        EXPECT_EQ(updater().state(), AppUpdater::State::failed(message));
        EXPECT_EQ(updater().lastErrorMessage(), std::optional<QString>(message));
        ASSERT_FALSE(alertSurface->shown().empty());
        EXPECT_EQ(alertSurface->shown().back().alert.messageText, "Update Failed");
        EXPECT_EQ(alertSurface->shown().back().alert.informativeText, message);
        alertSurface->answer(0);
        scheduler().drain();
    }

    // The stall watch runs on virtual time here, which these tests do not move, unless a test puts
    // the updater on the event loop; its minimum is so high that the deadline is the floor and
    // one window.
    AppUpdaterDeadlines deadlines{.feedSeconds = 1.5, .packageFloorSeconds = 1.5, .packageStallSeconds = 1.0,
                                  .packageStallMinimumBytes = int64_t{1} << 30};
    // The updater's own timers on the event loop instead of virtual time.
    std::optional<platform::QtScheduler> realClock;
    enum class Serve { Drip, Whole, Longer, Steady };
    Serve feedMode = Serve::Whole;
    Serve packageMode = Serve::Whole;
    QString announcedSize;
    QTemporaryDir temp;
    QByteArray package;
    LoopbackHttpServer server{[this](const QString& path) {
        // One zero byte every 50 ms: steady enough for any idle timeout, endless in practice.
        const LoopbackHttpServer::Reply drip = LoopbackHttpServer::stream(1 << 20, 1, 0.05);
        if (path == "/feed.json") return feedMode == Serve::Drip ? drip : LoopbackHttpServer::ok(feedJson(announcedSize));
        if (path == "/Quillvex-1.4.0.zip") {
            if (packageMode == Serve::Drip) return drip;
            if (packageMode == Serve::Longer) return LoopbackHttpServer::ok(package + QByteArray(64 << 10, 'x'));
            // The package in twenty parts, one every tenth of a second.
            if (packageMode == Serve::Steady) return LoopbackHttpServer::trickle(package, package.size() / 20 + 1, 0.1);
            return LoopbackHttpServer::ok(package);
        }
        return LoopbackHttpServer::status(404);
    }};
    platform::QtHttpClient http{platform::HttpSecurity{.allowLoopbackHttp = true, .caCertificates = {}}};
    testsupport::FakeApplication application;
    testsupport::FakeAlertSurface* alertSurface = nullptr;
    std::unique_ptr<platform::AlertPresenter> alerts;
    testsupport::FakeProcessLauncher processes;
    platform::MainBundle bundle{QStringLiteral("com.varnock.Quillvex"), temp.filePath(QStringLiteral("Apps/Quillvex.app"))};

private:
    std::unique_ptr<AppUpdater> updater_;
};

TEST_F(SlowUpdateServerTest, ADrippingFeedEndsTheCheckAtItsDeadlineAndTheNextCheckRuns) {
    feedMode = Serve::Drip;
    updater().checkForUpdatesInteractively();
    ASSERT_TRUE(spin([&] { return updater().state().kind != Kind::checking && !alertSurface->shown().empty(); }))
        << updater().statusDescription().toStdString();
    EXPECT_GT(server.streamed(), 0);  // bytes kept coming, so only the deadline could end it
    expectFailed(timedOut);
    EXPECT_FALSE(updater().isChecking());

    feedMode = Serve::Whole;
    updater().performCheck(false, false, false);
    ASSERT_TRUE(spin([&] { return updater().state().kind == Kind::updateAvailable; })) << updater().statusDescription().toStdString();
    EXPECT_EQ(server.requests(), (QStringList{"/feed.json", "/feed.json"}));
}

TEST_F(SlowUpdateServerTest, ADrippingPackageFailsAtItsDeadlineAndASecondAttemptInstalls) {
    announcedSize = QStringLiteral(R"(,"fileSizeBytes":%1)").arg(package.size());
    packageMode = Serve::Drip;
    updater().performCheck(false, false, false);
    ASSERT_TRUE(spin([&] { return updater().state().kind == Kind::updateAvailable; })) << updater().statusDescription().toStdString();
    updater().installAvailableUpdate();
    ASSERT_TRUE(spin([&] { return updater().state().kind == Kind::failed; })) << updater().statusDescription().toStdString();
    expectFailed(timedOut);
    EXPECT_FALSE(updater().isInstalling());
    EXPECT_EQ(application.terminateCount(), 0);

    packageMode = Serve::Whole;
    updater().installAvailableUpdate();
    ASSERT_TRUE(spin([&] { return application.terminateCount() == 1 || updater().state().kind == Kind::failed; }));
    EXPECT_EQ(updater().state().kind, Kind::installing) << updater().statusDescription().toStdString();
    EXPECT_EQ(processes.detachedStarts().size(), 1u);
}

TEST_F(SlowUpdateServerTest, ADrippingPackageWithoutASizeStopsWithinTheStallWindowAndTheNextAttemptInstalls) {
    realClock.emplace();
    deadlines = AppUpdaterDeadlines{.feedSeconds = 30, .packageStallSeconds = 1.0, .packageStallMinimumBytes = 1024};
    packageMode = Serve::Drip;
    updater().performCheck(false, false, false);
    ASSERT_TRUE(spin([&] { return updater().state().kind == Kind::updateAvailable; })) << updater().statusDescription().toStdString();
    updater().installAvailableUpdate();
    ASSERT_TRUE(spin([&] { return server.streamed() > 0; }));

    // A check meanwhile publishes its own outcome; pressing install again shows the install
    // under way instead of starting a second one.
    updater().performCheck(false, false, false);
    ASSERT_TRUE(spin([&] { return updater().state().kind == Kind::updateAvailable; }));
    updater().installAvailableUpdate();
    EXPECT_EQ(updater().state().kind, Kind::downloading);

    ASSERT_TRUE(spin([&] { return updater().state().kind == Kind::failed; })) << updater().statusDescription().toStdString();
    expectFailed("The update package could not be downloaded.");
    EXPECT_EQ(server.requests(), (QStringList{"/feed.json", "/Quillvex-1.4.0.zip", "/feed.json"}));

    packageMode = Serve::Whole;
    updater().installAvailableUpdate();
    ASSERT_TRUE(spin([&] { return application.terminateCount() == 1 || updater().isInstalling() == false; }));
    EXPECT_EQ(updater().state().kind, Kind::installing) << updater().statusDescription().toStdString();
}

// A poor but steady link brings an announced package over several stall windows, well past the
// floor of its deadline, and it installs; a drip of it is still ended by the stall watch.
TEST_F(SlowUpdateServerTest, AnAnnouncedPackageOnASlowSteadyLinkInstallsWhileADripStopsWithinTheStallWindow) {
    realClock.emplace();
    announcedSize = QStringLiteral(R"(,"fileSizeBytes":%1)").arg(package.size());
    // Moving means an eighth of the package in each second; the server sends half of it a second.
    deadlines = AppUpdaterDeadlines{.feedSeconds = 30, .packageFloorSeconds = 0.5, .packageStallSeconds = 1.0,
                                    .packageStallMinimumBytes = package.size() / 8};
    packageMode = Serve::Drip;
    updater().performCheck(false, false, false);
    ASSERT_TRUE(spin([&] { return updater().state().kind == Kind::updateAvailable; })) << updater().statusDescription().toStdString();
    updater().installAvailableUpdate();
    ASSERT_TRUE(spin([&] { return updater().state().kind == Kind::failed; })) << updater().statusDescription().toStdString();
    expectFailed("The update package could not be downloaded.");

    packageMode = Serve::Steady;
    QElapsedTimer took;
    took.start();
    updater().installAvailableUpdate();
    ASSERT_TRUE(spin([&] { return application.terminateCount() == 1 || !updater().isInstalling(); }, 30));
    EXPECT_EQ(updater().state().kind, Kind::installing) << updater().statusDescription().toStdString();
    EXPECT_GE(took.elapsed(), 1500);  // three times the floor: only a bound that counts the pace let it finish
}

TEST_F(SlowUpdateServerTest, APackageLongerThanAnnouncedIsRefusedAsADownloadFailure) {
    announcedSize = QStringLiteral(R"(,"fileSizeBytes":"%1")").arg(package.size());
    packageMode = Serve::Longer;
    updater().performCheck(false, false, false);
    ASSERT_TRUE(spin([&] { return updater().state().kind == Kind::updateAvailable; })) << updater().statusDescription().toStdString();
    updater().installAvailableUpdate();
    ASSERT_TRUE(spin([&] { return updater().state().kind == Kind::failed; })) << updater().statusDescription().toStdString();
    expectFailed("The update package could not be downloaded.");

    // Exactly the announced size is the package.
    packageMode = Serve::Whole;
    updater().installAvailableUpdate();
    ASSERT_TRUE(spin([&] { return application.terminateCount() == 1 || updater().state().kind == Kind::failed; }));
    EXPECT_EQ(updater().state().kind, Kind::installing) << updater().statusDescription().toStdString();
}

}  // namespace
