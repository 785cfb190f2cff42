// Starts the built application with a temporary home that holds a notification store, posts a
// notification into the store with the posting tool and follows the application's log on
// standard error. Every wait ends as soon as the expected line arrives.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>

#include "support/app_process.h"
#include "support/held_locks.h"
#include "support/service_fixtures.h"
#include "support/stuck_fuse_mount.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

using testsupport::AppHome;
using testsupport::kAppStartTimeoutMs;

// Runs the posting tool to the end; returns its exit code (-1 when it did not finish).
int post(const AppHome& home, const QString& bundle, const QString& title) {
    QProcess tool;
    tool.setProcessEnvironment(home.environment());
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(QStringLiteral(QUILLVEX_POST_NOTIFICATION),
               {QStringLiteral("--home"), home.path(), QStringLiteral("--bundle"), bundle, QStringLiteral("--title"), title});
    if (!tool.waitForFinished(kAppStartTimeoutMs)) return -1;
    return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
}

class RunningApp : public testsupport::AppProcess {
public:
    explicit RunningApp(const AppHome& home) : AppProcess(QStringLiteral(QUILLVEX_EXECUTABLE), home.environment()) {}
};

// Sends a desktop notification from "Mail" on `bus` with the desktop's own tool.
void notifySend(const testsupport::PrivateBus& bus, const QString& summary, const QString& body,
                const QString& icon = QString()) {
    testsupport::ScopedEnvironment env;
    env.set("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());
    QStringList arguments{QStringLiteral("-a"), QStringLiteral("Mail"), summary, body};
    if (!icon.isEmpty()) arguments << QStringLiteral("-i") << icon;
    QString output;
    ASSERT_EQ(testsupport::runTool(QStringLiteral("notify-send"), arguments, &output), 0) << output.toStdString();
}

}  // namespace

TEST(EndToEnd, PostedNotificationIsShownAndSigtermShutsDownInOrder) {
    AppHome home;
    // The store exists before the application starts, as it does on a system that shows
    // notifications; its first record predates the application and is never shown.
    ASSERT_EQ(post(home, QStringLiteral("com.example.Calendar"), QStringLiteral("Earlier")), 0);

    RunningApp app(home);
    ASSERT_TRUE(app.started());
    const int ready = app.waitForLine("info Monitoring started successfully", kAppStartTimeoutMs);
    ASSERT_GE(ready, 0) << app.transcript().toStdString();
    // The desktop-notification recorder reports from outside the delegate and may come first.
    QStringList delegateLines = app.lines();
    delegateLines.removeIf([](const QString& line) { return line.contains(QStringLiteral("DesktopNotificationRecorder: ")); });
    ASSERT_FALSE(delegateLines.isEmpty());
    EXPECT_EQ(delegateLines.first(), "info Application launched") << app.transcript().toStdString();
    EXPECT_GE(app.waitForLine(
                  "info NotificationDetector: ✓ Database detector started (detects banner-off notifications)", 0),
              0);

    // A second start hands over to the running instance and ends at once.
    {
        RunningApp second(home);
        ASSERT_TRUE(second.started());
        ASSERT_TRUE(second.finish(kAppStartTimeoutMs));
        EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.exitCode(), 0);
        EXPECT_FALSE(second.lines().contains("info Application launched")) << second.transcript().toStdString();
    }

    ASSERT_EQ(post(home, QStringLiteral("com.example.Mail"), QStringLiteral("Lunch at noon")), 0);
    // How soon it arrives is bench/database_latency's to measure; here it arrives at all.
    const int received = app.waitForPrefix(
        "info IslandQueue: Received signal - app: 'Mail', message: 'Lunch at noon'", kAppStartTimeoutMs, ready);
    ASSERT_GE(received, 0) << app.transcript().toStdString();
    const int shown =
        app.waitForPrefix("debug IslandQueue: Emitting state - visible: true", kAppStartTimeoutMs, received);
    EXPECT_GE(shown, 0) << app.transcript().toStdString();
    EXPECT_TRUE(app.lines().filter("message: 'Earlier'").isEmpty()) << app.transcript().toStdString();

    ASSERT_TRUE(app.signal(SIGTERM));
    ASSERT_TRUE(app.finish(kAppStartTimeoutMs)) << app.transcript().toStdString();
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_EQ(app.lastLine(), "info Application terminating") << app.transcript().toStdString();
    EXPECT_EQ(app.lines().filter("Application terminating").size(), 1);
}

// The application on a private session bus served by a notification daemon.
class EndToEndOnSessionBus : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        bus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error);
        ASSERT_TRUE(bus) << error.toStdString();
        daemon = testsupport::DBusMock::startNotificationDaemon(*bus, &error);
        if (!daemon) QUILLVEX_SERVICE_MISSING(error.toStdString());
        home.sessionBus = bus->address();
    }
    std::unique_ptr<testsupport::PrivateBus> bus;
    std::unique_ptr<testsupport::DBusMock> daemon;
    AppHome home;
};

// A desktop notification reaches the overlay, and a user looking into the store
// with the sqlite3 tool while the application records into it leaves it whole and every later
// notification shown. The sender's application entry names the store's index as its icon: looking
// the icon up must not open and close it here, which would drop the application's locks on it.
TEST_F(EndToEndOnSessionBus, DesktopNotificationsAreReceivedPromptlyAndAnotherReaderLeavesTheStoreWhole) {
    const QString store = home.filePath(QStringLiteral("Library/Group Containers/group.com.apple.usernoted/db2/db"));
    auto sqlite = [&](const QString& sql) {
        QString output;
        EXPECT_EQ(testsupport::runTool(QStringLiteral("sqlite3"), {store, sql}, &output), 0) << output.toStdString();
        return output.trimmed();
    };
    ASSERT_TRUE(QDir().mkpath(home.filePath(QStringLiteral(".local/share/applications"))));
    QFile entry(home.filePath(QStringLiteral(".local/share/applications/org.example.Mail.desktop")));
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Mail\nIcon=" + QFile::encodeName(store) + "-shm\n");
    entry.close();

    RunningApp app(home);
    ASSERT_TRUE(app.started());
    const int recording = app.waitForPrefix(
        "info DesktopNotificationRecorder: Recording desktop notifications into '", kAppStartTimeoutMs);
    ASSERT_GE(recording, 0) << app.transcript().toStdString();
    ASSERT_GE(app.waitForLine("info Monitoring started successfully", kAppStartTimeoutMs), 0)
        << app.transcript().toStdString();

    notifySend(*bus, QStringLiteral("Dinner at 7?"), QStringLiteral("See you there"));
    // Within a second is bench/desktop_notification_latency's to measure; a wall-clock bound here
    // would fail on a loaded machine only.
    int from = app.waitForPrefix("info IslandQueue: Received signal - app: 'Mail', message: 'Dinner at 7?'",
                                 kAppStartTimeoutMs, recording);
    ASSERT_GE(from, 0) << app.transcript().toStdString();
    ASSERT_GE(app.waitForPrefix("debug IslandView: Using ", kAppStartTimeoutMs, from), 0) << app.transcript().toStdString();
    EXPECT_GT(testsupport::locksHeld(store + QStringLiteral("-shm"), app.pid()), 0);
    // The daemon served the call as usual.
    EXPECT_TRUE(daemon->calledMethods(QStringLiteral("/org/freedesktop/Notifications")).contains("Notify"));

    for (const QString& sql : {QStringLiteral("SELECT count(*) FROM record;"),
                              QStringLiteral("INSERT INTO app (identifier) VALUES ('org.example.Outside');")}) {
        SCOPED_TRACE(sql.toStdString());
        sqlite(sql);
        for (int i = 1; i <= 2; ++i) {
            const QString summary = QStringLiteral("After %1 %2").arg(sql.section(u' ', 0, 0)).arg(i);
            notifySend(*bus, summary, QStringLiteral("Body"));
            from = app.waitForPrefix("info IslandQueue: Received signal - app: 'Mail', message: '" + summary + "'",
                                     kAppStartTimeoutMs, from);
            ASSERT_GE(from, 0) << app.transcript().toStdString();
        }
    }
    ASSERT_TRUE(app.signal(SIGTERM));
    ASSERT_TRUE(app.finish(kAppStartTimeoutMs)) << app.transcript().toStdString();
    EXPECT_EQ(sqlite(QStringLiteral("PRAGMA integrity_check;")), "ok");
    EXPECT_EQ(sqlite(QStringLiteral("SELECT count(*) FROM record;")), "5");
}

// Each signal the bus passes on wakes the application: every signal rule its connections hold names
// an interface or a member, none asks for every signal on the bus.
TEST_F(EndToEndOnSessionBus, TheApplicationAsksTheBusOnlyForSignalsItNames) {
    RunningApp app(home);
    ASSERT_TRUE(app.started());
    ASSERT_GE(app.waitForLine("info Notch features started successfully", kAppStartTimeoutMs), 0) << app.transcript().toStdString();
    const auto busCall = [&](const char* interface, const char* method, const QVariantList& arguments) {
        return bus->connection().call({QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QString::fromLatin1(interface), QString::fromLatin1(method), arguments},
                                      std::chrono::seconds(5));
    };
    const platform::DBusReply rules = busCall("org.freedesktop.DBus.Debug.Stats", "GetAllMatchRules", {});
    ASSERT_TRUE(rules.ok()) << rules.errorMessage.toStdString();
    int connections = 0;
    const QVariantMap byConnection = rules.value().toMap();
    for (auto it = byConnection.begin(); it != byConnection.end(); ++it) {
        if (busCall("org.freedesktop.DBus", "GetConnectionUnixProcessID", {it.key()}).value().toLongLong() != app.pid()) continue;
        ++connections;
        for (const QString& rule : it.value().toStringList()) {
            const bool named = rule.contains(QLatin1String("interface=")) || rule.contains(QLatin1String("member="));
            EXPECT_TRUE(named || !rule.contains(QLatin1String("type='signal'"))) << it.key().toStdString() << ": " << rule.toStdString();
        }
    }
    EXPECT_GT(connections, 0);
    ASSERT_TRUE(app.signal(SIGTERM));
    ASSERT_TRUE(app.finish(kAppStartTimeoutMs)) << app.transcript().toStdString();
}

// On a session whose settings name no icon theme (no XSETTINGS manager, no GNOME setting), a themed
// name that hicolor lacks is found in the installed default theme.
TEST_F(EndToEndOnSessionBus, AThemedIconNameIsFoundInTheInstalledDefaultThemeWhenTheDesktopNamesNone) {
    const QString data = home.filePath(QStringLiteral("system-data"));
    for (const char* theme : {"hicolor", "Adwaita"}) {
        const QString folder = data + QStringLiteral("/icons/") + QLatin1String(theme);
        ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/128x128/apps")));
        QFile index(folder + QStringLiteral("/index.theme"));
        ASSERT_TRUE(index.open(QIODevice::WriteOnly));
        index.write(QByteArray("[Icon Theme]\nName=") + theme +
                    "\nDirectories=128x128/apps\n\n[128x128/apps]\nSize=128\nType=Fixed\n");
    }
    QImage envelope(128, 128, QImage::Format_ARGB32);
    envelope.fill(Qt::darkCyan);
    ASSERT_TRUE(envelope.save(data + QStringLiteral("/icons/Adwaita/128x128/apps/mail-message-new.png")));
    // On X11, as a user runs it: Qt's own theme there is hicolor alone.
    QString error;
    auto x = testsupport::PrivateXServer::start(QStringLiteral("1280x800x24"), &error);
    ASSERT_TRUE(x) << error.toStdString();
    QProcessEnvironment env = home.environment();
    env.insert(QStringLiteral("DISPLAY"), x->display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("XDG_DATA_DIRS"), data);
    // No desktop whose platform theme would name a theme.
    for (const char* name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "QT_QPA_PLATFORMTHEME", "QT_QPA_SYSTEM_ICON_THEME"})
        env.remove(QLatin1String(name));

    testsupport::AppProcess app(QStringLiteral(QUILLVEX_EXECUTABLE), env);
    ASSERT_TRUE(app.started());
    const int ready = app.waitUntilWatching(kAppStartTimeoutMs);
    ASSERT_GE(ready, 0) << app.transcript().toStdString();
    notifySend(*bus, QStringLiteral("New mail"), QStringLiteral("From Ann"), QStringLiteral("mail-message-new"));
    const int received = app.waitForPrefix("info IslandQueue: Received signal - app: 'Mail', message: 'New mail'",
                                           kAppStartTimeoutMs, ready);
    ASSERT_GE(received, 0) << app.transcript().toStdString();
    EXPECT_GE(app.waitForPrefix("debug IslandView: Using high-res icon from notification data (size: (128.0, 128.0))",
                                kAppStartTimeoutMs, received),
              0)
        << app.transcript().toStdString();
    ASSERT_TRUE(app.signal(SIGTERM));
    ASSERT_TRUE(app.finish(kAppStartTimeoutMs)) << app.transcript().toStdString();
}

// notify-send -i with a picture on a mount whose reads never return (a hung sshfs): that
// notification comes without its picture, later ones come as usual, and SIGTERM still ends the
// application, also while such a read waits.
TEST_F(EndToEndOnSessionBus, AnIconOnAHungMountHoldsUpNeitherLaterNotificationsNorTheQuit) {
    RunningApp app(home);
    // Made after the application, so that it is taken down first should the application hang.
    std::unique_ptr<testsupport::StuckFuseMount> mount;
    QUILLVEX_MOUNT_STUCK_FUSE(mount);
    auto sendWithPicture = [&](const QString& summary, const QString& picture) {
        testsupport::ScopedEnvironment env;
        env.set("DBUS_SESSION_BUS_ADDRESS", bus->address().toUtf8());
        ASSERT_EQ(testsupport::runTool(QStringLiteral("notify-send"),
                                       {QStringLiteral("-a"), QStringLiteral("Mail"), QStringLiteral("-i"),
                                        mount->stuckFile(picture), summary, QStringLiteral("Body")}),
                  0);
    };
    // On a loaded machine a reader can reach its deadline before it asks the mount for anything;
    // another picture then gives the read this test needs.
    int pictures = 0;
    auto sendUntilRead = [&](const QString& summary) {
        for (int attempt = 0; attempt < 4; ++attempt) {
            sendWithPicture(summary, QStringLiteral("picture-%1.png").arg(++pictures));
            if (mount->waitForRead(5000)) return true;
        }
        return false;
    };

    ASSERT_TRUE(app.started());
    const int ready = app.waitForLine("info Monitoring started successfully", kAppStartTimeoutMs);
    ASSERT_GE(ready, 0) << app.transcript().toStdString();
    ASSERT_TRUE(sendUntilRead(QStringLiteral("Picture on a hung mount")));
    notifySend(*bus, QStringLiteral("After it"), QStringLiteral("Body"));
    int from = app.waitForPrefix("info IslandQueue: Received signal - app: 'Mail', message: 'Picture on a hung mount'",
                                 kAppStartTimeoutMs, ready);
    ASSERT_GE(from, 0) << app.transcript().toStdString();
    from = app.waitForPrefix("info IslandQueue: Received signal - app: 'Mail', message: 'After it'",
                             kAppStartTimeoutMs, from);
    ASSERT_GE(from, 0) << app.transcript().toStdString();

    ASSERT_TRUE(sendUntilRead(QStringLiteral("Quit while reading")));
    ASSERT_TRUE(app.signal(SIGTERM));
    ASSERT_TRUE(app.finish(kAppStartTimeoutMs)) << app.transcript().toStdString();
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_EQ(app.lastLine(), "info Application terminating") << app.transcript().toStdString();
}

// The icon theme folder in ~/.icons on a mount that never answers (a home on sshfs that stopped):
// the application starts, a notification naming a themed icon comes without it, the next one
// comes as usual, and SIGTERM ends the application while the lookup still waits.
TEST_F(EndToEndOnSessionBus, AnIconThemeFolderThatNeverAnswersHoldsUpNeitherNotificationsNorTheQuit) {
    QString error;
    std::unique_ptr<testsupport::StuckFuseMount> mount;
    QUILLVEX_MOUNT_STUCK_FUSE(mount);
    ASSERT_TRUE(QFile::link(mount->hungFolder(), home.filePath(QStringLiteral(".icons"))));
    // On X11, where windows take their cursors from ~/.icons too.
    auto x = testsupport::PrivateXServer::start(QStringLiteral("1280x800x24"), &error);
    ASSERT_TRUE(x) << error.toStdString();
    QProcessEnvironment env = home.environment();
    env.insert(QStringLiteral("DISPLAY"), x->display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    testsupport::AppProcess app(QStringLiteral(QUILLVEX_EXECUTABLE), env);
    ASSERT_TRUE(app.started());
    const int ready = app.waitUntilWatching(kAppStartTimeoutMs);
    ASSERT_GE(ready, 0) << app.threadStates().toStdString() << app.transcript().toStdString();
    notifySend(*bus, QStringLiteral("Themed"), QStringLiteral("Body"), QStringLiteral("mail-message-new"));
    ASSERT_TRUE(mount->waitForStat());
    int from = app.waitForPrefix("info IslandQueue: Received signal - app: 'Mail', message: 'Themed'", kAppStartTimeoutMs, ready);
    ASSERT_GE(from, 0) << app.transcript().toStdString();
    // The settings window's first cursor must not look there.
    {
        RunningApp second(home);
        ASSERT_TRUE(second.started());
        ASSERT_TRUE(second.finish(kAppStartTimeoutMs));
    }
    from = app.waitForLine("info AppDelegate: Settings window created", kAppStartTimeoutMs, from);
    ASSERT_GE(from, 0) << app.transcript().toStdString();
    notifySend(*bus, QStringLiteral("After it"), QStringLiteral("Body"));
    from = app.waitForPrefix("info IslandQueue: Received signal - app: 'Mail', message: 'After it'", kAppStartTimeoutMs, from);
    ASSERT_GE(from, 0) << app.transcript().toStdString();
    ASSERT_TRUE(app.signal(SIGTERM));
    ASSERT_TRUE(app.finish(kAppStartTimeoutMs)) << app.threadStates().toStdString() << app.transcript().toStdString();
    EXPECT_EQ(app.exitCode(), 0);
}

// A burst of calls that the bus has passed on when SIGTERM comes is in the store, every one,
// when the application has ended. The application is stopped while the burst comes, so that all
// of it still waits for it when the quit begins, as on a busy machine.
TEST_F(EndToEndOnSessionBus, ABurstTheBusPassedOnBeforeSigtermIsRecordedInFull) {
    const QString store = home.filePath(QStringLiteral("Library/Group Containers/group.com.apple.usernoted/db2/db"));
    RunningApp app(home);
    ASSERT_TRUE(app.started());
    ASSERT_GE(app.waitForPrefix("info DesktopNotificationRecorder: Recording desktop notifications into '",
                                kAppStartTimeoutMs),
              0)
        << app.transcript().toStdString();
    ASSERT_GE(app.waitForLine("info Monitoring started successfully", kAppStartTimeoutMs), 0)
        << app.transcript().toStdString();

    constexpr int kBurst = 200;
    // Each with a 64 x 64 picture, as chat applications send their senders' faces.
    QDBusArgument picture;
    picture.beginStructure();
    picture << 64 << 64 << 64 * 4 << true << 8 << 4 << QByteArray(64 * 64 * 4, '\x40');
    picture.endStructure();
    const QVariantMap hints{{QStringLiteral("image-data"), QVariant::fromValue(picture)}};
    ASSERT_TRUE(app.signal(SIGSTOP));
    {
        QDBusConnection sender = QDBusConnection::connectToBus(bus->address(), QStringLiteral("burst"));
        ASSERT_TRUE(sender.isConnected());
        for (int i = 0; i < kBurst; ++i) {
            QDBusMessage call = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
                QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
            call << QStringLiteral("Burst") << 0u << QString() << QStringLiteral("Burst %1").arg(i) << QString()
                 << QStringList() << hints << -1;
            ASSERT_TRUE(sender.send(call));
        }
        // The bus answers after it has passed on every call sent before.
        const QDBusMessage id = sender.call(QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")));
        ASSERT_EQ(id.type(), QDBusMessage::ReplyMessage) << id.errorMessage().toStdString();
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("burst"));
    ASSERT_TRUE(app.signal(SIGTERM));
    ASSERT_TRUE(app.signal(SIGCONT));
    ASSERT_TRUE(app.finish(kAppStartTimeoutMs)) << app.transcript().toStdString();
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_EQ(app.lastLine(), "info Application terminating") << app.transcript().toStdString();
    QString output;
    ASSERT_EQ(testsupport::runTool(QStringLiteral("sqlite3"), {store, QStringLiteral("SELECT count(*) FROM record;")},
                                   &output),
              0)
        << output.toStdString();
    EXPECT_EQ(output.trimmed(), QString::number(kBurst));
}

// SIGHUP and SIGQUIT shut down like SIGTERM and take the socket along. The SIGQUIT run has a
// runtime folder open to others: the channel passes it over for the private one under the home
// folder (never a temporary folder, where another user could take the name first), and a second
// start still hands over to the running instance.
TEST(EndToEnd, HangupAndQuitShutDownLikeSigtermAndARuntimeFolderOpenToOthersStillMeansOneInstance) {
    for (int signal : {SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(signal);
        AppHome home;
        const bool openFolder = signal == SIGQUIT;
        const QString socket = openFolder ? home.filePath(QStringLiteral(".local/state/Quillvex/Quillvex.reopen"))
                                          : home.runtimePath() + QStringLiteral("/Quillvex.reopen");
        if (openFolder) {
            QFile::setPermissions(home.runtimePath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                          QFile::ReadOther | QFile::WriteOther | QFile::ExeOther);
        }
        RunningApp app(home);
        ASSERT_TRUE(app.started());
        ASSERT_GE(app.waitForLine("info Monitoring started successfully", kAppStartTimeoutMs), 0)
            << app.transcript().toStdString();
        EXPECT_TRUE(QFileInfo::exists(socket));
        EXPECT_TRUE(app.lines().filter(QStringLiteral("Reopen channel unavailable")).isEmpty())
            << app.transcript().toStdString();
        if (openFolder) {
            EXPECT_FALSE(QFileInfo::exists(home.runtimePath() + QStringLiteral("/Quillvex.reopen")));
            EXPECT_FALSE(QFileInfo::exists(QDir::tempPath() + QStringLiteral("/Quillvex.reopen")));
            EXPECT_FALSE(QFileInfo::exists(home.filePath(QStringLiteral("Quillvex.reopen"))));
            RunningApp second(home);
            ASSERT_TRUE(second.started());
            ASSERT_TRUE(second.finish(kAppStartTimeoutMs)) << second.transcript().toStdString();
            EXPECT_EQ(second.exitCode(), 0);
            EXPECT_FALSE(second.lines().contains("info Application launched")) << second.transcript().toStdString();
        }

        ASSERT_TRUE(app.signal(signal));
        ASSERT_TRUE(app.finish(kAppStartTimeoutMs)) << app.transcript().toStdString();
        EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(app.exitCode(), 0);
        EXPECT_EQ(app.lastLine(), "info Application terminating") << app.transcript().toStdString();
        EXPECT_FALSE(QFileInfo::exists(socket));
    }
}

TEST(EndToEnd, LosingTheDisplayShutsDownLikeSigterm) {
    if (!testsupport::dbusmockAvailable()) QUILLVEX_SERVICE_MISSING("python3-dbusmock is not installed");
    // The display goes as the delegate launches, while monitoring starts, and once it runs.
    for (const char* moment : {"info Application launched", "info Starting notification monitoring",
                               "info Monitoring started successfully"}) {
        SCOPED_TRACE(moment);
        QString error;
        auto x = testsupport::PrivateXServer::start(QStringLiteral("1280x800x24"), &error);
        ASSERT_TRUE(x) << error.toStdString();
        // A session bus with a notification daemon keeps D-Bus threads busy while the display goes.
        auto bus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error);
        ASSERT_TRUE(bus) << error.toStdString();
        auto daemon = testsupport::DBusMock::startNotificationDaemon(*bus, &error);
        ASSERT_TRUE(daemon) << error.toStdString();
        AppHome home;
        home.sessionBus = bus->address();
        QProcessEnvironment env = home.environment();
        env.insert(QStringLiteral("DISPLAY"), x->display());
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        const QString socket = home.runtimePath() + QStringLiteral("/Quillvex.reopen");

        testsupport::AppProcess app(QStringLiteral(QUILLVEX_EXECUTABLE), env);
        ASSERT_TRUE(app.started());
        ASSERT_GE(app.waitForLine(QString::fromLatin1(moment), kAppStartTimeoutMs), 0) << app.transcript().toStdString();
        x.reset();  // the X server is killed

        ASSERT_TRUE(app.finish(kAppStartTimeoutMs)) << app.transcript().toStdString();
        EXPECT_EQ(app.exitStatus(), QProcess::NormalExit) << app.transcript().toStdString();
        EXPECT_EQ(app.exitCode(), 0) << app.transcript().toStdString();
        EXPECT_FALSE(app.transcript().contains("pure virtual")) << app.transcript().toStdString();
        EXPECT_TRUE(app.lines().contains("info Application terminating")) << app.transcript().toStdString();
        EXPECT_FALSE(QFileInfo::exists(socket));
    }
}
