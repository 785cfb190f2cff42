// The screen-lock service against the desktop's real lock notices: logind's session (Lock, Unlock,
// LockedHint, Active) on a private system bus, the screensavers of GNOME, freedesktop, Xfce, MATE
// and Cinnamon on a private session bus, all served by python3-dbusmock. The daemons are shared
// by the suite.

#include "core/event_bus.h"
#include "live_activities/screen_lock_service.h"
#include "platform/session/dbus_session_monitor.h"
#include "support/fake_dynamic_library.h"
#include "live_activities/live_test_helpers.h"
#include "support/fixtures.h"
#include "support/service_fixtures.h"

#include <QCoreApplication>
#include <QDBusObjectPath>
#include <QElapsedTimer>

#include <memory>
#include <string>
#include <vector>

using testsupport::DBusMock;
using testsupport::PrivateBus;

namespace {

const QString kSessionInterface = QStringLiteral("org.freedesktop.login1.Session");

class ScreenLockDBusTest : public testsupport::QuillvexTest {
protected:
    static void SetUpTestSuite() {
        if (!testsupport::dbusmockAvailable()) return;
        QString& error = setUpError;
        systemBus = PrivateBus::start(PrivateBus::Kind::system, &error).release();
        sessionBus = PrivateBus::start(PrivateBus::Kind::session, &error).release();
        if (!systemBus || !sessionBus) return;
        logind = DBusMock::startTemplate(*systemBus, QStringLiteral("logind"), QStringLiteral("org.freedesktop.login1"),
                                         QStringLiteral("/org/freedesktop/login1"), {}, &error)
                     .release();
        gnome = DBusMock::startTemplate(*sessionBus, QStringLiteral("gnome_screensaver"),
                                        QStringLiteral("org.gnome.ScreenSaver"), QStringLiteral("/org/gnome/ScreenSaver"),
                                        {}, &error)
                    .release();
        freedesktop = DBusMock::startScreenSaver(*sessionBus, &error).release();
        if (!logind || !gnome || !freedesktop) return;
        const auto added = logind->call(QStringLiteral("AddSession"),
                                        {QStringLiteral("c1"), QStringLiteral("seat0"), 0u, QStringLiteral("root"), true});
        if (!added.ok()) {
            setUpError = added.errorName + QStringLiteral(": ") + added.errorMessage;
            return;
        }
        const QVariant path = added.value();
        sessionPath = path.canConvert<QDBusObjectPath>() ? path.value<QDBusObjectPath>().path() : path.toString();
        // logind names this session for this process only; any other process is in another one.
        if (!logind->addMethod(QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("GetSessionByPID"),
                               QStringLiteral("u"), QStringLiteral("o"),
                               QStringLiteral("ret = '%1' if args[0] == %2 else '/org/freedesktop/login1/session/other'")
                                   .arg(sessionPath)
                                   .arg(QCoreApplication::applicationPid()))) {
            sessionPath.clear();
            setUpError = QStringLiteral("GetSessionByPID could not be scripted");
        }
    }

    static void TearDownTestSuite() {
        delete freedesktop;
        delete gnome;
        delete logind;
        delete sessionBus;
        delete systemBus;
        freedesktop = gnome = logind = nullptr;
        sessionBus = systemBus = nullptr;
    }

    void SetUp() override {
        if (!testsupport::dbusmockAvailable()) QUILLVEX_SERVICE_MISSING("python3-dbusmock is not installed");
        ASSERT_FALSE(sessionPath.isEmpty()) << "the logind mock did not come up: " << setUpError.toStdString();
    }


    bool logindSignal(const char* method) {
        return logind->call(QString::fromLatin1(method), {}, kSessionInterface, sessionPath).ok();
    }
    bool gnomeActive(bool active) {
        return gnome->call(QStringLiteral("SetActive"), {active}, QStringLiteral("org.gnome.ScreenSaver")).ok();
    }

    platform::DBusSessionMonitor monitor() {
        return platform::DBusSessionMonitor(sessionBus->connection(), systemBus->connection(), QStringLiteral("c1"));
    }

    // The lock service over this suite's buses, as the application builds it, without the window
    // server's framework.
    struct LockServiceRig {
        explicit LockServiceRig(platform::VirtualScheduler& scheduler)
            : session(sessionBus->connection(), systemBus->connection(), QStringLiteral("c1")),
              helper(noFramework),
              bus(scheduler),
              service(bus, scheduler, session, [] { return std::vector<int64_t>{}; },
                      [this]() -> SkyLightHelper& { return helper; }) {}
        platform::DBusSessionMonitor session;
        testsupport::FakeDynamicLibraryLoader noFramework;
        SkyLightHelper helper;
        EventBus bus;
        ScreenLockService service;
    };

    static inline PrivateBus* systemBus = nullptr;
    static inline PrivateBus* sessionBus = nullptr;
    static inline DBusMock* logind = nullptr;
    static inline DBusMock* gnome = nullptr;
    static inline DBusMock* freedesktop = nullptr;
    static inline QString sessionPath;
    static inline QString setUpError;
};

}  // namespace

TEST_F(ScreenLockDBusTest, EveryLockSourceAndTheSessionsActivityReachTheMonitor) {
    platform::DBusSessionMonitor session(sessionBus->connection(), systemBus->connection(), QStringLiteral("c1"));
    std::vector<bool> locks;
    std::vector<bool> actives;
    auto lockObservation = session.observeScreenLock([&](bool locked) { locks.push_back(locked); });
    auto activeObservation = session.observeSessionActive([&](bool active) { actives.push_back(active); });
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return session.sessionPath() == sessionPath; }));
    // Without a session id, the session is the one logind names for this process.
    platform::DBusSessionMonitor byPid(sessionBus->connection(), systemBus->connection(), QString());
    auto byPidObservation = byPid.observeSessionActive([](bool) {});
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return byPid.sessionPath() == sessionPath; }));

    ASSERT_TRUE(logindSignal("Lock"));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return locks.size() == 1; }));
    ASSERT_TRUE(gnomeActive(true));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return locks.size() == 2; }));
    ASSERT_TRUE(freedesktop->call(QStringLiteral("SetActive"), {false}, QStringLiteral("org.freedesktop.ScreenSaver")).ok());
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return locks.size() == 3; }));
    ASSERT_TRUE(logindSignal("Unlock"));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return locks.size() == 4; }));
    EXPECT_EQ(locks, (std::vector<bool>{true, true, false, false}));

    ASSERT_TRUE(logind->setProperty(kSessionInterface, QStringLiteral("Active"), false, sessionPath));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return actives.size() == 1; }));
    ASSERT_TRUE(logind->setProperty(kSessionInterface, QStringLiteral("Active"), true, sessionPath));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return actives.size() == 2; }));
    EXPECT_EQ(actives, (std::vector<bool>{false, true}));

    // Cancelled observations hear nothing more.
    lockObservation.cancel();
    ASSERT_TRUE(gnomeActive(false));
    ASSERT_TRUE(logindSignal("Lock"));
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(locks.size(), 4u);
}

TEST_F(ScreenLockDBusTest, ALockOnBothPathsActsOnceAndTheUnlockEndsLater) {
    LockServiceRig rig(scheduler());
    auto& [session, noFramework, helper, bus, service] = rig;

    std::vector<std::string> seen;
    platform::CancellableSet subscriptions;
    subscriptions.insert(bus.screenLockedSubject.sink([&](bool v) { seen.push_back(v ? "locked" : "unlocked"); }));
    subscriptions.insert(bus.notchModeSubject.sink([&](const NotchMode& m) { seen.push_back(m.description().toStdString()); }));
    subscriptions.insert(bus.liveActivityEventSubject.sink(
            [&](const std::optional<LiveActivityType>& t) { seen.push_back(testsupport::requestName(t)); }));
    seen.clear();
    // Counts deliveries on the lock path, so the test knows when the duplicate has arrived too.
    int delivered = 0;
    auto counter = session.observeScreenLock([&](bool) { ++delivered; });

    service.start();
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return session.sessionPath() == sessionPath; }));

    ASSERT_TRUE(logindSignal("Lock"));
    ASSERT_TRUE(gnomeActive(true));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return delivered == 2; }));
    scheduler().drain();
    EXPECT_EQ(seen, (std::vector<std::string>{"locked", "idle", "screenLock"}));
    EXPECT_EQ(log.count(QStringLiteral("ScreenLockService: Screen locked")), 1);

    seen.clear();
    ASSERT_TRUE(logindSignal("Unlock"));
    ASSERT_TRUE(gnomeActive(false));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return delivered == 4; }));
    EXPECT_EQ(seen, (std::vector<std::string>{"screenUnlock"}));
    scheduler().advance(1.499);
    EXPECT_EQ(seen.size(), 1u);
    scheduler().advance(0.001);
    EXPECT_EQ(seen, (std::vector<std::string>{"screenUnlock", "none", "unlocked"}));

    service.stop();
}

// Every lock notice locks and every unlock notice unlocks, whichever source sent it: the locker's
// LockedHint ends a lock that logind's Lock request began, and each desktop's screensaver is heard.
TEST_F(ScreenLockDBusTest, EveryScreenSaverAndTheLockedHintLockAndUnlock) {
    std::vector<std::unique_ptr<DBusMock>> savers;
    for (const char* desktop : {"xfce", "mate", "cinnamon"}) {
        const QString name = QStringLiteral("org.%1.ScreenSaver").arg(QLatin1String(desktop));
        QString error;
        savers.push_back(DBusMock::startPlain(*sessionBus, name,
                                              QStringLiteral("/org/%1/ScreenSaver").arg(QLatin1String(desktop)), name, &error));
        ASSERT_TRUE(savers.back()) << error.toStdString();
    }
    LockServiceRig rig(scheduler());
    auto& [session, noFramework, helper, bus, service] = rig;
    std::vector<std::string> events;
    auto sub = bus.liveActivityEventSubject.sink([&](const std::optional<LiveActivityType>& t) {
        if (t) events.push_back(testsupport::requestName(t));
    });
    service.start();
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return session.sessionPath() == sessionPath; }));
    const auto settle = [&](size_t count) {
        EXPECT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return events.size() == count; }))
            << "waiting for event " << count << ", heard " << events.size();
        scheduler().advance(ScreenLockService::unlockStepDelay);
    };

    // The bus connection learns each sender's owner in the background and drops what that owner
    // sends before: a first notice is sent again until it is heard (a lock notice while locked
    // changes nothing).
    const auto untilHeard = [&](const std::function<bool()>& send) {
        const size_t before = events.size();
        for (int attempt = 0; attempt < 25 && events.size() == before; ++attempt) {
            ASSERT_TRUE(send());
            testsupport::pumpUntil(scheduler(), [&] { return events.size() > before; }, 200);
        }
    };
    untilHeard([&] { return logindSignal("Lock"); });
    settle(1);
    ASSERT_TRUE(logind->call(QStringLiteral("SetLockedHint"), {false}, kSessionInterface, sessionPath).ok());
    settle(2);
    EXPECT_FALSE(service.isLocked());
    EXPECT_FALSE(bus.screenLockedSubject.value());
    ASSERT_TRUE(logind->call(QStringLiteral("SetLockedHint"), {true}, kSessionInterface, sessionPath).ok());
    settle(3);
    EXPECT_TRUE(service.isLocked());
    ASSERT_TRUE(logind->call(QStringLiteral("SetLockedHint"), {false}, kSessionInterface, sessionPath).ok());
    settle(4);

    for (const auto& saver : savers) {
        const size_t before = events.size();
        untilHeard([&] {
            return saver->emitSignal(saver->busName(), QStringLiteral("ActiveChanged"), QStringLiteral("b"), {true});
        });
        settle(before + 1);
        EXPECT_TRUE(service.isLocked()) << saver->busName().toStdString();
        ASSERT_TRUE(saver->emitSignal(saver->busName(), QStringLiteral("ActiveChanged"), QStringLiteral("b"), {false}));
        settle(before + 2);
        EXPECT_FALSE(service.isLocked()) << saver->busName().toStdString();
    }
    EXPECT_EQ(events, (std::vector<std::string>{"screenLock", "screenUnlock", "screenLock", "screenUnlock", "screenLock",
                                                "screenUnlock", "screenLock", "screenUnlock", "screenLock", "screenUnlock"}));
    EXPECT_EQ(log.count(QStringLiteral("ScreenLockService: Screen unlocked")), 5);
    EXPECT_FALSE(bus.screenLockedSubject.value());
    service.stop();
}

// A session that goes inactive (another user's session switched to, say) with no lock signal at
// all still shows the lock activity, and its coming back the unlock.
TEST_F(ScreenLockDBusTest, TheSessionGoingInactiveWithoutALockSignalShowsTheLockActivity) {
    LockServiceRig rig(scheduler());
    auto& [session, noFramework, helper, bus, service] = rig;
    std::vector<std::string> seen;
    platform::CancellableSet subscriptions;
    subscriptions.insert(bus.screenLockedSubject.sink([&](bool v) { seen.push_back(v ? "locked" : "unlocked"); }));
    subscriptions.insert(bus.liveActivityEventSubject.sink(
        [&](const std::optional<LiveActivityType>& t) { seen.push_back(testsupport::requestName(t)); }));
    seen.clear();
    int changes = 0;
    auto counter = session.observeSessionActive([&](bool) { ++changes; });
    service.start();
    // Once the monitor knows the session, the service's own observations watch it too.
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return session.sessionPath() == sessionPath; }));

    ASSERT_TRUE(logind->setProperty(kSessionInterface, QStringLiteral("Active"), false, sessionPath));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return changes == 1; }));
    scheduler().drain();
    EXPECT_EQ(seen, (std::vector<std::string>{"locked", "screenLock"}));
    EXPECT_EQ(log.count(QStringLiteral("ScreenLockService: Screen locked")), 1);

    seen.clear();
    ASSERT_TRUE(logind->setProperty(kSessionInterface, QStringLiteral("Active"), true, sessionPath));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return changes == 2; }));
    scheduler().advance(1.5);
    EXPECT_EQ(seen, (std::vector<std::string>{"screenUnlock", "none", "unlocked"}));
    service.stop();
}
