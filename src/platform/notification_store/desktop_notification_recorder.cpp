#include "platform/notification_store/desktop_notification_recorder.h"

#include "platform/dbus/dbus_connection.h"
#include "platform/notification_store/notification_store_writer.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFileInfo>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace platform {

namespace {

const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

QString hintText(const QVariantMap& hints, const QString& key) {
    QVariant value = hints.value(key);
    if (value.metaType() == QMetaType::fromType<QDBusVariant>()) value = value.value<QDBusVariant>().variant();
    return value.metaType() == QMetaType::fromType<QString>() ? value.toString() : QString();
}

// Notify(s app_name, u replaces_id, s app_icon, s summary, s body, as actions, a{sv} hints, i timeout)
std::optional<DesktopNotification> parseNotify(const QDBusMessage& message) {
    if (message.type() != QDBusMessage::MethodCallMessage || message.interface() != kInterface ||
        message.member() != QLatin1String("Notify") || message.signature() != QLatin1String("susssasa{sv}i"))
        return std::nullopt;
    const QVariantList args = message.arguments();
    DesktopNotification n;
    n.appName = args.at(0).toString();
    n.summary = args.at(3).toString();
    n.body = args.at(4).toString();
    QVariantMap hints;
    if (args.at(6).metaType() == QMetaType::fromType<QDBusArgument>()) args.at(6).value<QDBusArgument>() >> hints;
    n.desktopEntry = hintText(hints, QStringLiteral("desktop-entry"));
    return n;
}

}  // namespace

QString DesktopNotification::bundleIdentifier() const {
    const QString entry = desktopEntry.trimmed();
    return entry.isEmpty() ? appName : entry;
}

// Called by Qt on its bus thread with every message addressed to any path on the monitoring
// connection, which after BecomeMonitor are only the copies. Returning true claims them, so
// Qt sends no error reply: a monitor that sends anything is disconnected by the bus.
class NotifySwallower final : public QDBusVirtualObject {
public:
    explicit NotifySwallower(std::function<void(DesktopNotification)> sink) : sink_(std::move(sink)) {}
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        if (auto n = parseNotify(message)) sink_(std::move(*n));
        return true;
    }

private:
    std::function<void(DesktopNotification)> sink_;
};

struct DesktopNotificationRecorder::Shared {
    Options options;
    std::unique_ptr<NotificationStoreWriter> writer;
    std::function<void(std::optional<int64_t>)> observer;

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<DesktopNotification> queue;
    bool quit = false;
    std::thread thread;
    QString connectionName;
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

    // On the recorder's thread: connect, become a monitor, then write what arrives.
    void run(const std::function<void(Status)>& report) {
        Status status = monitor();
        report(status);
        if (!status.recording) return;
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return quit || !queue.empty(); });
            if (queue.empty()) return;
            std::deque<DesktopNotification> batch;
            batch.swap(queue);
            lock.unlock();
            write(batch);
            lock.lock();
        }
    }

    Status monitor() {
        const QString address = options.busAddress.isEmpty() ? sessionBusAddress() : options.busAddress;
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
        call << QStringList{QStringLiteral("type='method_call',interface='org.freedesktop.Notifications',member='Notify'")}
             << 0u;
        const QDBusMessage reply = bus.call(call, QDBus::Block, options.busTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage)
            return {false, QStringLiteral("monitoring refused: ") + reply.errorMessage()};
        return {true, {}};
    }

    void write(const std::deque<DesktopNotification>& batch) {
        // One transaction per batch: a burst costs one commit, and each commit is one event for readers.
        // When another writer holds the lock past the busy timeout, each insert tries on its own.
        const bool inTransaction = writer->execute("BEGIN IMMEDIATE");
        std::vector<std::optional<int64_t>> ids;
        for (const auto& n : batch)
            ids.push_back(writer->appendRecord(n.bundleIdentifier(),
                                               encodeNotificationRecord(n.bundleIdentifier(), n.summary, std::nullopt, n.body)));
        writer->pruneKeepingNewest(options.keepNewest);
        const bool committed = !inTransaction || writer->execute("COMMIT");
        if (!committed) writer->execute("ROLLBACK");
        if (!observer) return;
        for (const auto& id : ids) observer(committed ? id : std::nullopt);
    }

    void stop() {
        {
            std::lock_guard lock(mutex);
            quit = true;
        }
        wake.notify_all();
        if (thread.joinable()) thread.join();
        if (!connectionName.isEmpty()) {
            QDBusConnection(connectionName).unregisterObject(QStringLiteral("/"), QDBusConnection::UnregisterTree);
            QDBusConnection::disconnectFromBus(connectionName);
        }
        if (receiver) {
            receiver->quit();
            receiver->wait();
        }
        swallower.reset();
        receiver.reset();
        context.reset();
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

void DesktopNotificationRecorder::start(std::function<void(const Status&)> done) {
    shared_->context = std::make_unique<QObject>();
    QObject* context = shared_->context.get();
    auto report = [context, done = std::move(done)](Status status) {
        QMetaObject::invokeMethod(context, [done, status] { if (done) done(status); }, Qt::QueuedConnection);
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
