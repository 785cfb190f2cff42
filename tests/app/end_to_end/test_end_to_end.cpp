// Starts the built application with a temporary home that holds a notification store, posts a
// notification into the store with the posting tool and follows the application's log on
// standard error. Every wait ends as soon as the expected line arrives.

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "support/service_fixtures.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

namespace {

constexpr int kStartTimeoutMs = 20000;

class Home {
public:
    Home() {
        QDir(dir_.path()).mkpath(QStringLiteral("run"));
        QDir(dir_.path()).mkpath(QStringLiteral(".config"));
        QFile::setPermissions(runtimePath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString path() const { return dir_.path(); }
    QString runtimePath() const { return dir_.path() + QStringLiteral("/run"); }

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path() + QStringLiteral("/.config"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimePath());
        env.insert(QStringLiteral("QUILLVEX_LOG_STDERR"), QStringLiteral("1"));
        env.insert(QStringLiteral("QUILLVEX_LOG_LEVEL"), QStringLiteral("debug"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        // Never the user's session bus: a private one, or none.
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
        return env;
    }

    QString busAddress = QStringLiteral("unix:path=/nonexistent/bus");

private:
    QTemporaryDir dir_;
};

// Runs the posting tool to the end; returns its exit code (-1 when it did not finish).
int post(const Home& home, const QString& bundle, const QString& title) {
    QProcess tool;
    tool.setProcessEnvironment(home.environment());
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(QStringLiteral(QUILLVEX_POST_NOTIFICATION),
               {QStringLiteral("--home"), home.path(), QStringLiteral("--bundle"), bundle, QStringLiteral("--title"), title});
    if (!tool.waitForFinished(kStartTimeoutMs)) return -1;
    return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
}

// The application under test and the lines it has written so far.
class RunningApp {
public:
    explicit RunningApp(const Home& home) {
        process_.setProcessEnvironment(home.environment());
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

    bool finish(int timeoutMs) {
        const bool finished = process_.waitForFinished(timeoutMs);
        readLines();
        if (!partial_.isEmpty()) lines_ << QString::fromUtf8(partial_);
        return finished;
    }
    int exitCode() const { return process_.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return process_.exitStatus(); }
    const QStringList& lines() const { return lines_; }
    QString lastLine() const {
        for (auto it = lines_.crbegin(); it != lines_.crend(); ++it) {
            if (!it->trimmed().isEmpty()) return *it;
        }
        return {};
    }

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

QString transcript(const RunningApp& app) { return app.lines().join(QLatin1Char('\n')); }

}  // namespace

TEST(EndToEnd, PostedNotificationIsShownAndSigtermShutsDownInOrder) {
    Home home;
    // The store exists before the application starts, as it does on a system that shows
    // notifications; its first record predates the application and is never shown.
    ASSERT_EQ(post(home, QStringLiteral("com.example.Calendar"), QStringLiteral("Earlier")), 0);

    RunningApp app(home);
    ASSERT_TRUE(app.started());
    const int ready =
        app.waitForLine([](const QString& line) { return line == "info Monitoring started successfully"; }, kStartTimeoutMs);
    ASSERT_GE(ready, 0) << transcript(app).toStdString();
    EXPECT_EQ(app.lines().first(), "info Application launched") << transcript(app).toStdString();
    EXPECT_GE(app.waitForLine([](const QString& line) {
        return line == "info NotificationDetector: ✓ Database detector started (detects banner-off notifications)";
    }, 0), 0);

    // A second start hands over to the running instance and ends at once.
    {
        RunningApp second(home);
        ASSERT_TRUE(second.started());
        ASSERT_TRUE(second.finish(kStartTimeoutMs));
        EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.exitCode(), 0);
        EXPECT_FALSE(second.lines().contains("info Application launched")) << transcript(second).toStdString();
    }

    ASSERT_EQ(post(home, QStringLiteral("com.example.Mail"), QStringLiteral("Lunch at noon")), 0);
    QElapsedTimer sincePost;
    sincePost.start();
    const int received = app.waitForLine(
        [](const QString& line) {
            return line.startsWith("info IslandQueue: Received signal - app: 'Mail', message: 'Lunch at noon'");
        },
        kStartTimeoutMs, ready);
    ASSERT_GE(received, 0) << transcript(app).toStdString();
    EXPECT_LE(sincePost.elapsed(), 2000);
    const int shown = app.waitForLine(
        [](const QString& line) { return line.startsWith("debug IslandQueue: Emitting state - visible: true"); },
        kStartTimeoutMs, received);
    EXPECT_GE(shown, 0) << transcript(app).toStdString();
    EXPECT_TRUE(app.lines().filter("message: 'Earlier'").isEmpty()) << transcript(app).toStdString();

    ASSERT_EQ(::kill(static_cast<pid_t>(app.pid()), SIGTERM), 0);
    ASSERT_TRUE(app.finish(kStartTimeoutMs)) << transcript(app).toStdString();
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_EQ(app.lastLine(), "info Application terminating") << transcript(app).toStdString();
    EXPECT_EQ(app.lines().filter("Application terminating").size(), 1);
}

TEST(EndToEnd, ADesktopNotificationSentOnTheSessionBusIsReceivedWithinASecond) {
    QString error;
    auto bus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error);
    ASSERT_TRUE(bus) << error.toStdString();
    auto daemon = testsupport::DBusMock::startNotificationDaemon(*bus, &error);
    if (!daemon) GTEST_SKIP() << error.toStdString();
    Home home;
    home.busAddress = bus->address();

    RunningApp app(home);
    ASSERT_TRUE(app.started());
    const int recording = app.waitForLine(
        [](const QString& line) {
            return line.startsWith("info DesktopNotificationRecorder: Recording desktop notifications into '");
        },
        kStartTimeoutMs);
    ASSERT_GE(recording, 0) << transcript(app).toStdString();
    ASSERT_GE(app.waitForLine([](const QString& line) { return line == "info Monitoring started successfully"; },
                              kStartTimeoutMs),
              0)
        << transcript(app).toStdString();

    QElapsedTimer sinceSend;
    sinceSend.start();
    {
        testsupport::ScopedEnvironment env;
        env.set("DBUS_SESSION_BUS_ADDRESS", bus->address().toUtf8());
        QString output;
        ASSERT_EQ(testsupport::runTool(QStringLiteral("notify-send"),
                                       {QStringLiteral("-a"), QStringLiteral("Mail"), QStringLiteral("Dinner at 7?"),
                                        QStringLiteral("See you there")},
                                       &output),
                  0)
            << output.toStdString();
    }
    const int received = app.waitForLine(
        [](const QString& line) {
            return line.startsWith("info IslandQueue: Received signal - app: 'Mail', message: 'Dinner at 7?'");
        },
        1000, recording);
    EXPECT_GE(received, 0) << transcript(app).toStdString();
    EXPECT_LE(sinceSend.elapsed(), 1000);
    // The daemon served the call as usual.
    EXPECT_TRUE(daemon->calledMethods(QStringLiteral("/org/freedesktop/Notifications")).contains("Notify"));
}

TEST(EndToEnd, HangupAndQuitShutDownLikeSigtermAndTakeTheSocketAlong) {
    for (int signal : {SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(signal);
        Home home;
        const QString socket = home.runtimePath() + QStringLiteral("/Quillvex.reopen");
        RunningApp app(home);
        ASSERT_TRUE(app.started());
        ASSERT_GE(app.waitForLine([](const QString& line) { return line == "info Monitoring started successfully"; },
                                  kStartTimeoutMs),
                  0)
            << transcript(app).toStdString();
        EXPECT_TRUE(QFileInfo::exists(socket));

        ASSERT_EQ(::kill(static_cast<pid_t>(app.pid()), signal), 0);
        ASSERT_TRUE(app.finish(kStartTimeoutMs)) << transcript(app).toStdString();
        EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(app.exitCode(), 0);
        EXPECT_EQ(app.lastLine(), "info Application terminating") << transcript(app).toStdString();
        EXPECT_FALSE(QFileInfo::exists(socket));
    }
}

TEST(EndToEnd, ARuntimeFolderOpenToOthersMeansNoReopenChannelButTheApplicationRuns) {
    Home home;
    QFile::setPermissions(home.runtimePath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther |
                                                  QFile::WriteOther | QFile::ExeOther);
    RunningApp app(home);
    ASSERT_TRUE(app.started());
    ASSERT_GE(app.waitForLine([](const QString& line) { return line == "info Monitoring started successfully"; },
                              kStartTimeoutMs),
              0)
        << transcript(app).toStdString();
    EXPECT_TRUE(app.lines().contains("warning Reopen channel unavailable, running without it: '" + home.runtimePath() +
                                     "' is open to other users"))
        << transcript(app).toStdString();
    EXPECT_FALSE(QFileInfo::exists(home.runtimePath() + QStringLiteral("/Quillvex.reopen")));
    EXPECT_FALSE(QFileInfo::exists(QDir::tempPath() + QStringLiteral("/Quillvex.reopen")));
}
