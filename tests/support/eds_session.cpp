#include "support/eds_session.h"

#include "support/service_fixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>

#include <gio/gio.h>

#include <csignal>
#include <unistd.h>

namespace testsupport {

namespace {

bool writeText(const QString& path, const QString& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0;
}

QString calendarText(const QString& veventBlocks) {
    QString body = veventBlocks;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (!body.isEmpty() && !body.endsWith('\n')) body += '\n';
    QString text = QStringLiteral("BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//quillvex tests//EN\n") + body +
                   QStringLiteral("END:VCALENDAR\n");
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return text;
}

// Running and not yet a zombie waiting for its parent.
bool isAlive(pid_t pid) {
    if (::kill(pid, 0) != 0) return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return false;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close < 0 || text.mid(close + 2, 1) != "Z";
}

}  // namespace

EdsSession::EdsSession() {
    const QString home = dir_.path();
    const std::map<QByteArray, QString> variables{
        {"HOME", home},
        {"XDG_DATA_HOME", home + "/.local/share"},
        {"XDG_CONFIG_HOME", home + "/.config"},
        {"XDG_CACHE_HOME", home + "/.cache"},
        {"XDG_RUNTIME_DIR", home + "/run"},
        {"GSETTINGS_BACKEND", QStringLiteral("memory")},  // no settings daemon behind the store
    };
    QDir().mkpath(home + "/run");
    QFile::setPermissions(home + "/run", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    for (const auto& [name, value] : variables) {
        savedEnvironment_[name] = qEnvironmentVariableIsSet(name.constData())
                                      ? std::optional<QByteArray>(qgetenv(name.constData()))
                                      : std::nullopt;
        qputenv(name.constData(), value.toUtf8());
    }
    savedEnvironment_["DBUS_SESSION_BUS_ADDRESS"] =
        qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS") ? std::optional<QByteArray>(qgetenv("DBUS_SESSION_BUS_ADDRESS"))
                                                              : std::nullopt;
    // Until the private bus runs, nothing may reach (or launch) another one.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quillvex-eds-bus");
}

EdsSession::~EdsSession() {
    endDaemons();
    for (const auto& [name, value] : savedEnvironment_) {
        if (value) {
            qputenv(name.constData(), *value);
        } else {
            qunsetenv(name.constData());
        }
    }
}

void EdsSession::addCalendar(const QString& uid, const QString& name, const QString& color, const QString& veventBlocks) {
    writeText(home() + "/.config/evolution/sources/" + uid + ".source",
              QStringLiteral("[Data Source]\nDisplayName=%1\nEnabled=true\nParent=local-stub\n\n"
                             "[Calendar]\nBackendName=local\nColor=%2\nSelected=true\n")
                  .arg(name, color));
    writeCalendarFile(uid, veventBlocks);
}

void EdsSession::seedPersonalCalendar(const QString& veventBlocks) { writeCalendarFile(QStringLiteral("system"), veventBlocks); }

void EdsSession::writeCalendarFile(const QString& folder, const QString& veventBlocks) {
    writeText(home() + "/.local/share/evolution/calendar/" + folder + "/calendar.ics", calendarText(veventBlocks));
}

bool EdsSession::start(QString* error) {
    auto fail = [error](const QString& why) {
        if (error) *error = why;
        return false;
    };
    // Only the calendar daemons can be activated: a stock session bus would start whatever is installed.
    const QString services = home() + "/dbus-services";
    QDir().mkpath(services);
    const QDir installed(QStringLiteral("/usr/share/dbus-1/services"));
    for (const QString& name : installed.entryList({QStringLiteral("org.gnome.evolution.dataserver.*.service")})) {
        QFile file(installed.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) continue;
        QString text = QString::fromUtf8(file.readAll());
        text.remove(QRegularExpression(QStringLiteral("^SystemdService=.*$\\n?"), QRegularExpression::MultilineOption));
        writeText(services + "/" + name, text);
    }
    const QString config = home() + "/bus.conf";
    writeText(config, QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                                     " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                     "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
                                     "<servicedir>%1</servicedir><auth>EXTERNAL</auth>"
                                     "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                     "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n")
                          .arg(services));

    bus_.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    dieWithTest(bus_);
    bus_.start(QStringLiteral("dbus-daemon"), {"--config-file=" + config, "--nofork", "--print-address=1"});
    if (!bus_.waitForStarted(5000)) return fail(QStringLiteral("dbus-daemon did not start"));
    QElapsedTimer timer;
    timer.start();
    while (!bus_.canReadLine() && timer.elapsed() < 5000) bus_.waitForReadyRead(100);
    address_ = QString::fromUtf8(bus_.readLine()).trimmed();
    if (address_.isEmpty()) return fail(QStringLiteral("dbus-daemon printed no address"));
    qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());

    // GLib ends the process when its session bus goes away; this bus goes away with the session.
    GError* gerror = nullptr;
    GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &gerror);
    if (!connection) {
        const QString why = QString::fromUtf8(gerror ? gerror->message : "no session connection");
        g_clear_error(&gerror);
        return fail(why);
    }
    g_dbus_connection_set_exit_on_close(connection, FALSE);
    g_object_unref(connection);
    return true;
}

QProcessEnvironment EdsSession::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
    return environment;
}

void EdsSession::endDaemons() {
    if (bus_.state() == QProcess::NotRunning) return;
    // GLib's shared connection to this bus, which the calendar libraries used, raises SIGTERM in
    // this process when the bus closes; the test process outlives its bus.
    if (GDBusConnection* shared = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
        g_dbus_connection_set_exit_on_close(shared, FALSE);
        g_object_unref(shared);
    }
    // The daemons the bus activated carry this session's HOME; end exactly those.
    const QByteArray marker = "HOME=" + home().toUtf8();
    std::vector<pid_t> daemons;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool numeric = false;
        const pid_t pid = entry.toInt(&numeric);
        if (!numeric || pid == getpid() || pid == static_cast<pid_t>(bus_.processId())) continue;
        QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
        if (!environ.open(QIODevice::ReadOnly)) continue;
        if (environ.readAll().split('\0').contains(marker)) daemons.push_back(pid);
    }
    for (pid_t pid : daemons) ::kill(pid, SIGTERM);
    bus_.terminate();
    if (!bus_.waitForFinished(3000)) {
        bus_.kill();
        bus_.waitForFinished(1000);
    }
    // Give the daemons a moment to go; whatever lingers is ended for good.
    QElapsedTimer timer;
    timer.start();
    for (pid_t pid : daemons) {
        while (isAlive(pid) && timer.elapsed() < 2000) usleep(20000);
        if (isAlive(pid)) ::kill(pid, SIGKILL);
    }
}

bool EdsSession::waitUntil(const std::function<bool()>& done, double seconds) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > seconds * 1000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        usleep(5000);
    }
    return true;
}

}  // namespace testsupport
