// The built application with folders it looks into on a FUSE mount that never answers, as a home
// on sshfs whose server stopped: notifications keep coming, and SIGTERM still ends it. Every wait
// ends as soon as the expected line arrives.

#include "support/app_process.h"
#include "support/service_fixtures.h"
#include "support/stuck_fuse_mount.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QStringList>

#include <gtest/gtest.h>

#include <csignal>

namespace {

using testsupport::kAppStartTimeoutMs;

class HungFoldersEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        QUILLVEX_MOUNT_STUCK_FUSE(mount);
        bus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error);
        ASSERT_TRUE(bus) << error.toStdString();
        daemon = testsupport::DBusMock::startNotificationDaemon(*bus, &error);
        if (!daemon) QUILLVEX_SERVICE_MISSING(error.toStdString());
        home.sessionBus = bus->address();
        ASSERT_TRUE(QDir().mkpath(data()));
    }

    // The one folder of $XDG_DATA_DIRS.
    QString data() const { return home.filePath(QStringLiteral("system-data")); }

    // A desktop notification from "Mail" with the desktop's own tool.
    void notify(const QString& summary, const QString& icon) {
        testsupport::ScopedEnvironment env;
        env.set("DBUS_SESSION_BUS_ADDRESS", bus->address().toUtf8());
        QString output;
        ASSERT_EQ(testsupport::runTool(QStringLiteral("notify-send"),
                                       {QStringLiteral("-a"), QStringLiteral("Mail"), QStringLiteral("-i"), icon, summary,
                                        QStringLiteral("Body")},
                                       &output),
                  0)
            << output.toStdString();
    }

    // Starts the application, sends a notification that makes it look into the hung folder, then
    // one whose icon is at hand, which comes with it; SIGTERM then ends the application.
    void expectNotificationsAndQuit(const QString& icon) {
        QProcessEnvironment env = home.environment();
        env.insert(QStringLiteral("XDG_DATA_DIRS"), data());
        testsupport::AppProcess app(QStringLiteral(QUILLVEX_EXECUTABLE), env);
        ASSERT_TRUE(app.started());
        int from = app.waitUntilWatching(kAppStartTimeoutMs);
        ASSERT_GE(from, 0) << app.transcript().toStdString();
        notify(QStringLiteral("First"), icon);
        ASSERT_TRUE(mount->waitForStat()) << app.transcript().toStdString();
        from = app.waitForPrefix("info IslandQueue: Received signal - app: 'Mail', message: 'First'", kAppStartTimeoutMs, from);
        ASSERT_GE(from, 0) << app.threadStates().toStdString() << app.transcript().toStdString();
        notify(QStringLiteral("After it"), QStringLiteral("mail-message-new"));
        from = app.waitForPrefix("info IslandQueue: Received signal - app: 'Mail', message: 'After it'", kAppStartTimeoutMs, from);
        ASSERT_GE(from, 0) << app.threadStates().toStdString() << app.transcript().toStdString();
        EXPECT_TRUE(app.lines().at(from).endsWith(QStringLiteral("hasIcon: true"))) << app.transcript().toStdString();
        ASSERT_TRUE(app.signal(SIGTERM));
        ASSERT_TRUE(app.finish(kAppStartTimeoutMs)) << app.threadStates().toStdString() << app.transcript().toStdString();
        EXPECT_EQ(app.exitCode(), 0);
        EXPECT_EQ(app.lastLine(), "info Application terminating") << app.transcript().toStdString();
    }

    // hicolor in the user's data folder, listing `folders` at 48 and 128 pixels, with the icon
    // "mail-message-new" at 128.
    void userHicolor() {
        const QString hicolor = home.filePath(QStringLiteral(".local/share/icons/hicolor"));
        ASSERT_TRUE(QDir().mkpath(hicolor + QStringLiteral("/128x128/apps")));
        QFile index(hicolor + QStringLiteral("/index.theme"));
        ASSERT_TRUE(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\nName=hicolor\nDirectories=48x48/apps,128x128/apps\n\n[48x48/apps]\nSize=48\n"
                    "Type=Fixed\n\n[128x128/apps]\nSize=128\nType=Fixed\n");
        QImage envelope(128, 128, QImage::Format_ARGB32);
        envelope.fill(Qt::darkCyan);
        ASSERT_TRUE(envelope.save(hicolor + QStringLiteral("/128x128/apps/mail-message-new.png")));
    }

    // Declared first, so that the mount goes before the folders that lead onto it.
    testsupport::AppHome home;
    std::unique_ptr<testsupport::StuckFuseMount> mount;
    std::unique_ptr<testsupport::PrivateBus> bus;
    std::unique_ptr<testsupport::DBusMock> daemon;
};

// The applications folder of a data folder leads onto the mount: the application's entries are
// looked up for every notification.
TEST_F(HungFoldersEndToEnd, AnApplicationsFolderThatNeverAnswersHoldsUpNeitherNotificationsNorTheQuit) {
    ASSERT_TRUE(QFile::link(mount->hungFolder(), data() + QStringLiteral("/applications")));
    userHicolor();
    expectNotificationsAndQuit(QStringLiteral("mail-message-new"));
}

// A size folder of the user's own hicolor leads onto the mount: a name the theme's other folders
// lack is looked for there.
TEST_F(HungFoldersEndToEnd, AThemesSizeFolderThatNeverAnswersHoldsUpNeitherNotificationsNorTheQuit) {
    userHicolor();
    ASSERT_TRUE(QFile::link(mount->hungFolder(), home.filePath(QStringLiteral(".local/share/icons/hicolor/48x48"))));
    expectNotificationsAndQuit(QStringLiteral("no-such-icon"));
}

}  // namespace
