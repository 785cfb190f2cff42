// The calendar service over the desktop's real calendar store: Evolution Data Server on a private
// bus with a throw-away HOME.

#include "glance/calendar_service.h"
#include "platform/calendar/eds_calendar_store.h"
#include "platform/dbus/dbus_connection.h"

#include "support/eds_session.h"
#include "support/fixtures.h"
#include "support/service_fixtures.h"

#include "platform/runtime/qt_scheduler.h"

#include <QElapsedTimer>
#include <QProcess>

#include <cstdlib>
#include <optional>
#include <utility>

namespace {

using testsupport::EdsSession;

QString icalUtc(const QDateTime& t) { return t.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")); }

// Tomorrow at `hour` UTC, as seen from the real clock the store's own expansion uses.
QDateTime tomorrowAt(int hour) {
    return QDateTime(QDateTime::currentDateTimeUtc().date().addDays(1), QTime(hour, 0), Qt::UTC);
}

class CalendarStoreEdsTest : public testsupport::QuillvexTest {
protected:
    static void SetUpTestSuite() {
        session = new EdsSession;
        const QDate allDay = QDateTime::currentDateTimeUtc().date().addDays(2);
        session->addCalendar(
            QStringLiteral("work-cal"), QStringLiteral("Work"), QStringLiteral("#ff0000"),
            QStringLiteral("BEGIN:VEVENT\nUID:seed-1\nSUMMARY:Seeded review\nDTSTART:%1\nDTEND:%2\nEND:VEVENT\n"
                           "BEGIN:VEVENT\nUID:weekly-1\nSUMMARY:Weekly sync\nLOCATION:Room 4\nDTSTART:%3\nDTEND:%4\n"
                           "RRULE:FREQ=WEEKLY;COUNT=3\nEND:VEVENT\n"
                           "BEGIN:VEVENT\nUID:holiday-1\nSUMMARY:Holiday\nDTSTART;VALUE=DATE:%5\n"
                           "DTEND;VALUE=DATE:%6\nEND:VEVENT\n")
                .arg(icalUtc(tomorrowAt(14)), icalUtc(tomorrowAt(15)), icalUtc(tomorrowAt(9)), icalUtc(tomorrowAt(10)),
                     allDay.toString(QStringLiteral("yyyyMMdd")), allDay.addDays(1).toString(QStringLiteral("yyyyMMdd"))));
        QString error;
        if (!session->start(&error)) startError = new QString(error);
    }
    static void TearDownTestSuite() {
        delete session;
        session = nullptr;
    }
    void SetUp() override {
        if (startError) QUILLVEX_SERVICE_MISSING("no private bus: " << startError->toStdString());
    }

    // The virtual clock starts at the real now so the window covers the seeded days.
    platform::VirtualScheduler clockNow{std::chrono::system_clock::now()};
    EventBus bus{clockNow};

    static EdsSession* session;
    static QString* startError;
};

EdsSession* CalendarStoreEdsTest::session = nullptr;
QString* CalendarStoreEdsTest::startError = nullptr;

const CalendarEvent* find(const QList<CalendarEvent>& events, const QString& title) {
    for (const auto& event : events) {
        if (event.title == title) return &event;
    }
    return nullptr;
}

TEST_F(CalendarStoreEdsTest, SeededCalendarAndAnotherProcesssEventReachTheBus) {
    platform::EdsCalendarStore store;
    // The registry is reached on the store's own thread: the status read never waits for it, and
    // the answer is announced on the main queue.
    int answers = 0;
    auto answered = store.observeStatus([&] { ++answers; });
    EXPECT_TRUE(store.statusPending());
    EXPECT_EQ(store.authorizationStatus(), platform::CalendarAuthorizationStatus::notDetermined);
    EXPECT_TRUE(EdsSession::waitUntil([&] {
        scheduler().drain();
        return answers > 0;
    }));
    EXPECT_EQ(answers, 1);
    EXPECT_FALSE(store.statusPending());
    ASSERT_EQ(store.authorizationStatus(), platform::CalendarAuthorizationStatus::fullAccess) << store.lastError().toStdString();
    EXPECT_GE(store.eventCalendarCount(), 2);  // the personal calendar and "Work"
    std::optional<bool> granted;
    store.requestFullAccess([&](bool ok, std::optional<QString>) { granted = ok; });
    EXPECT_FALSE(granted);  // answered later, on the main queue
    EXPECT_TRUE(EdsSession::waitUntil([&] {
        scheduler().drain();
        return granted.has_value();
    }));
    EXPECT_EQ(granted, true);

    CalendarService service(store, bus, clockNow);
    service.start();
    ASSERT_TRUE(service.isRunning());
    EXPECT_TRUE(bus.calendarEventsSubject.value().isEmpty());  // queried on a worker, published after
    clockNow.drain();
    auto events = bus.calendarEventsSubject.value();

    const CalendarEvent* seeded = find(events, QStringLiteral("Seeded review"));
    ASSERT_NE(seeded, nullptr) << store.lastError().toStdString();
    EXPECT_EQ(seeded->id, QStringLiteral("seed-1"));
    EXPECT_EQ(seeded->calendarTitle, QStringLiteral("Work"));
    EXPECT_EQ(seeded->calendarColor, (CalendarEvent::CalendarColor{1, 0, 0}));
    EXPECT_EQ(seeded->startDate, tomorrowAt(14));
    EXPECT_EQ(seeded->endDate, tomorrowAt(15));
    EXPECT_FALSE(seeded->isAllDay);
    EXPECT_EQ(seeded->location, std::nullopt);

    // Each occurrence of the weekly event is an event of its own, with an id of its own.
    QSet<QString> weeklyIds;
    for (const auto& event : events) {
        if (event.title != QStringLiteral("Weekly sync")) continue;
        EXPECT_TRUE(event.id.startsWith(QStringLiteral("weekly-1/"))) << event.id.toStdString();
        EXPECT_EQ(event.location, QStringLiteral("Room 4"));
        weeklyIds.insert(event.id);
    }
    EXPECT_EQ(weeklyIds.size(), 3);

    const CalendarEvent* holiday = find(events, QStringLiteral("Holiday"));
    ASSERT_NE(holiday, nullptr);
    EXPECT_TRUE(holiday->isAllDay);
    EXPECT_EQ(holiday->startDate.toLocalTime().time(), QTime(0, 0));
    EXPECT_EQ(holiday->startDate.toLocalTime().date(), QDateTime::currentDateTimeUtc().date().addDays(2));
    for (int i = 1; i < events.size(); ++i) EXPECT_LE(events[i - 1].startDate, events[i].startDate);

    // Another process adds an event; the store's change notice arrives on the main queue.
    int changes = 0;
    auto watching = store.observeChanges([&] { ++changes; });
    // Opening the live views delivers what the calendars already hold: that is not a change.
    EdsSession::waitUntil([&] {
        scheduler().drain();
        return false;
    }, 0.5);
    EXPECT_EQ(changes, 0);
    QProcess writer;
    writer.setProcessEnvironment(session->environment());
    const QString script = QStringLiteral(
        "import gi\n"
        "gi.require_version('ECal', '2.0'); gi.require_version('EDataServer', '1.2')\n"
        "from gi.repository import ECal, EDataServer, ICalGLib\n"
        "reg = EDataServer.SourceRegistry.new_sync(None)\n"
        "c = ECal.Client.connect_sync(reg.ref_source('work-cal'), ECal.ClientSourceType.EVENTS, 0xFFFFFFFF, None)\n"
        "comp = ICalGLib.Component.new_from_string('BEGIN:VEVENT\\nUID:other-proc\\nSUMMARY:From elsewhere\\n"
        "DTSTART:%1\\nDTEND:%2\\nEND:VEVENT\\n')\n"
        "c.create_object_sync(comp, ECal.OperationFlags.NONE, None)\n")
                               .arg(icalUtc(tomorrowAt(8)), icalUtc(tomorrowAt(9)));
    writer.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script});
    ASSERT_TRUE(writer.waitForFinished(20000));
    ASSERT_EQ(writer.exitCode(), 0) << writer.readAllStandardError().toStdString();
    ASSERT_TRUE(EdsSession::waitUntil([&] {
        scheduler().drain();
        return changes > 0;
    }));

    EXPECT_EQ(find(bus.calendarEventsSubject.value(), QStringLiteral("From elsewhere")), nullptr);
    clockNow.advance(1.0);
    EXPECT_TRUE(log.contains("CalendarService: Calendar store changed, refreshing"));
    events = bus.calendarEventsSubject.value();
    const CalendarEvent* added = find(events, QStringLiteral("From elsewhere"));
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->calendarTitle, QStringLiteral("Work"));
    EXPECT_EQ(added->startDate, tomorrowAt(8));
    service.stop();
}

// Runs a Python process that adds an event to the "Work" calendar through the store's own
// library; the exit code.
int addEventFromAnotherProcess(const EdsSession& session, const QString& uid, const QDateTime& start) {
    QProcess writer;
    writer.setProcessEnvironment(session.environment());
    const QString script = QStringLiteral(
        "import gi\n"
        "gi.require_version('ECal', '2.0'); gi.require_version('EDataServer', '1.2')\n"
        "from gi.repository import ECal, EDataServer, ICalGLib\n"
        "reg = EDataServer.SourceRegistry.new_sync(None)\n"
        "c = ECal.Client.connect_sync(reg.ref_source('work-cal'), ECal.ClientSourceType.EVENTS, 0xFFFFFFFF, None)\n"
        "comp = ICalGLib.Component.new_from_string('BEGIN:VEVENT\\nUID:%1\\nSUMMARY:%1\\n"
        "DTSTART:%2\\nDTEND:%3\\nEND:VEVENT\\n')\n"
        "c.create_object_sync(comp, ECal.OperationFlags.NONE, None)\n")
                               .arg(uid, icalUtc(start), icalUtc(start.addSecs(1800)));
    writer.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script});
    if (!writer.waitForFinished(20000)) return -1;
    return writer.exitCode();
}

// The application's own scheduler, worker threads and event loop: a virtual clock runs the
// store's work on the main thread and would hide where its change notices are delivered.
TEST_F(CalendarStoreEdsTest, WithTheRealSchedulerAnotherProcesssEventIsHeardWithinAboutTwoSeconds) {
    platform::QtScheduler real;
    EventBus realBus{real};
    platform::EdsCalendarStore store(real);
    ASSERT_TRUE(EdsSession::waitUntil(
        [&] { return store.authorizationStatus() == platform::CalendarAuthorizationStatus::fullAccess; }))
        << store.lastError().toStdString();
    CalendarService service(store, realBus, real);
    service.start();
    ASSERT_TRUE(EdsSession::waitUntil([&] { return find(realBus.calendarEventsSubject.value(), "Seeded review") != nullptr; }))
        << store.lastError().toStdString();
    const auto heard = [&] { return log.contains("CalendarService: Calendar store changed, refreshing"); };
    // The live views open in the background: an event added before they are open is part of
    // their contents, not a change. Whichever comes first is heard; the next one is timed.
    bool viewsOpen = false;
    for (int attempt = 1; attempt <= 4 && !viewsOpen; ++attempt) {
        ASSERT_EQ(addEventFromAnotherProcess(*session, QStringLiteral("warm-up-%1").arg(attempt), tomorrowAt(6)), 0);
        viewsOpen = EdsSession::waitUntil(heard, 4);
    }
    ASSERT_TRUE(viewsOpen) << "no change was ever heard";
    log.clear();
    ASSERT_EQ(addEventFromAnotherProcess(*session, QStringLiteral("timed"), tomorrowAt(7)), 0);
    QElapsedTimer sinceWritten;
    sinceWritten.start();
    ASSERT_TRUE(EdsSession::waitUntil(heard, 5));
    EXPECT_LE(sinceWritten.elapsed(), 2500);
    ASSERT_TRUE(EdsSession::waitUntil([&] { return find(realBus.calendarEventsSubject.value(), "timed") != nullptr; }));
    service.stop();
}

TEST(CalendarStoreWithoutBusTest, AnUnreachableStoreIsNotGranted) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // In a fresh process: GLib keeps the first session connection it makes for the process.
    EXPECT_EXIT(
        {
            qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quillvex-test-bus");
            platform::EdsCalendarStore store;
            const bool notGranted = store.authorizationStatus() == platform::CalendarAuthorizationStatus::notDetermined;
            const bool empty = store.events(QDateTime::currentDateTime(), QDateTime::currentDateTime().addDays(1)).empty();
            auto watching = store.observeChanges([] {});
            std::_Exit(notGranted && empty && store.eventCalendarCount() == 0 && !store.lastError().isEmpty() &&
                               store.problem() == platform::CalendarStoreProblem::unreachable
                           ? 0
                           : 1);
        },
        ::testing::ExitedWithCode(0), "");
    // No bus configured at all: nothing is launched in its place.
    EXPECT_EXIT(
        {
            qunsetenv("DBUS_SESSION_BUS_ADDRESS");
            qputenv("XDG_RUNTIME_DIR", "/nonexistent/quillvex-runtime");
            qputenv("DISPLAY", ":99");
            platform::EdsCalendarStore store;
            const bool notGranted = store.authorizationStatus() == platform::CalendarAuthorizationStatus::notDetermined;
            store.events(QDateTime::currentDateTime(), QDateTime::currentDateTime().addDays(1));  // reaches, on this thread
            std::_Exit(notGranted && store.lastError() == QStringLiteral("no session bus") &&
                               store.problem() == platform::CalendarStoreProblem::noSessionBus
                           ? 0
                           : 1);
        },
        ::testing::ExitedWithCode(0), "");
    // A bus on which no calendar service is installed: told apart from one that failed, and never
    // taken for a reachable store.
    QString error;
    auto bus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error);
    ASSERT_TRUE(bus) << error.toStdString();
    // GLib is never asked here, so this needs no process of its own.
    const auto address = bus->exportAddress();
    platform::VirtualScheduler mainQueue;
    platform::EdsCalendarStore store(mainQueue);
    EXPECT_EQ(store.authorizationStatus(), platform::CalendarAuthorizationStatus::notDetermined);
    EXPECT_TRUE(store.events(QDateTime::currentDateTime(), QDateTime::currentDateTime().addDays(1)).empty());
    EXPECT_EQ(store.problem(), platform::CalendarStoreProblem::notInstalled);
    // Asking for access there is refused with the reason.
    std::optional<std::pair<bool, std::optional<QString>>> answer;
    store.requestFullAccess([&](bool granted, std::optional<QString> why) { answer.emplace(granted, why); });
    ASSERT_TRUE(EdsSession::waitUntil([&] {
        mainQueue.drain();
        return answer.has_value();
    }));
    EXPECT_FALSE(answer->first);
    EXPECT_TRUE(answer->second && answer->second->contains(QStringLiteral("not installed")));
    EXPECT_EQ(store.authorizationStatus(), platform::CalendarAuthorizationStatus::notDetermined);
    EXPECT_EQ(store.problem(), platform::CalendarStoreProblem::notInstalled);

    // Asking again reuses the probe's connection: the bus numbers every new connection, so a
    // counting connection made after three more probes is the next one after the one before them.
    int counters = 0;
    const auto connectionNumber = [&] {
        platform::QtDBusConnection counter(bus->address(), QStringLiteral("quillvex-test-counter-%1").arg(++counters));
        return counter.uniqueName().section(QLatin1Char('.'), 1).toInt();
    };
    const int before = connectionNumber();
    for (int i = 0; i < 3; ++i) store.events(QDateTime::currentDateTime(), QDateTime::currentDateTime().addDays(1));
    EXPECT_EQ(connectionNumber(), before + 1);
}

}  // namespace
