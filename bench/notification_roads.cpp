// What the desktop notification recorder costs per notification on each road a Linux desktop
// carries them by: org.freedesktop.Notifications.Notify, org.gtk.Notifications.AddNotification and
// the desktop portal's AddNotification, each with the kinds of icon a sender names. A python
// process sends 200 calls on a private session bus to python3-dbusmock stand-ins; the figure is this
// process's CPU time (every recorder thread, Qt's bus thread included) divided by the calls, and
// the average size of the records they left in the store.

#include "database_bench_support.h"

#include "bench_support.h"
#include "platform/notification_store/desktop_notification_recorder.h"
#include "support/service_fixtures.h"

#include <QEventLoop>
#include <QProcess>

#include <sqlite3.h>

#include <condition_variable>
#include <mutex>

namespace {

constexpr int kCalls = 200;

// Sends `count` notifications of one road and icon kind; every title is new.
const char* const kSender = R"(
import dbus, sys
bus = dbus.bus.BusConnection(sys.argv[1])
kind, count, picture = sys.argv[2], int(sys.argv[3]), sys.argv[4]
def proxy(name, path, interface):
    return dbus.Interface(bus.get_object(name, path), interface)
themed = dbus.Struct(('themed', dbus.Array(['mail-unread', 'mail-unread-symbolic'], signature='s', variant_level=1)),
                     signature='sv')
picture_bytes = dbus.Struct(('bytes', dbus.ByteArray(open(picture, 'rb').read(), variant_level=1)), signature='sv')
body = 'A body of ordinary length that says something useful.'
if kind.startswith('notify'):
    n = proxy('org.freedesktop.Notifications', '/org/freedesktop/Notifications', 'org.freedesktop.Notifications')
    icon, hints = '', {}
    if kind == 'notify-name': icon = 'mail-unread'
    if kind == 'notify-file': icon = picture
    if kind == 'notify-pixels':
        hints['image-data'] = dbus.Struct((64, 64, 256, True, 8, 4, dbus.ByteArray(b'\x80' * 64 * 256)), signature='iiibiiay')
    for i in range(count):
        n.Notify('Bench', dbus.UInt32(0), icon, '%s %d' % (kind, i), body, [], hints, -1)
elif kind.startswith('gtk'):
    n = proxy('org.gtk.Notifications', '/org/gtk/Notifications', 'org.gtk.Notifications')
    icon = themed if kind == 'gtk-name' else picture_bytes
    for i in range(count):
        n.AddNotification('org.example.Mail', 'n%d' % i, {'title': '%s %d' % (kind, i), 'body': body, 'icon': icon})
else:
    n = proxy('org.freedesktop.portal.Desktop', '/org/freedesktop/portal/desktop', 'org.freedesktop.portal.Notification')
    for i in range(count):
        n.AddNotification('n%d' % i, {'title': '%s %d' % (kind, i), 'body': body, 'icon': themed})
)";

const char* const kRoads[] = {"notify-plain",  "notify-name", "notify-file", "notify-pixels",
                              "gtk-name",      "gtk-bytes",   "portal-name"};

// A private session bus with stand-ins for the three services and a recorder writing a store.
struct Roads {
    std::unique_ptr<testsupport::PrivateBus> bus;
    std::unique_ptr<testsupport::DBusMock> daemon;
    std::unique_ptr<testsupport::DBusMock> gtk;
    std::unique_ptr<testsupport::DBusMock> portal;
    benchsupport::StoreHome home;
    std::unique_ptr<platform::DesktopNotificationRecorder> recorder;
    std::mutex mutex;
    std::condition_variable changed;
    int recorded = 0;
    QString picture;
    QString error;

    Roads() {
        bus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error);
        if (!bus || !(daemon = testsupport::DBusMock::startNotificationDaemon(*bus, &error))) return;
        gtk = standIn(QStringLiteral("org.gtk.Notifications"), QStringLiteral("/org/gtk/Notifications"),
                      QStringLiteral("org.gtk.Notifications"), QStringLiteral("ssa{sv}"));
        portal = standIn(QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
                         QStringLiteral("org.freedesktop.portal.Notification"), QStringLiteral("sa{sv}"));
        if (!gtk || !portal) return;
        picture = home.folder.filePath(QStringLiteral("picture.png"));
        if (!benchsupport::saveNoiseCover(picture, 256)) error = QStringLiteral("cannot write the picture");
        platform::DesktopNotificationRecorder::Options options;
        options.storePath = home.storePath;
        options.busAddress = bus->address();
        recorder = std::make_unique<platform::DesktopNotificationRecorder>(options);
        recorder->setRecordObserver([this](std::optional<int64_t>) {
            std::lock_guard lock(mutex);
            ++recorded;
            changed.notify_all();
        });
        QEventLoop loop;
        std::optional<platform::DesktopNotificationRecorder::Status> started;
        recorder->start([&](const auto& status) {
            started = status;
            loop.quit();
        });
        loop.exec();
        if (!started->recording) error = started->reason;
    }
    std::unique_ptr<testsupport::DBusMock> standIn(const QString& name, const QString& path, const QString& interface,
                                                   const QString& signature) {
        auto mock = testsupport::DBusMock::startPlain(*bus, name, path, interface, &error);
        if (mock && !mock->addMethod(interface, QStringLiteral("AddNotification"), signature, {}, {})) {
            error = QStringLiteral("cannot set up ") + name;
            return nullptr;
        }
        return mock;
    }
    bool ok() const { return recorder && error.isEmpty(); }

    // Waits (blocked, at no CPU cost) until `count` records were written.
    bool waitFor(int count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(60), [&] { return recorded >= count; });
    }
    double averageRecordBytes(int last) const {
        sqlite3* db = nullptr;
        sqlite3_open_v2(QFile::encodeName(home.storePath).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, "SELECT avg(length(data)) FROM (SELECT data FROM record ORDER BY rec_id DESC LIMIT ?)", -1,
                           &s, nullptr);
        sqlite3_bind_int(s, 1, last);
        const double bytes = s && sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_double(s, 0) : -1;
        sqlite3_finalize(s);
        sqlite3_close(db);
        return bytes;
    }
};

Roads& roads() {
    static Roads shared;
    return shared;
}

void BM_RecorderCpuPerNotification(benchmark::State& state) {
    Roads& r = roads();
    if (!r.ok()) {
        state.SkipWithError(r.error.toStdString().c_str());
        return;
    }
    const char* road = kRoads[state.range(0)];
    state.SetLabel(road);
    double cpu = 0;
    for (auto _ : state) {
        const int target = r.recorded + kCalls;
        QProcess python;
        const double before = benchsupport::processCpuSeconds();
        python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromUtf8(kSender), r.bus->address(),
                                                          QString::fromLatin1(road), QString::number(kCalls), r.picture});
        const bool sent = python.waitForFinished(120000) && python.exitCode() == 0;
        if (!sent || !r.waitFor(target)) {
            state.SkipWithError(("the calls were not recorded: " + python.readAllStandardError()).constData());
            return;
        }
        cpu = benchsupport::processCpuSeconds() - before;
    }
    state.counters["cpu_us_per_notification"] = cpu * 1e6 / kCalls;
    state.counters["record_bytes"] = r.averageRecordBytes(kCalls);
}
BENCHMARK(BM_RecorderCpuPerNotification)->DenseRange(0, 6)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return benchsupport::runBenchmarks(argc, argv); }
