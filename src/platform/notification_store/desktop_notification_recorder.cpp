#include "platform/notification_store/desktop_notification_recorder.h"

#include "platform/dbus/dbus_connection.h"
#include "platform/notification_store/notification_store_writer.h"
#include "platform/notification_store/sender_application.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace platform {

namespace {

// A bus restarted at the same address has a new guid, which the old address would refuse.
QString withoutGuid(const QString& address) {
    QStringList parts = address.split(u',');
    parts.removeIf([](const QString& part) { return part.startsWith(QLatin1String("guid=")); });
    return parts.join(u',');
}

}  // namespace

// Called by Qt on its bus thread with every message addressed to any path on the monitoring
// connection, which after BecomeMonitor are only the copies. Returning true claims them, so
// Qt sends no error reply: a monitor that sends anything is disconnected by the bus.
class NotifySwallower final : public QDBusVirtualObject {
public:
    explicit NotifySwallower(std::function<void(DesktopNotification)> sink) : sink_(std::move(sink)) {}
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        if (auto n = parseNotificationCall(message)) sink_(std::move(*n));
        return true;
    }

private:
    std::function<void(DesktopNotification)> sink_;
};

struct DesktopNotificationRecorder::Shared {
    Options options;
    std::unique_ptr<NotificationStoreWriter> writer;
    std::function<void(std::optional<int64_t>)> observer;
    std::function<void(const Notice&)> noticeHandler;
    std::function<void(Notice)> notify;  // hands a notice to the starting thread
    QString address;
    // Notifications lost since writing began to fail; failing is set from the first loss to the
    // next record written.
    bool failing = false;
    size_t lost = 0;

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<DesktopNotification> queue;
    bool quit = false;
    std::thread thread;
    QString connectionName;
    // An ordinary connection beside the monitor (which must never send): asks who sent a call.
    QString queriesName;
    // Portal notifications lately recorded, which the portal's backend passes on by another road.
    struct Forwardable {
        QString summary;
        QString body;
        QString sender;
        std::chrono::steady_clock::time_point received;
    };
    std::deque<Forwardable> forwardable;
    std::unique_ptr<NotifySwallower> swallower;
    // Qt hands the copied calls to the swallower's thread: one with an event loop of its own, so
    // a busy main thread never delays or drops them.
    std::unique_ptr<QThread> receiver;
    // Receives the start report on the starting thread; deleted (with any report still queued)
    // after the recorder's thread has ended.
    std::unique_ptr<QObject> context;

    void enqueue(DesktopNotification n) {
        {
            std::lock_guard lock(mutex);
            if (quit) return;
            queue.push_back(std::move(n));
        }
        wake.notify_one();
    }

    // On the recorder's thread: connect, become a monitor, then write what arrives, checking
    // the connection whenever nothing arrived for a while.
    void run(const std::function<void(Status)>& report) {
        Status status = monitor();
        report(status);
        if (!status.recording) return;
        const auto check = std::chrono::milliseconds(std::max(options.busCheckMs, 1));
        std::unique_lock lock(mutex);
        for (;;) {
            const bool woken = wake.wait_for(lock, check, [this] { return quit || !queue.empty(); });
            if (quit && queue.empty()) return;
            if (woken) {
                std::deque<DesktopNotification> batch;
                batch.swap(queue);
                lock.unlock();
                prepare(batch);
                if (!batch.empty()) write(batch);
                lock.lock();
            } else if (!QDBusConnection(connectionName).isConnected()) {
                notify({true, QStringLiteral("The session bus dropped the monitoring; monitoring again when it allows")});
                monitorAgain(lock);
            }
        }
    }

    // Waits, longer each time, until the bus takes the monitor again or the recorder stops.
    void monitorAgain(std::unique_lock<std::mutex>& lock) {
        auto delay = std::chrono::milliseconds(std::max(options.busCheckMs, 1));
        while (!quit) {
            lock.unlock();
            release();
            const bool back = monitor().recording;
            lock.lock();
            if (back) {
                notify({false, QStringLiteral("Monitoring desktop notifications again")});
                return;
            }
            wake.wait_for(lock, delay, [this] { return quit; });
            delay = std::min(delay * 2, std::chrono::milliseconds(30000));
        }
    }

    Status monitor() {
        if (address.isEmpty())
            address = withoutGuid(options.busAddress.isEmpty() ? sessionBusAddress() : options.busAddress);
        if (address.isEmpty()) return {false, QStringLiteral("no session bus")};
        static std::atomic<int> counter{0};
        connectionName = QStringLiteral("platform-notification-monitor-%1").arg(++counter);
        QDBusConnection bus = QDBusConnection::connectToBus(address, connectionName);
        if (!bus.isConnected()) {
            const QString error = bus.lastError().message();
            return {false, QStringLiteral("no session bus") + (error.isEmpty() ? QString() : QStringLiteral(": ") + error)};
        }
        swallower = std::make_unique<NotifySwallower>([this](DesktopNotification n) { enqueue(std::move(n)); });
        if (!bus.registerVirtualObject(QStringLiteral("/"), swallower.get(), QDBusConnection::SubPath))
            return {false, QStringLiteral("cannot receive the monitored calls")};
        receiver = std::make_unique<QThread>();
        receiver->setObjectName(QStringLiteral("notification-monitor"));
        swallower->moveToThread(receiver.get());
        receiver->start();
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus.Monitoring"), QStringLiteral("BecomeMonitor"));
        call << notificationMatchRules() << 0u;
        const QDBusMessage reply = bus.call(call, QDBus::Block, options.busTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage)
            return {false, QStringLiteral("monitoring refused: ") + reply.errorMessage()};
        // Without it, portal notifications are recorded under their sender's bus name.
        queriesName = connectionName + QStringLiteral("-queries");
        QDBusConnection::connectToBus(address, queriesName);
        return {true, {}};
    }

    // On the recorder's thread, in the order the calls arrived: names the application behind
    // each portal call, drops the copy its backend passes on, and resolves the senders' icons.
    void prepare(std::deque<DesktopNotification>& batch) {
        const auto window = std::chrono::seconds(5);
        for (auto n = batch.begin(); n != batch.end();) {
            while (!forwardable.empty() && n->received - forwardable.front().received > window)
                forwardable.pop_front();
            if (n->road == DesktopNotification::Road::portal) {
                n->appName = cutToUtf8(portalApplication(n->sender), DesktopNotification::maxNameBytes);
                forwardable.push_back({n->summary, n->body, n->sender, n->received});
                if (forwardable.size() > 64) forwardable.pop_front();
            } else {
                // The backend sends the same title and body moments later, from its own connection.
                const auto forward = std::find_if(forwardable.begin(), forwardable.end(), [&](const Forwardable& f) {
                    return f.sender != n->sender && f.summary == n->summary && f.body == n->body;
                });
                if (forward != forwardable.end()) {
                    forwardable.erase(forward);
                    n = batch.erase(n);
                    continue;
                }
            }
            n->icon = resolveSenderIcon(n->iconSources);
            n->iconSources.clear();
            ++n;
        }
    }

    // The application of the process that sent a portal call, else the sender's bus name.
    QString portalApplication(const QString& sender) {
        if (!queriesName.isEmpty()) {
            QDBusMessage call = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"));
            call << sender;
            const QDBusMessage reply = QDBusConnection(queriesName).call(call, QDBus::Block, options.busTimeoutMs);
            if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
                const QString application = applicationOfProcess(reply.arguments().at(0).toLongLong(), options.procRoot);
                if (!application.isEmpty()) return application;
            }
        }
        return sender;
    }

    void write(const std::deque<DesktopNotification>& batch) {
        // One transaction per batch: a burst costs one commit, and each commit is one event for readers.
        // When another writer holds the lock past the busy timeout, each insert tries on its own.
        const bool inTransaction = writer->execute("BEGIN IMMEDIATE");
        std::vector<std::optional<int64_t>> ids;
        QString error;  // the first reason a record was lost
        for (const auto& n : batch) {
            ids.push_back(writer->appendRecord(
                n.bundleIdentifier(),
                encodeNotificationRecord(n.bundleIdentifier(), n.summary, std::nullopt, n.body, n.icon)));
            if (!ids.back() && error.isEmpty()) error = writer->error();
        }
        writer->pruneKeepingNewest(options.keepNewest);
        const bool committed = !inTransaction || writer->execute("COMMIT");
        if (!committed) {
            if (error.isEmpty()) error = writer->error();
            writer->execute("ROLLBACK");
        }
        const size_t failed = committed ? size_t(std::count(ids.begin(), ids.end(), std::nullopt)) : ids.size();
        account(failed, ids.size(), error);
        if (!observer) return;
        for (const auto& id : ids) observer(committed ? id : std::nullopt);
    }

    // One line when writing starts to fail, one with the count when a record is written again.
    void account(size_t failed, size_t total, const QString& error) {
        if (failed && !failing) {
            failing = true;
            notify({true, QStringLiteral("Cannot write the notification store - ") + error +
                              QStringLiteral("; notifications are lost until writing works again")});
        }
        lost += failed;
        if (failing && failed < total) {
            notify({false, QStringLiteral("Writing the notification store again; %1 notification%2 lost")
                               .arg(lost)
                               .arg(lost == 1 ? QStringLiteral(" was") : QStringLiteral("s were"))});
            failing = false;
            lost = 0;
        }
    }

    void stop() {
        {
            std::lock_guard lock(mutex);
            quit = true;
        }
        wake.notify_all();
        if (thread.joinable()) thread.join();
        release();
        context.reset();
    }

    // Leaves the bus: no copies arrive after this.
    void release() {
        if (!connectionName.isEmpty()) {
            QDBusConnection(connectionName).unregisterObject(QStringLiteral("/"), QDBusConnection::UnregisterTree);
            QDBusConnection::disconnectFromBus(connectionName);
            connectionName.clear();
        }
        if (!queriesName.isEmpty()) {
            QDBusConnection::disconnectFromBus(queriesName);
            queriesName.clear();
        }
        if (receiver) {
            receiver->quit();
            receiver->wait();
        }
        swallower.reset();
        receiver.reset();
    }
};

DesktopNotificationRecorder::DesktopNotificationRecorder(Options options) : shared_(std::make_shared<Shared>()) {
    shared_->options = std::move(options);
}

DesktopNotificationRecorder::~DesktopNotificationRecorder() { shared_->stop(); }

const QString& DesktopNotificationRecorder::storePath() const { return shared_->options.storePath; }

void DesktopNotificationRecorder::setRecordObserver(std::function<void(std::optional<int64_t>)> observer) {
    shared_->observer = std::move(observer);
}

void DesktopNotificationRecorder::setNoticeHandler(std::function<void(const Notice&)> handler) {
    shared_->noticeHandler = std::move(handler);
}

void DesktopNotificationRecorder::start(std::function<void(const Status&)> done) {
    shared_->context = std::make_unique<QObject>();
    QObject* context = shared_->context.get();
    auto report = [context, done = std::move(done)](Status status) {
        QMetaObject::invokeMethod(context, [done, status] { if (done) done(status); }, Qt::QueuedConnection);
    };
    shared_->notify = [context, handler = shared_->noticeHandler](Notice notice) {
        if (handler)
            QMetaObject::invokeMethod(context, [handler, notice] { handler(notice); }, Qt::QueuedConnection);
    };
    shared_->writer = std::make_unique<NotificationStoreWriter>(shared_->options.storePath, shared_->options.busyTimeoutMs);
    if (!shared_->writer->isOpen()) {
        report({false, QStringLiteral("cannot open the store: ") + shared_->writer->error()});
        return;
    }
    Shared* shared = shared_.get();
    shared_->thread = std::thread([shared, report] { shared->run(report); });
}

}  // namespace platform
