// The desktop recorder on every road a Linux desktop carries notifications by, on a private
// session bus with python3-dbusmock stand-ins for the notification daemon, org.gtk.Notifications
// and the desktop portal, and GLib's own GNotification as the sender; then the sender's icon
// through the store to the detector's signal.

#include "platform/notification_store/desktop_notification_recorder.h"

#include "core/app_icon_helper.h"
#include "core/image_helper.h"
#include "detection/notification_record_decoder.h"
#include "detection/property_list.h"
#include "platform/files/child_file_read.h"
#include "platform/notification_store/arriving_notifications.h"
#include "support/service_fixtures.h"
#include "support/stuck_fuse_mount.h"
#include "icon_fixtures.h"
#include "test_database_fixture.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QProcess>

#include <sqlite3.h>
#include <sys/stat.h>

#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace {

template <class F>
bool spinUntil(F done, int timeoutMs = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

struct StoredRecord {
    QString identifier;
    QString title;
    QString body;
    NotificationRecordDecoder::SenderIcon icon;
};

std::vector<StoredRecord> storedRecords(const QString& path) {
    std::vector<StoredRecord> out;
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "SELECT a.identifier, r.data FROM record r JOIN app a ON a.app_id = r.app_id ORDER BY r.rec_id",
                       -1, &s, nullptr);
    while (s && sqlite3_step(s) == SQLITE_ROW) {
        StoredRecord record;
        record.identifier = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
        const auto root = PropertyList::parse(
            QByteArray(static_cast<const char*>(sqlite3_column_blob(s, 1)), sqlite3_column_bytes(s, 1)));
        if (root && root->dictionaryValue("req")) {
            record.title = root->dictionaryValue("req")->textValue("titl").value_or(QString());
            record.body = root->dictionaryValue("req")->textValue("body").value_or(QString());
            record.icon = NotificationRecordDecoder::senderIcon(*root);
        }
        out.push_back(record);
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return out;
}

// A GApplication that sends one GNotification (title, body, themed icon, a button) and withdraws
// another once the test writes a line to it.
const char* const kGioSender = R"(
import sys
from gi.repository import Gio, GLib
app = Gio.Application(application_id=sys.argv[1], flags=Gio.ApplicationFlags.NON_UNIQUE)
app.register(None)
print('ready', flush=True)
sys.stdin.readline()
n = Gio.Notification.new(sys.argv[2])
n.set_body(sys.argv[3])
n.set_icon(Gio.ThemedIcon.new('mail-unread'))
n.add_button('Reply', 'app.reply')
app.send_notification('msg-1', n)
app.withdraw_notification('msg-0')
app.get_dbus_connection().flush_sync(None)
sys.stdin.readline()
)";

class NotificationRoadsTest : public DatabaseDetectorTest {
protected:
    static void SetUpTestSuite() {
        shared = testsupport::NotificationBus::start();
        bus = shared->bus.get();
        daemon = shared->daemon.get();
    }
    static void TearDownTestSuite() { shared.reset(); }
    void SetUp() override {
        if (!shared->started()) QUILLVEX_SERVICE_MISSING(shared->error.toStdString());
        previousRoot = AppIconHelper::setRoot(noApplications.path());  // no installed application's icon is found
    }
    void TearDown() override {
        recorder.reset();
        AppIconHelper::setRoot(previousRoot);
    }

    void startRecorder() {
        platform::DesktopNotificationRecorder::Options options;
        options.storePath = storePath();
        options.busAddress = bus->address();
        options.procRoot = proc.path();
        recorder = std::make_unique<platform::DesktopNotificationRecorder>(options);
        recorder->setRecordObserver([this](std::optional<int64_t>) {
            std::lock_guard lock(mutex);
            ++recorded;
            recordedAt.push_back(std::chrono::steady_clock::now());
        });
        std::optional<platform::DesktopNotificationRecorder::Status> status;
        recorder->start([&](const auto& s) { status = s; });
        ASSERT_TRUE(spinUntil([&] { return status.has_value(); }));
        ASSERT_TRUE(status->recording) << status->reason.toStdString();
    }
    bool waitForRecords(int count) {
        return spinUntil([&] {
            std::lock_guard lock(mutex);
            return recorded >= count;
        });
    }

    // Runs the GLib sender as application `appId` until `records` notifications are recorded; `flatpakId`
    // set, its process looks sandboxed. The sender stays until then, as the recorder asks the bus
    // which process sent a call after the fact.
    void sendWithGio(int records, const QString& appId, const QString& title, const QString& body,
                     const QProcessEnvironment& extra = {}, const QString& flatpakId = {}) {
        QProcess python;
        testsupport::dieWithTest(python);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus->address());
        env.insert(extra);
        python.setProcessEnvironment(env);
        python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromUtf8(kGioSender), appId, title, body});
        ASSERT_TRUE(python.waitForReadyRead(10000)) << python.readAllStandardError().toStdString();
        if (!flatpakId.isEmpty()) {
            const QString info = proc.filePath(QString::number(python.processId()) + QStringLiteral("/root"));
            QDir().mkpath(info);
            QFile file(info + QStringLiteral("/.flatpak-info"));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("[Application]\nname=" + flatpakId.toUtf8() + "\n");
        }
        python.write("go\n");
        EXPECT_TRUE(waitForRecords(records));
        python.closeWriteChannel();
        ASSERT_TRUE(python.waitForFinished(10000));
        ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    }

    // A call of the road's own shape from a connection of this process.
    static QDBusMessage notifyCall(const QString& app, const QString& summary, const QString& body,
                                   const QString& appIcon = {}, const QVariantMap& hints = {}) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
        call << app << 0u << appIcon << summary << body << QStringList() << hints << -1;
        return call;
    }
    static QDBusMessage portalCall(const QString& title, const QString& body) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.portal.Notification"), QStringLiteral("AddNotification"));
        call << QStringLiteral("n1") << QVariantMap{{QStringLiteral("title"), title}, {QStringLiteral("body"), body}};
        return call;
    }
    // `name` on the bus, answering the adding and removing calls of `interface`.
    std::unique_ptr<testsupport::DBusMock> standIn(const QString& name, const QString& path, const QString& interface,
                                                   const QString& addSignature, const QString& removeSignature) {
        QString error;
        auto mock = testsupport::DBusMock::startPlain(*bus, name, path, interface, &error);
        EXPECT_TRUE(mock) << error.toStdString();
        if (!mock) return nullptr;
        EXPECT_TRUE(mock->addMethod(interface, QStringLiteral("AddNotification"), addSignature, {}, {}));
        EXPECT_TRUE(mock->addMethod(interface, QStringLiteral("RemoveNotification"), removeSignature, {}, {}));
        return mock;
    }

    static inline std::unique_ptr<testsupport::NotificationBus> shared;
    static inline testsupport::PrivateBus* bus = nullptr;
    static inline testsupport::DBusMock* daemon = nullptr;
    QTemporaryDir proc;
    QTemporaryDir noApplications;
    QString previousRoot;
    std::unique_ptr<platform::DesktopNotificationRecorder> recorder;
    std::mutex mutex;
    int recorded = 0;
    std::vector<std::chrono::steady_clock::time_point> recordedAt;
};

}  // namespace

TEST_F(NotificationRoadsTest, EachRoadGivesOneRecordWithItsApplicationTextsAndIcon) {
    startRecorder();
    const QString title = QStringLiteral("Hello \"Title\"");
    const QString body = QStringLiteral("Body line 1\nline 2 <b>x</b>");

    // Nobody owns org.gtk.Notifications: GLib falls back to Notify with a desktop-entry hint.
    sendWithGio(1, QStringLiteral("org.example.Mail"), title, body);
    // The desktop owns org.gtk.Notifications: GLib sends there and nothing reaches Notify.
    auto gtk = standIn(QStringLiteral("org.gtk.Notifications"), QStringLiteral("/org/gtk/Notifications"),
                       QStringLiteral("org.gtk.Notifications"), QStringLiteral("ssa{sv}"), QStringLiteral("ss"));
    ASSERT_TRUE(gtk);
    sendWithGio(2, QStringLiteral("org.example.Chat"), title, body);
    ASSERT_TRUE(gtk->calledMethods().contains(QStringLiteral("AddNotification")));
    // A sandboxed application goes through the portal, which names no application.
    auto portal = standIn(QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
                          QStringLiteral("org.freedesktop.portal.Notification"), QStringLiteral("sa{sv}"),
                          QStringLiteral("s"));
    ASSERT_TRUE(portal);
    ASSERT_TRUE(portal->addProperties(QStringLiteral("org.freedesktop.portal.Notification"),
                                      {{QStringLiteral("version"), 1u}}));
    QProcessEnvironment usePortal;
    usePortal.insert(QStringLiteral("GTK_USE_PORTAL"), QStringLiteral("1"));
    sendWithGio(3, QStringLiteral("org.example.Ignored"), title, body, usePortal, QStringLiteral("org.example.Sandboxed"));
    EXPECT_TRUE(portal->calledMethods().contains(QStringLiteral("RemoveNotification")));

    // The withdrawals recorded nothing and removed nothing: after a last call, four records.
    QDBusConnection own = QDBusConnection::connectToBus(bus->address(), QStringLiteral("roads-own"));
    ASSERT_EQ(own.call(notifyCall(QStringLiteral("Last"), QStringLiteral("last"), {}), QDBus::Block, 5000).type(),
              QDBusMessage::ReplyMessage);
    ASSERT_TRUE(waitForRecords(4));
    QDBusConnection::disconnectFromBus(QStringLiteral("roads-own"));
    const auto records = storedRecords(storePath());
    ASSERT_EQ(records.size(), 4u);
    const char* const apps[] = {"org.example.Mail", "org.example.Chat", "org.example.Sandboxed"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(records[i].identifier, apps[i]) << i;
        EXPECT_EQ(records[i].title, title) << i;
        EXPECT_EQ(records[i].body, body) << i;
        EXPECT_EQ(records[i].icon.themedName, "mail-unread") << i;
        EXPECT_FALSE(records[i].icon.png) << i;
    }
    EXPECT_EQ(records[3].identifier, "Last");
    EXPECT_FALSE(records[3].icon.themedName);
}

// Only the portal's backend passes a portal notification on; another application that sends the
// same texts at the same moment ("Build finished" from two builders) keeps its own record.
TEST_F(NotificationRoadsTest, APortalNotificationPassedOnByItsBackendIsRecordedOnceAndOthersAreKept) {
    startRecorder();
    auto portal = standIn(QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
                          QStringLiteral("org.freedesktop.portal.Notification"), QStringLiteral("sa{sv}"),
                          QStringLiteral("s"));
    ASSERT_TRUE(portal);
    // The application, the portal's backend and an unrelated application each have a connection.
    QDBusConnection application = QDBusConnection::connectToBus(bus->address(), QStringLiteral("roads-application"));
    QDBusConnection backend = QDBusConnection::connectToBus(bus->address(), QStringLiteral("roads-backend"));
    QDBusConnection other = QDBusConnection::connectToBus(bus->address(), QStringLiteral("roads-other"));
    ASSERT_TRUE(application.isConnected() && backend.isConnected() && other.isConnected());
    ASSERT_TRUE(backend.registerService(QStringLiteral("org.freedesktop.impl.portal.desktop.test")));
    const QString applicationName = application.baseService();
    auto send = [](QDBusConnection& connection, const QDBusMessage& call) {
        return connection.call(call, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
    };

    ASSERT_TRUE(send(application, portalCall("Build done", "All green")));
    ASSERT_TRUE(send(other, notifyCall("OtherIDE", "Build done", "All green")));
    // Another title with the same body, while the copy is still to come, is another notification.
    ASSERT_TRUE(send(backend, notifyCall("Builder", "Deploy done", "All green")));
    ASSERT_TRUE(send(backend, notifyCall("", "Build done", "All green", "mail-unread")));
    // The same title with another body is another notification.
    ASSERT_TRUE(send(backend, notifyCall("Builder", "Build done", "Other")));
    ASSERT_TRUE(send(other, notifyCall("OtherIDE", "Build done", "All green")));
    ASSERT_TRUE(waitForRecords(5));
    for (const char* name : {"roads-application", "roads-backend", "roads-other"})
        QDBusConnection::disconnectFromBus(QString::fromLatin1(name));

    const auto records = storedRecords(storePath());
    ASSERT_EQ(records.size(), 5u);
    // No process files to read: the sender's bus name stands for the application.
    EXPECT_EQ(records[0].identifier, applicationName);
    EXPECT_EQ(records[0].body, "All green");
    EXPECT_EQ(records[1].identifier, "OtherIDE");
    EXPECT_EQ(records[1].body, "All green");
    EXPECT_EQ(records[2].identifier, "Builder");
    EXPECT_EQ(records[2].title, "Deploy done");
    EXPECT_EQ(records[3].identifier, "Builder");
    EXPECT_EQ(records[3].body, "Other");
    EXPECT_EQ(records[4].identifier, "OtherIDE");
}

// An icon on a file system whose reads never return (a hung sshfs or NFS server) costs only that
// icon: the notification and every later one are recorded, and the recorder stops at once even
// while such a read waits, so the application can quit.
TEST_F(NotificationRoadsTest, AnIconFileThatNeverFinishesReadingHoldsUpNeitherLaterNotificationsNorTheStop) {
    std::unique_ptr<testsupport::StuckFuseMount> mount;
    QUILLVEX_MOUNT_STUCK_FUSE(mount);
    startRecorder();
    QDBusConnection own = QDBusConnection::connectToBus(bus->address(), QStringLiteral("roads-stuck"));
    auto send = [&](const QDBusMessage& call) {
        return own.call(call, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
    };
    auto stuck = [&](const QString& name) { return QVariantMap{{QStringLiteral("image-path"), mount->stuckFile(name)}}; };

    ASSERT_TRUE(send(notifyCall("Stuck", "First", "icon on a hung mount", "mail-unread", stuck("first.png"))));
    ASSERT_TRUE(mount->waitForRead());
    ASSERT_TRUE(send(notifyCall("Later", "Second", "no icon")));
    ASSERT_TRUE(waitForRecords(2));

    // Stopping while a read waits. Should the stop wait on it, ending the server lets it go, so
    // that the failure is told rather than the suite hanging.
    ASSERT_TRUE(send(notifyCall("Stuck", "Third", "stopped while reading", {}, stuck("third.png"))));
    ASSERT_TRUE(mount->waitForRead());
    std::mutex watch;
    std::condition_variable stoppedSignal;
    bool stopped = false;
    bool serverEnded = false;
    std::thread watchdog([&, pid = mount->serverPid()] {
        std::unique_lock lock(watch);
        if (!stoppedSignal.wait_for(lock, 10s, [&] { return stopped; })) {
            serverEnded = true;
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        }
    });
    recorder.reset();
    {
        std::lock_guard lock(watch);
        stopped = true;
    }
    stoppedSignal.notify_all();
    watchdog.join();
    EXPECT_FALSE(serverEnded) << "the stop waited on the read";
    QDBusConnection::disconnectFromBus(QStringLiteral("roads-stuck"));

    // Nothing lost; the icon name that came second was kept where the file gave nothing.
    const auto records = storedRecords(storePath());
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].identifier, "Stuck");
    EXPECT_EQ(records[0].body, "icon on a hung mount");
    EXPECT_EQ(records[0].icon.themedName, "mail-unread");
    EXPECT_FALSE(records[0].icon.png);
    EXPECT_EQ(records[1].identifier, "Later");
    EXPECT_EQ(records[2].title, "Third");
    EXPECT_FALSE(records[2].icon.png);

    // The readers left behind end with the server: no process stays stuck.
    mount->stop();
    EXPECT_TRUE(spinUntil([] { return platform::childFileReadsLeftBehind() == 0; }));
}

// Pictures on a hung mount are read side by side, each for a second from its own notification's
// arrival: five of them take a second together, not five. Five more hold up a plain notification
// after them only briefly: they go in at once with it, without their pictures, in the order they
// came. The processes stuck in such reads never outnumber the bound.
TEST_F(NotificationRoadsTest, PicturesThatNeverComeHoldUpNoOtherNotificationAndTheirReadersStayBounded) {
    using Clock = std::chrono::steady_clock;
    const auto pictureWait = std::chrono::milliseconds(platform::ArrivingNotifications::kPictureWait);
    std::unique_ptr<testsupport::StuckFuseMount> mount;
    QUILLVEX_MOUNT_STUCK_FUSE(mount);
    startRecorder();
    QDBusConnection own = QDBusConnection::connectToBus(bus->address(), QStringLiteral("roads-five"));
    auto send = [&](const QString& title, const QVariantMap& hints) {
        return own.call(notifyCall("Stuck", title, {}, "mail-unread", hints), QDBus::Block, 5000).type() ==
               QDBusMessage::ReplyMessage;
    };
    auto sendStuck = [&](int i) {
        return send(QStringLiteral("Stuck %1").arg(i),
                    {{QStringLiteral("image-path"), mount->stuckFile(QStringLiteral("%1.png").arg(i))}});
    };
    auto recordedSince = [&](int index, Clock::time_point since) {
        std::lock_guard lock(mutex);
        return recordedAt[index] - since;
    };

    for (int i = 0; i < 5; ++i) ASSERT_TRUE(sendStuck(i));
    const auto fifthSent = Clock::now();
    ASSERT_TRUE(waitForRecords(5));
    EXPECT_LT(recordedSince(4, fifthSent), 2 * pictureWait);

    for (int i = 5; i < 10; ++i) ASSERT_TRUE(sendStuck(i));
    const auto plainSent = Clock::now();
    ASSERT_TRUE(send(QStringLiteral("Plain"), {}));
    ASSERT_TRUE(waitForRecords(11));
    EXPECT_LT(recordedSince(10, plainSent), pictureWait / 2);
    // At most three of the five more found a reader's place.
    EXPECT_LE(platform::childFileReadsLeftBehind(), platform::kMaxChildFileReads);

    const auto records = storedRecords(storePath());
    ASSERT_EQ(records.size(), 11u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(records[i].title, QStringLiteral("Stuck %1").arg(i));
        EXPECT_EQ(records[i].icon.themedName, "mail-unread") << i;
        EXPECT_FALSE(records[i].icon.png) << i;
    }
    EXPECT_EQ(records[10].title, "Plain");
    QDBusConnection::disconnectFromBus(QStringLiteral("roads-five"));
    recorder.reset();
    mount->stop();
    EXPECT_TRUE(spinUntil([] { return platform::childFileReadsLeftBehind() == 0; }));
}

// A picture named through a symbolic link (a linked folder, a link to the file) is read by a
// child process on a thread of its own, and kept as any other.
TEST_F(NotificationRoadsTest, APictureNamedThroughALinkIsKept) {
    startRecorder();
    ASSERT_TRUE(QDir().mkpath(proc.filePath("pictures")));
    const QString picture = proc.filePath("pictures/picture.png");
    QFile file(picture);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(icontest::encoded(icontest::solid(32, 32, QColor(20, 60, 200))));
    file.close();
    ASSERT_TRUE(QFile::link(proc.filePath("pictures"), proc.filePath("linked")));
    ASSERT_TRUE(QFile::link(picture, proc.filePath("link.png")));

    QDBusConnection own = QDBusConnection::connectToBus(bus->address(), QStringLiteral("roads-links"));
    const QString named[] = {proc.filePath("linked/picture.png"), proc.filePath("link.png")};
    for (const QString& path : named) {
        ASSERT_EQ(own.call(notifyCall("Linked", "Look", path, {}, {{QStringLiteral("image-path"), path}}),
                           QDBus::Block, 5000)
                      .type(),
                  QDBusMessage::ReplyMessage);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("roads-links"));
    ASSERT_TRUE(waitForRecords(2));

    const auto records = storedRecords(storePath());
    ASSERT_EQ(records.size(), 2u);
    for (const auto& record : records) {
        ASSERT_TRUE(record.icon.png) << record.body.toStdString();
        const auto kept = ImageHelper::image(*record.icon.png);
        ASSERT_TRUE(kept);
        EXPECT_EQ(kept->pixelColor(16, 16), QColor(20, 60, 200)) << record.body.toStdString();
    }
}

// notify-send -i <picture> from an application without a desktop entry: the picture reaches the
// signal (and so the overlay) in place of the bell. Hostile icons cost only the icon.
TEST_F(NotificationRoadsTest, ASendersPictureReachesTheSignalAndHostileIconsGiveNone) {
    startRecorder();
    auto detector = startedDetector();
    auto exported = bus->exportAddress();

    const QString picture = proc.filePath("picture.png");
    QFile file(picture);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(icontest::encoded(icontest::solid(200, 200, QColor(20, 60, 200))));
    file.close();
    const QString fifo = proc.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QFile huge(proc.filePath("huge.png"));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    huge.write(icontest::claimedHugePng(30000));
    huge.close();

    int sent = 0;
    for (const QString& icon : {picture, fifo, QStringLiteral("/dev/zero"), huge.fileName()}) {
        ASSERT_EQ(testsupport::runTool(QStringLiteral("notify-send"),
                                       {QStringLiteral("-a"), QStringLiteral("Picture Tool"), QStringLiteral("-i"), icon,
                                        QStringLiteral("Look"), icon}),
                  0);
        ++sent;
    }
    // image-data whose size is true, and image-data that claims far more than it holds.
    auto pixels = [](int width, int height, const QByteArray& data) {
        QDBusArgument argument;
        argument.beginStructure();
        argument << width << height << width * 4 << true << 8 << 4 << data;
        argument.endStructure();
        return QVariantMap{{QStringLiteral("image-data"), QVariant::fromValue(argument)}};
    };
    QDBusConnection own = QDBusConnection::connectToBus(bus->address(), QStringLiteral("roads-pixels"));
    QByteArray green;
    for (int i = 0; i < 16 * 16; ++i) green += QByteArray("\x14\xc8\x28\xff", 4);
    for (const auto& hints : {pixels(16, 16, green), pixels(30000, 30000, green)}) {
        ASSERT_EQ(own.call(notifyCall("Picture Tool", "Look", "pixels", {}, hints), QDBus::Block, 5000).type(),
                  QDBusMessage::ReplyMessage);
        ++sent;
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("roads-pixels"));
    ASSERT_TRUE(waitForRecords(sent));
    watcher.fire(walPath());
    ASSERT_TRUE(spinUntil([&] { return int(received.size()) == sent; }));

    ASSERT_TRUE(received[0].appIconData);
    const auto shown = ImageHelper::image(*received[0].appIconData);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->size(), QSize(128, 128));
    EXPECT_EQ(shown->pixelColor(64, 64), QColor(20, 60, 200));
    for (int i : {1, 2, 3, 5}) EXPECT_FALSE(received[i].appIconData) << i;
    ASSERT_TRUE(received[4].appIconData);
    EXPECT_EQ(ImageHelper::image(*received[4].appIconData)->pixelColor(8, 8), QColor(20, 200, 40));
    EXPECT_EQ(received[0].sourceHint, "Picture Tool");
}
