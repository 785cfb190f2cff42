#include "glance/calendar_service.h"

#include "core/log.h"

#include <QColor>
#include <QUuid>

#include <algorithm>

namespace {

constexpr double refreshInterval = 300;
constexpr double changeDebounce = 1;
constexpr CalendarEvent::CalendarColor defaultColor{0.4, 0.6, 1.0};

}  // namespace

CalendarService& CalendarService::shared() {
    static CalendarService service;
    return service;
}

CalendarService::CalendarService(platform::CalendarStore& store, EventBus& bus, platform::Scheduler& scheduler)
    : store_(store), bus_(bus), scheduler_(scheduler) {}

void CalendarService::start() {
    if (isRunning_) return;
    if (store_.authorizationStatus() != platform::CalendarAuthorizationStatus::fullAccess) {
        Log::shared().info(QStringLiteral("CalendarService: Skipping start because calendar access is not granted yet"));
        return;
    }
    isRunning_ = true;
    Log::shared().info(QStringLiteral("CalendarService: Starting"));
    fetchEvents();
    startRefreshTimer();
    observeCalendarChanges();
}

void CalendarService::stop() {
    timer_.invalidate();
    cancellables_.cancelAll();
    lifetime_.reset();
    isRunning_ = false;
    Log::shared().info(QStringLiteral("CalendarService: Stopped"));
}

CalendarEvent::CalendarColor CalendarService::colorComponents(const std::optional<QString>& color) {
    if (!color) return defaultColor;
    const QColor parsed = QColor::fromString(*color);
    if (!parsed.isValid()) return defaultColor;
    // From the 16-bit channels: the float accessors would turn 0.2 into 0.20000000298.
    const QRgba64 rgb = parsed.toRgb().rgba64();
    return {rgb.red() / 65535.0, rgb.green() / 65535.0, rgb.blue() / 65535.0};
}

std::optional<std::pair<QDateTime, QDateTime>> CalendarService::fetchWindow(const QDateTime& now) {
    const QDateTime startOfToday = now.toLocalTime().date().startOfDay();
    if (!startOfToday.isValid()) return std::nullopt;
    const QDateTime start = startOfToday.addDays(-21);
    const QDateTime end = startOfToday.addDays(42);
    if (!start.isValid() || !end.isValid()) return std::nullopt;
    return std::pair{start, end};
}

void CalendarService::fetchEvents() {
    const auto now = QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(scheduler_.wallNow().time_since_epoch()).count());
    const auto window = fetchWindow(now);
    if (!window) {
        Log::shared().error(QStringLiteral("CalendarService: Failed to compute date range"));
        return;
    }

    // The store's query waits on the calendar backends: it runs on a worker, and the list is
    // published on the main thread unless the service stopped meanwhile.
    auto publish = lifetime_.wrap([this](QList<CalendarEvent> events) {
        bus_.calendarEventsSubject.send(events);
        Log::shared().debug(QStringLiteral("CalendarService: Fetched %1 events").arg(events.size()));
    });
    scheduler_.global([&store = store_, &scheduler = scheduler_, window = *window, publish]() mutable {
        QList<CalendarEvent> events;
        for (auto& stored : store.events(window.first, window.second)) {
            // The record cannot stand without its calendar and its times.
            if (!stored.calendar || !stored.startDate || !stored.endDate) continue;
            CalendarEvent event;
            event.id = stored.identifier.value_or(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
            event.title = stored.title.value_or(QString());
            event.calendarTitle = stored.calendar->title;
            event.startDate = *stored.startDate;
            event.endDate = *stored.endDate;
            event.isAllDay = stored.isAllDay;
            event.calendarColor = colorComponents(stored.calendar->color);
            event.location = std::move(stored.location);
            events.append(std::move(event));
        }
        std::stable_sort(events.begin(), events.end(),
                         [](const CalendarEvent& a, const CalendarEvent& b) { return a.startDate < b.startDate; });
        scheduler.post([publish, events = std::move(events)]() mutable { publish(std::move(events)); });
    });
}

void CalendarService::startRefreshTimer() {
    timer_.invalidate();
    timer_ = scheduler_.every(refreshInterval, lifetime_.wrap([this] { fetchEvents(); }));
}

void CalendarService::observeCalendarChanges() {
    auto changes = std::make_shared<platform::PassthroughSubject<>>();
    cancellables_.insert(store_.observeChanges([changes] { changes->send(); }));
    std::function<void()> refresh = lifetime_.wrap([this] {
        Log::shared().debug(QStringLiteral("CalendarService: Calendar store changed, refreshing"));
        fetchEvents();
    });
    cancellables_.insert(changes->debounce(changeDebounce, &scheduler_).sink(std::move(refresh)));
}
