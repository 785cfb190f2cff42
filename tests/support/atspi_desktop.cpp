#include "support/atspi_desktop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include <csignal>

namespace testsupport {

namespace {

void setError(QString* error, const QString& text) {
    if (error) *error = text;
}

QString gdbusOutput(const QStringList& arguments) {
    QString output;
    if (runTool(QStringLiteral("gdbus"), arguments, &output) != 0) return {};
    return output;
}

// The registry is started by the accessibility bus and may outlive it: end it by its process.
void endRegistry() {
    const QString address = gdbusOutput({QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("-d"),
                                         QStringLiteral("org.a11y.Bus"), QStringLiteral("-o"), QStringLiteral("/org/a11y/bus"),
                                         QStringLiteral("-m"), QStringLiteral("org.a11y.Bus.GetAddress")});
    const qsizetype open = address.indexOf(QLatin1Char('\''));
    const qsizetype close = address.lastIndexOf(QLatin1Char('\''));
    if (open < 0 || close <= open) return;
    const QString pid = gdbusOutput({QStringLiteral("call"), QStringLiteral("--address"), address.mid(open + 1, close - open - 1),
                                     QStringLiteral("-d"), QStringLiteral("org.freedesktop.DBus"), QStringLiteral("-o"),
                                     QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("-m"),
                                     QStringLiteral("org.freedesktop.DBus.GetConnectionUnixProcessID"),
                                     QStringLiteral("org.a11y.atspi.Registry")});
    const qsizetype space = pid.indexOf(QLatin1Char(' '));
    bool ok = false;
    const int number = pid.mid(space + 1).remove(QRegularExpression(QStringLiteral("[^0-9]"))).toInt(&ok);
    if (ok && number > 1) ::kill(number, SIGTERM);
}

}  // namespace

std::unique_ptr<AtSpiDesktop> AtSpiDesktop::start(QString* error) {
    const QString launcher = QStringLiteral("/usr/libexec/at-spi-bus-launcher");
    if (!QFileInfo(launcher).isExecutable()) {
        setError(error, QStringLiteral("at-spi-bus-launcher is not installed (at-spi2-core)"));
        return nullptr;
    }
    std::unique_ptr<AtSpiDesktop> desktop(new AtSpiDesktop);
    desktop->home_ = std::make_unique<ScopedServiceHome>();
    desktop->x_ = PrivateXServer::start(QStringLiteral("1280x800x24"), error);
    if (!desktop->x_) return nullptr;
    desktop->bus_ = PrivateBus::start(PrivateBus::Kind::session, error);
    if (!desktop->bus_) return nullptr;
    desktop->env_ = std::make_unique<ScopedEnvironment>();
    desktop->env_->set("DBUS_SESSION_BUS_ADDRESS", desktop->bus_->address().toUtf8());
    desktop->env_->set("DISPLAY", desktop->x_->display().toUtf8());
    desktop->env_->unset("WAYLAND_DISPLAY");
    // The launcher keeps IsEnabled in GSettings; without dconf on the private bus a change
    // would be lost.
    desktop->env_->set("GSETTINGS_BACKEND", "memory");
    desktop->env_->unset("NO_AT_BRIDGE");
    desktop->launcher_ = ServiceProcess::start(launcher, {QStringLiteral("--launch-immediately")}, {}, -1, error);
    if (!desktop->launcher_) return nullptr;
    if (!desktop->bus_->waitForName(QStringLiteral("org.a11y.Bus"), std::chrono::seconds(10))) {
        setError(error, QStringLiteral("at-spi-bus-launcher did not take org.a11y.Bus"));
        return nullptr;
    }
    return desktop;
}

AtSpiDesktop::~AtSpiDesktop() {
    daemon_.reset();
    if (launcher_) endRegistry();
    launcher_.reset();
    env_.reset();
    bus_.reset();
    x_.reset();
}

bool AtSpiDesktop::waitUntil(const std::function<bool()>& done, double seconds) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > seconds * 1000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

bool AtSpiDesktop::setEnabled(bool on) {
    return runTool(QStringLiteral("gdbus"),
                   {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("-d"), QStringLiteral("org.a11y.Bus"),
                    QStringLiteral("-o"), QStringLiteral("/org/a11y/bus"), QStringLiteral("-m"),
                    QStringLiteral("org.freedesktop.DBus.Properties.Set"), QStringLiteral("org.a11y.Status"),
                    QStringLiteral("IsEnabled"), on ? QStringLiteral("<true>") : QStringLiteral("<false>")}) == 0;
}

void AtSpiDesktop::stopDaemon() {
    if (!daemon_) return;
    daemon_.reset();
    // Gone once the service has no owner any more.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 5000 &&
           gdbusOutput({QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("-d"),
                        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("-o"), QStringLiteral("/org/freedesktop/DBus"),
                        QStringLiteral("-m"), QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                        QStringLiteral("org.freedesktop.Notifications")})
               .contains(QStringLiteral("true")))
        QThread::msleep(50);
}

bool AtSpiDesktop::startDaemon(const QString& program, QString* error) {
    stopDaemon();
    if (!QFileInfo(program).isExecutable()) {
        setError(error, program + QStringLiteral(" is not installed"));
        return false;
    }
    daemon_ = ServiceProcess::start(program, {}, {}, -1, error);
    if (!daemon_) return false;
    if (!bus_->waitForName(QStringLiteral("org.freedesktop.Notifications"), std::chrono::seconds(10))) {
        setError(error, program + QStringLiteral(" did not take org.freedesktop.Notifications"));
        return false;
    }
    return true;
}

bool AtSpiDesktop::notify(const QString& title, const QString& body) {
    return runTool(QStringLiteral("notify-send"), {QStringLiteral("-a"), QStringLiteral("Mail"), title, body}) == 0;
}

}  // namespace testsupport
