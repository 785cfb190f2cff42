#pragma once

// The desktop's accessibility on private services, for tests and benchmarks of the "ui" road: an
// X server, a session bus, the AT-SPI bus launcher (its own bus and registry) and a notification
// daemon. While it lives, this process's environment points at them.

#include "support/service_fixtures.h"

#include <QString>

#include <functional>
#include <memory>

namespace testsupport {

class AtSpiDesktop {
public:
    // False with `error` set when a service is missing or did not start.
    static std::unique_ptr<AtSpiDesktop> start(QString* error = nullptr);
    ~AtSpiDesktop();
    AtSpiDesktop(const AtSpiDesktop&) = delete;
    AtSpiDesktop& operator=(const AtSpiDesktop&) = delete;

    PrivateBus& bus() { return *bus_; }
    const QString& display() const { return x_->display(); }

    // Sets org.a11y.Status.IsEnabled, as a settings tool would.
    bool setEnabled(bool on);
    // Starts `program` (a GTK daemon, dunst) as the notification daemon, ending the one before;
    // true once it owns the notification service.
    bool startDaemon(const QString& program, QString* error = nullptr);
    pid_t daemonPid() const { return daemon_ ? daemon_->pid() : -1; }
    void stopDaemon();
    // Posts a notification from "Mail" with the desktop's tool; true when it was delivered.
    bool notify(const QString& title, const QString& body);

    // Runs this thread's event loop until `done`, for at most `seconds` of wall time (real daemons
    // answer late on a loaded machine); the result of `done`.
    static bool waitUntil(const std::function<bool()>& done, double seconds = 15);

    static QString notificationDaemon() { return QStringLiteral("/usr/lib/notification-daemon/notification-daemon"); }
    static QString dunst() { return QStringLiteral("/usr/bin/dunst"); }

private:
    AtSpiDesktop() = default;

    std::unique_ptr<ScopedServiceHome> home_;
    std::unique_ptr<PrivateXServer> x_;
    std::unique_ptr<PrivateBus> bus_;
    std::unique_ptr<ScopedEnvironment> env_;
    std::unique_ptr<ServiceProcess> launcher_;
    std::unique_ptr<ServiceProcess> daemon_;
};

}  // namespace testsupport
