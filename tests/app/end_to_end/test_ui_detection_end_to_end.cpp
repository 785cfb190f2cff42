// The built application with the "ui" detection method on a private desktop: an X server, a
// session bus, the accessibility bus and a real notification daemon. Waits are bounded by the
// lines the application logs, never fixed.

#include "support/app_process.h"
#include "support/atspi_desktop.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

#include <csignal>

namespace {

using testsupport::AppHome;
using testsupport::AtSpiDesktop;
using testsupport::kAppStartTimeoutMs;

class UiDetectionEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        desktop.start([](QString* error) { return AtSpiDesktop::start(error); });
    }
    static void TearDownTestSuite() { desktop.stop(); }
    void SetUp() override {
        if (!desktop) QUILLVEX_SERVICE_MISSING(desktop.error().toStdString());
        home.sessionBus = desktop->bus().address();
        // The user chose "UI" on the General tab.
        QDir().mkpath(home.filePath(QStringLiteral(".config/Quillvex")));
        QFile defaults(home.filePath(QStringLiteral(".config/Quillvex/com.varnock.Quillvex.json")));
        ASSERT_TRUE(defaults.open(QIODevice::WriteOnly));
        defaults.write(R"({"notificationDetectionSource": "ui"})");
    }
    void expectCleanShutdown(testsupport::AppProcess& app) {
        ASSERT_TRUE(app.signal(SIGTERM));
        ASSERT_TRUE(app.finish(kAppStartTimeoutMs)) << app.transcript().toStdString();
        EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
        // A worker's late line (the now-playing helper's greeting, say) may follow it.
        EXPECT_GE(app.waitForLine("info Application terminating", 0), 0) << app.transcript().toStdString();
    }

    static inline testsupport::SuiteService<AtSpiDesktop> desktop;
    AppHome home;
};

// With the desktop's accessibility off, the guided setup turns it on and finishes by itself;
// a notification then reaches the overlay with its title and text.
TEST_F(UiDetectionEndToEnd, TheSetupFinishesAndAGtkDaemonsPopupReachesTheOverlay) {
    QString error;
    if (!desktop->startDaemon(AtSpiDesktop::notificationDaemon(), &error)) QUILLVEX_SERVICE_MISSING(error.toStdString());
    ASSERT_TRUE(desktop->setEnabled(false));

    testsupport::AppProcess app(QStringLiteral(QUILLVEX_EXECUTABLE), home.environment());
    ASSERT_TRUE(app.started());
    const int started = app.waitForLine("info NotificationDetector: ✓ AXObserver detector started", kAppStartTimeoutMs);
    ASSERT_GE(started, 0) << app.transcript().toStdString();
    EXPECT_GE(app.waitForLine("info AppDelegate: Activation policy -> accessory [reason=permission-monitoring-complete]",
                              kAppStartTimeoutMs),
              0)
        << app.transcript().toStdString();
    EXPECT_GE(app.waitForPrefix("info AXObserverDetector: Started for pid=" + QString::number(desktop->daemonPid()), 0),
              0);

    ASSERT_TRUE(desktop->notify(QStringLiteral("Dinner at 7?"), QStringLiteral("See you there")));
    // Within two polling periods is bench/ui_detection's to measure; here it arrives, once.
    const int received = app.waitForLine(
        [](const QString& line) {
            return line.startsWith(QStringLiteral("info IslandQueue: Received signal - ")) &&
                   line.contains(QStringLiteral("message: 'Dinner at 7? \u2022 See you there'"));
        },
        kAppStartTimeoutMs, started);
    ASSERT_GE(received, 0) << app.transcript().toStdString();
    EXPECT_EQ(app.lines().filter(QStringLiteral("IslandQueue: Received signal")).size(), 1)
        << app.transcript().toStdString();
    expectCleanShutdown(app);
}

// A daemon without accessibility: the observer's failure lines, the polling fallback, and an
// application that still answers.
TEST_F(UiDetectionEndToEnd, ADaemonWithoutAccessibilityGivesTheFailureLinesAndTheAppStaysResponsive) {
    QString error;
    if (!desktop->startDaemon(AtSpiDesktop::dunst(), &error)) QUILLVEX_SERVICE_MISSING(error.toStdString());
    ASSERT_TRUE(desktop->setEnabled(true));

    testsupport::AppProcess app(QStringLiteral(QUILLVEX_EXECUTABLE), home.environment());
    ASSERT_TRUE(app.started());
    const int fallback =
        app.waitForLine("info NotificationDetector: ✓ Polling detector started (UI-based)", kAppStartTimeoutMs);
    ASSERT_GE(fallback, 0) << app.transcript().toStdString();
    for (const char* line : {"debug AXObserverDetector: Failed to register AXWindowCreated (-25204)",
                             "warning AXObserverDetector: No notifications could be registered",
                             "info NotificationDetector: ✗ AXObserver failed, falling back to polling",
                             "info PollingDetector: Starting polling (interval: 0.8s)"})
        EXPECT_GE(app.waitForLine(QString::fromUtf8(line), 0), 0) << line << "\n" << app.transcript().toStdString();

    ASSERT_TRUE(desktop->notify(QStringLiteral("Unseen"), QStringLiteral("dunst shows it alone")));
    const int monitoring = app.waitForLine("info Monitoring started successfully", kAppStartTimeoutMs);
    EXPECT_GE(monitoring, 0) << app.transcript().toStdString();
    QElapsedTimer sinceTerm;
    sinceTerm.start();
    expectCleanShutdown(app);
    // Not a speed goal but a hang: a call left to the D-Bus library's own 25 s timeout would
    // hold the quit up far longer than this.
    EXPECT_LE(sinceTerm.elapsed(), 8000);
    EXPECT_TRUE(app.lines().filter(QStringLiteral("IslandQueue: Received signal")).isEmpty());
}

}  // namespace
