// From an org.freedesktop.Notifications.Notify call on a private session bus to the signal on
// the application's bus: the recorder's monitor copy, its store write, the detector's file
// event and query. A dbusmock notification daemon serves the calls meanwhile, as the user's
// daemon would. Reported per call: median, 99th percentile and maximum, and how many calls
// the file event missed (those arrive only with the detector's timer). A second figure: what one
// Notify with a 10 MB body costs the recorder (its CPU time and the growth of the peak resident
// size), sent by another process so that the sender's copies stay out of it.

#include "database_bench_support.h"

#include "platform/files/file_watcher.h"
#include "platform/notification_store/desktop_notification_recorder.h"
#include "platform/runtime/dispatch.h"
#include "support/service_fixtures.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A private session bus with a notification daemon and a recorder writing a store under a
// temporary home; `error` says why when it could not be set up.
struct RecordingBus {
    std::unique_ptr<testsupport::PrivateBus> bus;
    std::unique_ptr<testsupport::DBusMock> daemon;
    benchsupport::StoreHome home;
    std::unique_ptr<platform::DesktopNotificationRecorder> recorder;
    QString error;

    explicit RecordingBus(std::function<void(std::optional<int64_t>)> observer = {}) {
        bus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error);
        daemon = bus ? testsupport::DBusMock::startNotificationDaemon(*bus, &error) : nullptr;
        if (!daemon) return;
        platform::DesktopNotificationRecorder::Options options;
        options.storePath = home.storePath;
        options.busAddress = bus->address();
        recorder = std::make_unique<platform::DesktopNotificationRecorder>(options);
        if (observer) recorder->setRecordObserver(std::move(observer));
        QEventLoop loop;
        std::optional<platform::DesktopNotificationRecorder::Status> started;
        recorder->start([&](const auto& status) {
            started = status;
            loop.quit();
        });
        loop.exec();
        if (!started->recording) error = started->reason;
    }
    bool ok() const { return daemon && error.isEmpty(); }
};

void BM_NotifyToSignalLatency(benchmark::State& state) {
    RecordingBus recording;
    if (!recording.ok()) {
        state.SkipWithError(recording.error.toStdString().c_str());
        return;
    }
    auto& bus = recording.bus;
    auto& home = recording.home;
    QEventLoop loop;

    platform::InotifyFileWatcher inotify;
    EventBus& events = EventBus::shared();
    auto detector = home.detector(events, platform::Scheduler::shared(), inotify);
    if (!detector->start() || !detector->isFileMonitored()) {
        state.SkipWithError("the detector did not start with a file watch");
        return;
    }
    Clock::time_point signalledAt;
    bool signalled = false;
    auto subscription = events.signalSubject.sink([&](const NotificationSignal&) {
        signalledAt = Clock::now();
        signalled = true;
        loop.quit();
    });

    std::vector<double> latencies;
    int n = 0;
    int missed = 0;
    for (auto _ : state) {
        signalled = false;
        const auto sentAt = Clock::now();
        auto call = bus->connection().callAsync(
            {QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
             QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"),
             {QStringLiteral("Mail"), 0u, QString(), QStringLiteral("Message number %1").arg(++n),
              QStringLiteral("A body of ordinary length."), QStringList(), QVariantMap(), -1}},
            2s, [](const platform::DBusReply&) {});
        auto timeout = platform::Scheduler::shared().after(5.0, [&] { loop.quit(); });
        if (!signalled) loop.exec();
        timeout.cancel();
        if (!signalled) {
            state.SkipWithError("a notification never reached the bus");
            return;
        }
        const double seconds = std::chrono::duration<double>(signalledAt - sentAt).count();
        if (seconds > 1.0) ++missed;  // the file event was missed; the detector's timer found it
        latencies.push_back(seconds);
        state.SetIterationTime(seconds);
    }
    benchsupport::reportLatencies(state, latencies, missed);
}
BENCHMARK(BM_NotifyToSignalLatency)->Iterations(1000)->UseManualTime()->Unit(benchmark::kMillisecond);

rusage usage() {
    rusage r {};
    getrusage(RUSAGE_SELF, &r);
    return r;
}

double cpuSeconds(const rusage& r) {
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// Per Notify with a 10 MB body: the recorder's CPU time, and how far the peak resident size of
// this process grew over all of them (the first one sets the peak when nothing piles up).
void BM_LargeNotifyRecorded(benchmark::State& state) {
    std::atomic<int> recorded{0};
    RecordingBus recording([&](std::optional<int64_t>) { ++recorded; });
    if (!recording.ok()) {
        state.SkipWithError(recording.error.toStdString().c_str());
        return;
    }
    const QString sender = QStringLiteral(
        "import dbus, sys\n"
        "bus = dbus.bus.BusConnection(sys.argv[1])\n"
        "n = dbus.Interface(bus.get_object('org.freedesktop.Notifications', '/org/freedesktop/Notifications'),"
        " 'org.freedesktop.Notifications')\n"
        "n.Notify('Big', dbus.UInt32(0), '', 'Big one', 'x' * (10 * 1024 * 1024), [], {}, -1, timeout=30)\n");
    const rusage before = usage();
    double cpu = 0;
    int sent = 0;
    for (auto _ : state) {
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), sender, recording.bus->address()});
        const rusage start = usage();
        ++sent;
        QElapsedTimer waited;
        waited.start();
        while (recorded < sent && waited.elapsed() < 30000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        cpu += cpuSeconds(usage()) - cpuSeconds(start);
        python.waitForFinished(30000);
        if (recorded < sent) {
            state.SkipWithError("a large notification was never recorded");
            return;
        }
    }
    state.counters["cpu_ms_per_notify"] = cpu * 1e3 / sent;
    state.counters["peak_rss_growth_MB"] = static_cast<double>(usage().ru_maxrss - before.ru_maxrss) / 1024.0;
    state.counters["store_MB"] =
        static_cast<double>(QFileInfo(recording.home.storePath).size() +
                            QFileInfo(recording.home.storePath + QStringLiteral("-wal")).size()) /
        (1024.0 * 1024.0);
}
BENCHMARK(BM_LargeNotifyRecorded)->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return benchsupport::runBenchmarks(argc, argv); }
