#include "platform/calendar/eds_calendar_store.h"

#include "platform/calendar/glib_thread.h"
#include "platform/dbus/dbus_connection.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/retry_backoff.h"

#include <libecal/libecal.h>
#include <libedataserver/libedataserver.h>

#include <QFileInfo>
#include <QTimeZone>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <map>
#include <utility>

namespace platform {

namespace {

QString fromUtf8(const char* text) { return text ? QString::fromUtf8(text) : QString(); }

// All-day dates and floating times are wall-clock values of the user's zone; zoned times are instants.
std::optional<QDateTime> toDateTime(ICalTime* time) {
    if (!time || i_cal_time_is_null_time(time) || !i_cal_time_is_valid_time(time)) return std::nullopt;
    const QDate date(i_cal_time_get_year(time), i_cal_time_get_month(time), i_cal_time_get_day(time));
    if (!date.isValid()) return std::nullopt;
    if (i_cal_time_is_date(time)) return date.startOfDay();
    ICalTimezone* zone = i_cal_time_get_timezone(time);
    if (!zone && !i_cal_time_is_utc(time)) {
        return QDateTime(date, QTime(i_cal_time_get_hour(time), i_cal_time_get_minute(time), i_cal_time_get_second(time)));
    }
    const time_t seconds = i_cal_time_as_timet_with_zone(time, zone ? zone : i_cal_timezone_get_utc_timezone());
    if (zone) g_object_unref(zone);
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(seconds), Qt::UTC);
}

bool hasProperty(ICalComponent* component, ICalPropertyKind kind) {
    ICalProperty* property = i_cal_component_get_first_property(component, kind);
    if (!property) return false;
    g_object_unref(property);
    return true;
}

struct Collector {
    StoreCalendar calendar;
    std::vector<StoreEvent>* out;
};

gboolean collectInstance(ICalComponent* component, ICalTime* instanceStart, ICalTime* instanceEnd, gpointer data,
                         GCancellable*, GError**) {
    auto* collector = static_cast<Collector*>(data);
    StoreEvent event;
    if (const char* uid = i_cal_component_get_uid(component); uid && *uid) {
        event.identifier = QString::fromUtf8(uid);
        // Every occurrence of a recurring event shares the uid: the occurrence's start tells them apart.
        if (hasProperty(component, I_CAL_RRULE_PROPERTY) || hasProperty(component, I_CAL_RDATE_PROPERTY) ||
            hasProperty(component, I_CAL_RECURRENCEID_PROPERTY)) {
            gchar* occurrence = i_cal_time_as_ical_string(instanceStart);
            *event.identifier += QLatin1Char('/') + fromUtf8(occurrence);
            g_free(occurrence);
        }
    }
    if (const char* summary = i_cal_component_get_summary(component)) event.title = QString::fromUtf8(summary);
    if (const char* location = i_cal_component_get_location(component); location && *location) {
        event.location = QString::fromUtf8(location);
    }
    event.calendar = collector->calendar;
    event.startDate = toDateTime(instanceStart);
    event.endDate = toDateTime(instanceEnd);
    event.isAllDay = instanceStart && i_cal_time_is_date(instanceStart);
    collector->out->push_back(std::move(event));
    return TRUE;
}

StoreCalendar calendarOf(ESource* source) {
    StoreCalendar calendar;
    calendar.title = fromUtf8(e_source_get_display_name(source));
    auto* selectable = static_cast<ESourceSelectable*>(e_source_get_extension(source, E_SOURCE_EXTENSION_CALENDAR));
    gchar* color = e_source_selectable_dup_color(selectable);
    if (color && *color) calendar.color = QString::fromUtf8(color);
    g_free(color);
    return calendar;
}

// Without an address or the session's bus socket GLib would autolaunch a bus of its own, which
// outlives the application.
bool sessionBusConfigured() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

// The registry's bus name, owned by evolution-source-registry once it runs.
const QString kSourcesService = QStringLiteral("org.gnome.evolution.dataserver.Sources5");

// Whether the bus has the source registry or can start it. Asked before GLib connects, so a
// bus without Evolution Data Server is told apart from one whose service failed.
bool sourcesServiceOnBus() {
    // A connection of its own to the bus GLib would use now (the shared one may have been made
    // for another bus earlier), kept for the next probe while that bus stays the same.
    static std::mutex probeLock;
    static QString probeAddress;
    // Never destroyed: static destruction runs after the bus threads are gone.
    static QtDBusConnection* probeBus = nullptr;
    static int probes = 0;
    std::lock_guard guard(probeLock);
    const QString address = sessionBusAddress();
    if (!probeBus || address != probeAddress || !probeBus->isConnected()) {
        delete std::exchange(probeBus, nullptr);
        probeBus = new QtDBusConnection(address, QStringLiteral("quillvex-calendar-probe-") + QString::number(++probes));
        probeAddress = address;
    }
    QtDBusConnection& bus = *probeBus;
    const auto ask = [&bus](const QString& method, const QVariantList& arguments) {
        return bus.call(DBusCall{QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                 QStringLiteral("org.freedesktop.DBus"), method, arguments},
                        std::chrono::milliseconds(2000));
    };
    const DBusReply owned = ask(QStringLiteral("NameHasOwner"), {kSourcesService});
    if (owned.ok() && owned.value().toBool()) return true;
    const DBusReply activatable = ask(QStringLiteral("ListActivatableNames"), {});
    // A bus that cannot say is given the benefit of the doubt: GLib's own attempt decides.
    return !activatable.ok() || activatable.value().toStringList().contains(kSourcesService);
}

}  // namespace

// The store is reached, queried and its live views opened on a GLib thread of its own: each of
// those waits on the bus and on the calendar backends, which must not hold the main thread, and
// the objects made there signal their changes there, where a loop runs. `lock` guards the GLib
// objects against the main thread's quick reads. The observers are main-thread only.
struct EdsCalendarStore::Impl : std::enable_shared_from_this<Impl> {
    struct View {
        ECalClientView* view = nullptr;
        bool complete = false;  // the first objects-added carries the existing contents, not a change
        std::atomic<bool> active{true};  // false once dropped; a notice already under way is ignored
        Impl* owner = nullptr;
    };

    explicit Impl(Scheduler& scheduler) : scheduler(scheduler) {}

    Scheduler& scheduler;
    std::recursive_mutex lock;  // guards the GLib objects below (not the observers)
    std::atomic<bool> wantsObserving{false};
    std::atomic<bool> reached{false};  // the registry is there: a status read need not wait for the lock
    std::atomic<bool> attempting{false};  // a worker is reaching the registry
    std::atomic<int> calendarCount{0};  // enabled event calendars at the last listing
    std::chrono::steady_clock::time_point lastAttempt;  // main thread only
    // How long a status read waits after an attempt before it tries again: a desktop without the
    // calendar service is asked less and less often. Main thread only.
    RetryBackoff retries{std::chrono::seconds(1), std::chrono::seconds(64)};
    RetryBackoff::Duration retryWait{0};
    std::vector<std::unique_ptr<View>> retired;  // dropped views stay allocated: a notice may still name one
    mutable std::mutex errorLock;  // guards lastError and problem

    ESourceRegistry* registry = nullptr;
    std::vector<gulong> registrySignals;
    std::map<QString, ECalClient*> clients;  // by source uid
    std::map<QString, std::unique_ptr<View>> views;  // by source uid, while observed
    std::map<uint64_t, std::shared_ptr<std::function<void()>>> observers;
    std::map<uint64_t, std::shared_ptr<std::function<void()>>> statusObservers;  // main thread only
    uint64_t nextObserver = 0;
    QString lastError;
    std::optional<CalendarStoreProblem> problem;

    // Declared last, so ended first: no step runs on members already gone.
    GlibThread glib;

    ~Impl() {
        // On the GLib thread, where the objects deliver: once it has run, none calls back.
        glib.run([this] {
            std::lock_guard guard(lock);
            stopObserving();
            for (auto& [uid, client] : clients) g_object_unref(client);
            clients.clear();
            if (registry) g_object_unref(registry);
            registry = nullptr;
        });
    }

    void setError(const QString& text, std::optional<CalendarStoreProblem> kind) {
        std::lock_guard guard(errorLock);
        lastError = text;
        problem = kind;
    }
    void setError(const QString& text) {
        std::lock_guard guard(errorLock);
        lastError = text;
    }

    bool reach() {
        if (reached) return true;
        std::lock_guard guard(lock);
        if (registry) return true;
        if (!sessionBusConfigured()) {
            setError(QStringLiteral("no session bus"), CalendarStoreProblem::noSessionBus);
            return false;
        }
        if (!sourcesServiceOnBus()) {
            setError(QStringLiteral("Evolution Data Server is not installed (no ") + kSourcesService +
                         QStringLiteral(" on the session bus)"),
                     CalendarStoreProblem::notInstalled);
            return false;
        }
        GError* error = nullptr;
        registry = e_source_registry_new_sync(nullptr, &error);
        if (!registry) {
            setError(error ? QString::fromUtf8(error->message) : QStringLiteral("no source registry"),
                     CalendarStoreProblem::unreachable);
            g_clear_error(&error);
            return false;
        }
        reached = true;
        std::lock_guard errors(errorLock);
        problem.reset();
        return true;
    }

    // Reaching waits on the bus: never on the main thread. Tells the status observers, then
    // `done`, on the main thread.
    void reachOnWorker(std::function<void(bool)> done = {}) {
        attempting = true;
        lastAttempt = std::chrono::steady_clock::now();
        onWorker([done = std::move(done)](Impl& self) mutable {
            const bool ok = self.reach();
            self.attempting = false;
            self.scheduler.post([weak = self.weak_from_this(), ok, done = std::move(done)] {
                if (auto impl = weak.lock()) impl->announceStatus();
                if (done) done(ok);
            });
        });
    }

    void announceStatus() {
        auto current = statusObservers;
        for (auto& [id, handler] : current) {
            if (statusObservers.count(id)) (*handler)();
        }
    }

    // Runs `step` on the GLib thread while the store lives, with the GLib objects to itself.
    void onWorker(std::function<void(Impl&)> step) {
        glib.post([weak = weak_from_this(), step = std::move(step)] {
            if (auto self = weak.lock()) {
                std::lock_guard guard(self->lock);
                step(*self);
            }
        });
    }

    // Enabled event calendars, ordered by name so the store's order is stable between fetches.
    std::vector<ESource*> calendarSources() {
        std::lock_guard guard(lock);
        std::vector<ESource*> sources;
        if (!reach()) return sources;
        GList* list = e_source_registry_list_enabled(registry, E_SOURCE_EXTENSION_CALENDAR);
        for (GList* item = list; item; item = item->next) sources.push_back(E_SOURCE(g_object_ref(item->data)));
        g_list_free_full(list, g_object_unref);
        calendarCount = static_cast<int>(sources.size());
        std::sort(sources.begin(), sources.end(), [](ESource* a, ESource* b) {
            const int byName = QString::compare(fromUtf8(e_source_get_display_name(a)), fromUtf8(e_source_get_display_name(b)));
            return byName != 0 ? byName < 0 : qstrcmp(e_source_get_uid(a), e_source_get_uid(b)) < 0;
        });
        return sources;
    }

    static void release(std::vector<ESource*>& sources) {
        for (ESource* source : sources) g_object_unref(source);
        sources.clear();
    }

    ECalClient* client(ESource* source) {
        std::lock_guard guard(lock);
        const QString uid = fromUtf8(e_source_get_uid(source));
        if (auto found = clients.find(uid); found != clients.end()) return found->second;
        GError* error = nullptr;
        // A wait of 0 never returns and a bounded one stalls for its whole length; all ones returns
        // as soon as the backend is open.
        EClient* connected = e_cal_client_connect_sync(source, E_CAL_CLIENT_SOURCE_TYPE_EVENTS, static_cast<guint32>(-1),
                                                       nullptr, &error);
        if (!connected) {
            setError(error ? QString::fromUtf8(error->message) : QStringLiteral("calendar did not open"));
            g_clear_error(&error);
            return nullptr;
        }
        auto* calendar = E_CAL_CLIENT(connected);
        const QByteArray zoneId = QTimeZone::systemTimeZoneId();
        if (ICalTimezone* zone = i_cal_timezone_get_builtin_timezone(zoneId.constData())) {
            e_cal_client_set_default_timezone(calendar, zone);
        }
        clients.emplace(uid, calendar);
        return calendar;
    }

    // On the GLib thread: tells the observers on the main thread, then brings the views in line.
    void notify() {
        scheduler.post([weak = weak_from_this()] {
            auto self = weak.lock();
            if (!self) return;
            auto current = self->observers;
            for (auto& [id, handler] : current) {
                if (self->observers.count(id)) (*handler)();
            }
        });
        onWorker([](Impl& self) { self.syncViews(); });
    }

    static void onObjects(ECalClientView*, gpointer, gpointer data) {
        auto* view = static_cast<View*>(data);
        if (view->active && view->complete) view->owner->notify();
    }
    static void onComplete(ECalClientView*, const GError*, gpointer data) { static_cast<View*>(data)->complete = true; }
    static void onSource(ESourceRegistry*, ESource*, gpointer data) { static_cast<Impl*>(data)->notify(); }

    // On the GLib thread, while anyone observes.
    void startObserving() {
        if (!wantsObserving || !reach() || !registrySignals.empty()) return;
        for (const char* signal : {"source-added", "source-removed", "source-changed", "source-enabled", "source-disabled"}) {
            registrySignals.push_back(g_signal_connect(registry, signal, G_CALLBACK(onSource), this));
        }
        syncViews();
    }

    // One live view per enabled calendar, added and dropped as calendars come and go.
    void syncViews() {
        if (!wantsObserving || !registry) return;
        auto sources = calendarSources();
        std::map<QString, std::unique_ptr<View>> kept;
        for (ESource* source : sources) {
            const QString uid = fromUtf8(e_source_get_uid(source));
            if (auto found = views.find(uid); found != views.end()) {
                kept.emplace(uid, std::move(found->second));
                views.erase(found);
                continue;
            }
            ECalClient* calendar = client(source);
            if (!calendar) continue;
            ECalClientView* view = nullptr;
            GError* error = nullptr;
            if (!e_cal_client_get_view_sync(calendar, "#t", &view, nullptr, &error)) {
                setError(error ? QString::fromUtf8(error->message) : QStringLiteral("no view"));
                g_clear_error(&error);
                continue;
            }
            auto entry = std::make_unique<View>();
            entry->view = view;
            entry->owner = this;
            g_signal_connect(view, "objects-added", G_CALLBACK(onObjects), entry.get());
            g_signal_connect(view, "objects-modified", G_CALLBACK(onObjects), entry.get());
            g_signal_connect(view, "objects-removed", G_CALLBACK(onObjects), entry.get());
            g_signal_connect(view, "complete", G_CALLBACK(onComplete), entry.get());
            e_cal_client_view_start(view, &error);
            g_clear_error(&error);
            kept.emplace(uid, std::move(entry));
        }
        release(sources);
        for (auto& [uid, view] : views) drop(std::move(view));
        views = std::move(kept);
    }

    void drop(std::unique_ptr<View> entry) {
        entry->active = false;
        g_signal_handlers_disconnect_by_data(entry->view, entry.get());
        e_cal_client_view_stop(entry->view, nullptr);
        g_object_unref(entry->view);
        retired.push_back(std::move(entry));
    }

    void stopObserving() {
        for (auto& [uid, view] : views) drop(std::move(view));
        views.clear();
        if (registry) {
            for (gulong id : registrySignals) g_signal_handler_disconnect(registry, id);
        }
        registrySignals.clear();
    }
};

EdsCalendarStore::EdsCalendarStore(Scheduler& scheduler) : impl_(std::make_shared<Impl>(scheduler)) {
    // Reaching the registry waits on the bus: it starts on a worker at once, so the first status
    // read seldom waits for it.
    impl_->reachOnWorker();
}

EdsCalendarStore::~EdsCalendarStore() = default;

CalendarAuthorizationStatus EdsCalendarStore::authorizationStatus() {
    if (impl_->reached) return CalendarAuthorizationStatus::fullAccess;
    // Out of reach so far: try again in the background, a second after the last attempt at first and
    // then ever less often (the settings read the status every second, and each attempt's end makes
    // them read it again).
    if (!impl_->attempting && std::chrono::steady_clock::now() - impl_->lastAttempt >= impl_->retryWait) {
        impl_->retryWait = impl_->retries.next();
        impl_->reachOnWorker();
    }
    return CalendarAuthorizationStatus::notDetermined;
}

bool EdsCalendarStore::statusPending() { return !impl_->reached && impl_->attempting; }

AnyCancellable EdsCalendarStore::observeStatus(std::function<void()> handler) {
    const uint64_t id = impl_->nextObserver++;
    impl_->statusObservers.emplace(id, std::make_shared<std::function<void()>>(std::move(handler)));
    return AnyCancellable([weak = std::weak_ptr<Impl>(impl_), id] {
        if (auto impl = weak.lock()) impl->statusObservers.erase(id);
    });
}

void EdsCalendarStore::requestFullAccess(std::function<void(bool, std::optional<QString>)> completion) {
    impl_->reachOnWorker([weak = std::weak_ptr<Impl>(impl_), completion = std::move(completion)](bool granted) {
        std::optional<QString> error;
        if (auto impl = weak.lock(); impl && !granted) {
            std::lock_guard guard(impl->errorLock);
            error = impl->lastError;
        }
        completion(granted, error);
    });
}

int EdsCalendarStore::eventCalendarCount() {
    // The settings log this on the main thread: never wait there for the registry or a worker's query.
    std::unique_lock guard(impl_->lock, std::try_to_lock);
    if (!guard.owns_lock() || !impl_->reached) return impl_->calendarCount;
    auto sources = impl_->calendarSources();
    Impl::release(sources);
    return impl_->calendarCount;
}

std::vector<StoreEvent> EdsCalendarStore::events(const QDateTime& start, const QDateTime& end) {
    std::vector<StoreEvent> events;
    // The calendars' clients are made there too, and signal there.
    impl_->glib.run([&] { collectEvents(start, end, events); });
    return events;
}

void EdsCalendarStore::collectEvents(const QDateTime& start, const QDateTime& end, std::vector<StoreEvent>& events) {
    std::lock_guard guard(impl_->lock);
    auto sources = impl_->calendarSources();
    for (ESource* source : sources) {
        ECalClient* calendar = impl_->client(source);
        if (!calendar) continue;  // an unreachable calendar hides only its own events
        Collector collector{calendarOf(source), &events};
        e_cal_client_generate_instances_sync(calendar, static_cast<time_t>(start.toSecsSinceEpoch()),
                                             static_cast<time_t>(end.toSecsSinceEpoch()), nullptr, collectInstance,
                                             &collector);
    }
    Impl::release(sources);
}

AnyCancellable EdsCalendarStore::observeChanges(std::function<void()> handler) {
    const uint64_t id = impl_->nextObserver++;
    const bool first = impl_->observers.empty();
    impl_->observers.emplace(id, std::make_shared<std::function<void()>>(std::move(handler)));
    if (first) {
        impl_->wantsObserving = true;
        impl_->onWorker([](Impl& self) { self.startObserving(); });
    }
    return AnyCancellable([weak = std::weak_ptr<Impl>(impl_), id] {
        auto impl = weak.lock();
        if (!impl) return;
        impl->observers.erase(id);
        if (!impl->observers.empty()) return;
        impl->wantsObserving = false;
        impl->onWorker([](Impl& self) {
            if (!self.wantsObserving) self.stopObserving();
        });
    });
}

QString EdsCalendarStore::lastError() const {
    std::lock_guard guard(impl_->errorLock);
    return impl_->lastError;
}

std::optional<CalendarStoreProblem> EdsCalendarStore::problem() {
    std::lock_guard guard(impl_->errorLock);
    return impl_->problem;
}

}  // namespace platform
