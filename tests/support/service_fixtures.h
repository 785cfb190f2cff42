#pragma once

// Real Linux services for tests, started headless (as root, no systemd, no desktop session) and
// stopped with nothing left behind: private D-Bus daemons, python3-dbusmock mocks, a private
// PulseAudio with null sinks, Xvfb. Each starter returns nullptr (and says why in `error`) when
// its program is missing or does not come up; the test then reports QUILLVEX_SERVICE_MISSING.
//
// Starting a daemon costs tens of milliseconds (a dbusmock one a few hundred): start them once
// per suite (static members set in SetUpTestSuite, deleted in TearDownTestSuite) and reset their
// state per test.

#include "platform/dbus/dbus_connection.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantList>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>

namespace testsupport {

// A service a test needs is missing or did not start: the test fails, or skips where
// QUILLVEX_ALLOW_MISSING_SERVICES=1 allows it (a machine without the packages; never in CI).
#define QUILLVEX_SERVICE_MISSING(reason) \
    return ::testsupport::reportMissingService(__FILE__, __LINE__, ::testing::Message() << reason)

// A child process in its own process group that dies with the test process (even a crashed
// one); the destructor sends SIGTERM to the group, then SIGKILL after a short grace, and reaps it.
class ServiceProcess {
public:
    // Starts `program` with `arguments`; stdout/stderr go to `logPath` (or /dev/null when empty).
    // `keepFd` (>= 0) stays open in the child as the same number (for --print-address=FD, -displayfd).
    static std::unique_ptr<ServiceProcess> start(const QString& program, const QStringList& arguments,
                                                 const QString& logPath = {}, int keepFd = -1,
                                                 QString* error = nullptr);
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool isRunning();
    // Waits for it to exit by itself: its exit status, or -1 when it was killed by a signal or
    // is still running after `timeout` (it keeps running then).
    int wait(std::chrono::milliseconds timeout);
    // Stops it now (idempotent).
    void stop();

private:
    explicit ServiceProcess(pid_t pid) : pid_(pid) {}
    pid_t pid_;
    bool reaped_ = false;
};

// Sets environment variables for its lifetime and restores the old values (or their absence).
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    void set(const char* name, const QByteArray& value);
    void unset(const char* name);

private:
    std::map<QByteArray, std::optional<QByteArray>> saved_;
};

// A fresh HOME with its own XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_STATE_HOME, XDG_CACHE_HOME,
// XDG_RUNTIME_DIR (0700) and UPOWER_HISTORY_DIR, set for its lifetime: daemons keep state there.
class ScopedServiceHome {
public:
    ScopedServiceHome();
    QString path() const { return dir_.path(); }
    QString runtimeDir() const { return dir_.path() + QStringLiteral("/run"); }

private:
    QTemporaryDir dir_;
    ScopedEnvironment env_;
};

// A private dbus-daemon that auto-starts nothing (no service directories). A `system` one
// stands in for the system bus. export() points DBUS_SESSION_BUS_ADDRESS or
// DBUS_SYSTEM_BUS_ADDRESS at it for the returned guard's lifetime.
class PrivateBus {
public:
    enum class Kind { session, system };
    static std::unique_ptr<PrivateBus> start(Kind kind, QString* error = nullptr);
    // A session bus whose policy refuses to make any connection a monitor.
    static std::unique_ptr<PrivateBus> startRefusingMonitors(QString* error = nullptr);
    ~PrivateBus();

    Kind kind() const { return kind_; }
    const QString& address() const { return address_; }
    pid_t pid() const { return process_->pid(); }
    // A Qt connection of this process to the bus (made on first use; one per bus).
    platform::DBusConnection& connection();
    // Waits (at most `timeout`) until `name` has an owner on the bus.
    bool waitForName(const QString& name, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    [[nodiscard]] std::unique_ptr<ScopedEnvironment> exportAddress() const;
    // Stops the daemon (every client is dropped) and starts a new one at the same address, with
    // a new guid, as a restarted bus comes back.
    bool restart(QString* error = nullptr);

private:
    PrivateBus() = default;
    bool launch(const QStringList& listen, QString* error);
    Kind kind_ = Kind::session;
    bool refusesMonitors_ = false;
    QString address_;
    QTemporaryDir dir_;
    std::unique_ptr<ServiceProcess> process_;
    std::unique_ptr<platform::DBusConnection> connection_;
};

// A python3-dbusmock process on a private bus: a template (upower, bluez5, logind,
// gnome_screensaver, notification_daemon, ...) or a plain object to which a test adds methods and
// properties through the mock interface.
class DBusMock {
public:
    // `parameters` is the template's JSON parameter object (-p), empty for none.
    static std::unique_ptr<DBusMock> startTemplate(PrivateBus& bus, const QString& templateName,
                                                   const QString& busName, const QString& objectPath,
                                                   const QByteArray& parameters = {}, QString* error = nullptr);
    static std::unique_ptr<DBusMock> startPlain(PrivateBus& bus, const QString& busName, const QString& objectPath,
                                                const QString& interface, QString* error = nullptr);
    // Common plain mocks: an MPRIS player (org.mpris.MediaPlayer2.<suffix>, with the root and
    // Player interfaces, PlayPause/Play/Pause/Next/Previous recorded) and org.freedesktop.ScreenSaver
    // (GetActive/SetActive/Lock, ActiveChanged emitted).
    static std::unique_ptr<DBusMock> startMprisPlayer(PrivateBus& bus, const QString& suffix,
                                                      const QVariantMap& playerProperties = {},
                                                      QString* error = nullptr);
    static std::unique_ptr<DBusMock> startScreenSaver(PrivateBus& bus, QString* error = nullptr);
    // python3-dbusmock's notification_daemon template (answers Notify with increasing ids).
    static std::unique_ptr<DBusMock> startNotificationDaemon(PrivateBus& bus, QString* error = nullptr);
    ~DBusMock();

    const QString& busName() const { return busName_; }
    const QString& objectPath() const { return objectPath_; }
    PrivateBus& bus() { return *bus_; }

    // A call to the mock (timeout 5 s): `interface` defaults to org.freedesktop.DBus.Mock, the
    // object to objectPath().
    platform::DBusReply call(const QString& method, const QVariantList& arguments = {}, const QString& interface = {},
                             const QString& objectPath = {});
    // Mock helpers (org.freedesktop.DBus.Mock): AddProperties, SetProperty (emits
    // PropertiesChanged), AddMethod, EmitSignal, GetCalls count, ClearCalls.
    bool addProperties(const QString& interface, const QVariantMap& properties, const QString& objectPath = {});
    bool setProperty(const QString& interface, const QString& name, const QVariant& value,
                     const QString& objectPath = {});
    bool addMethod(const QString& interface, const QString& name, const QString& inSignature,
                   const QString& outSignature, const QString& pythonCode, const QString& objectPath = {});
    bool emitSignal(const QString& interface, const QString& name, const QString& signature,
                    const QVariantList& arguments, const QString& objectPath = {});
    // Names of the methods called so far on the object (GetCalls).
    QStringList calledMethods(const QString& objectPath = {});
    bool clearCalls(const QString& objectPath = {});

    const QString& logPath() const { return logPath_; }
    pid_t pid() const { return process_->pid(); }

private:
    DBusMock() = default;
    PrivateBus* bus_ = nullptr;
    QString busName_;
    QString objectPath_;
    QString logPath_;
    QTemporaryDir dir_;
    std::unique_ptr<ServiceProcess> process_;
};

// A service a whole test suite shares: started in SetUpTestSuite, ended in TearDownTestSuite.
// When it could not start, error() says why (for QUILLVEX_SERVICE_MISSING).
template <class Service>
class SuiteService {
public:
    // `start(QString* error)` makes the service, nullptr when it cannot.
    template <class Start>
    void start(Start&& start) {
        error_.clear();
        service_ = start(&error_);
    }
    void stop() { service_.reset(); }
    explicit operator bool() const { return service_ != nullptr; }
    Service* operator->() const { return service_.get(); }
    Service& operator*() const { return *service_; }
    const QString& error() const { return error_; }

private:
    std::unique_ptr<Service> service_;
    QString error_;
};

// A private session bus with python3-dbusmock's notification daemon on it, for a suite to share.
struct NotificationBus {
    std::unique_ptr<PrivateBus> bus;
    std::unique_ptr<DBusMock> daemon;  // declared after the bus: it ends first
    QString error;                     // why one of them did not start
    static std::unique_ptr<NotificationBus> start();
    bool started() const { return bus && daemon; }
};

// A private PulseAudio daemon (user mode, as root, no shm) with null sinks, the first the default.
// export() sets PULSE_SERVER (and PULSE_RUNTIME_PATH/PULSE_STATE_PATH) for the guard's lifetime.
class PrivatePulseAudio {
public:
    static std::unique_ptr<PrivatePulseAudio> start(const QStringList& nullSinks = {QStringLiteral("quill_null")},
                                                    QString* error = nullptr);
    ~PrivatePulseAudio();
    const QString& server() const { return server_; }  // "unix:/…/native"
    pid_t pid() const { return process_->pid(); }
    [[nodiscard]] std::unique_ptr<ScopedEnvironment> exportServer() const;
    // Runs pactl against this daemon; false when it fails (exit status) or takes over 5 s.
    bool pactl(const QStringList& arguments, QString* output = nullptr) const;

private:
    PrivatePulseAudio() = default;
    QTemporaryDir dir_;
    QString server_;
    std::unique_ptr<ServiceProcess> process_;
};

// Xvfb on a free display (-displayfd), -noreset so the keymap survives clients leaving.
// export() sets DISPLAY (and unsets WAYLAND_DISPLAY) for the guard's lifetime.
class PrivateXServer {
public:
    static std::unique_ptr<PrivateXServer> start(const QString& screen = QStringLiteral("1280x800x24"),
                                                 QString* error = nullptr);
    ~PrivateXServer();
    const QString& display() const { return display_; }  // ":N"
    pid_t pid() const { return process_->pid(); }
    [[nodiscard]] std::unique_ptr<ScopedEnvironment> exportDisplay() const;

private:
    PrivateXServer() = default;
    QString display_;
    std::unique_ptr<ServiceProcess> process_;
};

// Runs a short helper program (notify-send, gdbus, pactl, ...) with a 5 s limit; its exit status,
// or -1 when it could not start or ran too long (it is killed then).
int runTool(const QString& program, const QStringList& arguments, QString* output = nullptr,
            std::chrono::milliseconds timeout = std::chrono::seconds(5));

// /usr/bin/python3 when it has the dbusmock module (a python3 first on PATH may lack `dbus`).
bool dbusmockAvailable();

bool missingServicesAllowed();
void reportMissingService(const char* file, int line, const ::testing::Message& reason);

// Makes a QProcess child die with the test process, even a crashed one (call before start()).
void dieWithTest(QProcess& process);

// The environment of a Qt program of ours shown on the private X server `display` (":N"): the xcb
// platform, `home` as its home and runtime folder, and no session bus.
QProcessEnvironment xcbProgramEnvironment(const QString& display, const QString& home);

}  // namespace testsupport
