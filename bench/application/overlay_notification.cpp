// The application benchmark: the built application beside dunst and beside xfce4-notifyd fading
// through picom, each drawing on a private X server of its own, so that each server's CPU is that
// side's drawing. This file: each Notify call is shown and hidden in full by all three (the
// application watches the bus that dunst serves; xfce4-notifyd serves a bus of its own, sent the
// same call at the same moment). Without dunst installed, a dbusmock daemon serves the calls and
// the dunst figures are left out; without xfce4-notifyd, xfconfd or picom, the xfce figures are.
// The other cases: app_cpu.cpp (a playing track, rest, a moving pointer) and app_start.cpp (start
// and memory).
//
// Reported per run of 12 notifications (idle rates subtracted):
//   app_ms, dunst_ms, xfce_ms          CPU per notification of each side with its X server (and,
//                                      for xfce4-notifyd, picom): the side-by-side figures
//   ratio_dunst, ratio_xfce            app_ms over dunst_ms, over xfce_ms
//   app_frames, dunst_frames, xfce_frames
//                                      frames painted per notification, counted at each X server
//                                      (frame_counter.h)
//   app_cpu_ms, app_x_cpu_ms, dunst_cpu_ms, dunst_x_cpu_ms, xfce_cpu_ms, xfce_x_cpu_ms,
//   picom_cpu_ms                       the parts; cpu_ratio is the application's over dunst's alone
//   app_wakeups                        the application's wake-ups per notification, all threads
//   app_map_ms, dunst_map_ms           median time from the Notify call to the first window mapped
//   app_map_max_ms
// Arguments: the ordinary windows open meanwhile on each server (each with its icons; with any,
// openbox manages them), and whether picom fades windows in and out besides xfce4-notifyd's own
// fade (1) or not (0).
// QUILLVEX_BENCH_APP=<executable> measures another build of the application. Side-by-side figures:
//   bench_application --benchmark_filter='BM_NotificationShownAndHidden/0/0' --benchmark_repetitions=3
// and the median of the per-run ratios (printed as the _median rows).

#include "app_bench.h"
#include "frame_counter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <benchmark/benchmark.h>

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using appbench::Clock;
using namespace std::chrono_literals;

using appbench::cpuMsOf;
using appbench::wait;

// Every map and unmap of a top-level window, with when it came and whose it is.
class MapWatch {
public:
    struct Event {
        Clock::time_point at;
        bool mapped = false;
        qint64 pid = 0;
        QByteArray wmClass;
    };

    explicit MapWatch(const QByteArray& display) {
        c_ = xcb_connect(display.constData(), nullptr);
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        xcb_ewmh_init_atoms_replies(&ew_, xcb_ewmh_init_atoms(c_, &ew_), nullptr);
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(c_, root_, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(c_);
        thread_ = std::thread([this] { run(); });
    }
    ~MapWatch() {
        stop_ = true;
        thread_.join();
        xcb_ewmh_connection_wipe(&ew_);
        xcb_disconnect(c_);
    }
    std::vector<Event> events() {
        std::lock_guard lock(mutex_);
        return events_;
    }

private:
    void run() {
        pollfd fd{xcb_get_file_descriptor(c_), POLLIN, 0};
        while (!stop_) {
            xcb_generic_event_t* e = xcb_poll_for_event(c_);
            if (!e) {
                poll(&fd, 1, 50);
                continue;
            }
            const auto at = Clock::now();
            const uint8_t type = e->response_type & 0x7f;
            xcb_window_t window = 0;
            if (type == XCB_MAP_NOTIFY) window = reinterpret_cast<xcb_map_notify_event_t*>(e)->window;
            if (type == XCB_UNMAP_NOTIFY) window = reinterpret_cast<xcb_unmap_notify_event_t*>(e)->window;
            std::free(e);
            if (!window) continue;
            Event event{at, type == XCB_MAP_NOTIFY, 0, {}};
            uint32_t pid = 0;
            if (xcb_ewmh_get_wm_pid_reply(&ew_, xcb_ewmh_get_wm_pid(&ew_, window), &pid, nullptr)) event.pid = pid;
            if (auto* r = xcb_get_property_reply(
                    c_, xcb_get_property(c_, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64), nullptr)) {
                event.wmClass = QByteArray(static_cast<const char*>(xcb_get_property_value(r)),
                                           xcb_get_property_value_length(r));
                std::free(r);
            }
            // A window destroyed right after its unmap has no properties left to read by then.
            if (event.pid || !event.wmClass.isEmpty())
                owners_[window] = {event.pid, event.wmClass};
            else if (auto known = owners_.find(window); known != owners_.end())
                std::tie(event.pid, event.wmClass) = known->second;
            std::lock_guard lock(mutex_);
            events_.push_back(event);
        }
    }

    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_ewmh_connection_t ew_{};
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Event> events_;
    std::map<xcb_window_t, std::pair<qint64, QByteArray>> owners_;  // the watch thread's only
};

// Ordinary application windows with the hints and icons real programs set, one process id each.
class OrdinaryWindows {
public:
    OrdinaryWindows(const QByteArray& display, int count) {
        c_ = xcb_connect(display.constData(), nullptr);
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        xcb_ewmh_init_atoms_replies(&ew_, xcb_ewmh_init_atoms(c_, &ew_), nullptr);
        std::vector<uint32_t> icon;
        for (uint32_t side : {16u, 32u, 48u, 64u, 128u}) {
            icon.push_back(side);
            icon.push_back(side);
            icon.insert(icon.end(), side * side, 0xff3070c0u + side);
        }
        for (int i = 0; i < count; ++i) {
            const xcb_window_t w = xcb_generate_id(c_);
            const uint32_t values[] = {screen->white_pixel};
            xcb_create_window(c_, XCB_COPY_FROM_PARENT, w, screen->root, 40 + 20 * i, 60 + 15 * i, 400, 300, 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, values);
            const QByteArray name = "App" + QByteArray::number(i);
            const QByteArray wmClass = name.toLower() + '\0' + name + '\0';
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, wmClass.size(),
                                wmClass.constData());
            xcb_ewmh_set_wm_name(&ew_, w, name.size(), name.constData());
            xcb_ewmh_set_wm_pid(&ew_, w, 3000000 + i);
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, ew_._NET_WM_ICON, XCB_ATOM_CARDINAL, 32, icon.size(),
                                icon.data());
            xcb_map_window(c_, w);
        }
        xcb_flush(c_);
    }
    ~OrdinaryWindows() {
        xcb_ewmh_connection_wipe(&ew_);
        xcb_disconnect(c_);
    }
    size_t managed() {
        xcb_ewmh_get_windows_reply_t list;
        if (!xcb_ewmh_get_client_list_reply(&ew_, xcb_ewmh_get_client_list(&ew_, 0), &list, nullptr)) return 0;
        const size_t n = list.windows_len;
        xcb_ewmh_get_windows_reply_wipe(&list);
        return n;
    }

private:
    xcb_connection_t* c_ = nullptr;
    xcb_ewmh_connection_t ew_{};
};

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One X server with, for a non-zero count, openbox and that many ordinary windows on it.
struct Screen {
    std::unique_ptr<testsupport::PrivateXServer> x;
    std::unique_ptr<testsupport::ServiceProcess> wm;
    std::unique_ptr<OrdinaryWindows> windows;
    QByteArray name;

    bool start(int windowCount, QString* error) {
        x = testsupport::PrivateXServer::start(QStringLiteral("1512x982x24"), error);
        if (!x) return false;
        name = x->display().toUtf8();
        if (windowCount == 0) return true;
        testsupport::ScopedEnvironment env;
        env.set("DISPLAY", name);
        wm = testsupport::ServiceProcess::start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")}, {}, -1, error);
        if (!wm) return false;
        appbench::wait(500ms);
        windows = std::make_unique<OrdinaryWindows>(name, windowCount);
        const auto deadline = Clock::now() + 10s;
        while (windows->managed() < static_cast<size_t>(windowCount) && Clock::now() < deadline) appbench::wait(50ms);
        return true;
    }
};

// A side's state for one notification: its first window mapped, then hidden again (the epoch
// while not yet).
struct Showing {
    explicit Showing(size_t already) : seen(already) {}
    size_t seen;
    Clock::time_point mapped{}, hidden{};

    template <class Belongs>
    void follow(MapWatch& watch, const Belongs& belongs) {
        const auto events = watch.events();
        for (size_t i = seen; i < events.size(); ++i) {
            const MapWatch::Event& e = events[i];
            if (belongs(e) && e.mapped && !isMapped()) mapped = e.at;
            if (belongs(e) && !e.mapped && isMapped()) hidden = e.at;
        }
    }
    bool isMapped() const { return mapped != Clock::time_point{}; }
    bool isHidden() const { return hidden != Clock::time_point{}; }
};

void BM_NotificationShownAndHidden(benchmark::State& state) {
    const int windowCount = static_cast<int>(state.range(0));
    const bool picomFades = state.range(1) != 0;
    constexpr int kNotifications = 12;
    QString error;
    // Each side draws on an X server of its own, so each server's CPU is that side's drawing.
    Screen appScreen, dunstScreen, xfceScreen;
    auto bus = appScreen.start(windowCount, &error) && dunstScreen.start(windowCount, &error) &&
                       xfceScreen.start(windowCount, &error)
                   ? testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error)
                   : nullptr;
    if (!bus) {
        state.SkipWithError(error.toStdString().c_str());
        return;
    }
    auto busAddress = bus->exportAddress();

    // dunst serves the calls where it is installed; otherwise a mock daemon does.
    std::unique_ptr<appbench::Dunst> dunst = appbench::Dunst::start(dunstScreen.x->display(), &error);
    std::unique_ptr<testsupport::DBusMock> mock;
    if (!dunst) mock = testsupport::DBusMock::startNotificationDaemon(*bus, &error);
    if ((!dunst && !mock) || !bus->waitForName(QStringLiteral("org.freedesktop.Notifications"))) {
        state.SkipWithError(error.isEmpty() ? "no notification daemon" : error.toStdString().c_str());
        return;
    }
    std::unique_ptr<appbench::XfceNotifyd> xfce = appbench::XfceNotifyd::start(xfceScreen.x->display(), picomFades, &error);

    testsupport::AppHome home;
    home.sessionBus = bus->address();
    testsupport::AppProcess app(appbench::applicationProgram(), appbench::applicationEnvironment(home, appScreen.x->display()));
    if (!app.started() ||
        app.waitForLine("info Monitoring started successfully", testsupport::kAppStartTimeoutMs) < 0) {
        state.SkipWithError("the application did not start");
        return;
    }
    wait(2s, &app);  // start-up work settles

    MapWatch appWatch(appScreen.name);
    std::unique_ptr<MapWatch> dunstWatch = dunst ? std::make_unique<MapWatch>(dunstScreen.name) : nullptr;
    std::unique_ptr<MapWatch> xfceWatch = xfce ? std::make_unique<MapWatch>(xfceScreen.name) : nullptr;
    appbench::FrameCounter appFrames(appScreen.name), dunstFrames(dunstScreen.name), xfceFrames(xfceScreen.name);
    const qint64 appPid = app.pid();
    const qint64 dunstPid = dunst ? dunst->pid() : 0;
    const qint64 xfcePid = xfce ? xfce->pid() : 0;
    auto isApp = [&](const MapWatch::Event& e) { return e.pid == appPid; };
    auto isDunst = [&](const MapWatch::Event& e) { return e.pid == dunstPid || e.wmClass.contains("unst"); };
    auto isXfce = [&](const MapWatch::Event& e) { return e.pid == xfcePid || e.wmClass.contains("notifyd"); };
    enum Measured { kApp, kAppX, kDunst, kDunstX, kXfce, kXfceX, kPicom };
    const std::vector<qint64> measured{appPid,  appScreen.x->pid(),  dunstPid,
                                       dunstScreen.x->pid(), xfcePid, xfceScreen.x->pid(), xfce ? xfce->picomPid() : 0};
    auto cpuNow = [&] {
        std::vector<double> cpu;
        for (qint64 pid : measured) cpu.push_back(cpuMsOf(pid));
        return cpu;
    };
    auto framesNow = [&] { return std::vector<int>{appFrames.frames(), dunstFrames.frames(), xfceFrames.frames()}; };

    for (auto _ : state) {
        // The idle rate of each, to take out of the figures.
        const auto idleStart = Clock::now();
        const std::vector<double> idle0 = cpuNow();
        const appbench::ThreadWakeups idleWakeups0 = appbench::threadWakeupsOf(appPid);
        wait(3s, &app);
        const double idleSeconds = std::chrono::duration<double>(Clock::now() - idleStart).count();
        const std::vector<double> idle1 = cpuNow();
        const double idleWakeups = appbench::wakeupsBetween(idleWakeups0, appbench::threadWakeupsOf(appPid));

        std::vector<double> appMaps, dunstMaps;
        const auto runStart = Clock::now();
        const std::vector<double> run0 = cpuNow();
        const appbench::ThreadWakeups runWakeups0 = appbench::threadWakeupsOf(appPid);
        const std::vector<int> frames0 = framesNow();
        for (int n = 0; n < kNotifications; ++n) {
            Showing appShows{appWatch.events().size()};
            Showing dunstShows{dunstWatch ? dunstWatch->events().size() : 0};
            Showing xfceShows{xfceWatch ? xfceWatch->events().size() : 0};
            const platform::DBusCall notify{
                QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
                QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"),
                {QStringLiteral("Mail"), 0u, QString(), QStringLiteral("Message number %1").arg(n + 1),
                 QStringLiteral("A body of ordinary length."), QStringList(), QVariantMap(), 2000}};
            const auto sentAt = Clock::now();
            auto call = bus->connection().callAsync(notify, 2s, [](const platform::DBusReply&) {});
            platform::AnyCancellable xfceCall;
            if (xfce) xfceCall = xfce->bus->connection().callAsync(notify, 2s, [](const platform::DBusReply&) {});
            // All shown and hidden again (or 10 s gone).
            const auto deadline = sentAt + 10s;
            while (Clock::now() < deadline &&
                   !(appShows.isHidden() && (!dunst || dunstShows.isHidden()) && (!xfce || xfceShows.isHidden()))) {
                wait(10ms, &app);
                appShows.follow(appWatch, isApp);
                if (dunstWatch) dunstShows.follow(*dunstWatch, isDunst);
                if (xfceWatch) xfceShows.follow(*xfceWatch, isXfce);
            }
            auto ms = [&](Clock::time_point t) { return std::chrono::duration<double, std::milli>(t - sentAt).count(); };
            if (appShows.isMapped()) appMaps.push_back(ms(appShows.mapped));
            if (dunstShows.isMapped()) dunstMaps.push_back(ms(dunstShows.mapped));
            wait(500ms, &app);  // a compositor's fade outlasts the window
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - runStart).count();
        const std::vector<double> run1 = cpuNow();
        const double runWakeups = appbench::wakeupsBetween(runWakeups0, appbench::threadWakeupsOf(appPid));
        const std::vector<int> frames1 = framesNow();
        // Per notification, each process's idle rate over the run taken out.
        auto perNotification = [&](size_t i) {
            const double idleRate = (idle1[i] - idle0[i]) / idleSeconds;
            return (run1[i] - run0[i] - idleRate * seconds) / kNotifications;
        };
        auto framesPer = [&](size_t i) { return static_cast<double>(frames1[i] - frames0[i]) / kNotifications; };
        const double appCpu = perNotification(kApp), appXCpu = perNotification(kAppX);
        const double appTotal = appCpu + appXCpu;
        state.counters["app_cpu_ms"] = appCpu;
        state.counters["app_wakeups"] = (runWakeups - idleWakeups / idleSeconds * seconds) / kNotifications;
        state.counters["app_x_cpu_ms"] = appXCpu;
        state.counters["app_ms"] = appTotal;
        state.counters["app_map_ms"] = median(appMaps);
        state.counters["app_map_max_ms"] = appMaps.empty() ? 0 : *std::max_element(appMaps.begin(), appMaps.end());
        state.counters["app_shown"] = static_cast<double>(appMaps.size());
        if (appFrames.available()) state.counters["app_frames"] = framesPer(0);
        if (dunst) {
            const double dunstCpu = perNotification(kDunst), dunstXCpu = perNotification(kDunstX);
            state.counters["dunst_cpu_ms"] = dunstCpu;
            state.counters["dunst_x_cpu_ms"] = dunstXCpu;
            state.counters["dunst_ms"] = dunstCpu + dunstXCpu;
            state.counters["dunst_map_ms"] = median(dunstMaps);
            state.counters["cpu_ratio"] = dunstCpu > 0 ? appCpu / dunstCpu : 0;
            state.counters["ratio_dunst"] = dunstCpu + dunstXCpu > 0 ? appTotal / (dunstCpu + dunstXCpu) : 0;
            if (dunstFrames.available()) state.counters["dunst_frames"] = framesPer(1);
        }
        if (xfce) {
            const double xfceCpu = perNotification(kXfce), xfceXCpu = perNotification(kXfceX);
            const double picomCpu = perNotification(kPicom);
            const double xfceTotal = xfceCpu + xfceXCpu + picomCpu;
            state.counters["xfce_cpu_ms"] = xfceCpu;
            state.counters["xfce_x_cpu_ms"] = xfceXCpu;
            state.counters["picom_cpu_ms"] = picomCpu;
            state.counters["xfce_ms"] = xfceTotal;
            state.counters["ratio_xfce"] = xfceTotal > 0 ? appTotal / xfceTotal : 0;
            if (xfceFrames.available()) state.counters["xfce_frames"] = framesPer(2);
        }
    }
}
BENCHMARK(BM_NotificationShownAndHidden)
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({20, 0})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
