// The built application as a user runs it, on a private 1440 x 900 Xvfb and a private session bus,
// its CPU time and wake-ups read from /proc over a fixed stretch of wall time:
// - TrackPlaying: a desktop player plays a track with a 300 x 300 cover, the mini player shows
//   (level bars moving) and the pointer rests away from the notch. Goal: at most 1 s of CPU per
//   minute. The now-playing helper's own CPU is reported apart.
// - PointerStill / PointerMoving: nothing plays, the notch is closed; the pointer rests, or XTest
//   moves it about 100 times a second over no window of the application. Goal at rest: no
//   wake-ups from the pointer watch.
// Wake-ups are the voluntary context switches of all the application's threads.

#include "bench_support.h"
#include "support/app_process.h"
#include "support/service_fixtures.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QThread>
#include <QUrl>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <unistd.h>

namespace {

using testsupport::AppProcess;

constexpr int kWindowSeconds = 20;

QStringList fields(const QString& statPath) {
    QFile file(statPath);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QString text = QString::fromLatin1(file.readAll());
    // The command name may hold spaces: the fields follow its closing parenthesis.
    return text.mid(text.lastIndexOf(QLatin1Char(')')) + 2).split(QLatin1Char(' '));
}

double cpuOf(qint64 pid) {
    const QStringList f = fields(QStringLiteral("/proc/%1/stat").arg(pid));
    if (f.size() < 13) return 0;
    return (f[11].toDouble() + f[12].toDouble()) / static_cast<double>(sysconf(_SC_CLK_TCK));  // utime, stime
}

QList<qint64> childrenOf(qint64 pid) {
    QList<qint64> children;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks + u'/' + task + QStringLiteral("/children"));
        if (!file.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray& id : file.readAll().split(' '))
            if (!id.trimmed().isEmpty()) children << id.trimmed().toLongLong();
    }
    return children;
}

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
        QProcessEnvironment env = home.environment();
        env.insert(QStringLiteral("DISPLAY"), x->display());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QUILLVEX_LOG_LEVEL"), QStringLiteral("info"));
        // QUILLVEX_BENCH_APP: another build of the application, to compare before and after a change.
        app = std::make_unique<AppProcess>(qEnvironmentVariable("QUILLVEX_BENCH_APP", QStringLiteral(QUILLVEX_EXECUTABLE)), env);
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

    // Runs `during` (if any) for the window and reports per minute of wall time.
    void measure(benchmark::State& state, const std::function<void(const std::atomic<bool>&)>& during = {}) {
        QThread::sleep(2);  // the start's own work and the reveal are over
        const qint64 pid = app->pid();
        const QList<qint64> children = childrenOf(pid);
        double childCpu = 0;
        for (qint64 child : children) childCpu -= cpuOf(child);
        const double cpuBefore = cpuOf(pid);
        const double wakeupsBefore = benchsupport::wakeupsOf(pid);
        std::atomic<bool> stop{false};
        std::thread driver;
        if (during) driver = std::thread([&] { during(stop); });
        for (auto _ : state) QThread::sleep(kWindowSeconds);
        stop = true;
        if (driver.joinable()) driver.join();
        const double cpu = cpuOf(pid) - cpuBefore;
        const double wakeups = benchsupport::wakeupsOf(pid) - wakeupsBefore;
        for (qint64 child : children) childCpu += cpuOf(child);
        const double perMinute = 60.0 / kWindowSeconds;
        state.counters["cpu_s_per_min"] = cpu * perMinute;
        state.counters["wakeups_per_min"] = wakeups * perMinute;
        state.counters["helper_cpu_s_per_min"] = childCpu * perMinute;
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

void BM_PointerStill(benchmark::State& state) {
    Desktop desktop;
    if (!desktop.ok()) {
        state.SkipWithError(desktop.error.toStdString().c_str());
        return;
    }
    desktop.measure(state);
}
BENCHMARK(BM_PointerStill)->Iterations(1)->Unit(benchmark::kSecond);

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

BENCHMARK_MAIN();
