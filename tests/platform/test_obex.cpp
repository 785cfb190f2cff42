// How the transfer watch learns obexd's transfers and tells their ends, and how a push follows
// its files, on a scripted bus with virtual time (the real daemon's roads are in the drop and
// live-activity tests).

#include "platform/sharing/obex_object_push.h"
#include "platform/sharing/obex_transfer_watch.h"

#include "support/fake_dbus_connection.h"
#include "support/fixtures.h"

#include <QDBusObjectPath>

using platform::DBusReply;
using platform::DBusSignal;
using platform::ObexTransferWatch;

namespace {

const QString kObexd = QStringLiteral(":1.7");
const QString kTransfer = QStringLiteral("org.bluez.obex.Transfer1");
const QString kIncoming = QStringLiteral("/org/bluez/obex/server/session1/transfer0");
const QString kOutgoing = QStringLiteral("/org/bluez/obex/client/session0/transfer0");

class ObexTransferWatchTest : public testsupport::QuillvexTest {
protected:
    ObexTransferWatchTest() {
        bus.setOwner(QStringLiteral("org.bluez.obex"), kObexd);
        bus.setOwner(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("org.freedesktop.DBus"));
        bus.reply(QStringLiteral("org.freedesktop.DBus.ObjectManager.GetManagedObjects"), {QVariantMap{}});
    }

    void changed(const QString& path, const QVariantMap& properties) {
        bus.emitSignal({kObexd, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"),
                        {kTransfer, properties, QStringList()}});
    }
    void added(const QString& path, const QVariantMap& properties) {
        bus.emitSignal({kObexd, QStringLiteral("/"), QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                        QStringLiteral("InterfacesAdded"),
                        {QVariant::fromValue(QDBusObjectPath(path)), QVariantMap{{kTransfer, properties}}}});
    }
    void removed(const QString& path) {
        bus.emitSignal({kObexd, QStringLiteral("/"), QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                        QStringLiteral("InterfacesRemoved"), {QVariant::fromValue(QDBusObjectPath(path)), QStringList{kTransfer}}});
    }
    void obexdLeaves() {
        bus.emitSignal({QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
                        QStringLiteral("NameOwnerChanged"), {QStringLiteral("org.bluez.obex"), kObexd, QString()}});
    }
    static QVariantMap status(const QString& value) { return {{QStringLiteral("Status"), value}}; }
    int callsOf(const QString& method) const {
        int n = 0;
        for (const auto& call : bus.calls()) n += call.method == method ? 1 : 0;
        return n;
    }

    testsupport::FakeDBusConnection bus;
    std::vector<ObexTransferWatch::Ending> endings;
    ObexTransferWatch::EndHandler record = [this](const ObexTransferWatch::Ending& ending) { endings.push_back(ending); };
};

TEST_F(ObexTransferWatchTest, ATransferLearnedFromItsChangesIsReadWholeAndItsFilenameWhileItIsWritten) {
    bus.onCall(QStringLiteral("org.freedesktop.DBus.Properties.GetAll"), [](const auto&) {
        return DBusReply{DBusReply::Status::ok, {QVariantMap{{QStringLiteral("Name"), QStringLiteral("IMG_0001.jpg")},
                                                             {QStringLiteral("Status"), QStringLiteral("queued")}}}, {}, {}};
    });
    bus.onCall(QStringLiteral("org.freedesktop.DBus.Properties.Get"), [](const platform::DBusCall& call) {
        EXPECT_EQ(call.arguments, (QVariantList{kTransfer, QStringLiteral("Filename")}));
        return DBusReply{DBusReply::Status::ok, {QStringLiteral("/home/u/Downloads/IMG_0001.jpg")}, {}, {}};
    });
    ObexTransferWatch watch(bus, record);
    scheduler().drain();
    changed(kIncoming, status(QStringLiteral("active")));
    scheduler().drain();
    // The newer status stays; the rest comes from the object.
    EXPECT_EQ(watch.propertiesOf(kIncoming).value(QStringLiteral("Status")), QStringLiteral("active"));
    EXPECT_EQ(watch.propertiesOf(kIncoming).value(QStringLiteral("Name")), QStringLiteral("IMG_0001.jpg"));
    EXPECT_EQ(callsOf(QStringLiteral("Get")), 1);
    changed(kIncoming, {{QStringLiteral("Transferred"), 10}});
    changed(kIncoming, status(QStringLiteral("complete")));
    EXPECT_EQ(callsOf(QStringLiteral("Get")), 1);  // asked once
    ASSERT_EQ(endings.size(), 1u);
    EXPECT_TRUE(endings[0].complete);
    EXPECT_EQ(endings[0].properties.value(QStringLiteral("Filename")), QStringLiteral("/home/u/Downloads/IMG_0001.jpg"));
    EXPECT_TRUE(platform::isIncomingTransfer(endings[0].path));
    EXPECT_FALSE(platform::isIncomingTransfer(kOutgoing));

    // Told once: a repeated status and the object's going add nothing.
    changed(kIncoming, status(QStringLiteral("complete")));
    removed(kIncoming);
    EXPECT_EQ(endings.size(), 1u);
    EXPECT_TRUE(watch.propertiesOf(kIncoming).isEmpty());
}

// obexd names the file only once the push is accepted: a transfer first seen queued has no name
// to read yet, and asks for it when its data starts to flow.
TEST_F(ObexTransferWatchTest, ATransferFirstSeenQueuedAsksItsFilenameOnceItIsActive) {
    QString transferStatus = QStringLiteral("queued");
    bus.onCall(QStringLiteral("org.freedesktop.DBus.Properties.Get"), [&](const platform::DBusCall&) {
        const QString name = transferStatus == QLatin1String("active") ? QStringLiteral("/home/u/Downloads/a.txt") : QString();
        return DBusReply{DBusReply::Status::ok, {name}, {}, {}};
    });
    ObexTransferWatch watch(bus, record);
    scheduler().drain();
    added(kIncoming, {{QStringLiteral("Status"), QStringLiteral("queued")}, {QStringLiteral("Name"), QStringLiteral("a.txt")}});
    scheduler().drain();
    EXPECT_EQ(callsOf(QStringLiteral("Get")), 0);

    transferStatus = QStringLiteral("active");
    changed(kIncoming, status(transferStatus));
    scheduler().drain();
    EXPECT_EQ(callsOf(QStringLiteral("Get")), 1);
    changed(kIncoming, status(QStringLiteral("complete")));
    ASSERT_EQ(endings.size(), 1u);
    EXPECT_TRUE(endings[0].complete);
    EXPECT_EQ(endings[0].properties.value(QStringLiteral("Filename")), QStringLiteral("/home/u/Downloads/a.txt"));
}

TEST_F(ObexTransferWatchTest, TransfersThatVanishOrWhoseDaemonLeavesEndAsFailedAndOldOnesAreNeverTold) {
    bus.reply(QStringLiteral("org.freedesktop.DBus.ObjectManager.GetManagedObjects"),
              {QVariantMap{{QStringLiteral("/org/bluez/obex/server/session1/transfer9"), QVariantMap{{kTransfer, status(QStringLiteral("complete"))}}},
                           {kOutgoing, QVariantMap{{kTransfer, status(QStringLiteral("active"))}}}}});
    ObexTransferWatch watch(bus, record);
    scheduler().drain();
    EXPECT_TRUE(endings.empty());

    added(kIncoming, {{QStringLiteral("Status"), QStringLiteral("queued")}, {QStringLiteral("Name"), QStringLiteral("a.txt")}});
    removed(kIncoming);
    ASSERT_EQ(endings.size(), 1u);
    EXPECT_EQ(endings[0].path, kIncoming);
    EXPECT_FALSE(endings[0].complete);
    EXPECT_EQ(endings[0].properties.value(QStringLiteral("Name")), QStringLiteral("a.txt"));

    obexdLeaves();
    ASSERT_EQ(endings.size(), 2u);
    EXPECT_EQ(endings[1].path, kOutgoing);
    EXPECT_FALSE(endings[1].complete);
}

TEST_F(ObexTransferWatchTest, TheHandlerMayEndTheWatch) {
    std::unique_ptr<ObexTransferWatch> watch;
    watch = std::make_unique<ObexTransferWatch>(bus, [&](const ObexTransferWatch::Ending& ending) {
        endings.push_back(ending);
        watch.reset();
    });
    scheduler().drain();
    added(kIncoming, status(QStringLiteral("active")));
    added(kOutgoing, status(QStringLiteral("active")));
    obexdLeaves();  // two would end: the first one's handler ends the watch
    EXPECT_EQ(endings.size(), 1u);
    EXPECT_FALSE(watch);
    EXPECT_EQ(bus.activeSubscriptionCount(), 0);
}

// A push whose transfers end in ways the real daemon rarely shows.
class ObexObjectPushTest : public ObexTransferWatchTest {
protected:
    ObexObjectPushTest() {
        bus.reply(QStringLiteral("org.bluez.obex.Client1.CreateSession"),
                  {QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/bluez/obex/client/session0")))});
        bus.onCall(QStringLiteral("org.bluez.obex.ObjectPush1.SendFile"), [this](const platform::DBusCall&) {
            const QString path = QStringLiteral("/org/bluez/obex/client/session0/transfer%1").arg(sent++);
            return DBusReply{DBusReply::Status::ok, {QVariant::fromValue(QDBusObjectPath(path)), status(QStringLiteral("queued"))}, {}, {}};
        });
        bus.reply(QStringLiteral("org.bluez.obex.Client1.RemoveSession"), {});
    }
    int sent = 0;
    int finished = 0;
};

TEST_F(ObexObjectPushTest, AnEndSeenBeforeItsCallAnsweredCountsAndADaemonThatLeavesFailsTheRest) {
    platform::ObexObjectPush push(bus, QStringLiteral("AA:BB"), {QStringLiteral("/x/a.txt"), QStringLiteral("/x/b.txt"), QStringLiteral("/x/c.txt")},
                                  [this] { ++finished; });
    push.start();
    scheduler().drain();
    ASSERT_EQ(sent, 1);
    // The first file ends before its SendFile's answer is handled.
    changed(QStringLiteral("/org/bluez/obex/client/session0/transfer0"), status(QStringLiteral("complete")));
    scheduler().drain();
    EXPECT_EQ(log.matching(QStringLiteral("ObjectPush: ")), QStringList{QStringLiteral("ObjectPush: Sent a.txt to AA:BB")});
    ASSERT_EQ(sent, 2);

    // The second was never announced; obexd leaves while it runs, and the third cannot start.
    bus.onCall(QStringLiteral("org.bluez.obex.ObjectPush1.SendFile"), [](const platform::DBusCall&) {
        return DBusReply{DBusReply::Status::error, {}, QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"), QStringLiteral("gone")};
    });
    obexdLeaves();
    scheduler().drain();
    EXPECT_EQ(log.matching(QStringLiteral("ObjectPush: ")),
              (QStringList{QStringLiteral("ObjectPush: Sent a.txt to AA:BB"),
                           QStringLiteral("ObjectPush: Could not send b.txt to AA:BB: the transfer failed"),
                           QStringLiteral("ObjectPush: Could not send c.txt to AA:BB: gone")}));
    EXPECT_EQ(callsOf(QStringLiteral("RemoveSession")), 1);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(bus.activeSubscriptionCount(), 0);
}

TEST_F(ObexObjectPushTest, ADeviceThatCannotBeReachedLogsOnceAndFinishes) {
    bus.onCall(QStringLiteral("org.bluez.obex.Client1.CreateSession"), [](const platform::DBusCall& call) {
        EXPECT_EQ(call.arguments.value(1).toMap(), (QVariantMap{{QStringLiteral("Target"), QStringLiteral("opp")}}));
        return DBusReply{DBusReply::Status::error, {}, QStringLiteral("org.bluez.obex.Error.Failed"), QStringLiteral("Host is down")};
    });
    platform::ObexObjectPush push(bus, QStringLiteral("AA:BB"), {QStringLiteral("/x/a.txt")}, [this] { ++finished; });
    push.start();
    scheduler().drain();
    EXPECT_EQ(log.matching(QStringLiteral("ObjectPush: ")), QStringList{QStringLiteral("ObjectPush: Could not connect to AA:BB: Host is down")});
    EXPECT_EQ(sent, 0);
    EXPECT_EQ(callsOf(QStringLiteral("RemoveSession")), 0);
    EXPECT_EQ(finished, 1);
}

}  // namespace
