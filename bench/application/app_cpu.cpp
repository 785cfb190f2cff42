// The application benchmark's cases over stretches of wall time (see overlay_notification.cpp for
// the whole): the built application as a user runs it, on a private 1440 x 900 Xvfb and a private
// session bus, its CPU time and wake-ups read from /proc:
// - TrackPlaying: a desktop player plays a track with a 300 x 300 cover, the mini player shows
//   (level bars moving) and the pointer rests away from the notch. Goal: at most 1 s of CPU per
//   minute, the application and its now-playing helper together; the main thread's wake-ups per
//   second are reported apart.
// Each case closes the settings window a first start may open, as a user would.
// - AtRest: nothing plays, the notch is closed, the pointer rests; wake-ups per minute of the
//   application, of its helper and of dunst beside it (on an X server of its own). Goal: the
//   application's own timers and nothing else.
// - AtRestSettingsOpen: as at rest, with the settings window a second start opens left open on
//   its first page. Goal: the same timers, and the window's own only while it is shown.
// - AtRestInputMethod: as at rest, with Fcitx5 and Anthy on the session bus and a panel that owns
//   org.kde.impanel, so that Fcitx5 broadcasts its input method's mode to the application. Goal:
//   following the mode adds no wake-up while nothing changes (Fcitx5's input method is still asked
//   twice a second, as without a panel).
// - PointerMoving: as at rest, while XTest moves the pointer about 100 times a second over no
//   window of the application. Goal: no wake-ups from the pointer watch.
// Wake-ups are voluntary context switches, of all a process's threads unless said otherwise.

#include "app_bench.h"
#include "bench_support.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QUrl>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

namespace {

constexpr int kWindowSeconds = 20;

using appbench::childrenOf;
using testsupport::AppProcess;

// The desktop: X server, session bus, the application started with its notch features.
struct Desktop {
    QString error;
    std::unique_ptr<testsupport::PrivateXServer> x;
    std::unique_ptr<testsupport::PrivateBus> bus;
    std::unique_ptr<testsupport::DBusMock> player;
    testsupport::AppHome home;
    std::unique_ptr<AppProcess> app;
    xcb_connection_t* xcb = nullptr;
    xcb_window_t root = 0;

    Desktop() {
        x = testsupport::PrivateXServer::start(QStringLiteral("1440x900x24"), &error);
        if (!x) return;
        bus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error);
        if (!bus) return;
        xcb = xcb_connect(x->display().toLocal8Bit().constData(), nullptr);
        root = xcb_setup_roots_iterator(xcb_get_setup(xcb)).data->root;
        moveTo(100, 500);
        home.sessionBus = bus->address();
        app = std::make_unique<AppProcess>(appbench::applicationProgram(), appbench::applicationEnvironment(home, x->display()));
        if (!app->started() || app->waitForLine(QStringLiteral("info Notch features started successfully"),
                                                testsupport::kAppStartTimeoutMs) < 0) {
            error = QStringLiteral("the application did not start its notch features");
            app.reset();
        }
    }
    ~Desktop() {
        if (xcb) xcb_disconnect(xcb);
    }
    bool ok() const { return app != nullptr; }

    // Closes the application's ordinary windows (the settings window a start without calendar
    // access opens) as a user would: the figures at rest are those with the settings window closed.
    void closeOrdinaryWindows() {
        auto atom = [this](const char* name) {
            xcb_intern_atom_reply_t* reply =
                xcb_intern_atom_reply(xcb, xcb_intern_atom(xcb, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
            const xcb_atom_t value = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
            std::free(reply);
            return value;
        };
        const xcb_atom_t protocols = atom("WM_PROTOCOLS"), deleteWindow = atom("WM_DELETE_WINDOW");
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(xcb, xcb_query_tree(xcb, root), nullptr);
        if (!tree) return;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
            xcb_get_window_attributes_reply_t* a =
                xcb_get_window_attributes_reply(xcb, xcb_get_window_attributes(xcb, children[i]), nullptr);
            if (a && a->map_state == XCB_MAP_STATE_VIEWABLE && !a->override_redirect) {
                xcb_client_message_event_t event{};
                event.response_type = XCB_CLIENT_MESSAGE;
                event.format = 32;
                event.window = children[i];
                event.type = protocols;
                event.data.data32[0] = deleteWindow;
                event.data.data32[1] = XCB_CURRENT_TIME;
                xcb_send_event(xcb, 0, children[i], XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
            }
            std::free(a);
        }
        std::free(tree);
        xcb_flush(xcb);
    }

    // A second start hands over to the running application, which opens its settings window.
    bool openSettings() {
        AppProcess second(appbench::applicationProgram(), appbench::applicationEnvironment(home, x->display()));
        if (!second.started() || !second.finish(testsupport::kAppStartTimeoutMs)) {
            error = QStringLiteral("the second start did not hand over");
            return false;
        }
        if (app->waitForLine(QStringLiteral("info AppDelegate: Settings window created"),
                             testsupport::kAppStartTimeoutMs) < 0) {
            error = QStringLiteral("the settings window did not open");
            return false;
        }
        return true;
    }

    void moveTo(int x, int y) {
        xcb_test_fake_input(xcb, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root, static_cast<int16_t>(x),
                            static_cast<int16_t>(y), 0);
        xcb_flush(xcb);
    }

    bool play() {
        const QString path = home.filePath(QStringLiteral("cover.png"));
        benchsupport::saveNoiseCover(path);
        player = testsupport::DBusMock::startMprisPlayer(
            *bus, QStringLiteral("mockplayer"),
            {{QStringLiteral("PlaybackStatus"), QStringLiteral("Playing")},
             {QStringLiteral("Metadata"),
              QVariantMap{{QStringLiteral("xesam:title"), QStringLiteral("Song")},
                          {QStringLiteral("xesam:artist"), QStringList{QStringLiteral("Band")}},
                          {QStringLiteral("xesam:album"), QStringLiteral("Record")},
                          {QStringLiteral("mpris:length"), QVariant::fromValue<qlonglong>(215'000'000)},
                          {QStringLiteral("mpris:artUrl"), QUrl::fromLocalFile(path).toString()}}}},
            &error);
        return player && app->waitForPrefix(QStringLiteral("info NotchStateManager: Switched to miniPlayer"),
                                            testsupport::kAppStartTimeoutMs) >= 0;
    }

    // Runs `during` (if any) for the window and reports per minute of wall time; `beside` (dunst)
    // is measured alike.
    void measure(benchmark::State& state, const std::function<void(const std::atomic<bool>&)>& during = {},
                 qint64 beside = 0, bool keepWindows = false) {
        if (!keepWindows) closeOrdinaryWindows();
        QThread::sleep(2);  // the start's own work and the reveal are over
        const qint64 pid = app->pid();
        const QList<qint64> children = childrenOf(pid);
        auto helperCpu = [&children] {
            double total = 0;
            for (qint64 child : children) total += appbench::cpuMsOf(child);
            return total;
        };
        auto helperWakeups = [&children] {
            std::vector<appbench::ThreadWakeups> each;
            for (qint64 child : children) each.push_back(appbench::threadWakeupsOf(child));
            return each;
        };
        const double cpu0 = appbench::cpuMsOf(pid), main0 = appbench::mainThreadWakeupsOf(pid);
        const appbench::ThreadWakeups wakeups0 = appbench::threadWakeupsOf(pid);
        const double helperCpu0 = helperCpu();
        const std::vector<appbench::ThreadWakeups> helperWakeups0 = helperWakeups();
        const double besideCpu0 = appbench::cpuMsOf(beside);
        const appbench::ThreadWakeups besideWakeups0 = appbench::threadWakeupsOf(beside);
        std::atomic<bool> stop{false};
        std::thread driver;
        if (during) driver = std::thread([&] { during(stop); });
        for (auto _ : state) QThread::sleep(kWindowSeconds);
        stop = true;
        if (driver.joinable()) driver.join();
        const double perMinute = 60.0 / kWindowSeconds;
        const double cpu = (appbench::cpuMsOf(pid) - cpu0) / 1000 * perMinute;
        const double helper = (helperCpu() - helperCpu0) / 1000 * perMinute;
        state.counters["cpu_s_per_min"] = cpu;
        state.counters["helper_cpu_s_per_min"] = helper;
        state.counters["total_cpu_s_per_min"] = cpu + helper;
        state.counters["wakeups_per_min"] = appbench::wakeupsBetween(wakeups0, appbench::threadWakeupsOf(pid)) * perMinute;
        state.counters["main_wakeups_per_s"] = (appbench::mainThreadWakeupsOf(pid) - main0) / kWindowSeconds;
        const std::vector<appbench::ThreadWakeups> helperWakeups1 = helperWakeups();
        double helperWoken = 0;
        for (size_t i = 0; i < helperWakeups1.size() && i < helperWakeups0.size(); ++i)
            helperWoken += appbench::wakeupsBetween(helperWakeups0[i], helperWakeups1[i]);
        state.counters["helper_wakeups_per_min"] = helperWoken * perMinute;
        if (beside) {
            state.counters["dunst_cpu_s_per_min"] = (appbench::cpuMsOf(beside) - besideCpu0) / 1000 * perMinute;
            state.counters["dunst_wakeups_per_min"] =
                appbench::wakeupsBetween(besideWakeups0, appbench::threadWakeupsOf(beside)) * perMinute;
        }
        app->pump();
    }
};

void BM_TrackPlaying(benchmark::State& state) {
    Desktop desktop;
    if (!desktop.ok() || !desktop.play()) {
        state.SkipWithError(desktop.error.isEmpty() ? "the mini player did not show" : desktop.error.toStdString().c_str());
        return;
    }
    desktop.measure(state);
}
BENCHMARK(BM_TrackPlaying)->Iterations(1)->Unit(benchmark::kSecond);

void BM_AtRest(benchmark::State& state) {
    Desktop desktop;
    if (!desktop.ok()) {
        state.SkipWithError(desktop.error.toStdString().c_str());
        return;
    }
    // dunst on an X server of its own and the same bus, at rest too.
    auto dunstScreen = testsupport::PrivateXServer::start(QStringLiteral("1440x900x24"), &desktop.error);
    auto busAddress = desktop.bus->exportAddress();
    auto dunst = dunstScreen ? appbench::Dunst::start(dunstScreen->display(), &desktop.error) : nullptr;
    // Its start-up threads come and go first: a thread that ends takes its count with it.
    if (dunst) QThread::sleep(3);
    desktop.measure(state, {}, dunst ? dunst->pid() : 0);
}
BENCHMARK(BM_AtRest)->Iterations(1)->Unit(benchmark::kSecond);

void BM_AtRestSettingsOpen(benchmark::State& state) {
    Desktop desktop;
    if (!desktop.ok()) {
        state.SkipWithError(desktop.error.toStdString().c_str());
        return;
    }
    desktop.closeOrdinaryWindows();
    if (!desktop.openSettings()) {
        state.SkipWithError(desktop.error.toStdString().c_str());
        return;
    }
    desktop.measure(state, {}, 0, true);
}
BENCHMARK(BM_AtRestSettingsOpen)->Iterations(1)->Unit(benchmark::kSecond);

void BM_AtRestInputMethod(benchmark::State& state) {
    Desktop desktop;
    if (!desktop.ok()) {
        state.SkipWithError(desktop.error.toStdString().c_str());
        return;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("fcitx5")).isEmpty()) {
        state.SkipWithError("fcitx5 is not installed");
        return;
    }
    testsupport::ScopedServiceHome fcitxHome;
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/fcitx5");
    QDir().mkpath(config);
    QFile profile(config + QStringLiteral("/profile"));
    profile.open(QIODevice::WriteOnly);
    profile.write("[Groups/0]\nName=Default\nDefault Layout=us\nDefaultIM=anthy\n"
                  "[Groups/0/Items/0]\nName=keyboard-us\nLayout=\n[Groups/0/Items/1]\nName=anthy\nLayout=\n"
                  "[GroupOrder]\n0=Default\n");
    profile.close();
    auto busAddress = desktop.bus->exportAddress();
    testsupport::ScopedEnvironment env;
    env.unset("DISPLAY");
    auto fcitx5 = testsupport::ServiceProcess::start(QStringLiteral("/usr/bin/fcitx5"), {}, fcitxHome.path() + QStringLiteral("/fcitx5.log"),
                                                     -1, &desktop.error);
    if (!fcitx5 || !desktop.bus->waitForName(QStringLiteral("org.fcitx.Fcitx5"), std::chrono::seconds(20))) {
        state.SkipWithError("fcitx5 did not start");
        return;
    }
    platform::QtDBusConnection panel(desktop.bus->address(), QStringLiteral("bench-impanel"));
    panel.call({QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
                QStringLiteral("RequestName"), {QStringLiteral("org.kde.impanel"), 4u}},
               std::chrono::seconds(5));
    QThread::sleep(3);  // Fcitx5's own start-up and its first broadcasts are over
    desktop.measure(state);
}
BENCHMARK(BM_AtRestInputMethod)->Iterations(1)->Unit(benchmark::kSecond);

void BM_PointerMoving(benchmark::State& state) {
    Desktop desktop;
    if (!desktop.ok()) {
        state.SkipWithError(desktop.error.toStdString().c_str());
        return;
    }
    const QByteArray display = desktop.x->display().toLocal8Bit();
    desktop.measure(state, [&display](const std::atomic<bool>& stop) {
        // A connection of the driver's own: circles near the bottom of the screen, below the notch
        // and the settings window a first start opens, a step every 10 ms.
        xcb_connection_t* c = xcb_connect(display.constData(), nullptr);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        for (int step = 0; !stop; ++step) {
            const double a = step * 0.05;
            xcb_test_fake_input(c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root, static_cast<int16_t>(720 + 300 * std::cos(a)),
                                static_cast<int16_t>(830 + 50 * std::sin(a)), 0);
            xcb_flush(c);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        xcb_disconnect(c);
    });
}
BENCHMARK(BM_PointerMoving)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

