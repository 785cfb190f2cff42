// The built application on a private session bus: a track that a desktop player starts playing
// reaches the application's bus, and its web cover is fetched once. The log on
// standard error is followed line by line; every wait ends as soon as the expected line arrives.

#include "support/app_process.h"
#include "support/loopback_http_server.h"
#include "support/service_fixtures.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QFile>
#include <QImage>
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

// The index of the first line equal to `line` from `from` on, waiting up to `timeoutMs` while this
// thread's event loop runs (the loopback server answers meanwhile); -1 when it did not come.
int waitServing(testsupport::AppProcess& app, const QString& line, int from, int timeoutMs) {
    testsupport::spinUntil([&] {
        app.pump();
        return app.lines().indexOf(line, from) >= 0;
    }, timeoutMs / 1000.0);
    return static_cast<int>(app.lines().indexOf(line, from));
}

}  // namespace

TEST(NowPlayingEndToEnd, APlayingTrackReachesTheApplication) {
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
    // How soon the track arrives is bench/now_playing's to measure; here it arrives.
    const int updated = app.waitForLine("debug MediaRemoteService: Updated - Song by Band", kAppStartTimeoutMs, monitoring);
    ASSERT_GE(updated, 0) << app.transcript().toStdString();
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

// The helper beside the running application fetches a track's web cover once: the track shows, the
// cover joins it, and the track shown again after a pause brings it from the helper's cache.
TEST(NowPlayingEndToEnd, AWebCoverIsFetchedOnceForItsTrack) {
    QString error;
    if (!testsupport::dbusmockAvailable()) QUILLVEX_SERVICE_MISSING("python3-dbusmock is not installed");
    auto bus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error);
    ASSERT_TRUE(bus) << error.toStdString();
    QImage image(64, 64, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray cover;
    QBuffer buffer(&cover);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(image.save(&buffer, "PNG"));
    testsupport::LoopbackHttpServer server([&cover](const QString&) { return testsupport::LoopbackHttpServer::ok(cover); });
    ASSERT_TRUE(server.isListening());

    testsupport::AppHome home;
    home.sessionBus = bus->address();
    testsupport::AppProcess app(QStringLiteral(QUILLVEX_EXECUTABLE), home.environment());
    ASSERT_TRUE(app.started());
    ASSERT_GE(app.waitForPrefix("info MediaRemoteBridge: helper ready (pid=", kAppStartTimeoutMs), 0) << app.transcript().toStdString();

    const QString player = QStringLiteral("org.mpris.MediaPlayer2.Player");
    auto mock = testsupport::DBusMock::startMprisPlayer(
        *bus, QStringLiteral("webplayer"),
        {{QStringLiteral("PlaybackStatus"), QStringLiteral("Playing")},
         {QStringLiteral("Metadata"), QVariantMap{{QStringLiteral("xesam:title"), QStringLiteral("Song")},
                                                  {QStringLiteral("xesam:artist"), QStringList{QStringLiteral("Band")}},
                                                  {QStringLiteral("mpris:artUrl"), server.url(QStringLiteral("/cover.png"))}}}},
        &error);
    ASSERT_TRUE(mock) << error.toStdString();
    // Shown without its cover, then again with it.
    const QString updated = QStringLiteral("debug MediaRemoteService: Updated - Song by Band");
    const int shown = waitServing(app, updated, 0, kAppStartTimeoutMs);
    ASSERT_GE(shown, 0) << app.transcript().toStdString();
    const int withCover = waitServing(app, updated, shown + 1, kAppStartTimeoutMs);
    ASSERT_GE(withCover, 0) << app.transcript().toStdString();

    // Paused, the track goes; playing again, it comes back with its cover.
    ASSERT_TRUE(mock->setProperty(player, QStringLiteral("PlaybackStatus"), QStringLiteral("Paused")));
    const int stopped = waitServing(app, QStringLiteral("debug AudioVisualizer: Stopped"), withCover, kAppStartTimeoutMs);
    ASSERT_GE(stopped, 0) << app.transcript().toStdString();
    ASSERT_TRUE(mock->setProperty(player, QStringLiteral("PlaybackStatus"), QStringLiteral("Playing")));
    ASSERT_GE(waitServing(app, updated, stopped, kAppStartTimeoutMs), 0) << app.transcript().toStdString();

    EXPECT_EQ(server.requests(), QStringList{QStringLiteral("/cover.png")});
    ASSERT_TRUE(app.signal(SIGTERM));
    ASSERT_TRUE(app.finish(kAppStartTimeoutMs)) << app.transcript().toStdString();
    EXPECT_EQ(server.requests(), QStringList{QStringLiteral("/cover.png")});
}
