#include "platform/notification_store/desktop_notification_recorder.h"

#include "platform/dbus/dbus_connection.h"
#include "platform/files/child_file_read.h"
#include "platform/notification_store/arriving_notifications.h"
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
#include <utility>

#include <pthread.h>

namespace platform {

namespace {

// A bus restarted at the same address has a new guid, which the old address would refuse.
QString withoutGuid(const QString& address) {
    QStringList parts = address.split(u',');
    parts.removeIf([](const QString& part) { return part.startsWith(QLatin1String("guid=")); });
    return parts.join(u',');
}

// A call the recorder sends itself when it stops: the bus passes its copy to the monitor after
// every copy it passed before, so once it is back, all that had come is in.
const QString kMarkPath = QStringLiteral("/com/varnock/Quillvex/NotificationRecorder");
const QString kMarkInterface = QStringLiteral("com.varnock.Quillvex.NotificationRecorder");
const QString kMarkMember = QStringLiteral("Received");

}  // namespace

// Called by Qt on its bus thread with every message addressed to any path on the monitoring
// connection, which after BecomeMonitor are only the copies. Returning true claims them, so
// Qt sends no error reply: a monitor that sends anything is disconnected by the bus.
class NotifySwallower final : public QDBusVirtualObject {
public:
    NotifySwallower(std::function<void(DesktopNotification)> sink, std::function<void(quint64)> marked)
        : sink_(std::move(sink)), marked_(std::move(marked)) {}
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        // Only the recorder's own connection sends these (the monitoring asks for no others).
        if (message.interface() == kMarkInterface) {
            marked_(message.arguments().value(0).toULongLong());
        } else if (auto n = parseNotificationCall(message)) {
            sink_(std::move(*n));
        }
        return true;
    }

private:
    std::function<void(DesktopNotification)> sink_;
    std::function<void(quint64)> marked_;
};

// Told by Qt when the monitoring connection ends (the local Disconnected signal libdbus makes of
// a closed socket), so the recorder learns of it without asking the connection on a timer.
class DisconnectWatch final : public QObject {
    Q_OBJECT
public:
    explicit DisconnectWatch(std::function<void()> gone) : gone_(std::move(gone)) {}
public Q_SLOTS:
    void disconnected() { gone_(); }

private:
    std::function<void()> gone_;
};

struct DesktopNotificationRecorder::Shared {
    Options options;
    std::unique_ptr<NotificationStoreWriter> writer;
    std::function<void(std::optional<int64_t>)> observer;
    std::function<void(const Notice&)> noticeHandler;
    std::function<void(Notice)> notify;  // hands a notice to the starting thread
    QString address;
    // Received and not yet written, oldest first (recorder's thread only). Bounded by the
    // records the store keeps: more would be pruned at their write anyway.
    std::deque<DesktopNotification> pending;
    // From the first failed write to the next one that works: whether it was said, and how many
    // the bound dropped meanwhile.
    bool failing = false;
    bool toldOfLoss = false;
    size_t lost = 0;

    // Received, their icons being resolved (recorder's thread only).
    std::unique_ptr<ArrivingNotifications> arriving;

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<DesktopNotification> queue;
    // Asked to stop; then no more is taken in (`quit`) once what had come is in.
    bool stopping = false;
    bool quit = false;
    // A picture read ended (under `mutex`).
    bool readsFinished = false;
    // The last mark back, and when a call last came in (under `mutex`).
    quint64 markSeen = 0;
    std::chrono::steady_clock::time_point lastArrival;
    quint64 marks = 0;
    // The monitoring connection ended (under `mutex`); told by `disconnectWatch` when it could
    // listen, which spares the periodic check.
    bool dropped = false;
    bool hearsDisconnect = false;
    // Which connection a late notice is about: one released on purpose tells nothing.
    std::atomic<int> generation{0};
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
    // Given up when stopping: the files read about a portal call's process.
    FileReadCanceller reads;
    std::unique_ptr<NotifySwallower> swallower;
    std::unique_ptr<DisconnectWatch> disconnectWatch;
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
            lastArrival = std::chrono::steady_clock::now();
        }
        wake.notify_one();
    }

    void marked(quint64 token) {
        {
            std::lock_guard lock(mutex);
            markSeen = token;
            lastArrival = std::chrono::steady_clock::now();
        }
        wake.notify_one();
    }

    // When stopping, how long the mark may take: nothing coming in for this long means the bus no
    // longer delivers; the whole wait never passes the limit.
    static constexpr std::chrono::milliseconds kMarkQuiet{150};
    static constexpr std::chrono::milliseconds kMarkLimit{1000};

    // On the recorder's thread: connect, become a monitor, then write what arrives in the order
    // it arrived, checking the connection from time to time where its end cannot be heard. What
    // the store refuses (another program holds its lock) waits and is tried again until it goes
    // in. Asked to stop, it gives up the picture reads, waits until what the bus had passed on by
    // then has come (its mark is back), writes it all in one go and ends.
    void run(const std::function<void(Status)>& report) {
        using Clock = std::chrono::steady_clock;
        Status status = monitor();
        report(status);
        if (!status.recording) return;
        arriving = std::make_unique<ArrivingNotifications>([this] {
            {
                std::lock_guard lock(mutex);
                readsFinished = true;
            }
            wake.notify_one();
        });
        const auto check = std::chrono::milliseconds(std::max(options.busCheckMs, 1));
        const auto retry = std::chrono::milliseconds(std::max(options.busyTimeoutMs, 10));
        auto nextCheck = Clock::now() + check;
        std::unique_lock lock(mutex);
        const auto due = [this] { return stopping || dropped || !queue.empty() || readsFinished; };
        for (;;) {
            std::optional<Clock::time_point> until;
            const auto sooner = [&](Clock::time_point at) {
                if (!until || at < *until) until = at;
            };
            if (!pending.empty()) sooner(Clock::now() + retry);
            if (!hearsDisconnect) sooner(nextCheck);
            if (const auto hold = arriving->nextDue()) sooner(*hold);
            if (until) {
                wake.wait_until(lock, *until, due);
            } else {
                wake.wait(lock, due);
            }
            if (stopping) {
                lock.unlock();
                arriving->giveUp();
                const quint64 mark = sendMark();
                lock.lock();
                if (mark) awaitMark(lock, mark);
                lock.unlock();
                return finish();
            }
            readsFinished = false;
            std::deque<DesktopNotification> batch;
            batch.swap(queue);
            lock.unlock();
            // Each arrival is prepared once; what waits for the store keeps what it got.
            prepare(batch);
            for (auto& n : arriving->takeReady(Clock::now())) pending.push_back(std::move(n));
            if (!pending.empty()) write();
            lock.lock();
            if (!hearsDisconnect && Clock::now() >= nextCheck) {
                nextCheck = Clock::now() + check;
                if (!QDBusConnection(connectionName).isConnected()) dropped = true;
            }
            if (std::exchange(dropped, false)) {
                notify({true, QStringLiteral("The session bus dropped the monitoring; monitoring again when it allows")});
                monitorAgain(lock);
            }
        }
    }

    // Until `mark` is back: what the bus had passed on when it was sent is then in the queue.
    // Nothing coming in for kMarkQuiet means the bus no longer delivers.
    void awaitMark(std::unique_lock<std::mutex>& lock, quint64 mark) {
        const auto sent = std::chrono::steady_clock::now();
        lastArrival = sent;
        while (markSeen != mark) {
            const auto until = std::min(lastArrival + kMarkQuiet, sent + kMarkLimit);
            if (std::chrono::steady_clock::now() >= until) return;
            wake.wait_until(lock, until);
        }
    }

    // The last of a stop: what came until now is written, with the icons resolved so far; what
    // the store still refuses goes with the recorder.
    void finish() {
        std::deque<DesktopNotification> batch;
        {
            std::lock_guard lock(mutex);
            quit = true;
            batch.swap(queue);
        }
        arriving->giveUp();
        prepare(batch);
        for (auto& n : arriving->takeAll()) pending.push_back(std::move(n));
        if (!pending.empty()) write();
        abandonPending();
    }

    // Sends the mark on the queries connection; its token, or 0 when it cannot go.
    quint64 sendMark() {
        if (queriesName.isEmpty() || !QDBusConnection(connectionName).isConnected()) return 0;
        QDBusConnection queries(queriesName);
        if (!queries.isConnected()) return 0;
        const quint64 token = ++marks;
        QDBusMessage mark = QDBusMessage::createMethodCall(queries.baseService(), kMarkPath, kMarkInterface, kMarkMember);
        mark << qulonglong(token);
        return queries.send(mark) ? token : 0;
    }

    // Waits, longer each time, until the bus takes the monitor again or the recorder stops.
    void monitorAgain(std::unique_lock<std::mutex>& lock) {
        auto delay = std::chrono::milliseconds(std::clamp(options.busCheckMs, 1, 1000));
        while (!stopping) {
            lock.unlock();
            release();
            const bool back = monitor().recording;
            lock.lock();
            if (back) {
                notify({false, QStringLiteral("Monitoring desktop notifications again")});
                return;
            }
            wake.wait_for(lock, delay, [this] { return stopping; });
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
        swallower = std::make_unique<NotifySwallower>([this](DesktopNotification n) { enqueue(std::move(n)); },
                                                      [this](quint64 token) { marked(token); });
        if (!bus.registerVirtualObject(QStringLiteral("/"), swallower.get(), QDBusConnection::SubPath))
            return {false, QStringLiteral("cannot receive the monitored calls")};
        receiver = std::make_unique<QThread>();
        receiver->setObjectName(QStringLiteral("notification-monitor"));
        swallower->moveToThread(receiver.get());
        receiver->start();
        disconnectWatch = std::make_unique<DisconnectWatch>([this, current = generation.load()] {
            {
                std::lock_guard lock(mutex);
                if (current != generation) return;
                dropped = true;
            }
            wake.notify_one();
        });
        disconnectWatch->moveToThread(receiver.get());
        hearsDisconnect = bus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                                      QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"),
                                      disconnectWatch.get(), SLOT(disconnected()));
        // Without it, portal notifications are recorded under their sender's bus name, and a stop
        // cannot tell when what the bus had passed on is in.
        queriesName = connectionName + QStringLiteral("-queries");
        const QDBusConnection queries = QDBusConnection::connectToBus(address, queriesName);
        QStringList rules = notificationMatchRules();
        if (queries.isConnected())
            rules << QStringLiteral("type='method_call',sender='%1',interface='%2'").arg(queries.baseService(), kMarkInterface);
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus.Monitoring"), QStringLiteral("BecomeMonitor"));
        call << rules << 0u;
        const QDBusMessage reply = bus.call(call, QDBus::Block, options.busTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage)
            return {false, QStringLiteral("monitoring refused: ") + reply.errorMessage()};
        return {true, {}};
    }

    // On the recorder's thread, in the order the calls arrived: names the application behind
    // each portal call, drops the copy its backend passes on, and hands each on to have its
    // sender's icon resolved.
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
                // The backend sends the same title and body moments later, from its own connection;
                // another application's notification with the same texts is its own.
                const auto forward = std::find_if(forwardable.begin(), forwardable.end(), [&](const Forwardable& f) {
                    return f.sender != n->sender && f.summary == n->summary && f.body == n->body;
                });
                if (forward != forwardable.end() && isPortalBackend(n->sender)) {
                    forwardable.erase(forward);
                    n = batch.erase(n);
                    continue;
                }
            }
            arriving->add(std::move(*n));
            ++n;
        }
        batch.clear();
    }

    // A bus call on the queries connection, bounded; none when it fails.
    std::optional<QList<QVariant>> ask(const QString& member, const QVariantList& arguments) {
        if (queriesName.isEmpty()) return std::nullopt;
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), member);
        call.setArguments(arguments);
        const QDBusMessage reply = QDBusConnection(queriesName).call(call, QDBus::Block, options.busTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return std::nullopt;
        return reply.arguments();
    }

    // Whether `sender` is a desktop portal backend: the connection that owns one of the backends'
    // names and passes the portal's notifications on to the notification service.
    bool isPortalBackend(const QString& sender) {
        const auto names = ask(QStringLiteral("ListNames"), {});
        if (!names) return false;
        for (const QString& name : names->at(0).toStringList()) {
            if (!name.startsWith(QLatin1String("org.freedesktop.impl.portal.desktop."))) continue;
            const auto owner = ask(QStringLiteral("GetNameOwner"), {name});
            if (owner && owner->at(0).toString() == sender) return true;
        }
        return false;
    }

    // The application of the process that sent a portal call, else the sender's bus name.
    QString portalApplication(const QString& sender) {
        if (const auto pid = ask(QStringLiteral("GetConnectionUnixProcessID"), {sender})) {
            const QString application = applicationOfProcess(pid->at(0).toLongLong(), options.procRoot, &reads);
            if (!application.isEmpty()) return application;
        }
        return sender;
    }

    // Writes every pending notification in one transaction (a burst costs one commit, and each
    // commit is one event for readers), or none: they wait for the next try.
    void write() {
        if (writer->filesReplaced()) {
            // Writes would go into files no reader opens any more.
            notify({true, QStringLiteral("The notification store was removed or replaced by another program; opening "
                                         "it again")});
            writer->reopen();
        } else if (!writer->isOpen()) {
            writer->reopen();
        }
        bound();
        std::vector<std::optional<int64_t>> ids;
        bool written = writer->execute("BEGIN IMMEDIATE");
        for (auto n = pending.begin(); written && n != pending.end(); ++n) {
            ids.push_back(writer->appendRecord(
                n->bundleIdentifier(),
                encodeNotificationRecord(n->bundleIdentifier(), n->summary, std::nullopt, n->body, n->icon)));
            written = ids.back().has_value();
        }
        if (written) {
            writer->pruneKeepingNewest(options.keepNewest);
            written = writer->execute("COMMIT");
        }
        if (!written) {
            const QString error = writer->error();
            writer->execute("ROLLBACK");
            if (!failing) {
                failing = true;
                notify({true, QStringLiteral("Cannot write the notification store - ") + error +
                                  QStringLiteral("; notifications wait until writing works again")});
            }
            return;
        }
        const size_t count = pending.size();
        pending.clear();
        if (failing) {
            QString text = QStringLiteral("Writing the notification store again; the %1 notification%2")
                       .arg(count)
                       .arg(count == 1 ? QStringLiteral(" that waited is written") : QStringLiteral("s that waited are written"));
            if (lost) text += QStringLiteral(", %1 %2 lost").arg(lost).arg(lost == 1 ? QStringLiteral("was") : QStringLiteral("were"));
            notify({false, text});
            failing = false;
            toldOfLoss = false;
            lost = 0;
        }
        if (!observer) return;
        for (const auto& id : ids) observer(id);
    }

    // Drops the oldest of the pending notifications beyond the bound, and says so once.
    void bound() {
        const size_t limit = static_cast<size_t>(std::max(options.keepNewest, 1));
        if (pending.size() <= limit) return;
        const size_t dropped = pending.size() - limit;
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(dropped));
        lost += dropped;
        if (!toldOfLoss) {
            toldOfLoss = true;
            notify({true, QStringLiteral("More than %1 notifications wait for the notification store; the oldest are lost")
                              .arg(limit)});
        }
        if (observer)
            for (size_t i = 0; i < dropped; ++i) observer(std::nullopt);
    }

    void abandonPending() {
        if (observer)
            for (size_t i = 0; i < pending.size(); ++i) observer(std::nullopt);
        pending.clear();
    }

    void stop() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        reads.cancel();
        wake.notify_all();
        if (thread.joinable()) thread.join();
        release();
        arriving.reset();
        context.reset();
    }

    // Leaves the bus: no copies arrive after this.
    void release() {
        ++generation;
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
        disconnectWatch.reset();
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
    shared_->thread = std::thread([shared, report] {
        pthread_setname_np(pthread_self(), "notice-recorder");
        shared->run(report);
    });
}

}  // namespace platform

#include "desktop_notification_recorder.moc"
