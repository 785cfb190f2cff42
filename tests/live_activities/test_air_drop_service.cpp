// The AirDrop service over a real downloads folder: inotify through the directory search, origins
// in extended attributes, time virtual. The distributed notices and received files are posted by
// hand here; the session-bus roads (notices, and files pushed over Bluetooth to obexd) are tested
// against a private bus at the end.

#include "core/event_bus.h"
#include "live_activities/air_drop_service.h"
#include "platform/distributed_notifications/distributed_notification_center.h"
#include "platform/files/directory_watcher.h"
#include "platform/metadata_query/metadata_query.h"
#include "platform/sharing/obex_transfer_watch.h"
#include "platform/sharing/received_files.h"
#include "support/fake_directory_watcher.h"
#include "support/fake_distributed_notifications.h"
#include "support/fake_received_files.h"
#include "support/fake_user_folders.h"
#include "live_activities/live_test_helpers.h"
#include "support/fixtures.h"
#include "support/service_fixtures.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

const char* kOrigin = "user.xdg.origin.url";

bool setOrigin(const QString& path, const QByteArray& url, const char* attribute = kOrigin) {
    return ::setxattr(QFile::encodeName(path).constData(), attribute, url.constData(), static_cast<size_t>(url.size()), 0) == 0;
}

class AirDropServiceTest : public ::testing::Test {
protected:
    AirDropServiceTest() {
        downloads = QDir(root.path()).canonicalPath() + "/Downloads";
        QDir().mkpath(downloads);
        folders.home = root.path();
        folders.downloads = downloads;
        subscription = bus.liveActivityEventSubject.sink([this](const std::optional<LiveActivityType>& type) {
            if (type == LiveActivityType::airdrop) ++events;
        });
    }

    static void pumpEvents() {
        for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    }
    void settle() {
        pumpEvents();
        scheduler.advance(platform::DirectoryMetadataSearch::updateLatency);
        scheduler.drain();
    }
    void startAndGather() {
        service.start();
        scheduler.drain();
        ASSERT_TRUE(service.initialGatherDone());
    }
    QString in(const QString& name) const { return downloads + "/" + name; }
    // As a browser saves: written and closed, then the origin recorded.
    QString download(const QString& name, const QByteArray& origin) {
        const QString path = in(name);
        EXPECT_TRUE(testsupport::writeFile(path, "data"));
        if (!origin.isEmpty()) {
            EXPECT_TRUE(setOrigin(path, origin));
        }
        return path;
    }

    QTemporaryDir root;
    QString downloads;
    testsupport::LogCapture log;
    // Files carry the real clock's creation times: the search window must be measured on it.
    platform::VirtualScheduler scheduler{std::chrono::system_clock::now()};
    EventBus bus{scheduler};
    platform::InotifyDirectoryWatcher watcher{scheduler};
    platform::DirectoryMetadataSearch search{watcher, &scheduler};
    testsupport::FakeDistributedNotificationCenter notices;
    testsupport::FakeUserFolders folders;
    testsupport::FakeReceivedFiles received;
    AirDropService service{bus, scheduler, search, notices, folders, received};
    int events = 0;
    platform::AnyCancellable subscription;
};

TEST_F(AirDropServiceTest, FilesPresentAtStartAreGatheredWithoutAnActivity) {
    download("old.zip", "https://example.org/old.zip");
    download("photo.jpg", "airdrop://someone");
    QDir().mkpath(in("folder"));
    service.start();
    EXPECT_EQ(log.texts(), QStringList{"AirDropService: Started"});
    EXPECT_FALSE(service.initialGatherDone());
    scheduler.drain();
    EXPECT_TRUE(service.initialGatherDone());
    EXPECT_TRUE(log.contains("AirDropService: Initial scan found 3 files"));
    EXPECT_EQ(service.knownItems(), (QSet<QString>{in("old.zip"), in("photo.jpg"), in("folder")}));
    settle();
    EXPECT_EQ(events, 0);
}

TEST_F(AirDropServiceTest, ANewFileFromAirDropGivesOneEventAndAWebDownloadNever) {
    startAndGather();
    const QString received = download("received.jpg", "AirDrop:///from/Someone's phone");
    const QString web = download("page.pdf", "https://example.org/x.pdf");
    ASSERT_TRUE(setOrigin(web, "https://example.org/", "user.xdg.referrer.url"));
    const QString referred = download("shared.png", "https://example.org/shared.png");
    ASSERT_TRUE(setOrigin(referred, "x-AirDrop://peer", "user.xdg.referrer.url"));
    pumpEvents();
    scheduler.advance(0.49);
    scheduler.drain();
    EXPECT_EQ(events, 0);
    scheduler.advance(0.01);
    EXPECT_EQ(log.count("AirDropService: AirDrop file received: " + received), 1);
    EXPECT_EQ(log.count("AirDropService: AirDrop file received: " + referred), 1);  // any origin of the two
    EXPECT_EQ(log.matching("AirDropService: AirDrop file received: ").size(), 2);
    EXPECT_TRUE(service.knownItems().contains(web));
    EXPECT_EQ(events, 2);

    const QString https = download("report.pdf", "https://example.org/report.pdf");
    settle();
    EXPECT_EQ(events, 2);
    EXPECT_TRUE(service.knownItems().contains(https));
    // Looked at once: a later change of its origin does not bring it back.
    ASSERT_TRUE(setOrigin(https, "airdrop://late"));
    ASSERT_TRUE(testsupport::writeFile(https, "more"));
    settle();
    EXPECT_EQ(events, 2);

    // No origin at all: remembered, no event.
    download("plain.txt", {});
    settle();
    EXPECT_EQ(events, 2);
    EXPECT_TRUE(service.knownItems().contains(in("plain.txt")));
}

TEST_F(AirDropServiceTest, AFileIsExaminedOnlyOnceWrittenAndClosedSoItsLateOriginCounts) {
    startAndGather();
    const QString path = in("received.mov");
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "part", 4), 4);
    settle();  // created and written, still open
    EXPECT_FALSE(service.knownItems().contains(path));
    ASSERT_TRUE(setOrigin(path, "airdrop://someone"));
    ::close(fd);
    settle();
    EXPECT_EQ(events, 1);

    // Written elsewhere and moved in complete.
    ASSERT_TRUE(testsupport::writeFile(root.path() + "/partial", "x"));
    ASSERT_TRUE(setOrigin(root.path() + "/partial", "AIRDROP"));
    ASSERT_TRUE(QFile::rename(root.path() + "/partial", in("moved.png")));
    settle();
    EXPECT_EQ(events, 2);
}

TEST_F(AirDropServiceTest, NoticesThatSpeakOfACompletedAirDropGiveOneEventEach) {
    startAndGather();
    EXPECT_EQ(notices.observerCount(), 1);
    notices.post("com.example.sharing.AirDropTransferCOMPLETED");
    notices.post("com.example.sharing.AirDropStarted");
    notices.post("com.example.TransferComplete");
    EXPECT_EQ(events, 0);
    scheduler.drain();
    EXPECT_EQ(events, 1);
    EXPECT_EQ(log.matching("AirDropService: AirDrop notification detected: "),
              QStringList{"AirDropService: AirDrop notification detected: com.example.sharing.AirDropTransferCOMPLETED"});

    // The notice and the file of the same transfer are two requests.
    download("photo.heic", "airdrop://x");
    notices.post("airdrop.complete");
    settle();
    EXPECT_EQ(events, 3);
}

TEST_F(AirDropServiceTest, EachFileANearbyDeviceSentGivesOneEvent) {
    startAndGather();
    EXPECT_EQ(received.observerCount(), 1);
    received.receive(in("IMG_0001.jpg"));
    received.receive(in("notes.txt"));
    EXPECT_EQ(events, 0);  // sent from the main queue
    scheduler.drain();
    EXPECT_EQ(events, 2);
    EXPECT_EQ(log.matching("AirDropService: AirDrop file received: "),
              (QStringList{"AirDropService: AirDrop file received: " + in("IMG_0001.jpg"),
                           "AirDropService: AirDrop file received: " + in("notes.txt")}));
}

TEST_F(AirDropServiceTest, StopForgetsEverythingAndARestartGathersAfresh) {
    startAndGather();
    service.stop();
    service.stop();
    EXPECT_EQ(log.count("AirDropService: Stopped"), 2);
    EXPECT_FALSE(service.isRunning());
    EXPECT_FALSE(service.initialGatherDone());
    EXPECT_EQ(notices.observerCount(), 0);
    EXPECT_EQ(received.observerCount(), 0);
    received.receive(in("while-stopped.txt"));
    notices.post("airdrop.complete");
    download("while-stopped.jpg", "airdrop://x");
    settle();
    EXPECT_EQ(events, 0);

    log.clear();
    service.start();
    service.start();
    EXPECT_EQ(log.count("AirDropService: Started"), 1);
    scheduler.drain();
    EXPECT_TRUE(log.contains("AirDropService: Initial scan found 1 files"));
    settle();
    EXPECT_EQ(events, 0);
}

// A query whose results the test sets.
class ListQuery final : public platform::MetadataQuery {
public:
    void stop() override {}
    void disableUpdates() override { ++disables; }
    void enableUpdates() override { ++enables; }
    int resultCount() const override { return static_cast<int>(items.size()); }
    const platform::MetadataItem& resultAt(int index) const override { return items.at(static_cast<size_t>(index)); }
    std::vector<platform::MetadataItem> items;
    int disables = 0;
    int enables = 0;
};

TEST_F(AirDropServiceTest, UpdatesBeforeTheGatheringAreIgnoredAndItsItemsRecordedByIt) {
    service.start();
    ListQuery query;
    query.items = {{"/d/a.jpg", QStringList{"airdrop://x"}, {}}};
    service.queryDidUpdate(query);
    EXPECT_EQ(query.disables, 0);
    EXPECT_TRUE(service.knownItems().isEmpty());
    service.queryDidFinishGathering(query);
    EXPECT_EQ(query.enables, 1);
    query.items.push_back({"/d/b.jpg", QStringList{"http://x", "x-AirDrop-y"}, {}});
    query.items.push_back({"/d/c.jpg", QStringList{}, {}});
    service.queryDidUpdate(query);
    EXPECT_EQ(query.disables, 2);
    EXPECT_EQ(query.enables, 2);
    scheduler.drain();
    EXPECT_EQ(events, 1);
    EXPECT_EQ(service.knownItems().size(), 3);
}

TEST_F(AirDropServiceTest, OnlyFilesCreatedWithinTheDayBeforeTheStartAreSearched) {
    download("recent.zip", "https://example.org/");
    // Started two days after these files were made: the search no longer finds them.
    platform::VirtualScheduler later{std::chrono::system_clock::now() + std::chrono::hours(48)};
    platform::DirectoryMetadataSearch laterSearch{watcher, &later};
    AirDropService laterService{bus, later, laterSearch, notices, folders, received};
    laterService.start();
    later.drain();
    EXPECT_TRUE(log.contains("AirDropService: Initial scan found 0 files"));
    laterService.stop();
}

TEST_F(AirDropServiceTest, AMissingDownloadsFolderFindsNothingAndSaysOnlyThat) {
    folders.downloads = root.path() + "/NoSuchFolder";
    startAndGather();
    EXPECT_EQ(log.texts(), (QStringList{"AirDropService: Started", "AirDropService: Initial scan found 0 files"}));
}

// --- the session bus -----------------------------------------------------------------------------

class BusNoticesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { bus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error).release(); }
    static void TearDownTestSuite() {
        QDBusConnection::disconnectFromBus(QStringLiteral("air-drop-notice-sender"));
        delete bus;
        bus = nullptr;
    }

    void SetUp() override {
        if (!bus) QUILLVEX_SERVICE_MISSING(error.toStdString());
    }

    static void emitSignal(const QString& interface, const QString& member) {
        QDBusConnection sender = QDBusConnection::connectToBus(bus->address(), QStringLiteral("air-drop-notice-sender"));
        ASSERT_TRUE(sender.isConnected());
        ASSERT_TRUE(sender.send(QDBusMessage::createSignal(QStringLiteral("/org/example/Sharing"), interface, member)));
    }


    static inline testsupport::PrivateBus* bus = nullptr;
    static inline QString error;
    platform::VirtualScheduler scheduler;
};

// Every signal on the bus is a notice named by interface and member; the service takes a completed
// transfer from among them.
TEST_F(BusNoticesTest, TheServiceTakesACompletedAirDropFromTheBusNotices) {
    testsupport::LogCapture log;
    EventBus events{scheduler};
    int airdrops = 0;
    auto subscription = events.liveActivityEventSubject.sink([&](const std::optional<LiveActivityType>& type) {
        if (type == LiveActivityType::airdrop) ++airdrops;
    });
    QTemporaryDir root;
    testsupport::FakeUserFolders folders;
    folders.downloads = root.path();
    testsupport::FakeDirectoryWatcher watcher;
    platform::DirectoryMetadataSearch search{watcher, &scheduler};
    platform::BusSignalNotificationCenter center({QStringLiteral("com.example.Sharing.Started"),
                                                  QStringLiteral("com.example.AirDrop.TransferComplete")},
                                                 bus->address(), &scheduler);
    QStringList names;
    auto observation = center.observeAll([&](const QString& name) { names << name; });
    ASSERT_TRUE(observation.isActive());
    testsupport::FakeReceivedFiles received;
    AirDropService service{events, scheduler, search, center, folders, received};
    service.start();
    emitSignal(QStringLiteral("com.example.Sharing"), QStringLiteral("Started"));
    emitSignal(QStringLiteral("com.example.AirDrop"), QStringLiteral("TransferComplete"));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler, [&] { return airdrops > 0 && names.contains("com.example.AirDrop.TransferComplete"); }));
    EXPECT_TRUE(names.contains("com.example.Sharing.Started"));
    EXPECT_EQ(airdrops, 1);
    EXPECT_TRUE(log.contains("AirDropService: AirDrop notification detected: com.example.AirDrop.TransferComplete"));

    observation.cancel();
    service.stop();
    names.clear();
    emitSignal(QStringLiteral("com.example.AirDrop"), QStringLiteral("TransferComplete"));
    testsupport::pumpUntil(scheduler, [] { return false; }, 200);
    EXPECT_TRUE(names.isEmpty());
    EXPECT_EQ(airdrops, 1);

    platform::BusSignalNotificationCenter noBus({QStringLiteral("com.example.AirDrop.TransferComplete")},
                                                QStringLiteral("unix:path=/nonexistent/bus"), &scheduler);
    EXPECT_FALSE(noBus.observeAll([](const QString&) {}).isActive());
}

// A signal is a notice only under a name the center was given: the bus is asked for those alone,
// and no name at all asks it for nothing.
TEST_F(BusNoticesTest, OnlyTheNamedNoticesAreAskedOfTheBus) {
    platform::BusSignalNotificationCenter center({QStringLiteral("com.example.AirDrop.TransferComplete")}, bus->address(),
                                                 &scheduler);
    QStringList names;
    auto observation = center.observeAll([&](const QString& name) { names << name; });
    ASSERT_TRUE(observation.isActive());
    emitSignal(QStringLiteral("com.example.AirDrop"), QStringLiteral("Started"));
    emitSignal(QStringLiteral("com.example.Sharing"), QStringLiteral("TransferComplete"));
    // From the one sender, in order: once this is in, the two before it were passed over.
    emitSignal(QStringLiteral("com.example.AirDrop"), QStringLiteral("TransferComplete"));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler, [&] { return !names.isEmpty(); }));
    EXPECT_EQ(names, QStringList{QStringLiteral("com.example.AirDrop.TransferComplete")});

    platform::BusSignalNotificationCenter nothing({}, bus->address(), &scheduler);
    EXPECT_FALSE(nothing.observeAll([](const QString&) {}).isActive());
}

// --- files pushed over Bluetooth ---------------------------------------------------------------

// obexd on a private session bus (python3-dbusmock with Object Push and a driver for pushes from
// a nearby device); the desktop's agent, which accepts them, is a process of its own.
class ObexPushesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!testsupport::dbusmockAvailable()) return;
        bus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error).release();
        if (!bus) return;
        obexd = testsupport::DBusMock::startTemplate(*bus, QStringLiteral(QUILLVEX_TEST_SUPPORT_DIR "/obex_opp_template.py"),
                                                     QStringLiteral("org.bluez.obex"), QStringLiteral("/"), {}, &error)
                    .release();
    }
    static void TearDownTestSuite() {
        delete obexd;
        delete bus;
        obexd = nullptr;
        bus = nullptr;
    }
    void SetUp() override {
        if (!testsupport::dbusmockAvailable()) QUILLVEX_SERVICE_MISSING("python3-dbusmock is not installed");
        ASSERT_TRUE(obexd) << "obexd's mock did not come up: " << error.toStdString();
    }

    // A nearby device pushes a file; the path of its transfer.
    static QString push(const QString& name, const QString& content) {
        const platform::DBusReply reply =
            obexd->call(QStringLiteral("IncomingPush"), {QStringLiteral("AA:BB:CC:DD:EE:FF"), name, content},
                        QStringLiteral("org.bluez.obex.Mock"), QStringLiteral("/org/bluez/obex"));
        return reply.ok() ? reply.value().value<QDBusObjectPath>().path() : QString();
    }
    static int agentRegistrations() {
        return static_cast<int>(obexd->calledMethods(QStringLiteral("/org/bluez/obex")).count(QStringLiteral("RegisterAgent")));
    }

    static inline testsupport::PrivateBus* bus = nullptr;
    static inline testsupport::DBusMock* obexd = nullptr;
    static inline QString error;
};

// The service on the application's own scheduler (the Qt event loop); the virtual one only paces
// the waits.
TEST_F(ObexPushesTest, APushTheDesktopAcceptedShowsTheActivityOnceAndARefusedOneNothing) {
    testsupport::LogCapture log;
    platform::VirtualScheduler scheduler;
    platform::Scheduler& mainLoop = platform::Scheduler::shared();
    ASSERT_EQ(dynamic_cast<platform::VirtualScheduler*>(&mainLoop), nullptr);
    EventBus events{mainLoop};
    int airdrops = 0;
    auto subscription = events.liveActivityEventSubject.sink([&](const std::optional<LiveActivityType>& type) {
        if (type == LiveActivityType::airdrop) ++airdrops;
    });
    QTemporaryDir root;
    const QString downloads = root.path() + QStringLiteral("/Downloads");
    QDir().mkpath(downloads);
    testsupport::FakeUserFolders folders;
    folders.downloads = downloads;
    testsupport::FakeDirectoryWatcher watcher;
    platform::DirectoryMetadataSearch search{watcher, &mainLoop};
    testsupport::FakeDistributedNotificationCenter notices;
    platform::ObexReceivedFiles received(bus->connection());
    AirDropService service{events, mainLoop, search, notices, folders, received};
    service.start();
    // The test's own view of how transfers end, on the same connection (so after the service's).
    std::vector<platform::ObexTransferWatch::Ending> endings;
    platform::ObexTransferWatch watch(bus->connection(), [&](const auto& ending) { endings.push_back(ending); });

    // Nobody accepts pushes yet: obexd refuses it, the transfer ends in "error".
    const QString refused = push(QStringLiteral("refused.txt"), QStringLiteral("x"));
    ASSERT_TRUE(refused.startsWith(QStringLiteral("/org/bluez/obex/server/")));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler, [&] { return endings.size() == 1; }));
    EXPECT_EQ(endings[0].path, refused);
    EXPECT_FALSE(endings[0].complete);
    EXPECT_EQ(airdrops, 0);
    EXPECT_TRUE(log.matching(QStringLiteral("AirDropService: AirDrop file received: ")).isEmpty());

    // The desktop's agent saves pushes into the downloads folder.
    const auto agentBus = bus->exportAddress();
    auto agent = testsupport::ServiceProcess::start(QStringLiteral("/usr/bin/python3"),
                                                    {QStringLiteral(QUILLVEX_TEST_SUPPORT_DIR "/obex_agent.py"), downloads},
                                                    root.path() + QStringLiteral("/agent.log"), -1, &error);
    ASSERT_TRUE(agent) << error.toStdString();
    ASSERT_TRUE(testsupport::pumpUntil(scheduler, [&] { return agentRegistrations() == 1; }));
    const QString accepted = push(QStringLiteral("IMG_0001.txt"), QStringLiteral("pushed content"));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler, [&] { return airdrops == 1; }));
    const QString saved = downloads + QStringLiteral("/IMG_0001.txt");
    EXPECT_EQ(log.matching(QStringLiteral("AirDropService: AirDrop file received: ")),
              QStringList{QStringLiteral("AirDropService: AirDrop file received: ") + saved});
    QFile file(saved);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("pushed content"));

    // Its object goes a moment after completing: that is no second transfer.
    ASSERT_TRUE(testsupport::pumpUntil(scheduler, [&] { return watch.propertiesOf(accepted).isEmpty() && endings.size() == 2; }));
    EXPECT_TRUE(endings[1].complete);
    testsupport::pumpUntil(scheduler, [] { return false; }, 200);
    EXPECT_EQ(airdrops, 1);
    // Only the desktop's agent ever registered: the service never accepts nor refuses.
    EXPECT_EQ(agentRegistrations(), 1);

    // A file this computer sends is no file received.
    const platform::DBusReply session = bus->connection().call(
        {QStringLiteral("org.bluez.obex"), QStringLiteral("/org/bluez/obex"), QStringLiteral("org.bluez.obex.Client1"),
         QStringLiteral("CreateSession"), {QStringLiteral("AA:BB:CC:DD:EE:FF"), QVariantMap{{QStringLiteral("Target"), QStringLiteral("opp")}}}},
        std::chrono::seconds(5));
    ASSERT_TRUE(session.ok()) << session.errorMessage.toStdString();
    ASSERT_TRUE(bus->connection()
                    .call({QStringLiteral("org.bluez.obex"), session.value().value<QDBusObjectPath>().path(),
                           QStringLiteral("org.bluez.obex.ObjectPush1"), QStringLiteral("SendFile"), {saved}},
                          std::chrono::seconds(5))
                    .ok());
    ASSERT_TRUE(testsupport::pumpUntil(scheduler, [&] { return endings.size() == 3; }));
    EXPECT_TRUE(endings[2].complete);
    testsupport::pumpUntil(scheduler, [] { return false; }, 200);
    EXPECT_EQ(airdrops, 1);

    service.stop();
    push(QStringLiteral("later.txt"), QStringLiteral("y"));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler, [&] { return endings.size() == 4; }));
    testsupport::pumpUntil(scheduler, [] { return false; }, 200);
    EXPECT_EQ(airdrops, 1);
}

// Desktops start obexd on demand: a watch begun before it appears follows its transfers all the same.
TEST_F(ObexPushesTest, AWatchBegunBeforeObexdFollowsItsTransfers) {
    platform::VirtualScheduler scheduler;
    QString problem;
    auto laterBus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &problem);
    ASSERT_TRUE(laterBus) << problem.toStdString();
    std::vector<platform::ObexTransferWatch::Ending> endings;
    platform::ObexTransferWatch watch(laterBus->connection(), [&](const auto& ending) { endings.push_back(ending); });
    auto laterObexd = testsupport::DBusMock::startTemplate(*laterBus, QStringLiteral(QUILLVEX_TEST_SUPPORT_DIR "/obex_opp_template.py"),
                                                           QStringLiteral("org.bluez.obex"), QStringLiteral("/"), {}, &problem);
    ASSERT_TRUE(laterObexd) << problem.toStdString();
    const QString sent = QDir(QDir::tempPath()).filePath(QStringLiteral("quillvex-obex-watch-%1.txt").arg(::getpid()));
    ASSERT_TRUE(testsupport::writeFile(sent, "bytes"));
    const platform::DBusReply session = laterBus->connection().call(
        {QStringLiteral("org.bluez.obex"), QStringLiteral("/org/bluez/obex"), QStringLiteral("org.bluez.obex.Client1"),
         QStringLiteral("CreateSession"), {QStringLiteral("AA:BB:CC:DD:EE:FF"), QVariantMap{{QStringLiteral("Target"), QStringLiteral("opp")}}}},
        std::chrono::seconds(5));
    ASSERT_TRUE(session.ok()) << session.errorMessage.toStdString();
    const platform::DBusReply transfer = laterBus->connection().call(
        {QStringLiteral("org.bluez.obex"), session.value().value<QDBusObjectPath>().path(), QStringLiteral("org.bluez.obex.ObjectPush1"),
         QStringLiteral("SendFile"), {sent}},
        std::chrono::seconds(5));
    ASSERT_TRUE(transfer.ok()) << transfer.errorMessage.toStdString();
    ASSERT_TRUE(testsupport::pumpUntil(scheduler, [&] { return endings.size() == 1; }));
    EXPECT_EQ(endings[0].path, transfer.value().value<QDBusObjectPath>().path());
    EXPECT_TRUE(endings[0].complete);
    EXPECT_EQ(endings[0].properties.value(QStringLiteral("Filename")).toString(), sent);
    EXPECT_FALSE(platform::isIncomingTransfer(endings[0].path));

    // A push nobody accepts ends as failed.
    const QString pushed = laterObexd->call(QStringLiteral("IncomingPush"), {QStringLiteral("AA:BB:CC:DD:EE:FF"), QStringLiteral("x.txt"), QStringLiteral("x")},
                                            QStringLiteral("org.bluez.obex.Mock"), QStringLiteral("/org/bluez/obex"))
                               .value()
                               .value<QDBusObjectPath>()
                               .path();
    ASSERT_TRUE(testsupport::pumpUntil(scheduler, [&] { return endings.size() == 2; }));
    EXPECT_EQ(endings[1].path, pushed);
    EXPECT_FALSE(endings[1].complete);
    QFile::remove(sent);
}

}  // namespace
