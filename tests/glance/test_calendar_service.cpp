#include "glance/calendar_service.h"

#include "support/fake_calendar_store.h"
#include "support/fixtures.h"

#include <QTimeZone>

#include <ctime>

namespace {

using platform::CalendarAuthorizationStatus;
using testsupport::storeEvent;

QDateTime utc(int y, int mo, int d, int h = 0, int mi = 0) { return QDateTime(QDate(y, mo, d), QTime(h, mi), Qt::UTC); }

// Points the process's local zone at `zone` for the test's lifetime.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) : hadPrevious_(qEnvironmentVariableIsSet("TZ")), previous_(qgetenv("TZ")) {
        qputenv("TZ", zone);
        tzset();
    }
    ~ScopedTimeZone() {
        if (hadPrevious_) {
            qputenv("TZ", previous_);
        } else {
            qunsetenv("TZ");
        }
        tzset();
    }

private:
    bool hadPrevious_;
    QByteArray previous_;
};

class CalendarServiceTest : public testsupport::QuillvexTest {
protected:
    testsupport::FakeCalendarStore store;
    EventBus bus{scheduler()};
    CalendarService service{store, bus, scheduler()};

    QList<CalendarEvent> published() const { return bus.calendarEventsSubject.value(); }
    QStringList publishedIds() const {
        QStringList ids;
        for (const auto& event : published()) ids << event.id;
        return ids;
    }
};

TEST_F(CalendarServiceTest, StartTwiceFetchesOnceWithOneTimerAndOneSubscription) {
    store.storedEvents = {storeEvent("a", utc(2027, 1, 15, 9))};
    // The store is queried on a worker: the main thread alone starts, and publishes nothing yet.
    scheduler().setHoldGlobal(true);
    service.start();
    service.start();
    scheduler().drain();
    EXPECT_TRUE(service.isRunning());
    EXPECT_TRUE(store.queries.empty());
    EXPECT_TRUE(published().isEmpty());
    scheduler().setHoldGlobal(false);
    scheduler().drain();
    EXPECT_EQ(store.queries.size(), 1u);
    EXPECT_EQ(store.observerCount(), 1);
    EXPECT_EQ(log.count("CalendarService: Starting"), 1);
    EXPECT_EQ(log.count("CalendarService: Fetched 1 events"), 1);
    EXPECT_EQ(publishedIds(), QStringList{"a"});

    // One timer: one refetch per five minutes, not two.
    scheduler().advance(299.9);
    EXPECT_EQ(store.queries.size(), 1u);
    scheduler().advance(0.1);
    EXPECT_EQ(store.queries.size(), 2u);
    scheduler().advance(300);
    EXPECT_EQ(store.queries.size(), 3u);
}

TEST_F(CalendarServiceTest, StartsOnlyWithFullAccessAndChecksAgainOnTheNextStart) {
    for (auto status : {CalendarAuthorizationStatus::notDetermined, CalendarAuthorizationStatus::restricted,
                        CalendarAuthorizationStatus::denied, CalendarAuthorizationStatus::writeOnly}) {
        store.status = status;
        service.start();
        EXPECT_FALSE(service.isRunning());
    }
    EXPECT_EQ(log.count("CalendarService: Skipping start because calendar access is not granted yet"), 4);
    EXPECT_FALSE(log.contains("CalendarService: Starting"));
    EXPECT_TRUE(store.queries.empty());
    EXPECT_EQ(store.observerCount(), 0);
    scheduler().advance(600);
    EXPECT_TRUE(store.queries.empty());

    store.status = CalendarAuthorizationStatus::fullAccess;
    service.start();
    scheduler().drain();
    EXPECT_TRUE(service.isRunning());
    EXPECT_EQ(store.queries.size(), 1u);
}

TEST_F(CalendarServiceTest, WindowRunsFromThreeWeeksBeforeTodayToSixWeeksAfterInTheLocalZone) {
    {
        ScopedTimeZone zone("UTC");
        EXPECT_EQ(CalendarService::fetchWindow(utc(2025, 6, 15, 10)),
                  std::pair(utc(2025, 5, 25), utc(2025, 7, 27)));
    }
    {
        // 20:00 UTC is already the 16th in Tokyo: the day is the user's, not UTC's.
        ScopedTimeZone zone("Asia/Tokyo");
        const auto window = CalendarService::fetchWindow(utc(2025, 6, 15, 20));
        ASSERT_TRUE(window);
        EXPECT_EQ(window->first, utc(2025, 5, 25, 15));
        EXPECT_EQ(window->second, utc(2025, 7, 27, 15));
    }
    {
        // Calendar days, not 24-hour steps: the window ends at local midnight across a clock change.
        ScopedTimeZone zone("Europe/Berlin");
        const auto window = CalendarService::fetchWindow(utc(2025, 3, 1, 12));
        ASSERT_TRUE(window);
        EXPECT_EQ(window->second.toLocalTime().time(), QTime(0, 0));
        EXPECT_EQ(window->second.toLocalTime().date(), QDate(2025, 4, 12));
    }
}


TEST_F(CalendarServiceTest, FetchAsksTheStoreForTheWindowAroundTheSchedulersNow) {
    ScopedTimeZone zone("UTC");
    platform::VirtualScheduler june(platform::Scheduler::Clock::time_point(std::chrono::seconds(utc(2025, 6, 15, 10).toSecsSinceEpoch())));
    CalendarService juneService(store, bus, june);
    juneService.start();
    june.drain();
    ASSERT_EQ(store.queries.size(), 1u);
    EXPECT_EQ(store.queries[0], std::pair(utc(2025, 5, 25), utc(2025, 7, 27)));
    juneService.stop();
}

TEST_F(CalendarServiceTest, SortsByStartKeepingTheStoresOrderForEqualStarts) {
    auto allDay = storeEvent("allday", utc(2027, 1, 15, 9));
    allDay.isAllDay = true;
    store.storedEvents = {storeEvent("late", utc(2027, 1, 16, 9)), storeEvent("b", utc(2027, 1, 15, 9)),
                          storeEvent("early", utc(2027, 1, 14, 9)), allDay, storeEvent("c", utc(2027, 1, 15, 9))};
    service.start();
    scheduler().drain();
    EXPECT_EQ(publishedIds(), (QStringList{"early", "b", "allday", "c", "late"}));
    EXPECT_TRUE(published()[2].isAllDay);

    // Enough events that an unstable sort would reorder the ties.
    store.storedEvents.clear();
    QStringList expected[3];
    for (int i = 0; i < 60; ++i) {
        const int day = (i * 7) % 3;
        store.storedEvents.push_back(storeEvent(QString::number(i), utc(2027, 2, 1 + day, 9)));
        expected[day] << QString::number(i);
    }
    scheduler().advance(300);
    EXPECT_EQ(publishedIds(), expected[0] + expected[1] + expected[2]);
}

TEST_F(CalendarServiceTest, MapsEachStoredEventToARecord) {
    auto full = storeEvent("full", utc(2027, 1, 15, 9));
    full.location = QStringLiteral("Room 4");
    full.calendar = platform::StoreCalendar{QStringLiteral("Work"), QStringLiteral("#ff0000")};
    auto bare = storeEvent("bare", utc(2027, 1, 15, 10));
    bare.title.reset();
    bare.calendar->color.reset();
    auto unreadable = storeEvent("unreadable", utc(2027, 1, 15, 11));
    unreadable.calendar->color = QStringLiteral("not a colour");
    auto anonymous = storeEvent("x", utc(2027, 1, 15, 12));
    anonymous.identifier.reset();
    auto noCalendar = storeEvent("no-calendar", utc(2027, 1, 15, 13));
    noCalendar.calendar.reset();
    auto noEnd = storeEvent("no-end", utc(2027, 1, 15, 14));
    noEnd.endDate.reset();
    store.storedEvents = {full, bare, unreadable, anonymous, noCalendar, noEnd};
    service.start();
    scheduler().drain();

    const auto events = published();
    ASSERT_EQ(events.size(), 4);  // no calendar or no end: nothing to show
    EXPECT_EQ(events[0], (CalendarEvent{"full", "Event full", "Work", utc(2027, 1, 15, 9), utc(2027, 1, 15, 10), false,
                                        {1, 0, 0}, QStringLiteral("Room 4")}));
    EXPECT_EQ(events[1].title, QString(""));
    EXPECT_EQ(events[1].calendarColor, (CalendarEvent::CalendarColor{0.4, 0.6, 1.0}));
    EXPECT_EQ(events[1].location, std::nullopt);
    EXPECT_EQ(events[2].calendarColor, (CalendarEvent::CalendarColor{0.4, 0.6, 1.0}));
    EXPECT_EQ(log.count("CalendarService: Fetched 4 events"), 1);

    // An event without an identifier gets a fresh one on every fetch.
    const QString firstId = events[3].id;
    EXPECT_FALSE(QUuid::fromString(firstId).isNull());
    scheduler().advance(300);
    EXPECT_NE(published()[3].id, firstId);
}

TEST_F(CalendarServiceTest, ColourComponentsOfCalendarColourTexts) {
    EXPECT_EQ(CalendarService::colorComponents(QStringLiteral("#ff0000")), (CalendarEvent::CalendarColor{1, 0, 0}));
    const auto teal = CalendarService::colorComponents(QStringLiteral("#3366cc"));
    EXPECT_DOUBLE_EQ(teal.red, 0.2);
    EXPECT_DOUBLE_EQ(teal.green, 0.4);
    EXPECT_DOUBLE_EQ(teal.blue, 0.8);
    for (const auto& unreadable : {std::optional<QString>(), std::optional<QString>(""), std::optional<QString>("#12"),
                                   std::optional<QString>("bluish")}) {
        EXPECT_EQ(CalendarService::colorComponents(unreadable), (CalendarEvent::CalendarColor{0.4, 0.6, 1.0}));
    }
}

TEST_F(CalendarServiceTest, ABurstOfStoreChangesRefetchesOnceASecondAfterTheLast) {
    service.start();
    scheduler().drain();
    ASSERT_EQ(store.queries.size(), 1u);
    for (int i = 0; i < 5; ++i) {
        scheduler().advance(0.1);
        store.postChange();
    }
    // The last notice came at 0.5 s; its second ends at 1.5 s.
    scheduler().advance(0.99);
    EXPECT_EQ(store.queries.size(), 1u);
    scheduler().advance(0.01);
    EXPECT_EQ(store.queries.size(), 2u);
    EXPECT_EQ(log.count("CalendarService: Calendar store changed, refreshing"), 1);
    scheduler().advance(5);
    EXPECT_EQ(store.queries.size(), 2u);
}

TEST_F(CalendarServiceTest, StopEndsTimerAndObservationButKeepsThePublishedList) {
    store.storedEvents = {storeEvent("a", utc(2027, 1, 15, 9))};
    service.start();
    scheduler().drain();
    store.postChange();  // pending when stopped: must not fire
    service.stop();
    EXPECT_FALSE(service.isRunning());
    EXPECT_EQ(store.observerCount(), 0);
    EXPECT_TRUE(log.contains(platform::LogLevel::Info, "CalendarService: Stopped"));
    scheduler().advance(300);
    store.postChange();
    scheduler().advance(2);
    EXPECT_EQ(store.queries.size(), 1u);
    EXPECT_EQ(publishedIds(), QStringList{"a"});

    // Stopping a stopped service still says so; a restart fetches at once and reads the status again.
    service.stop();
    EXPECT_EQ(log.count("CalendarService: Stopped"), 2);
    const int reads = store.statusReads;
    service.start();
    scheduler().drain();
    EXPECT_EQ(store.statusReads, reads + 1);
    EXPECT_EQ(store.queries.size(), 2u);

    scheduler().advance(300);
    EXPECT_EQ(store.queries.size(), 3u);

    // A fetch under way when the service stops publishes nothing.
    store.storedEvents = {storeEvent("b", utc(2027, 1, 15, 9))};
    scheduler().setHoldGlobal(true);
    scheduler().advance(300);
    service.stop();
    scheduler().setHoldGlobal(false);
    scheduler().drain();
    EXPECT_EQ(store.queries.size(), 4u);
    EXPECT_EQ(publishedIds(), QStringList{"a"});
}

TEST_F(CalendarServiceTest, ADestroyedServiceLeavesNothingScheduled) {
    {
        CalendarService shortLived(store, bus, scheduler());
        shortLived.start();
        store.postChange();
    }
    EXPECT_EQ(store.observerCount(), 0);
    scheduler().advance(600);  // neither the timer nor the debounce touches the dead service
    EXPECT_EQ(store.queries.size(), 1u);
}

}  // namespace
