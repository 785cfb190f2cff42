// The switcher's X11 work on Xvfb with openbox: listing the running applications behind 50
// windows, and the time from an activation request to the recent-apps list on the bus.

#include "platform/runtime/dispatch.h"
#include "platform/workspace/linux_workspace.h"
#include "switcher/app_switcher_service.h"
#include "support/service_fixtures.h"

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <chrono>
#include <memory>
#include <vector>

namespace {

std::unique_ptr<testsupport::PrivateXServer> server;
std::unique_ptr<testsupport::ServiceProcess> wm;
xcb_connection_t* windowsConnection = nullptr;
std::vector<xcb_window_t> windows;

// Ordinary windows of 50 made-up processes, all from one connection.
void createWindows(int count) {
    windowsConnection = xcb_connect(nullptr, nullptr);
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(windowsConnection)).data;
    xcb_ewmh_connection_t ew;
    xcb_ewmh_init_atoms_replies(&ew, xcb_ewmh_init_atoms(windowsConnection, &ew), nullptr);
    for (int i = 0; i < count; ++i) {
        const xcb_window_t w = xcb_generate_id(windowsConnection);
        xcb_create_window(windowsConnection, XCB_COPY_FROM_PARENT, w, screen->root, i * 10, i * 10, 120, 60, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        const QByteArray cls = QByteArray("app") + QByteArray::number(i) + '\0' + "App" + QByteArray::number(i) + '\0';
        xcb_change_property(windowsConnection, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            static_cast<uint32_t>(cls.size()), cls.constData());
        xcb_ewmh_set_wm_name(&ew, w, 5, "Bench");
        xcb_ewmh_set_wm_pid(&ew, w, static_cast<uint32_t>(200000 + i));
        const uint32_t hints[9] = {1, 1, 0, 0, 0, 0, 0, 0, 0};
        xcb_change_property(windowsConnection, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, 9,
                            hints);
        xcb_map_window(windowsConnection, w);
        windows.push_back(w);
    }
    xcb_flush(windowsConnection);
    xcb_ewmh_connection_wipe(&ew);
}

void BM_ListRunningApplicationsOf50Windows(benchmark::State& state) {
    platform::LinuxWorkspace workspace;
    size_t listed = 0;
    for (auto _ : state) {
        listed = workspace.runningApplications().size();
        benchmark::DoNotOptimize(listed);
    }
    state.counters["applications"] = static_cast<double>(listed);
}
BENCHMARK(BM_ListRunningApplicationsOf50Windows)->Unit(benchmark::kMillisecond);

void BM_ActivationToPublication(benchmark::State& state) {
    platform::LinuxWorkspace workspace;
    EventBus bus;
    AppSwitcherService service(bus, &workspace, platform::Scheduler::shared(), QStringLiteral("com.varnock.Quillvex"),
                               QCoreApplication::applicationPid());
    service.start();
    int publications = 0;
    platform::AnyCancellable counting = bus.recentAppsSubject.sink([&](const auto&) { ++publications; });
    qint64 next = 200000;
    for (auto _ : state) {
        next = next == 200000 ? 200001 : 200000;
        const int before = publications;
        QElapsedTimer timer;
        timer.start();
        workspace.activateApplication(next, true);
        while (publications == before && timer.elapsed() < 2000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
        if (publications == before) state.SkipWithError("no publication within 2 s");
    }
    service.stop();
}
BENCHMARK(BM_ActivationToPublication)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    QString error;
    server = testsupport::PrivateXServer::start(QStringLiteral("1280x800x24"), &error);
    if (!server || !QFile::exists(QStringLiteral("/usr/bin/openbox"))) {
        fprintf(stderr, "no Xvfb with openbox: %s\n", qPrintable(error));
        return 0;
    }
    qputenv("DISPLAY", server->display().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    wm = testsupport::ServiceProcess::start(QStringLiteral("/usr/bin/openbox"), {QStringLiteral("--sm-disable")});
    QGuiApplication app(argc, argv);
    createWindows(50);
    // Until openbox manages all of them.
    QElapsedTimer timer;
    timer.start();
    platform::LinuxWorkspace probe;
    while (probe.runningApplications().size() < 51 && timer.elapsed() < 10000) QCoreApplication::processEvents();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    xcb_disconnect(windowsConnection);
    wm.reset();
    server.reset();
    return 0;
}
