// The global key monitor on a private Xvfb: the process's CPU time per second of wall time while
// the monitor is installed and no key is pressed (goal: about zero), against the same event loop
// without a monitor; and the time from an XTest key press to the handler.

#include "bench_support.h"
#include "platform/input_monitor/x11_global_key_monitor.h"
#include "support/service_fixtures.h"

#include <QApplication>
#include <QElapsedTimer>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

std::unique_ptr<testsupport::PrivateXServer> server;

void idle(benchmark::State& state, bool withMonitor) {
    if (!server) {
        state.SkipWithError("no Xvfb");
        return;
    }
    platform::X11GlobalKeyMonitor monitor(server->display().toLocal8Bit());
    if (withMonitor && !monitor.addKeyDownMonitor([](const platform::KeyEvent&) {})) {
        state.SkipWithError("monitor not created");
        return;
    }
    state.counters["cpu_ms_per_s"] = benchsupport::eventLoopCpuMsPerSecond(state);
}
void BM_IdleWithMonitor(benchmark::State& state) { idle(state, true); }
void BM_IdleWithoutMonitor(benchmark::State& state) { idle(state, false); }
BENCHMARK(BM_IdleWithMonitor)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleWithoutMonitor)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_KeyPressToHandler(benchmark::State& state) {
    if (!server) {
        state.SkipWithError("no Xvfb");
        return;
    }
    platform::X11GlobalKeyMonitor monitor(server->display().toLocal8Bit());
    int seen = 0;
    monitor.addKeyDownMonitor([&](const platform::KeyEvent&) { ++seen; });
    xcb_connection_t* c = xcb_connect(server->display().toLocal8Bit().constData(), nullptr);
    const xcb_setup_t* setup = xcb_get_setup(c);
    const xcb_window_t root = xcb_setup_roots_iterator(setup).data->root;
    const uint8_t keycode = setup->min_keycode + 30;  // an ordinary letter on the default map
    for (auto _ : state) {
        const int before = seen;
        xcb_test_fake_input(c, XCB_KEY_PRESS, keycode, XCB_CURRENT_TIME, root, 0, 0, 0);
        xcb_test_fake_input(c, XCB_KEY_RELEASE, keycode, XCB_CURRENT_TIME, root, 0, 0, 0);
        xcb_flush(c);
        QElapsedTimer guard;
        guard.start();
        while (seen == before && guard.elapsed() < 2000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    xcb_disconnect(c);
}
BENCHMARK(BM_KeyPressToHandler)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QString error;
    server = testsupport::PrivateXServer::start(QStringLiteral("640x480x24"), &error);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    server.reset();
    return 0;
}
