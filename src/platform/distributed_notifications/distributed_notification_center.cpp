#include "platform/distributed_notifications/distributed_notification_center.h"

#include "platform/dbus/dbus_connection.h"

#include <pthread.h>
#include <gio/gio.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace platform {

namespace {

constexpr auto kReadyTimeout = std::chrono::seconds(2);
constexpr int kBusCallTimeoutMs = 2000;

// Shared by the main thread and the observation's thread.
struct Observation {
    DistributedNotificationCenter::Observer observer;
    Scheduler* scheduler = nullptr;
    std::atomic<bool> active{true};  // read on the main thread before each delivery
    GMainContext* context = nullptr;
    GMainLoop* loop = nullptr;
    std::thread thread;

    ~Observation() {
        if (loop) g_main_loop_unref(loop);
        if (context) g_main_context_unref(context);
    }
};

void onSignal(GDBusConnection*, const gchar*, const gchar*, const gchar* interface, const gchar* member, GVariant*,
              gpointer data) {
    auto* observation = static_cast<std::shared_ptr<Observation>*>(data);
    const QString name = QString::fromUtf8(interface) + QLatin1Char('.') + QString::fromUtf8(member);
    std::weak_ptr<Observation> weak = *observation;
    (*observation)->scheduler->post([weak, name] {
        auto alive = weak.lock();
        if (alive && alive->active.load()) alive->observer(name);
    });
}

// On the observation's thread: connect, subscribe to the notices, tell the starter, then serve.
void run(std::shared_ptr<Observation> observation, const QByteArray& address, const QStringList& notices,
         std::promise<bool> ready) {
    pthread_setname_np(pthread_self(), "bus-notices");
    g_main_context_push_thread_default(observation->context);
    GError* error = nullptr;
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address.constData(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (!connection) {
        g_clear_error(&error);
        ready.set_value(false);
        g_main_context_pop_thread_default(observation->context);
        return;
    }
    std::vector<guint> subscriptions;
    for (const QString& notice : notices) {
        const qsizetype dot = notice.lastIndexOf(QLatin1Char('.'));
        if (dot <= 0) continue;
        const QByteArray interface = notice.left(dot).toUtf8();
        const QByteArray member = notice.mid(dot + 1).toUtf8();
        subscriptions.push_back(g_dbus_connection_signal_subscribe(
            connection, nullptr, interface.constData(), member.constData(), nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            onSignal, new std::shared_ptr<Observation>(observation),
            [](gpointer data) { delete static_cast<std::shared_ptr<Observation>*>(data); }));
    }
    // The bus handles this connection's messages in order: once this answer is back, the match
    // rules sent by the subscriptions are in place.
    GVariant* reply = g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "GetId", nullptr, nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, kBusCallTimeoutMs, nullptr, &error);
    if (reply) g_variant_unref(reply);
    g_clear_error(&error);
    ready.set_value(true);

    g_main_loop_run(observation->loop);

    for (const guint subscription : subscriptions) g_dbus_connection_signal_unsubscribe(connection, subscription);
    g_dbus_connection_close_sync(connection, nullptr, nullptr);
    g_object_unref(connection);
    // Let the unsubscription's clean-up (which frees the holder) run before the context goes.
    while (g_main_context_iteration(observation->context, FALSE)) {
    }
    g_main_context_pop_thread_default(observation->context);
}

}  // namespace

DistributedNotificationCenter& DistributedNotificationCenter::shared() {
    // No program on a Linux desktop posts a notice the application acts on (its AirDrop notices
    // are the system's own): no signal is worth a wake-up.
    static BusSignalNotificationCenter instance{QStringList()};
    return instance;
}

BusSignalNotificationCenter::BusSignalNotificationCenter(QStringList notices, QString busAddress, Scheduler* scheduler)
    : notices_(std::move(notices)), busAddress_(std::move(busAddress)), scheduler_(scheduler) {}

AnyCancellable BusSignalNotificationCenter::observeAll(Observer observer) {
    if (notices_.isEmpty() || !observer) return {};
    const QString address = busAddress_.isEmpty() ? sessionBusAddress() : busAddress_;
    if (address.isEmpty()) return {};
    auto observation = std::make_shared<Observation>();
    observation->observer = std::move(observer);
    observation->scheduler = scheduler_ ? scheduler_ : &Scheduler::shared();
    observation->context = g_main_context_new();
    observation->loop = g_main_loop_new(observation->context, FALSE);
    std::promise<bool> ready;
    std::future<bool> isReady = ready.get_future();
    observation->thread = std::thread(run, observation, address.toUtf8(), notices_, std::move(ready));
    // A bus that does not answer in time still gets its thread: cancelling ends it either way.
    if (isReady.wait_for(kReadyTimeout) == std::future_status::ready && !isReady.get()) {
        observation->thread.join();
        return {};
    }
    return AnyCancellable([observation] {
        observation->active.store(false);
        // Through the context rather than the loop: a quit before the loop runs would be lost.
        GSource* quit = g_idle_source_new();
        g_source_set_callback(
            quit, [](gpointer loop) { g_main_loop_quit(static_cast<GMainLoop*>(loop)); return G_SOURCE_REMOVE; },
            observation->loop, nullptr);
        g_source_attach(quit, observation->context);
        g_source_unref(quit);
        if (observation->thread.joinable()) observation->thread.join();
    });
}

}  // namespace platform
