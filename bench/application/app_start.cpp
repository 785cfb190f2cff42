// The application benchmark's start and memory (see overlay_notification.cpp for the whole): the
// built application and dunst each started on a private X server of its own, one session bus.
//   app_ready_ms, dunst_ready_ms   from the start of the process to ready: the application's
//                                  "Monitoring started successfully", dunst owning the
//                                  notification service's name
//   app_rss_mib, dunst_rss_mib     resident memory 10 s after the start
//   ready_ratio, rss_ratio         the application's over dunst's

#include "app_bench.h"

#include <benchmark/benchmark.h>

namespace {

using namespace std::chrono_literals;
using appbench::Clock;

double msSince(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

void BM_StartAndMemory(benchmark::State& state) {
    QString error;
    auto appScreen = testsupport::PrivateXServer::start(QStringLiteral("1512x982x24"), &error);
    auto dunstScreen = appScreen ? testsupport::PrivateXServer::start(QStringLiteral("1512x982x24"), &error) : nullptr;
    auto bus = dunstScreen ? testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error) : nullptr;
    if (!bus) {
        state.SkipWithError(error.toStdString().c_str());
        return;
    }
    auto busAddress = bus->exportAddress();
    const QString name = QStringLiteral("org.freedesktop.Notifications");
    for (auto _ : state) {
        testsupport::AppHome home;
        home.sessionBus = bus->address();
        const QProcessEnvironment env = appbench::applicationEnvironment(home, appScreen->display());
        const auto appStart = Clock::now();
        testsupport::AppProcess app(appbench::applicationProgram(), env);
        if (!app.started() || app.waitForLine("info Monitoring started successfully", testsupport::kAppStartTimeoutMs) < 0) {
            state.SkipWithError("the application did not start");
            return;
        }
        state.counters["app_ready_ms"] = msSince(appStart);

        std::unique_ptr<appbench::Dunst> dunst = appbench::Dunst::start(dunstScreen->display(), &error);
        if (dunst) {
            while (!appbench::nameOwned(*bus, name) && msSince(dunst->startedAt) < 10000) QThread::usleep(500);
            state.counters["dunst_ready_ms"] = msSince(dunst->startedAt);
            state.counters["ready_ratio"] = state.counters["app_ready_ms"] / state.counters["dunst_ready_ms"];
        }

        appbench::wait(appStart + 10s - Clock::now(), &app);
        state.counters["app_rss_mib"] = appbench::rssMiBOf(app.pid());
        if (dunst) {
            appbench::wait(dunst->startedAt + 10s - Clock::now());
            state.counters["dunst_rss_mib"] = appbench::rssMiBOf(dunst->pid());
            state.counters["rss_ratio"] = state.counters["app_rss_mib"] / state.counters["dunst_rss_mib"];
        }
    }
}
BENCHMARK(BM_StartAndMemory)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
