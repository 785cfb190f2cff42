// The built application on a private session bus: a track that a desktop player starts playing
// reaches the application's bus within two seconds. The log on standard error is followed line
// by line; every wait ends as soon as the expected line arrives.

#include "support/app_process.h"
#include "support/service_fixtures.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {

using testsupport::kAppStartTimeoutMs;

// Gone, or a zombie nobody reaps: either way it no longer runs.
bool processEnded(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return true;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close >= 0 && text.size() > close + 2 && text.at(close + 2) == 'Z';
}

}  // namespace

TEST(NowPlayingEndToEnd, APlayingTrackReachesTheApplicationWithinTwoSeconds) {
    QString error;
    if (!testsupport::dbusmockAvailable()) QUILLVEX_SERVICE_MISSING("python3-dbusmock is not installed");
    auto bus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error);
    ASSERT_TRUE(bus) << error.toStdString();

    testsupport::AppHome home;
    home.sessionBus = bus->address();

    testsupport::AppProcess app(QStringLiteral(QUILLVEX_EXECUTABLE), home.environment());
    ASSERT_TRUE(app.started());
    const int monitoring = app.waitForLine("info MediaRemoteService: Started monitoring (appleScript)", kAppStartTimeoutMs);
    ASSERT_GE(monitoring, 0) << app.transcript().toStdString();
    // The helper greets on a worker of its own, so its line may come after the start's.
    const int ready = app.waitForPrefix("info MediaRemoteBridge: helper ready (pid=", kAppStartTimeoutMs);
    ASSERT_GE(ready, 0) << app.transcript().toStdString();
    const qint64 helperPid = QRegularExpression("pid=(\\d+)").match(app.lines().at(ready)).captured(1).toLongLong();
    // The script file lies in the user's private folder, never in the shared temporary one.
    EXPECT_TRUE(QFile::exists(home.runtimePath() + "/quillvex/quillvex_mediaremote_helper.swift"));
    EXPECT_FALSE(QFile::exists(home.filePath("quillvex_mediaremote_helper.swift")));

    // A desktop player starts playing.
    auto player = testsupport::DBusMock::startMprisPlayer(
        *bus, QStringLiteral("mockplayer"),
        {{QStringLiteral("PlaybackStatus"), QStringLiteral("Playing")},
         {QStringLiteral("Metadata"), QVariantMap{{QStringLiteral("xesam:title"), QStringLiteral("Song")},
                                                  {QStringLiteral("xesam:artist"), QStringList{QStringLiteral("Band")}}}}},
        &error);
    ASSERT_TRUE(player) << error.toStdString();
    QElapsedTimer sincePlaying;
    sincePlaying.start();
    const int updated = app.waitForLine("debug MediaRemoteService: Updated - Song by Band", kAppStartTimeoutMs, monitoring);
    ASSERT_GE(updated, 0) << app.transcript().toStdString();
    EXPECT_LE(sincePlaying.elapsed(), 2000);
    EXPECT_GE(app.waitForLine("info MediaRemoteService[appleScript] probe=none; MediaRemote fallback hit: title=Song "
                              "bundle=mockplayer", 0, monitoring), 0);
    EXPECT_TRUE(app.lines().filter("AppleScript error").isEmpty()) << app.transcript().toStdString();

    // On the way out the service stops, and the helper ends with the application.
    ASSERT_TRUE(app.signal(SIGTERM));
    ASSERT_TRUE(app.finish(kAppStartTimeoutMs)) << app.transcript().toStdString();
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_TRUE(app.lines().contains("info MediaRemoteService: Stopped monitoring")) << app.transcript().toStdString();
    QDeadlineTimer helperGone(5000);
    while (!processEnded(helperPid) && !helperGone.hasExpired()) QThread::msleep(20);
    EXPECT_TRUE(processEnded(helperPid));
}
