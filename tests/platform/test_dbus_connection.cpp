#include "platform/dbus/dbus_connection.h"

#include "support/fixtures.h"
#include "support/loopback_http_server.h"  // spinUntil
#include "support/service_fixtures.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QElapsedTimer>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using platform::DBusReply;
using testsupport::spinUntil;

namespace {

const QString kName = QStringLiteral("org.example.Probe");
const QString kPath = QStringLiteral("/org/example/Probe");
const QString kIface = QStringLiteral("org.example.Probe");

// Claims every call and never answers, as a hung service would.
class Silent final : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage&, const QDBusConnection&) override { return true; }
};

// One private bus and one plain mock for the whole suite: starting python costs ~0.3 s.
class DBusConnectionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        QString error;
        bus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error).release();
        ASSERT_TRUE(bus) << error.toStdString();
        mock = testsupport::DBusMock::startPlain(*bus, kName, kPath, kIface, &error).release();
        ASSERT_TRUE(mock) << error.toStdString();
        ASSERT_TRUE(mock->addMethod(kIface, QStringLiteral("Echo"), QStringLiteral("a{sv}"), QStringLiteral("a{sv}"),
                                    QStringLiteral("ret = args[0]")));
        ASSERT_TRUE(mock->addProperties(kIface, {{QStringLiteral("Volume"), 0.5}}));
        silentBus = new QDBusConnection(QDBusConnection::connectToBus(bus->address(), QStringLiteral("test-silent")));
        ASSERT_TRUE(silentBus->registerService(QStringLiteral("org.example.Silent")));
        ASSERT_TRUE(silentBus->registerVirtualObject(QStringLiteral("/"), &silent, QDBusConnection::SubPath));
    }
    static void TearDownTestSuite() {
        delete silentBus;
        silentBus = nullptr;
        QDBusConnection::disconnectFromBus(QStringLiteral("test-silent"));
        delete mock;
        delete bus;
        mock = nullptr;
        bus = nullptr;
    }
    void SetUp() override {
        if (!bus || !mock) QUILLVEX_SERVICE_MISSING("no private bus");
    }

    platform::DBusConnection& connection() { return bus->connection(); }
    platform::DBusCall probe(const QString& method, QVariantList arguments = {}) {
        return {kName, kPath, kIface, method, std::move(arguments)};
    }

    static inline testsupport::PrivateBus* bus = nullptr;
    static inline testsupport::DBusMock* mock = nullptr;
    static inline Silent silent;
    static inline QDBusConnection* silentBus = nullptr;
};

// The bounds stand for a hang, not a speed: the library's own wait is 25 s.
TEST_F(DBusConnectionTest, CallsAreBoundedByTheirTimeout) {
    const platform::DBusCall hung{QStringLiteral("org.example.Silent"), kPath, kIface, QStringLiteral("Slow"), {}};
    QElapsedTimer clock;
    clock.start();
    const DBusReply blocking = connection().call(hung, 150ms);
    EXPECT_EQ(blocking.status, DBusReply::Status::timedOut);
    EXPECT_LT(clock.elapsed(), 5000);

    std::optional<DBusReply> async;
    clock.restart();
    auto pending = connection().callAsync(hung, 150ms, [&](const DBusReply& r) { async = r; });
    ASSERT_TRUE(spinUntil([&] { return async.has_value(); }));
    EXPECT_EQ(async->status, DBusReply::Status::timedOut);
    EXPECT_LT(clock.elapsed(), 5000);

    // A negative timeout is not the library's default (25 s) but the shortest wait.
    clock.restart();
    EXPECT_EQ(connection().call(hung, -1ms).status, DBusReply::Status::timedOut);
    EXPECT_LT(clock.elapsed(), 5000);
}

TEST_F(DBusConnectionTest, RepliesArePlainValuesAndErrorsCarryTheirName) {
    const QVariantMap nested{{QStringLiteral("xesam:artist"), QStringList{QStringLiteral("A"), QStringLiteral("B")}},
                             {QStringLiteral("mpris:length"), QVariant::fromValue<qlonglong>(180000000)},
                             {QStringLiteral("inner"), QVariantMap{{QStringLiteral("k"), QStringLiteral("v")}}}};
    const DBusReply echo = connection().call(probe(QStringLiteral("Echo"), {nested}), 2s);
    ASSERT_TRUE(echo.ok()) << echo.errorMessage.toStdString();
    const QVariantMap back = echo.value().toMap();
    EXPECT_EQ(back.value(QStringLiteral("xesam:artist")).toStringList(), (QStringList{"A", "B"}));
    EXPECT_EQ(back.value(QStringLiteral("mpris:length")).toLongLong(), 180000000);
    EXPECT_EQ(back.value(QStringLiteral("inner")).toMap().value(QStringLiteral("k")).toString(), "v");

    const DBusReply volume = connection().property(kName, kPath, kIface, QStringLiteral("Volume"), 2s);
    ASSERT_TRUE(volume.ok());
    EXPECT_DOUBLE_EQ(volume.value().toDouble(), 0.5);

    std::optional<DBusReply> all;
    auto pending = connection().allPropertiesAsync(kName, kPath, kIface, 2s, [&](const DBusReply& r) { all = r; });
    ASSERT_TRUE(spinUntil([&] { return all.has_value(); }));
    EXPECT_DOUBLE_EQ(all->value().toMap().value(QStringLiteral("Volume")).toDouble(), 0.5);

    const DBusReply missing = connection().call(probe(QStringLiteral("NoSuchMethod")), 2s);
    EXPECT_EQ(missing.status, DBusReply::Status::error);
    EXPECT_FALSE(missing.errorName.isEmpty());
}

TEST_F(DBusConnectionTest, ACancelledSubscriptionReceivesNothingMore) {
    QStringList kept;
    QStringList cancelled;
    auto keep = connection().subscribe({kName, kPath, kIface, QStringLiteral("Ping"), {}},
                                       [&](const platform::DBusSignal& s) { kept << s.arguments.value(0).toString(); });
    auto drop = connection().subscribe({kName, {}, kIface, QStringLiteral("Ping"), {}}, [&](const platform::DBusSignal& s) {
        cancelled << s.arguments.value(0).toString();
    });
    ASSERT_TRUE(keep.isActive());
    ASSERT_TRUE(mock->emitSignal(kIface, QStringLiteral("Ping"), QStringLiteral("s"), {QStringLiteral("one")}));
    ASSERT_TRUE(spinUntil([&] { return kept.size() == 1 && cancelled.size() == 1; }));

    // Emitted before the cancel is processed, and after: neither reaches the cancelled handler.
    ASSERT_TRUE(mock->emitSignal(kIface, QStringLiteral("Ping"), QStringLiteral("s"), {QStringLiteral("two")}));
    drop.cancel();
    ASSERT_TRUE(mock->emitSignal(kIface, QStringLiteral("Ping"), QStringLiteral("s"), {QStringLiteral("three")}));
    ASSERT_TRUE(spinUntil([&] { return kept.size() == 3; }));
    EXPECT_EQ(kept, (QStringList{"one", "two", "three"}));
    EXPECT_EQ(cancelled, QStringList{"one"});
}

TEST_F(DBusConnectionTest, PropertyChangesAndNameOwnersAreDelivered) {
    std::optional<QVariantMap> changed;
    auto props = connection().subscribePropertiesChanged(
        kName, kPath, kIface, [&](const QVariantMap& c, const QStringList&) { changed = c; });
    ASSERT_TRUE(mock->setProperty(kIface, QStringLiteral("Volume"), 0.25));
    ASSERT_TRUE(spinUntil([&] { return changed.has_value(); }));
    EXPECT_DOUBLE_EQ(changed->value(QStringLiteral("Volume")).toDouble(), 0.25);

    QStringList owners;
    const QString name = QStringLiteral("org.example.Watched");
    auto watch = connection().watchNameOwner(name, [&](const QString& owner) { owners << owner; });
    QDBusConnection other = QDBusConnection::connectToBus(bus->address(), QStringLiteral("test-other"));
    ASSERT_TRUE(other.registerService(name));
    ASSERT_TRUE(spinUntil([&] { return owners.size() == 1; }));
    EXPECT_EQ(owners.first(), other.baseService());
    other.unregisterService(name);
    ASSERT_TRUE(spinUntil([&] { return owners.size() == 2; }));
    EXPECT_TRUE(owners.last().isEmpty());
    QDBusConnection::disconnectFromBus(QStringLiteral("test-other"));
}

// A watch's owner cancels it and ends the connection before the event loop turns again, as a
// service stopping does: the watcher deleted afterwards must not reach into the ended connection.
TEST_F(DBusConnectionTest, ANamespaceWatchCancelledJustBeforeItsConnectionEndsLeavesNothingBehind) {
    for (int round = 0; round < 5; ++round) {
        QStringList seen;
        {
            platform::QtDBusConnection own(bus->address(), QStringLiteral("test-watch-%1").arg(round));
            ASSERT_TRUE(own.isConnected());
            auto watch = own.watchNameNamespace(QStringLiteral("org.example.Space"),
                                                [&](const QString& name, const QString&) { seen << name; });
            QDBusConnection other = QDBusConnection::connectToBus(bus->address(), QStringLiteral("test-watch-other"));
            ASSERT_TRUE(other.registerService(QStringLiteral("org.example.Space.One")));
            ASSERT_TRUE(spinUntil([&] { return !seen.isEmpty(); }));
            QDBusConnection::disconnectFromBus(QStringLiteral("test-watch-other"));
            watch.cancel();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        // A round trip through the bus thread after the deletion: what it was handed is done.
        ASSERT_TRUE(connection().call(probe(QStringLiteral("Echo"), {QVariantMap{}}), 2s).ok());
        EXPECT_EQ(seen, QStringList{"org.example.Space.One"});
    }
}

TEST(DBusConnectionWithoutBus, ReportsNoBusAtOnceAndAsynchronously) {
    platform::QtDBusConnection none(QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("test-none"));
    EXPECT_FALSE(none.isConnected());
    EXPECT_TRUE(none.uniqueName().isEmpty());
    EXPECT_EQ(none.call({kName, kPath, kIface, QStringLiteral("Echo"), {}}, 1s).status, DBusReply::Status::noBus);
    std::optional<DBusReply> async;
    auto pending = none.callAsync({kName, kPath, kIface, QStringLiteral("Echo"), {}}, 1s,
                                  [&](const DBusReply& r) { async = r; });
    EXPECT_FALSE(async) << "answers never arrive inside the call";
    ASSERT_TRUE(spinUntil([&] { return async.has_value(); }));
    EXPECT_EQ(async->status, DBusReply::Status::noBus);
    EXPECT_FALSE(none.subscribe({kName, kPath, kIface, QStringLiteral("Ping"), {}}, [](const auto&) {}).isActive());
}

}  // namespace
