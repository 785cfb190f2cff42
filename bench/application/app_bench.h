#pragma once

// What the application benchmark's cases share: the built application (or another build named by
// QUILLVEX_BENCH_APP) started as a user runs it, dunst and xfce4-notifyd beside it, and the figures
// read from /proc: CPU time, wake-ups (voluntary context switches), resident memory.

#include "support/app_process.h"
#include "support/service_fixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <xcb/xcb.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>

namespace appbench {

using Clock = std::chrono::steady_clock;

// CPU time (user + system) of a whole process so far, in milliseconds.
inline double cpuMsOf(qint64 pid) {
    if (pid <= 0) return 0;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return 0;
    const QByteArray line = stat.read(4096);
    // Fields after the command's closing parenthesis (it may hold spaces): utime is field 14, stime 15.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) return 0;
    return (fields[11].toDouble() + fields[12].toDouble()) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

inline double statusField(const QString& statusPath, const QByteArray& field) {
    QFile status(statusPath);
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.read(16384).split('\n')) {
        if (line.startsWith(field)) return line.mid(field.size()).trimmed().split(' ').value(0).toDouble();
    }
    return 0;
}

// Wake-ups so far: the voluntary context switches of each of a process's threads, or of its main
// thread alone. A thread that ends takes its count with it, so a stretch counts what the threads
// alive at both of its ends did, and the whole of those that began meanwhile.
using ThreadWakeups = std::map<QString, double>;
inline ThreadWakeups threadWakeupsOf(qint64 pid) {
    ThreadWakeups wakeups;
    if (pid <= 0) return wakeups;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        wakeups[task] = statusField(tasks + u'/' + task + QStringLiteral("/status"), "voluntary_ctxt_switches:");
    return wakeups;
}
inline double wakeupsBetween(const ThreadWakeups& before, const ThreadWakeups& after) {
    double total = 0;
    for (const auto& [task, count] : after) {
        const auto it = before.find(task);
        total += it == before.end() ? count : count - it->second;
    }
    return total;
}
inline double mainThreadWakeupsOf(qint64 pid) {
    return pid > 0 ? statusField(QStringLiteral("/proc/%1/task/%1/status").arg(pid), "voluntary_ctxt_switches:") : 0;
}

inline double rssMiBOf(qint64 pid) {
    return pid > 0 ? statusField(QStringLiteral("/proc/%1/status").arg(pid), "VmRSS:") / 1024.0 : 0;
}

inline QList<qint64> childrenOf(qint64 pid) {
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

// Runs the Qt event loop (and reads the application's log) for `duration` of wall time.
inline void wait(Clock::duration duration, testsupport::AppProcess* app = nullptr) {
    const auto until = Clock::now() + duration;
    while (Clock::now() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (app) app->pump();
        QThread::msleep(5);
    }
}

inline QString applicationProgram() {
    return qEnvironmentVariableIsEmpty("QUILLVEX_BENCH_APP") ? QStringLiteral(QUILLVEX_EXECUTABLE)
                                                             : qEnvironmentVariable("QUILLVEX_BENCH_APP");
}

// The application's environment on `display`: a fresh home, info logging as a user runs it, no
// update check fetching meanwhile (it would land in some runs and not others).
inline QProcessEnvironment applicationEnvironment(testsupport::AppHome& home, const QString& display) {
    QDir().mkpath(home.filePath(QStringLiteral(".config/Quillvex")));
    QFile settings(home.filePath(QStringLiteral(".config/Quillvex/com.varnock.Quillvex.json")));
    if (!settings.exists() && settings.open(QIODevice::WriteOnly)) settings.write(R"({"automaticUpdateChecks": false})");
    settings.close();
    QProcessEnvironment env = home.environment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("QUILLVEX_LOG_LEVEL"), QStringLiteral("info"));
    return env;
}

// dunst on `display` and the session bus in the environment, serving notifications; none when
// it is not installed or does not take the name.
struct Dunst {
    std::unique_ptr<testsupport::ScopedServiceHome> home = std::make_unique<testsupport::ScopedServiceHome>();
    std::unique_ptr<testsupport::ServiceProcess> process;
    Clock::time_point startedAt;
    qint64 pid() const { return process ? process->pid() : 0; }

    static std::unique_ptr<Dunst> start(const QString& display, QString* error) {
        const QString path = QStandardPaths::findExecutable(QStringLiteral("dunst"));
        if (path.isEmpty()) return nullptr;
        auto dunst = std::make_unique<Dunst>();
        QFile config(dunst->home->path() + QStringLiteral("/dunstrc"));
        config.open(QIODevice::WriteOnly);
        config.write("[global]\nfont = DejaVu Sans 10\n");
        config.close();
        testsupport::ScopedEnvironment env;
        env.set("DISPLAY", display.toLocal8Bit());
        dunst->startedAt = Clock::now();
        dunst->process = testsupport::ServiceProcess::start(path, {QStringLiteral("-config"), config.fileName()}, {}, -1, error);
        if (!dunst->process) return nullptr;
        return dunst;
    }
};

// `name` on the PATH or, for a daemon kept out of it, in one of `folders`.
inline QString findProgram(const QString& name, const QStringList& folders) {
    const QString onPath = QStandardPaths::findExecutable(name);
    return onPath.isEmpty() ? QStandardPaths::findExecutable(name, folders) : onPath;
}

// Whether a compositing manager owns the screen of `display`, waiting up to `timeout`.
inline bool waitForCompositor(const QByteArray& display, std::chrono::milliseconds timeout) {
    xcb_connection_t* c = xcb_connect(display.constData(), nullptr);
    bool owned = false;
    if (!xcb_connection_has_error(c)) {
        static const char kName[] = "_NET_WM_CM_S0";
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof kName - 1, kName), nullptr);
        const auto deadline = Clock::now() + timeout;
        while (atom && !owned && Clock::now() < deadline) {
            xcb_get_selection_owner_reply_t* r =
                xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr);
            owned = r && r->owner != XCB_NONE;
            std::free(r);
            if (!owned) QThread::msleep(20);
        }
        std::free(atom);
    }
    xcb_disconnect(c);
    return owned;
}

// xfce4-notifyd on `display` and on a session bus of its own (the notification name is dunst's on
// the other), fading each window out as it expires, composited by picom with the xrender backend;
// with `picomFades` picom fades windows in and out as well. Its settings come from a private home
// through an xfconfd of its own. None when any of them is missing or does not start.
struct XfceNotifyd {
    std::unique_ptr<testsupport::ScopedServiceHome> home = std::make_unique<testsupport::ScopedServiceHome>();
    std::unique_ptr<testsupport::PrivateBus> bus;
    std::unique_ptr<testsupport::ServiceProcess> picom, xfconfd, process;
    qint64 pid() const { return process ? process->pid() : 0; }
    qint64 picomPid() const { return picom ? picom->pid() : 0; }

    static std::unique_ptr<XfceNotifyd> start(const QString& display, bool picomFades, QString* error) {
        const QString notifyd = findProgram(QStringLiteral("xfce4-notifyd"),
                                            {QStringLiteral("/usr/lib/x86_64-linux-gnu/xfce4/notifyd"),
                                             QStringLiteral("/usr/lib/aarch64-linux-gnu/xfce4/notifyd"),
                                             QStringLiteral("/usr/lib/xfce4/notifyd"), QStringLiteral("/usr/libexec/xfce4/notifyd")});
        const QString xfconfd = findProgram(QStringLiteral("xfconfd"),
                                            {QStringLiteral("/usr/lib/x86_64-linux-gnu/xfce4/xfconf"),
                                             QStringLiteral("/usr/lib/aarch64-linux-gnu/xfce4/xfconf"),
                                             QStringLiteral("/usr/lib/xfce4/xfconf"), QStringLiteral("/usr/libexec/xfce4/xfconf")});
        const QString picom = QStandardPaths::findExecutable(QStringLiteral("picom"));
        if (notifyd.isEmpty() || xfconfd.isEmpty() || picom.isEmpty()) return nullptr;

        auto peer = std::make_unique<XfceNotifyd>();
        const QString root = peer->home->path();
        const QString channels = root + QStringLiteral("/.config/xfce4/xfconf/xfce-perchannel-xml");
        QDir().mkpath(channels);
        QFile channel(channels + QStringLiteral("/xfce4-notifyd.xml"));
        channel.open(QIODevice::WriteOnly);
        channel.write(R"(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-notifyd" version="1.0">
  <property name="do-fadeout" type="bool" value="true"/>
  <property name="do-slideout" type="bool" value="false"/>
  <property name="notification-log" type="bool" value="false"/>
</channel>
)");
        channel.close();
        QFile config(root + QStringLiteral("/picom.conf"));
        config.open(QIODevice::WriteOnly);
        config.write(QByteArray("backend = \"xrender\";\nvsync = false;\nshadow = false;\nfading = ") +
                     (picomFades ? "true" : "false") + ";\n");
        config.close();

        peer->bus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, error);
        if (!peer->bus) return nullptr;
        testsupport::ScopedEnvironment env;
        env.set("DISPLAY", display.toLocal8Bit());
        env.set("DBUS_SESSION_BUS_ADDRESS", peer->bus->address().toUtf8());
        env.set("NO_AT_BRIDGE", "1");
        peer->picom = testsupport::ServiceProcess::start(picom, {QStringLiteral("--config"), config.fileName()}, {}, -1, error);
        if (!peer->picom || !waitForCompositor(display.toLocal8Bit(), std::chrono::seconds(5))) return nullptr;
        peer->xfconfd = testsupport::ServiceProcess::start(xfconfd, {}, {}, -1, error);
        if (!peer->xfconfd || !peer->bus->waitForName(QStringLiteral("org.xfce.Xfconf"))) return nullptr;
        peer->process = testsupport::ServiceProcess::start(notifyd, {}, {}, -1, error);
        if (!peer->process || !peer->bus->waitForName(QStringLiteral("org.freedesktop.Notifications"))) return nullptr;
        return peer;
    }
};

// Whether `name` has an owner on `bus` now.
inline bool nameOwned(testsupport::PrivateBus& bus, const QString& name) {
    const auto reply = bus.connection().call({QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                              QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"), {name}},
                                             std::chrono::seconds(1));
    return reply.ok() && reply.value().toBool();
}

}  // namespace appbench
