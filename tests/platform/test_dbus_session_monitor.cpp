// The session monitor's lookup of this login session, over a scripted system bus.

#include "platform/session/dbus_session_monitor.h"
#include "support/fake_dbus_connection.h"
#include "support/fixtures.h"

#include <QDBusObjectPath>

#include <algorithm>
#include <vector>

namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1/session/c1");
const QString kGetSession = QStringLiteral("org.freedesktop.login1.Manager.GetSession");

class DBusSessionMonitorTest : public testsupport::QuillvexTest {
protected:
    DBusSessionMonitorTest() {
        systemBus.reply(kGetSession, {QVariant::fromValue(QDBusObjectPath(kPath))});
        systemBus.setOwner(kLogind, QStringLiteral(":1.7"));
    }

    int sessionChanged(const char* property, bool value) {
        return systemBus.emitSignal(
            {QStringLiteral(":1.7"), kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
             QStringLiteral("PropertiesChanged"),
             {QStringLiteral("org.freedesktop.login1.Session"), QVariantMap{{QLatin1String(property), value}},
              QStringList()}});
    }
    long lookups() const {
        return std::count_if(systemBus.calls().begin(), systemBus.calls().end(),
                             [](const platform::DBusCall& call) { return call.method == QStringLiteral("GetSession"); });
    }

    testsupport::FakeDBusConnection sessionBus;
    testsupport::FakeDBusConnection systemBus;
    platform::DBusSessionMonitor monitor{sessionBus, systemBus, QStringLiteral("c1")};
};

}  // namespace

// The path being known is what a caller waits on: by then every observation made before watches
// the session, and one made after watches before it returns. One lookup serves them all.
TEST_F(DBusSessionMonitorTest, EveryObservationWatchesTheSessionOnceItsPathIsKnown) {
    std::vector<bool> first, second, locks, cancelled;
    auto a = monitor.observeSessionActive([&](bool active) { first.push_back(active); });
    auto b = monitor.observeSessionActive([&](bool active) { second.push_back(active); });
    auto c = monitor.observeScreenLock([&](bool locked) { locks.push_back(locked); });
    auto gone = monitor.observeSessionActive([&](bool active) { cancelled.push_back(active); });
    gone.cancel();
    EXPECT_TRUE(monitor.sessionPath().isEmpty());

    scheduler().drain();
    ASSERT_EQ(monitor.sessionPath(), kPath);
    EXPECT_EQ(lookups(), 1);
    sessionChanged("Active", false);
    sessionChanged("LockedHint", true);
    EXPECT_EQ(first, std::vector<bool>{false});
    EXPECT_EQ(second, std::vector<bool>{false});
    EXPECT_EQ(locks, std::vector<bool>{true});
    EXPECT_TRUE(cancelled.empty());

    std::vector<bool> late;
    auto d = monitor.observeSessionActive([&](bool active) { late.push_back(active); });
    sessionChanged("Active", true);
    EXPECT_EQ(late, std::vector<bool>{true});
    EXPECT_EQ(lookups(), 1);
}

TEST_F(DBusSessionMonitorTest, WithoutAnAnswerTheNextObservationAsksAgain) {
    systemBus.onCall(kGetSession, [](const platform::DBusCall&) {
        return platform::DBusReply{platform::DBusReply::Status::error, {},
                                   QStringLiteral("org.freedesktop.login1.NoSuchSession"), {}};
    });
    std::vector<bool> seen;
    auto a = monitor.observeSessionActive([&](bool active) { seen.push_back(active); });
    scheduler().drain();
    EXPECT_TRUE(monitor.sessionPath().isEmpty());
    EXPECT_EQ(sessionChanged("Active", false), 0);

    systemBus.reply(kGetSession, {QVariant::fromValue(QDBusObjectPath(kPath))});
    auto b = monitor.observeSessionActive([&](bool active) { seen.push_back(active); });
    scheduler().drain();
    EXPECT_EQ(lookups(), 2);
    EXPECT_EQ(monitor.sessionPath(), kPath);
    sessionChanged("Active", true);
    EXPECT_EQ(seen, std::vector<bool>{true});  // the first observation gave up with its lookup
}
