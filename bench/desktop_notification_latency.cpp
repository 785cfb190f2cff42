// From an org.freedesktop.Notifications.Notify call on a private session bus to the signal on
// the application's bus: the recorder's monitor copy, its store write, the detector's file
// event and query. A dbusmock notification daemon serves the calls meanwhile, as the user's
// daemon would. Reported per call: median, 99th percentile and maximum, and how many calls
// the file event missed (those arrive only with the detector's timer).

#include "database_bench_support.h"

#include "platform/files/file_watcher.h"
#include "platform/notification_store/desktop_notification_recorder.h"
#include "platform/runtime/dispatch.h"
#include "support/service_fixtures.h"

#include <QEventLoop>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

void BM_NotifyToSignalLatency(benchmark::State& state) {
    QString error;
    auto bus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error);
    auto daemon = bus ? testsupport::DBusMock::startNotificationDaemon(*bus, &error) : nullptr;
    if (!daemon) {
        state.SkipWithError(error.toStdString().c_str());
        return;
    }
    benchsupport::StoreHome home;
    platform::DesktopNotificationRecorder::Options options;
    options.storePath = home.storePath;
    options.busAddress = bus->address();
    platform::DesktopNotificationRecorder recorder(options);
    QEventLoop loop;
    std::optional<platform::DesktopNotificationRecorder::Status> started;
    recorder.start([&](const auto& status) {
        started = status;
        loop.quit();
    });
    loop.exec();
    if (!started->recording) {
        state.SkipWithError(started->reason.toStdString().c_str());
        return;
    }

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

}  // namespace

int main(int argc, char** argv) { return benchsupport::runBenchmarks(argc, argv); }
