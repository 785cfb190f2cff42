// The "ui" detection road on a private desktop (X server, session bus, the accessibility bus and
// a GTK notification daemon):
// - from an org.freedesktop.Notifications.Notify call to the observer detector's signal on the
//   application's bus: median, 99th percentile and maximum;
// - the CPU the 0.8 s polling detector costs per minute while nothing changes on screen (one
//   popup stays up), with readings cached on the tree's change count, and, for comparison, with
//   every tick walking the tree again.

#include "bench_support.h"
#include "database_bench_support.h"

#include "core/event_bus.h"
#include "detection/ax_observer_detector.h"
#include "detection/polling_detector.h"
#include "platform/accessibility/atspi_accessibility.h"
#include "platform/runtime/dispatch.h"
#include "platform/workspace/workspace.h"
#include "support/atspi_desktop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <chrono>
#include <functional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

using testsupport::AtSpiDesktop;

// The desktop with a backend that reads it, shared by the benchmarks (the shared workspace keeps
// its connection to the first X server); each benchmark starts a fresh GTK daemon, since the
// daemon keeps at most 20 notifications of one run. `error` says why not.
struct UiDesktop {
    std::unique_ptr<testsupport::AtSpiDesktop> desktop;
    std::unique_ptr<platform::AtSpiAccessibility> ax;
    QString error;

    static UiDesktop& fresh() {
        static UiDesktop* shared = new UiDesktop;
        shared->restartDaemon();
        return *shared;
    }
    UiDesktop() {
        desktop = AtSpiDesktop::start(&error);
        if (!desktop || !desktop->setEnabled(true)) {
            if (error.isEmpty()) error = QStringLiteral("the desktop did not start");
            return;
        }
        ax = std::make_unique<platform::AtSpiAccessibility>();
    }
    void restartDaemon() {
        if (!desktop || !error.isEmpty()) return;
        if (!desktop->startDaemon(AtSpiDesktop::notificationDaemon(), &error)) return;
        const int32_t pid = desktop->daemonPid();
        if (!AtSpiDesktop::waitUntil([&] { return ax->isProcessTrusted() && ax->notificationServerPID() == pid; }))
            error = QStringLiteral("the accessibility backend never found the daemon");
    }
    bool ok() const { return error.isEmpty(); }

    void notify(const QString& title, int expireMs) {
        desktop->bus().connection().callAsync(
            {QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
             QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"),
             {QStringLiteral("Mail"), 0u, QString(), title, QStringLiteral("A body of ordinary length."), QStringList(),
              QVariantMap(), expireMs}},
            2s, [](const platform::DBusReply&) {});
    }
};

void BM_UiNotifyToSignalLatency(benchmark::State& state) {
    UiDesktop& ui = UiDesktop::fresh();
    if (!ui.ok()) {
        state.SkipWithError(ui.error.toStdString().c_str());
        return;
    }
    EventBus& events = EventBus::shared();
    AXObserverDetector detector(events, *ui.ax, platform::Workspace::shared(), platform::Scheduler::shared());
    if (!AtSpiDesktop::waitUntil([&] { return detector.start(); })) {
        state.SkipWithError("the observer detector did not start");
        return;
    }
    QEventLoop loop;
    Clock::time_point signalledAt;
    bool signalled = false;
    auto subscription = events.signalSubject.sink([&](const NotificationSignal&) {
        signalledAt = Clock::now();
        signalled = true;
        loop.quit();
    });

    std::vector<double> latencies;
    int n = 0;
    for (auto _ : state) {
        signalled = false;
        const auto sentAt = Clock::now();
        ui.notify(QStringLiteral("Message number %1").arg(++n), 600);
        auto timeout = platform::Scheduler::shared().after(5.0, [&] { loop.quit(); });
        if (!signalled) loop.exec();
        timeout.cancel();
        if (!signalled) {
            state.SkipWithError("a notification never reached the bus");
            return;
        }
        const double seconds = std::chrono::duration<double>(signalledAt - sentAt).count();
        latencies.push_back(seconds);
        state.SetIterationTime(seconds);
        // The popup goes before the next one comes, as a user's notifications do.
        AtSpiDesktop::waitUntil([] { return false; }, 0.8);
    }
    detector.stop();
    benchsupport::reportLatencies(state, latencies, 0);
}
// The GTK daemon keeps at most 20 notifications of one run.
BENCHMARK(BM_UiNotifyToSignalLatency)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

// The backend as it is, but telling no change count: every reading walks the tree.
class WalkingEveryTime final : public platform::Accessibility {
public:
    explicit WalkingEveryTime(platform::Accessibility& inner) : inner_(inner) {}
    bool isProcessTrusted() const override { return inner_.isProcessTrusted(); }
    bool isProcessTrustedWithOptions(bool prompt) override { return inner_.isProcessTrustedWithOptions(prompt); }
    platform::AXError copyAttributeValue(const platform::AXElement& e, const QString& a,
                                         platform::AXAttributeValue& v) override {
        return inner_.copyAttributeValue(e, a, v);
    }
    platform::AXError createObserver(int32_t pid, platform::AXObserverCallback cb,
                                     std::unique_ptr<platform::AXObserver>& o) override {
        return inner_.createObserver(pid, cb, o);
    }
    std::optional<int32_t> notificationServerPID() const override { return inner_.notificationServerPID(); }

private:
    platform::Accessibility& inner_;
};

void pollIdle(benchmark::State& state, bool cached) {
    UiDesktop& ui = UiDesktop::fresh();
    if (!ui.ok()) {
        state.SkipWithError(ui.error.toStdString().c_str());
        return;
    }
    // One popup that stays (no expiry), so there is a tree to walk.
    ui.notify(QStringLiteral("Stays on screen"), 0);
    const int32_t pid = ui.desktop->daemonPid();
    if (!AtSpiDesktop::waitUntil([&] {
            platform::AXAttributeValue windows;
            return ui.ax->copyAttributeValue(platform::AXElement::application(pid), QStringLiteral("AXWindows"),
                                             windows) == platform::AXError::Success &&
                   !std::get<platform::AXElementList>(windows).empty();
        })) {
        state.SkipWithError("the popup never showed");
        return;
    }
    WalkingEveryTime uncached(*ui.ax);
    platform::Accessibility& source = cached ? static_cast<platform::Accessibility&>(*ui.ax) : uncached;
    const AXTreeSnapshot::Sources sources{source, platform::Workspace::shared(), platform::Scheduler::shared()};
    EventBus& events = EventBus::shared();
    PollingDetector detector(events, platform::Scheduler::shared(), [&] { return AXTreeSnapshot::take(sources); });
    detector.start();
    AtSpiDesktop::waitUntil([] { return false; }, 1.0);  // settled

    constexpr int kWindowMs = 15000;
    double cpu = 0;
    int windows = 0;
    for (auto _ : state) {
        cpu += benchsupport::eventLoopCpu(kWindowMs);
        ++windows;
    }
    detector.stop();
    state.counters["cpu_ms_per_minute"] = cpu * 1e3 * (60000.0 / kWindowMs) / windows;
}

void BM_UiPollIdleCpu(benchmark::State& state) { pollIdle(state, true); }
void BM_UiPollIdleCpuWalkingEveryTick(benchmark::State& state) { pollIdle(state, false); }
BENCHMARK(BM_UiPollIdleCpu)->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UiPollIdleCpuWalkingEveryTick)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return benchsupport::runBenchmarks(argc, argv); }
