#include "support/service_fixtures.h"

#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

extern char** environ;

namespace testsupport {

namespace {

using namespace std::chrono_literals;

const QString kPython = QStringLiteral("/usr/bin/python3");
const QString kMockInterface = QStringLiteral("org.freedesktop.DBus.Mock");

void setError(QString* error, const QString& text) {
    if (error) *error = text;
}

QString findProgram(const QString& name) {
    if (name.startsWith(QLatin1Char('/'))) return QFileInfo(name).isExecutable() ? name : QString();
    const QStringList dirs = QString::fromLocal8Bit(qgetenv("PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts) +
                             QStringList{QStringLiteral("/usr/bin"), QStringLiteral("/bin")};
    for (const auto& dir : dirs) {
        const QString candidate = dir + QLatin1Char('/') + name;
        if (QFileInfo(candidate).isExecutable()) return candidate;
    }
    return {};
}

// Reads from `fd` until `lines` newlines arrived, EOF, or the deadline.
QByteArray readLines(int fd, int lines, std::chrono::milliseconds timeout) {
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    while (out.count('\n') < lines) {
        const auto left = timeout.count() - clock.elapsed();
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) {
            if (errno == EINTR) continue;
            break;
        }
        char buffer[512];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        out.append(buffer, n);
    }
    return out;
}

template <class F>
bool waitUntil(F condition, std::chrono::milliseconds timeout) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeout.count()) return false;
        QThread::msleep(10);
    }
    return true;
}

}  // namespace

// --- ServiceProcess -----------------------------------------------------------------------

std::unique_ptr<ServiceProcess> ServiceProcess::start(const QString& program, const QStringList& arguments,
                                                      const QString& logPath, int keepFd, QString* error) {
    const QString path = findProgram(program);
    if (path.isEmpty()) {
        setError(error, program + QStringLiteral(" is not installed"));
        return nullptr;
    }
    std::vector<QByteArray> storage;
    storage.push_back(QFile::encodeName(path));
    for (const auto& a : arguments) storage.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (auto& s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);

    const QByteArray log = logPath.isEmpty() ? QByteArray("/dev/null") : QFile::encodeName(logPath);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        setError(error, QStringLiteral("cannot start %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno))));
        return nullptr;
    }
    if (pid == 0) {
        // Only async-signal-safe calls from here on. The service dies with the test process even
        // when that crashes or is killed (the signal follows the forking thread: the test's own).
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        ::setpgid(0, 0);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int s = 1; s < NSIG; ++s) ::signal(s, SIG_DFL);
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(log.constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (in < 0 || out < 0) ::_exit(127);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        if (in > 2) ::close(in);
        if (out > 2) ::close(out);
        // The kept descriptor is close-on-exec in the parent.
        if (keepFd >= 0) ::fcntl(keepFd, F_SETFD, 0);
        ::execve(argv[0], argv.data(), environ);
        ::_exit(127);
    }
    ::setpgid(pid, pid);  // also here, so that stop() finds the group however soon it comes
    return std::unique_ptr<ServiceProcess>(new ServiceProcess(pid));
}

ServiceProcess::~ServiceProcess() { stop(); }

bool ServiceProcess::isRunning() {
    if (reaped_) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        ::kill(-pid_, SIGKILL);  // anything it left in its group
        return false;
    }
    return true;
}

int ServiceProcess::wait(std::chrono::milliseconds timeout) {
    if (reaped_) return -1;
    QElapsedTimer clock;
    clock.start();
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (clock.elapsed() > timeout.count()) return -1;
        QThread::msleep(1);
    }
    reaped_ = true;
    ::kill(-pid_, SIGKILL);  // anything it left in its group
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ServiceProcess::stop() {
    if (reaped_) return;
    ::kill(-pid_, SIGTERM);
    QElapsedTimer clock;
    clock.start();
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (clock.elapsed() > 2000) {
            ::kill(-pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        QThread::msleep(5);
    }
    ::kill(-pid_, SIGKILL);  // helpers the service forked into its group
    reaped_ = true;
}

// --- environment ----------------------------------------------------------------------------

ScopedEnvironment::~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) {
        if (value)
            qputenv(name.constData(), *value);
        else
            qunsetenv(name.constData());
    }
}

void ScopedEnvironment::set(const char* name, const QByteArray& value) {
    if (!saved_.count(name)) saved_[name] = qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
    qputenv(name, value);
}

void ScopedEnvironment::unset(const char* name) {
    if (!saved_.count(name)) saved_[name] = qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
    qunsetenv(name);
}

ScopedServiceHome::ScopedServiceHome() {
    const QString root = dir_.path();
    const std::pair<const char*, const char*> folders[] = {
        {"HOME", ""},           {"XDG_CONFIG_HOME", "/.config"}, {"XDG_DATA_HOME", "/.local/share"},
        {"XDG_STATE_HOME", "/.local/state"}, {"XDG_CACHE_HOME", "/.cache"}, {"XDG_RUNTIME_DIR", "/run"},
        {"UPOWER_HISTORY_DIR", "/upower"},
    };
    for (const auto& [name, suffix] : folders) {
        const QString path = root + QString::fromLatin1(suffix);
        QDir().mkpath(path);
        env_.set(name, QFile::encodeName(path));
    }
    ::chmod(QFile::encodeName(runtimeDir()).constData(), 0700);
}

// --- PrivateBus -----------------------------------------------------------------------------

std::unique_ptr<PrivateBus> PrivateBus::start(Kind kind, QString* error) {
    std::unique_ptr<PrivateBus> bus(new PrivateBus);
    bus->kind_ = kind;
    if (!bus->launch({}, error)) return nullptr;
    return bus;
}

std::unique_ptr<PrivateBus> PrivateBus::startRefusingMonitors(QString* error) {
    std::unique_ptr<PrivateBus> bus(new PrivateBus);
    bus->refusesMonitors_ = true;
    if (!bus->launch({}, error)) return nullptr;
    return bus;
}

bool PrivateBus::restart(QString* error) {
    connection_.reset();
    process_.reset();
    QStringList parts = address_.split(u',');
    parts.removeIf([](const QString& part) { return part.startsWith(QLatin1String("guid=")); });
    return launch({QStringLiteral("--address=") + parts.join(u',')}, error);
}

bool PrivateBus::launch(const QStringList& listen, QString* error) {
    const QString config = QStringLiteral(QUILLVEX_TEST_SUPPORT_DIR) +
                           (refusesMonitors_          ? QStringLiteral("/no-monitors-bus.conf")
                            : kind_ == Kind::session ? QStringLiteral("/test-bus.conf")
                                                     : QStringLiteral("/private-system-bus.conf"));
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        setError(error, QStringLiteral("pipe failed"));
        return false;
    }
    process_ = ServiceProcess::start(QStringLiteral("dbus-daemon"),
                                     QStringList{QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                                                 QStringLiteral("--nosyslog"),
                                                 QStringLiteral("--print-address=%1").arg(fds[1])} +
                                         listen,
                                     dir_.filePath(QStringLiteral("bus.log")), fds[1], error);
    ::close(fds[1]);
    const QByteArray address = process_ ? readLines(fds[0], 1, 5s).trimmed() : QByteArray();
    ::close(fds[0]);
    if (!process_) return false;
    if (address.isEmpty()) {
        setError(error, QStringLiteral("dbus-daemon printed no address"));
        return false;
    }
    address_ = QString::fromLocal8Bit(address);
    return true;
}

PrivateBus::~PrivateBus() {
    connection_.reset();
    process_.reset();
}

platform::DBusConnection& PrivateBus::connection() {
    if (!connection_) {
        static int counter = 0;
        connection_ = std::make_unique<platform::QtDBusConnection>(
            address_, QStringLiteral("testsupport-bus-%1").arg(++counter));
    }
    return *connection_;
}

bool PrivateBus::waitForName(const QString& name, std::chrono::milliseconds timeout) {
    return waitUntil(
        [&] {
            const auto reply = connection().call({QStringLiteral("org.freedesktop.DBus"),
                                                  QStringLiteral("/org/freedesktop/DBus"),
                                                  QStringLiteral("org.freedesktop.DBus"),
                                                  QStringLiteral("NameHasOwner"), {name}},
                                                 1s);
            return reply.ok() && reply.value().toBool();
        },
        timeout);
}

std::unique_ptr<ScopedEnvironment> PrivateBus::exportAddress() const {
    auto env = std::make_unique<ScopedEnvironment>();
    env->set(kind_ == Kind::session ? "DBUS_SESSION_BUS_ADDRESS" : "DBUS_SYSTEM_BUS_ADDRESS", address_.toLocal8Bit());
    return env;
}

// --- DBusMock -------------------------------------------------------------------------------

bool dbusmockAvailable() {
    static const bool available = runTool(kPython, {QStringLiteral("-c"), QStringLiteral("import dbusmock")}) == 0;
    return available;
}

namespace {

std::unique_ptr<DBusMock> startMock(PrivateBus& bus, QStringList arguments, const QString& busName,
                                    const QString& logPath, QString* error,
                                    std::unique_ptr<ServiceProcess>& process) {
    if (!dbusmockAvailable()) {
        setError(error, QStringLiteral("python3-dbusmock is not installed for /usr/bin/python3"));
        return nullptr;
    }
    // dbusmock picks the bus from its flag and the matching address variable.
    ScopedEnvironment env;
    env.set(bus.kind() == PrivateBus::Kind::session ? "DBUS_SESSION_BUS_ADDRESS" : "DBUS_SYSTEM_BUS_ADDRESS",
            bus.address().toLocal8Bit());
    arguments.prepend(bus.kind() == PrivateBus::Kind::session ? QStringLiteral("--session")
                                                              : QStringLiteral("--system"));
    arguments.prepend(QStringLiteral("dbusmock"));
    arguments.prepend(QStringLiteral("-m"));
    process = ServiceProcess::start(kPython, arguments, logPath, -1, error);
    if (!process) return nullptr;
    if (!bus.waitForName(busName, 10s)) {
        QFile log(logPath);
        log.open(QIODevice::ReadOnly);
        setError(error, QStringLiteral("dbusmock did not take %1: %2").arg(busName, QString::fromLocal8Bit(log.readAll())));
        process.reset();
        return nullptr;
    }
    return nullptr;
}

}  // namespace

std::unique_ptr<DBusMock> DBusMock::startTemplate(PrivateBus& bus, const QString& templateName, const QString& busName,
                                                  const QString& objectPath, const QByteArray& parameters,
                                                  QString* error) {
    std::unique_ptr<DBusMock> mock(new DBusMock);
    mock->bus_ = &bus;
    mock->busName_ = busName;
    mock->objectPath_ = objectPath;
    mock->logPath_ = mock->dir_.filePath(QStringLiteral("mock.log"));
    QStringList arguments{QStringLiteral("--template"), templateName};
    if (!parameters.isEmpty()) arguments << QStringLiteral("-p") << QString::fromUtf8(parameters);
    startMock(bus, arguments, busName, mock->logPath_, error, mock->process_);
    if (!mock->process_) return nullptr;
    return mock;
}

std::unique_ptr<DBusMock> DBusMock::startPlain(PrivateBus& bus, const QString& busName, const QString& objectPath,
                                               const QString& interface, QString* error) {
    std::unique_ptr<DBusMock> mock(new DBusMock);
    mock->bus_ = &bus;
    mock->busName_ = busName;
    mock->objectPath_ = objectPath;
    mock->logPath_ = mock->dir_.filePath(QStringLiteral("mock.log"));
    startMock(bus, {busName, objectPath, interface}, busName, mock->logPath_, error, mock->process_);
    if (!mock->process_) return nullptr;
    return mock;
}

std::unique_ptr<DBusMock> DBusMock::startMprisPlayer(PrivateBus& bus, const QString& suffix,
                                                     const QVariantMap& playerProperties, QString* error) {
    const QString root = QStringLiteral("org.mpris.MediaPlayer2");
    const QString player = QStringLiteral("org.mpris.MediaPlayer2.Player");
    auto mock = startPlain(bus, root + QLatin1Char('.') + suffix, QStringLiteral("/org/mpris/MediaPlayer2"), root, error);
    if (!mock) return nullptr;
    QVariantMap properties{{QStringLiteral("PlaybackStatus"), QStringLiteral("Stopped")},
                           {QStringLiteral("Rate"), 1.0},
                           {QStringLiteral("Position"), QVariant::fromValue<qlonglong>(0)},
                           {QStringLiteral("CanControl"), true},
                           {QStringLiteral("CanPlay"), true},
                           {QStringLiteral("CanPause"), true},
                           {QStringLiteral("CanGoNext"), true},
                           {QStringLiteral("CanGoPrevious"), true},
                           {QStringLiteral("CanSeek"), false},
                           {QStringLiteral("Metadata"), QVariantMap{}}};
    for (auto it = playerProperties.begin(); it != playerProperties.end(); ++it) properties[it.key()] = it.value();
    const bool ok =
        mock->addProperties(root, {{QStringLiteral("Identity"), suffix}, {QStringLiteral("DesktopEntry"), suffix}}) &&
        mock->addProperties(player, properties) &&
        // Like a real player, the play and pause methods change what it reports.
        mock->addMethod(player, QStringLiteral("PlayPause"), {}, {},
                        QStringLiteral("self.Set('%1', 'PlaybackStatus', 'Paused' if self.Get('%1', 'PlaybackStatus') == "
                                       "'Playing' else 'Playing')").arg(player)) &&
        mock->addMethod(player, QStringLiteral("Play"), {}, {},
                        QStringLiteral("self.Set('%1', 'PlaybackStatus', 'Playing')").arg(player)) &&
        mock->addMethod(player, QStringLiteral("Pause"), {}, {},
                        QStringLiteral("self.Set('%1', 'PlaybackStatus', 'Paused')").arg(player)) &&
        mock->addMethod(player, QStringLiteral("Next"), {}, {}, {}) &&
        mock->addMethod(player, QStringLiteral("Previous"), {}, {}, {});
    if (!ok) {
        setError(error, QStringLiteral("cannot set up the MPRIS mock"));
        return nullptr;
    }
    return mock;
}

std::unique_ptr<DBusMock> DBusMock::startScreenSaver(PrivateBus& bus, QString* error) {
    const QString name = QStringLiteral("org.freedesktop.ScreenSaver");
    auto mock = startPlain(bus, name, QStringLiteral("/org/freedesktop/ScreenSaver"), name, error);
    if (!mock) return nullptr;
    const bool ok =
        mock->addMethod(name, QStringLiteral("GetActive"), {}, QStringLiteral("b"),
                        QStringLiteral("ret = getattr(self, 'active', False)")) &&
        mock->addMethod(name, QStringLiteral("SetActive"), QStringLiteral("b"), QStringLiteral("b"),
                        QStringLiteral("self.active = args[0]; self.EmitSignal('org.freedesktop.ScreenSaver', "
                                       "'ActiveChanged', 'b', [args[0]]); ret = True")) &&
        mock->addMethod(name, QStringLiteral("Lock"), {}, {},
                        QStringLiteral("self.active = True; self.EmitSignal('org.freedesktop.ScreenSaver', "
                                       "'ActiveChanged', 'b', [True])"));
    if (!ok) {
        setError(error, QStringLiteral("cannot set up the ScreenSaver mock"));
        return nullptr;
    }
    return mock;
}

std::unique_ptr<DBusMock> DBusMock::startNotificationDaemon(PrivateBus& bus, QString* error) {
    return startTemplate(bus, QStringLiteral("notification_daemon"), QStringLiteral("org.freedesktop.Notifications"),
                         QStringLiteral("/org/freedesktop/Notifications"), {}, error);
}

std::unique_ptr<NotificationBus> NotificationBus::start() {
    auto shared = std::make_unique<NotificationBus>();
    shared->bus = PrivateBus::start(PrivateBus::Kind::session, &shared->error);
    if (shared->bus) shared->daemon = DBusMock::startNotificationDaemon(*shared->bus, &shared->error);
    return shared;
}

DBusMock::~DBusMock() { process_.reset(); }

platform::DBusReply DBusMock::call(const QString& method, const QVariantList& arguments, const QString& interface,
                                   const QString& objectPath) {
    return bus_->connection().call({busName_, objectPath.isEmpty() ? objectPath_ : objectPath,
                                    interface.isEmpty() ? kMockInterface : interface, method, arguments},
                                   5s);
}

bool DBusMock::addProperties(const QString& interface, const QVariantMap& properties, const QString& objectPath) {
    return call(QStringLiteral("AddProperties"), {interface, properties}, {}, objectPath).ok();
}

bool DBusMock::setProperty(const QString& interface, const QString& name, const QVariant& value,
                           const QString& objectPath) {
    return bus_->connection()
        .call({busName_, objectPath.isEmpty() ? objectPath_ : objectPath,
               QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
               {interface, name, QVariant::fromValue(QDBusVariant(value))}},
              5s)
        .ok();
}

bool DBusMock::addMethod(const QString& interface, const QString& name, const QString& inSignature,
                         const QString& outSignature, const QString& pythonCode, const QString& objectPath) {
    return call(QStringLiteral("AddMethod"), {interface, name, inSignature, outSignature, pythonCode}, {}, objectPath)
        .ok();
}

bool DBusMock::emitSignal(const QString& interface, const QString& name, const QString& signature,
                          const QVariantList& arguments, const QString& objectPath) {
    QVariantList wrapped;
    for (const auto& a : arguments) wrapped.append(QVariant::fromValue(QDBusVariant(a)));
    return call(QStringLiteral("EmitSignal"), {interface, name, signature, wrapped}, {}, objectPath).ok();
}

QStringList DBusMock::calledMethods(const QString& objectPath) {
    const auto reply = call(QStringLiteral("GetCalls"), {}, {}, objectPath);
    QStringList names;
    if (!reply.ok()) return names;
    // a(tsav): (timestamp, method, arguments)
    for (const auto& entry : reply.value().toList()) {
        const auto fields = entry.toList();
        if (fields.size() >= 2) names.append(fields.at(1).toString());
    }
    return names;
}

bool DBusMock::clearCalls(const QString& objectPath) {
    return call(QStringLiteral("ClearCalls"), {}, {}, objectPath).ok();
}

// --- PulseAudio -----------------------------------------------------------------------------

std::unique_ptr<PrivatePulseAudio> PrivatePulseAudio::start(const QStringList& nullSinks, QString* error) {
    std::unique_ptr<PrivatePulseAudio> pulse(new PrivatePulseAudio);
    const QString root = pulse->dir_.path();
    QDir().mkpath(root + QStringLiteral("/run"));
    QDir().mkpath(root + QStringLiteral("/state"));
    QDir().mkpath(root + QStringLiteral("/home"));
    ::chmod(QFile::encodeName(root + QStringLiteral("/run")).constData(), 0700);
    QFile script(root + QStringLiteral("/test.pa"));
    if (!script.open(QIODevice::WriteOnly)) {
        setError(error, QStringLiteral("cannot write the PulseAudio script"));
        return nullptr;
    }
    for (const auto& sink : nullSinks)
        script.write(QStringLiteral("load-module module-null-sink sink_name=%1 sink_properties=device.description=%1\n")
                         .arg(sink)
                         .toUtf8());
    script.write(QStringLiteral("load-module module-native-protocol-unix auth-anonymous=1 socket=%1/native\n")
                     .arg(root)
                     .toUtf8());
    if (!nullSinks.isEmpty()) script.write(QStringLiteral("set-default-sink %1\n").arg(nullSinks.first()).toUtf8());
    script.close();
    pulse->server_ = QStringLiteral("unix:") + root + QStringLiteral("/native");
    {
        // The daemon keeps its cookie and state under these, never the real home.
        ScopedEnvironment env;
        env.set("PULSE_RUNTIME_PATH", QFile::encodeName(root + QStringLiteral("/run")));
        env.set("PULSE_STATE_PATH", QFile::encodeName(root + QStringLiteral("/state")));
        env.set("HOME", QFile::encodeName(root + QStringLiteral("/home")));
        env.set("XDG_CONFIG_HOME", QFile::encodeName(root + QStringLiteral("/home/.config")));
        env.unset("DBUS_SESSION_BUS_ADDRESS");
        pulse->process_ = ServiceProcess::start(
            QStringLiteral("pulseaudio"),
            {QStringLiteral("-n"), QStringLiteral("-F"), script.fileName(), QStringLiteral("--daemonize=no"),
             QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"), QStringLiteral("--disable-shm=yes"),
             QStringLiteral("--log-target=stderr")},
            root + QStringLiteral("/pulse.log"), -1, error);
    }
    if (!pulse->process_) return nullptr;
    if (!waitUntil([&] { return pulse->pactl({QStringLiteral("info")}); }, 10s)) {
        setError(error, QStringLiteral("PulseAudio did not answer"));
        return nullptr;
    }
    return pulse;
}

PrivatePulseAudio::~PrivatePulseAudio() { process_.reset(); }

std::unique_ptr<ScopedEnvironment> PrivatePulseAudio::exportServer() const {
    auto env = std::make_unique<ScopedEnvironment>();
    env->set("PULSE_SERVER", server_.toLocal8Bit());
    return env;
}

bool PrivatePulseAudio::pactl(const QStringList& arguments, QString* output) const {
    ScopedEnvironment env;
    env.set("PULSE_SERVER", server_.toLocal8Bit());
    return runTool(QStringLiteral("pactl"), arguments, output) == 0;
}

// --- Xvfb -----------------------------------------------------------------------------------

std::unique_ptr<PrivateXServer> PrivateXServer::start(const QString& screen, QString* error) {
    std::unique_ptr<PrivateXServer> x(new PrivateXServer);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        setError(error, QStringLiteral("pipe failed"));
        return nullptr;
    }
    x->process_ = ServiceProcess::start(QStringLiteral("Xvfb"),
                                        {QStringLiteral("-displayfd"), QString::number(fds[1]), QStringLiteral("-noreset"),
                                         QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-screen"),
                                         QStringLiteral("0"), screen},
                                        {}, fds[1], error);
    ::close(fds[1]);
    const QByteArray number = x->process_ ? readLines(fds[0], 1, 10s).trimmed() : QByteArray();
    ::close(fds[0]);
    if (!x->process_) return nullptr;
    if (number.isEmpty()) {
        setError(error, QStringLiteral("Xvfb printed no display"));
        return nullptr;
    }
    x->display_ = QStringLiteral(":") + QString::fromLatin1(number);
    return x;
}

PrivateXServer::~PrivateXServer() { process_.reset(); }

std::unique_ptr<ScopedEnvironment> PrivateXServer::exportDisplay() const {
    auto env = std::make_unique<ScopedEnvironment>();
    env->set("DISPLAY", display_.toLocal8Bit());
    env->unset("WAYLAND_DISPLAY");
    return env;
}

bool missingServicesAllowed() { return qgetenv("QUILLVEX_ALLOW_MISSING_SERVICES") == "1"; }

void reportMissingService(const char* file, int line, const ::testing::Message& reason) {
    const auto kind = missingServicesAllowed() ? ::testing::TestPartResult::kSkip
                                               : ::testing::TestPartResult::kFatalFailure;
    ::testing::internal::AssertHelper(kind, file, line, "") = reason;
}

void dieWithTest(QProcess& process) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

QProcessEnvironment xcbProgramEnvironment(const QString& display, const QString& home) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home);
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/bus"));
    return env;
}

// --- tools ----------------------------------------------------------------------------------

int runTool(const QString& program, const QStringList& arguments, QString* output, std::chrono::milliseconds timeout) {
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("out"));
    auto process = ServiceProcess::start(program, arguments, log);
    if (!process) return -1;
    const int result = process->wait(timeout);
    process.reset();
    if (output) {
        QFile file(log);
        *output = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    return result;
}

}  // namespace testsupport
