// The application benchmark's icon cases (see overlay_notification.cpp for the whole): what the
// icon of a notification costs the built application, beside another build of it in the same run
// (QUILLVEX_BENCH_BASE_APP=<executable>), each started alone on a private X server whose XSETTINGS
// manager names the icon theme, with a mock notification daemon on a private session bus. The
// theme is Papirus (Debian's papirus-icon-theme: half of its icons are symbolic links, and its
// 128 px folder is a link to its 64 px one), or one made here.
//   BM_IconOfNotification/<kind>   kind 0: a desktop entry names a themed icon (Icon=firefox);
//       1: the sender names a themed icon that is a link (mail-client); 2: every kind of icon in
//       turn (none, entry, themed name, link, picture file as its icon and as its image). 40
//       notifications 0.4 s apart.
//       cpu_ms: the application's CPU per notification (its children's included; counted by perf
//       where it can count), from the first call until the last is shown and hidden.
//   BM_IconBurst               100 calls at once naming a desktop entry with a themed icon, four
//       times: cpu_ms per call, take_in_ms from the first call until the last is received (a poll
//       of the store hands on its newest rows only).
//   BM_LargeThemeFirstLookup   a theme of 10,000 folders, the first notification naming an icon:
//       main_cpu_ms, the main thread's CPU until it is received, and take_in_ms.
//   BM_ThemeFolderThatNeverAnswers  ~/.icons leads onto a FUSE mount that never answers:
//       after_ms, until a notification sent after the first is received (15000: never), and
//       quit_ms, from SIGTERM to the end (10000: never).
// Each figure comes as app_<figure>, base_<figure> and ratio_<figure> (the application's over the
// base's).

#include "app_bench.h"
#include "support/stuck_fuse_mount.h"

#include <QDBusArgument>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>

#include <benchmark/benchmark.h>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>

namespace {

using appbench::Clock;
using namespace std::chrono_literals;

const QString kPapirus = QStringLiteral("/usr/share/icons/Papirus/index.theme");
const QString kReceived = QStringLiteral("info IslandQueue: Received signal - app: '");

bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

double msSince(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

// CPU of a process so far with that of its children it waited for, and of its main thread alone.
double cpuWithChildrenMs(qint64 pid, bool mainThread = false) {
    QFile stat(mainThread ? QStringLiteral("/proc/%1/task/%1/stat").arg(pid) : QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return 0;
    const QByteArray line = stat.read(4096);
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 15) return 0;
    double ticks = fields[11].toDouble() + fields[12].toDouble();
    if (!mainThread) ticks += fields[13].toDouble() + fields[14].toDouble();
    return ticks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The CPU a process spends from now on, its threads and children included, to the microsecond:
// `perf stat` counting its task clock, into which each thread or child that ends is folded (one
// still running when it is read is left out: none that works is). Where perf cannot count, the
// process's own figures in clock ticks stand in.
class TaskClock {
public:
    TaskClock(qint64 pid, testsupport::AppProcess* app) : pid_(pid), ticks0_(cpuWithChildrenMs(pid)) {
        perf_.start(QStringLiteral("perf"), {QStringLiteral("stat"), QStringLiteral("-x"), QStringLiteral(","),
                                             QStringLiteral("-e"), QStringLiteral("task-clock"), QStringLiteral("-p"),
                                             QString::number(pid)});
        if (perf_.waitForStarted(5000)) appbench::wait(1s, app);  // attached to every thread
    }
    ~TaskClock() {
        if (perf_.state() != QProcess::NotRunning) perf_.kill(), perf_.waitForFinished(5000);
    }
    double ms() {
        if (perf_.state() == QProcess::Running) {
            ::kill(pid_t(perf_.processId()), SIGINT);
            perf_.waitForFinished(5000);
            for (const QByteArray& line : perf_.readAllStandardError().split('\n')) {
                const QList<QByteArray> fields = line.split(',');
                bool ok = false;
                const double value = fields.value(0).toDouble(&ok);
                if (ok && fields.size() > 2 && fields[2].startsWith("task-clock")) return value;
            }
        }
        return cpuWithChildrenMs(pid_) - ticks0_;
    }

private:
    qint64 pid_;
    double ticks0_;
    QProcess perf_;
};

// A window of ours owning the XSETTINGS selection of screen 0 and naming `theme`.
class XSettingsOwner {
public:
    XSettingsOwner(const QByteArray& display, const QByteArray& theme) {
        c_ = xcb_connect(display.constData(), nullptr);
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        const xcb_window_t window = xcb_generate_id(c_);
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        const QByteArray name = "Net/IconThemeName";
        QByteArray value("\0\0\0\0", 4);  // little-endian, padding
        value += QByteArray("\1\0\0\0", 4) + QByteArray("\1\0\0\0", 4);  // serial, one setting
        const auto card = [&value](quint32 v, int size) {
            for (int i = 0; i < size; ++i) value.append(char((v >> (8 * i)) & 0xff));
        };
        const auto pad = [&value] {
            while (value.size() % 4) value.append('\0');
        };
        value.append('\1').append('\0');
        card(quint32(name.size()), 2);
        value.append(name);
        pad();
        card(0, 4);
        card(quint32(theme.size()), 4);
        value.append(theme);
        pad();
        const xcb_atom_t property = atom("_XSETTINGS_SETTINGS");
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window, property, property, 8, uint32_t(value.size()),
                            value.constData());
        xcb_set_selection_owner(c_, window, atom("_XSETTINGS_S0"), XCB_CURRENT_TIME);
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    }
    ~XSettingsOwner() { xcb_disconnect(c_); }

private:
    xcb_atom_t atom(const QByteArray& name) {
        auto* reply = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, uint16_t(name.size()), name.constData()), nullptr);
        const xcb_atom_t value = reply ? reply->atom : 0;
        std::free(reply);
        return value;
    }
    xcb_connection_t* c_ = nullptr;
};

// One build of the application on a desk of its own.
struct Desk {
    std::unique_ptr<testsupport::PrivateXServer> x;
    std::unique_ptr<testsupport::PrivateBus> bus;
    std::unique_ptr<testsupport::DBusMock> daemon;
    std::unique_ptr<XSettingsOwner> xsettings;
    testsupport::AppHome home;
    std::unique_ptr<testsupport::AppProcess> app;
    QString error;

    // `prepare` fills the home before the start.
    bool start(const QString& program, const QByteArray& theme, const std::function<void(Desk&)>& prepare,
               int readyTimeoutMs = testsupport::kAppStartTimeoutMs) {
        x = testsupport::PrivateXServer::start(QStringLiteral("1512x982x24"), &error);
        bus = x ? testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error) : nullptr;
        daemon = bus ? testsupport::DBusMock::startNotificationDaemon(*bus, &error) : nullptr;
        if (!daemon || !bus->waitForName(QStringLiteral("org.freedesktop.Notifications"))) return false;
        xsettings = std::make_unique<XSettingsOwner>(x->display().toUtf8(), theme);
        writeFile(home.filePath(QStringLiteral(".local/share/applications/firefox.desktop")),
                               "[Desktop Entry]\nType=Application\nName=Firefox\nExec=firefox %u\nIcon=firefox\n");
        QImage picture(256, 256, QImage::Format_ARGB32);
        picture.fill(QColor(40, 120, 200));
        picture.save(home.filePath(QStringLiteral("picture.png")));
        if (prepare) prepare(*this);
        home.sessionBus = bus->address();
        QProcessEnvironment env = appbench::applicationEnvironment(home, x->display());
        // X cursors come from ~/.icons too, which an earlier build has the X library read on its
        // main thread: kept to the system's, so a theme folder that never answers is the icons' alone.
        env.insert(QStringLiteral("XCURSOR_PATH"), QStringLiteral("/usr/share/icons:/usr/share/pixmaps"));
        if (qEnvironmentVariableIsSet("QUILLVEX_BENCH_LOG_LEVEL"))
            env.insert(QStringLiteral("QUILLVEX_LOG_LEVEL"), qEnvironmentVariable("QUILLVEX_BENCH_LOG_LEVEL"));
        app = std::make_unique<testsupport::AppProcess>(program, env);
        if (!app->started() || app->waitForLine("info Monitoring started successfully", readyTimeoutMs) < 0) {
            error = QStringLiteral("the application did not start");
            return false;
        }
        appbench::wait(2s, app.get());  // start-up work settles
        return true;
    }

    int received() {
        app->pump();
        int count = 0;
        for (const QString& line : app->lines())
            if (line.startsWith(kReceived)) ++count;
        return count;
    }
    bool waitForReceived(int count, std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (received() < count && Clock::now() < deadline) appbench::wait(5ms, app.get());
        return received() >= count;
    }

    // Notify as kind `kind` of the spaced mix names it.
    void notify(int kind, const QString& title) {
        QString appName = QStringLiteral("Notes"), icon;
        QVariantMap hints;
        switch (kind) {
        case 1: appName = QStringLiteral("Firefox"), hints[QStringLiteral("desktop-entry")] = QStringLiteral("firefox"); break;
        case 2: appName = QStringLiteral("Mail"), icon = QStringLiteral("mail-unread"); break;
        case 3: appName = QStringLiteral("Chat"), icon = QStringLiteral("mail-client"); break;
        case 4: appName = QStringLiteral("Viewer"), icon = home.filePath(QStringLiteral("picture.png")); break;
        case 5: appName = QStringLiteral("Pictures"), hints[QStringLiteral("image-path")] = home.filePath(QStringLiteral("picture.png")); break;
        default: break;
        }
        const platform::DBusCall call{QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
                                      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"),
                                      {appName, 0u, icon, title, QStringLiteral("A body of ordinary length."), QStringList(), hints, 2000}};
        calls.push_back(bus->connection().callAsync(call, 5s, [](const platform::DBusReply&) {}));
    }
    std::vector<platform::AnyCancellable> calls;
};

using Figures = std::map<std::string, double>;
using Measure = std::function<Figures(const QString& program, QString* error)>;

// Measures the application and, when named, the base build, alternately, and reports both and
// their ratios.
void report(benchmark::State& state, const Measure& measure) {
    if (!QFile::exists(kPapirus)) {
        state.SkipWithError("papirus-icon-theme is not installed");
        return;
    }
    const QString base = qEnvironmentVariable("QUILLVEX_BENCH_BASE_APP");
    for (auto _ : state) {
        QString error;
        const Figures app = measure(appbench::applicationProgram(), &error);
        if (app.empty()) {
            state.SkipWithError(error.toStdString().c_str());
            return;
        }
        for (const auto& [name, value] : app) state.counters["app_" + name] = value;
        if (base.isEmpty()) continue;
        const Figures old = measure(base, &error);
        for (const auto& [name, value] : old) {
            state.counters["base_" + name] = value;
            if (value > 0 && app.count(name)) state.counters["ratio_" + name] = app.at(name) / value;
        }
    }
}

constexpr int kSpaced = 40;

void BM_IconOfNotification(benchmark::State& state) {
    const int kind = static_cast<int>(state.range(0));
    report(state, [kind](const QString& program, QString* error) -> Figures {
        Desk desk;
        if (!desk.start(program, "Papirus", {})) return *error = desk.error, Figures{};
        TaskClock cpu(desk.app->pid(), desk.app.get());
        for (int i = 0; i < kSpaced; ++i) {
            desk.notify(kind == 0 ? 1 : kind == 1 ? 3 : i % 6, QStringLiteral("Message %1").arg(i));
            appbench::wait(400ms, desk.app.get());
        }
        if (!desk.waitForReceived(kSpaced, 20s)) return *error = QStringLiteral("not every notification came"), Figures{};
        appbench::wait(4s, desk.app.get());  // the last is hidden
        return Figures{{"cpu_ms", cpu.ms() / kSpaced}};
    });
}
BENCHMARK(BM_IconOfNotification)->DenseRange(0, 2)->Iterations(1)->Unit(benchmark::kSecond);

void BM_IconBurst(benchmark::State& state) {
    constexpr int kBurst = 100, kRounds = 4;
    report(state, [](const QString& program, QString* error) -> Figures {
        Desk desk;
        if (!desk.start(program, "Papirus", {})) return *error = desk.error, Figures{};
        TaskClock cpu(desk.app->pid(), desk.app.get());
        double takeIn = 0;
        for (int round = 0; round < kRounds; ++round) {
            const auto start = Clock::now();
            for (int i = 0; i < kBurst; ++i) desk.notify(1, QStringLiteral("Burst %1 %2").arg(round).arg(i));
            // A poll hands on the newest rows only: the last call's is the last to come.
            const QString last = kReceived + QStringLiteral("firefox', message: 'Burst %1 %2'").arg(round).arg(kBurst - 1);
            if (desk.app->waitForPrefix(last, 60000) < 0) return *error = QStringLiteral("the last notification did not come"), Figures{};
            takeIn += msSince(start);
            appbench::wait(6s, desk.app.get());
        }
        return Figures{{"cpu_ms", cpu.ms() / (kBurst * kRounds)}, {"take_in_ms", takeIn / kRounds}};
    });
}
BENCHMARK(BM_IconBurst)->Iterations(1)->Unit(benchmark::kSecond);

void BM_LargeThemeFirstLookup(benchmark::State& state) {
    report(state, [](const QString& program, QString* error) -> Figures {
        Desk desk;
        const auto huge = [](Desk& d) {
            const QString root = d.home.filePath(QStringLiteral(".local/share/icons/Huge"));
            QByteArray index = "[Icon Theme]\nName=Huge\nInherits=hicolor\nDirectories=";
            QByteArray sections;
            for (int i = 0; i < 10000; ++i) {
                const QByteArray folder = "f" + QByteArray::number(i) + "/apps";
                QDir().mkpath(root + u'/' + QString::fromLatin1(folder));
                index += (i ? "," : "") + folder;
                sections += "\n[" + folder + "]\nSize=" + QByteArray::number(16 + i % 100) + "\nType=Fixed\n";
            }
            writeFile(root + QStringLiteral("/index.theme"), index + "\n" + sections);
        };
        if (!desk.start(program, "Huge", huge)) return *error = desk.error, Figures{};
        const qint64 pid = desk.app->pid();
        const double main0 = cpuWithChildrenMs(pid, true);
        const auto start = Clock::now();
        desk.notify(2, QStringLiteral("First"));
        if (!desk.waitForReceived(1, 30s)) return *error = QStringLiteral("the notification did not come"), Figures{};
        return Figures{{"take_in_ms", msSince(start)}, {"main_cpu_ms", cpuWithChildrenMs(pid, true) - main0}};
    });
}
BENCHMARK(BM_LargeThemeFirstLookup)->Iterations(1)->Unit(benchmark::kSecond);

void BM_ThemeFolderThatNeverAnswers(benchmark::State& state) {
    report(state, [](const QString& program, QString* error) -> Figures {
        bool noFuse = false;
        auto mount = testsupport::StuckFuseMount::start(error, &noFuse);
        if (!mount) return {};
        Desk desk;
        const QString hung = mount->hungFolder();
        const auto linked = [&hung](Desk& d) { QFile::link(hung, d.home.filePath(QStringLiteral(".icons"))); };
        Figures figures{{"after_ms", 15000}, {"quit_ms", 10000}};
        if (desk.start(program, "Papirus", linked, 10000)) {
            const auto start = Clock::now();
            desk.notify(2, QStringLiteral("First"));
            appbench::wait(100ms, desk.app.get());
            desk.notify(0, QStringLiteral("After it"));
            if (desk.waitForReceived(2, 15s)) figures["after_ms"] = msSince(start);
        }
        if (desk.app && desk.app->pid() > 0) {
            const auto quit = Clock::now();
            desk.app->signal(SIGTERM);
            if (desk.app->finish(10000)) figures["quit_ms"] = msSince(quit);
            else qWarning("%s", qPrintable(desk.app->threadStates()));
        }
        mount->stop();
        desk.app.reset();
        return figures;
    });
}
BENCHMARK(BM_ThemeFolderThatNeverAnswers)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
