// The built application beside dunst on one private X server and session bus, as a desktop runs
// them: each Notify call is shown and hidden in full by both (the application watches the bus,
// dunst serves the call). Without dunst installed, a dbusmock daemon serves the calls and the
// dunst figures are left out.
//
// Reported per run of 20 notifications:
//   app_cpu_ms, dunst_cpu_ms   CPU per notification (user + system, idle rate subtracted)
//   cpu_ratio                  the application's over dunst's
//   app_map_ms, dunst_map_ms   median time from the Notify call to the first window mapped
//   app_map_max_ms
// Argument: the ordinary windows open meanwhile (each with its icons); with any, openbox manages them.
// QUILLVEX_BENCH_APP=<executable> measures another build of the application.

#include "support/app_process.h"
#include "support/service_fixtures.h"

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
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double cpuMsOf(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return 0;
    const QByteArray line = stat.read(4096);
    // Fields after the command's closing parenthesis: state is field 3, utime 14, stime 15.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) return 0;
    return (fields[11].toDouble() + fields[12].toDouble()) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

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

void wait(Clock::duration duration, testsupport::AppProcess* app = nullptr) {
    const auto until = Clock::now() + duration;
    while (Clock::now() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (app) app->pump();
        QThread::msleep(5);
    }
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void BM_NotificationShownAndHidden(benchmark::State& state) {
    const int windowCount = static_cast<int>(state.range(0));
    constexpr int kNotifications = 20;
    QString error;
    auto x = testsupport::PrivateXServer::start(QStringLiteral("1512x982x24"), &error);
    auto bus = x ? testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error) : nullptr;
    if (!bus) {
        state.SkipWithError(error.toStdString().c_str());
        return;
    }
    auto display = x->exportDisplay();
    auto busAddress = bus->exportAddress();
    const QByteArray displayName = x->display().toUtf8();
    std::unique_ptr<testsupport::ServiceProcess> wm;
    std::unique_ptr<OrdinaryWindows> windows;
    if (windowCount > 0) {
        wm = testsupport::ServiceProcess::start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")}, {}, -1,
                                                &error);
        if (!wm) {
            state.SkipWithError(error.toStdString().c_str());
            return;
        }
        wait(500ms);
        windows = std::make_unique<OrdinaryWindows>(displayName, windowCount);
        const auto deadline = Clock::now() + 10s;
        while (windows->managed() < static_cast<size_t>(windowCount) && Clock::now() < deadline) wait(50ms);
    }

    // dunst serves the calls where it is installed; otherwise a mock daemon does.
    std::unique_ptr<testsupport::ServiceProcess> dunst;
    std::unique_ptr<testsupport::DBusMock> mock;
    const QString dunstPath = QStandardPaths::findExecutable(QStringLiteral("dunst"));
    testsupport::ScopedServiceHome serviceHome;
    if (!dunstPath.isEmpty()) {
        QFile config(serviceHome.path() + QStringLiteral("/dunstrc"));
        config.open(QIODevice::WriteOnly);
        config.write("[global]\nfont = DejaVu Sans 10\n");
        config.close();
        dunst = testsupport::ServiceProcess::start(dunstPath, {QStringLiteral("-config"), config.fileName()}, {}, -1,
                                                   &error);
    } else {
        mock = testsupport::DBusMock::startNotificationDaemon(*bus, &error);
    }
    if ((!dunst && !mock) || !bus->waitForName(QStringLiteral("org.freedesktop.Notifications"))) {
        state.SkipWithError(error.isEmpty() ? "no notification daemon" : error.toStdString().c_str());
        return;
    }

    testsupport::AppHome home;
    home.sessionBus = bus->address();
    // No update check fetching meanwhile: it would land in some runs and not others.
    QDir().mkpath(home.filePath(QStringLiteral(".config/Quillvex")));
    QFile settings(home.filePath(QStringLiteral(".config/Quillvex/com.varnock.Quillvex.json")));
    settings.open(QIODevice::WriteOnly);
    settings.write(R"({"automaticUpdateChecks": false})");
    settings.close();
    QProcessEnvironment env = home.environment();
    env.insert(QStringLiteral("DISPLAY"), x->display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("QUILLVEX_LOG_LEVEL"));  // info, as a user runs it
    const QString program = qEnvironmentVariableIsEmpty("QUILLVEX_BENCH_APP")
                                ? QStringLiteral(QUILLVEX_EXECUTABLE)
                                : qEnvironmentVariable("QUILLVEX_BENCH_APP");
    testsupport::AppProcess app(program, env);
    if (!app.started() ||
        app.waitForLine("info Monitoring started successfully", testsupport::kAppStartTimeoutMs) < 0) {
        state.SkipWithError("the application did not start");
        return;
    }
    wait(2s, &app);  // start-up work settles

    MapWatch watch(displayName);
    const qint64 appPid = app.pid();
    const qint64 dunstPid = dunst ? dunst->pid() : 0;
    auto isApp = [&](const MapWatch::Event& e) { return e.pid == appPid; };
    auto isDunst = [&](const MapWatch::Event& e) { return dunst && (e.pid == dunstPid || e.wmClass.contains("unst")); };

    for (auto _ : state) {
        // The idle rate of each, to take out of the figures.
        const auto idleStart = Clock::now();
        const double appIdle0 = cpuMsOf(appPid), dunstIdle0 = cpuMsOf(dunstPid);
        wait(3s, &app);
        const double idleSeconds = std::chrono::duration<double>(Clock::now() - idleStart).count();
        const double appIdleRate = (cpuMsOf(appPid) - appIdle0) / idleSeconds;
        const double dunstIdleRate = (cpuMsOf(dunstPid) - dunstIdle0) / idleSeconds;

        std::vector<double> appMaps, dunstMaps;
        const auto runStart = Clock::now();
        const double app0 = cpuMsOf(appPid), dunst0 = cpuMsOf(dunstPid);
        for (int n = 0; n < kNotifications; ++n) {
            const size_t seen = watch.events().size();
            const auto sentAt = Clock::now();
            auto call = bus->connection().callAsync(
                {QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
                 QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"),
                 {QStringLiteral("Mail"), 0u, QString(), QStringLiteral("Message number %1").arg(n + 1),
                  QStringLiteral("A body of ordinary length."), QStringList(), QVariantMap(), 2000}},
                2s, [](const platform::DBusReply&) {});
            // Both shown and hidden again (or 10 s gone).
            std::optional<Clock::time_point> appMapped, appHidden, dunstMapped, dunstHidden;
            const auto deadline = sentAt + 10s;
            while (Clock::now() < deadline && !(appHidden && (!dunst || dunstHidden))) {
                wait(10ms, &app);
                const auto events = watch.events();
                for (size_t i = seen; i < events.size(); ++i) {
                    const MapWatch::Event& e = events[i];
                    if (isApp(e) && e.mapped && !appMapped) appMapped = e.at;
                    if (isApp(e) && !e.mapped && appMapped) appHidden = e.at;
                    if (isDunst(e) && e.mapped && !dunstMapped) dunstMapped = e.at;
                    if (isDunst(e) && !e.mapped && dunstMapped) dunstHidden = e.at;
                }
            }
            auto ms = [&](Clock::time_point t) { return std::chrono::duration<double, std::milli>(t - sentAt).count(); };
            if (appMapped) appMaps.push_back(ms(*appMapped));
            if (dunstMapped) dunstMaps.push_back(ms(*dunstMapped));
            wait(300ms, &app);
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - runStart).count();
        const double appCpu = (cpuMsOf(appPid) - app0 - appIdleRate * seconds) / kNotifications;
        const double dunstCpu = (cpuMsOf(dunstPid) - dunst0 - dunstIdleRate * seconds) / kNotifications;
        state.counters["app_cpu_ms"] = appCpu;
        state.counters["app_map_ms"] = median(appMaps);
        state.counters["app_map_max_ms"] = appMaps.empty() ? 0 : *std::max_element(appMaps.begin(), appMaps.end());
        state.counters["app_shown"] = static_cast<double>(appMaps.size());
        if (dunst) {
            state.counters["dunst_cpu_ms"] = dunstCpu;
            state.counters["dunst_map_ms"] = median(dunstMaps);
            state.counters["cpu_ratio"] = dunstCpu > 0 ? appCpu / dunstCpu : 0;
        }
    }
}
BENCHMARK(BM_NotificationShownAndHidden)->Arg(0)->Arg(20)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
