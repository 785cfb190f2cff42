// The built application on a private session bus: a track that a desktop player starts playing
// reaches the application's bus within two seconds. The log on standard error is followed line
// by line; every wait ends as soon as the expected line arrives.

#include "support/service_fixtures.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

namespace {

constexpr int kStartTimeoutMs = 20000;

class RunningApp {
public:
    explicit RunningApp(const QProcessEnvironment& environment) {
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(QStringLiteral(QUILLVEX_EXECUTABLE), {});
    }
    ~RunningApp() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(kStartTimeoutMs);
        }
    }

    bool started() { return process_.waitForStarted(kStartTimeoutMs); }
    qint64 pid() const { return process_.processId(); }

    // Index of the first line from `from` on that satisfies `match`, waiting up to `timeoutMs`;
    // -1 when none came.
    int waitForLine(const std::function<bool(const QString&)>& match, int timeoutMs, int from = 0) {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            for (int i = from; i < lines_.size(); ++i) {
                if (match(lines_[i])) return i;
            }
            from = static_cast<int>(lines_.size());
            if (deadline.hasExpired() || process_.state() == QProcess::NotRunning) return -1;
            if (process_.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) readLines();
        }
    }
    int waitForLine(const QString& exact, int timeoutMs, int from = 0) {
        return waitForLine([&exact](const QString& line) { return line == exact; }, timeoutMs, from);
    }

    bool finish(int timeoutMs) {
        const bool finished = process_.waitForFinished(timeoutMs);
        readLines();
        return finished;
    }
    int exitCode() const { return process_.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return process_.exitStatus(); }
    QString transcript() const { return lines_.join(QLatin1Char('\n')); }
    const QStringList& lines() const { return lines_; }

private:
    void readLines() {
        partial_ += process_.readAll();
        qsizetype end;
        while ((end = partial_.indexOf('\n')) >= 0) {
            lines_ << QString::fromUtf8(partial_.left(end));
            partial_.remove(0, end + 1);
        }
    }

    QProcess process_;
    QByteArray partial_;
    QStringList lines_;
};

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
    if (!testsupport::dbusmockAvailable()) GTEST_SKIP() << "python3-dbusmock is not installed";
    auto bus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error);
    ASSERT_TRUE(bus) << error.toStdString();

    QTemporaryDir home;
    QDir(home.path()).mkpath(QStringLiteral("run"));
    QDir(home.path()).mkpath(QStringLiteral(".config"));
    QFile::setPermissions(home.filePath("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(".config"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath("run"));
    env.insert(QStringLiteral("TMPDIR"), home.path());
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus->address());
    env.insert(QStringLiteral("QUILLVEX_LOG_STDERR"), QStringLiteral("1"));
    env.insert(QStringLiteral("QUILLVEX_LOG_LEVEL"), QStringLiteral("debug"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));

    RunningApp app(env);
    ASSERT_TRUE(app.started());
    const int monitoring = app.waitForLine("info MediaRemoteService: Started monitoring (appleScript)", kStartTimeoutMs);
    ASSERT_GE(monitoring, 0) << app.transcript().toStdString();
    const int ready = app.waitForLine([](const QString& line) { return line.startsWith("info MediaRemoteBridge: helper ready (pid="); }, 0);
    ASSERT_GE(ready, 0) << app.transcript().toStdString();
    const qint64 helperPid = QRegularExpression("pid=(\\d+)").match(app.lines().at(ready)).captured(1).toLongLong();
    EXPECT_TRUE(QFile::exists(home.filePath("quillvex_mediaremote_helper.swift")));

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
    const int updated = app.waitForLine("debug MediaRemoteService: Updated - Song by Band", kStartTimeoutMs, monitoring);
    ASSERT_GE(updated, 0) << app.transcript().toStdString();
    EXPECT_LE(sincePlaying.elapsed(), 2000);
    EXPECT_GE(app.waitForLine("info MediaRemoteService[appleScript] probe=none; MediaRemote fallback hit: title=Song "
                              "bundle=mockplayer", 0, monitoring), 0);
    EXPECT_TRUE(app.lines().filter("AppleScript error").isEmpty()) << app.transcript().toStdString();

    // On the way out the service stops, and the helper ends with the application.
    ASSERT_EQ(::kill(static_cast<pid_t>(app.pid()), SIGTERM), 0);
    ASSERT_TRUE(app.finish(kStartTimeoutMs)) << app.transcript().toStdString();
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_TRUE(app.lines().contains("info MediaRemoteService: Stopped monitoring")) << app.transcript().toStdString();
    QDeadlineTimer helperGone(5000);
    while (!processEnded(helperPid) && !helperGone.hasExpired()) QThread::msleep(20);
    EXPECT_TRUE(processEnded(helperPid));
}
