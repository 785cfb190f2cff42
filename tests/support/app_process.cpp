#include "support/app_process.h"

#include "support/service_fixtures.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <algorithm>
#include <csignal>

namespace testsupport {

AppHome::AppHome() {
    QDir home(dir_.path());
    for (const char* folder : {"run", ".config", ".local/share", ".local/state", ".cache"})
        home.mkpath(QString::fromLatin1(folder));
    QFile::setPermissions(runtimePath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QProcessEnvironment AppHome::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), filePath(QStringLiteral(".config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), filePath(QStringLiteral(".local/share")));
    env.insert(QStringLiteral("XDG_STATE_HOME"), filePath(QStringLiteral(".local/state")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), filePath(QStringLiteral(".cache")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimePath());
    env.insert(QStringLiteral("TMPDIR"), path());
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), sessionBus);
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), systemBus);
    // Nothing of the desktop the tests run in: its session, display or sound server.
    env.remove(QStringLiteral("XDG_SESSION_ID"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent/pulse"));
    env.insert(QStringLiteral("QUILLVEX_LOG_STDERR"), QStringLiteral("1"));
    env.insert(QStringLiteral("QUILLVEX_LOG_LEVEL"), QStringLiteral("debug"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

AppProcess::AppProcess(const QString& program, const QProcessEnvironment& environment, const QStringList& arguments) {
    process_.setProcessEnvironment(environment);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    testsupport::dieWithTest(process_);
    process_.start(program, arguments);
}

AppProcess::~AppProcess() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(kAppStartTimeoutMs);
    }
}

bool AppProcess::started() { return process_.waitForStarted(kAppStartTimeoutMs); }

bool AppProcess::signal(int signal) const {
    const qint64 id = pid();
    return id > 0 && ::kill(static_cast<pid_t>(id), signal) == 0;
}

int AppProcess::waitForLine(const std::function<bool(const QString&)>& match, int timeoutMs, int from) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        for (int i = from; i < lines_.size(); ++i) {
            if (match(lines_[i])) return i;
        }
        from = static_cast<int>(lines_.size());
        if (deadline.hasExpired() || process_.state() == QProcess::NotRunning) return -1;
        if (process_.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) readLines();
    }
}

int AppProcess::waitForLine(const QString& exact, int timeoutMs, int from) {
    return waitForLine([&exact](const QString& line) { return line == exact; }, timeoutMs, from);
}

int AppProcess::waitForPrefix(const QString& prefix, int timeoutMs, int from) {
    return waitForLine([&prefix](const QString& line) { return line.startsWith(prefix); }, timeoutMs, from);
}

int AppProcess::waitUntilWatching(int timeoutMs) {
    const int recording =
        waitForPrefix(QStringLiteral("info DesktopNotificationRecorder: Recording desktop notifications into '"), timeoutMs);
    const int monitoring = waitForLine(QStringLiteral("info Monitoring started successfully"), timeoutMs);
    return recording < 0 || monitoring < 0 ? -1 : std::max(recording, monitoring);
}

void AppProcess::pump() {
    if (process_.waitForReadyRead(0)) readLines();
}

bool AppProcess::finish(int timeoutMs) {
    const bool finished = process_.waitForFinished(timeoutMs);
    readLines();
    if (finished && !partial_.isEmpty()) {
        lines_ << QString::fromUtf8(partial_);
        partial_.clear();
    }
    return finished;
}

QString AppProcess::lastLine() const {
    for (auto it = lines_.crbegin(); it != lines_.crend(); ++it) {
        if (!it->trimmed().isEmpty()) return *it;
    }
    return {};
}

QString AppProcess::threadStates() const {
    const qint64 id = pid();
    if (id <= 0 || process_.state() == QProcess::NotRunning) return QStringLiteral("(the process has ended)\n");
    QString states;
    if (!QStandardPaths::findExecutable(QStringLiteral("gdb")).isEmpty() &&
        runTool(QStringLiteral("gdb"),
                {QStringLiteral("-p"), QString::number(id), QStringLiteral("-batch"), QStringLiteral("-ex"),
                 QStringLiteral("thread apply all bt 12")},
                &states, std::chrono::seconds(60)) == 0)
        return states;
    const QString task = QStringLiteral("/proc/%1/task").arg(id);
    for (const QString& thread : QDir(task).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const auto read = [&](const char* name) {
            QFile file(task + QLatin1Char('/') + thread + QLatin1Char('/') + QLatin1String(name));
            return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.read(512)).trimmed() : QString();
        };
        // stat: "tid (name) state ..."; the name may hold spaces and parentheses.
        const QString stat = read("stat");
        const QString rest = stat.mid(stat.lastIndexOf(QLatin1Char(')')) + 2);
        states += thread + QLatin1Char(' ') + read("comm") + QStringLiteral(" state=") + rest.left(1) +
                  QStringLiteral(" wchan=") + read("wchan") + QLatin1Char('\n');
    }
    return states;
}

void AppProcess::readLines() {
    partial_ += process_.readAll();
    qsizetype end;
    while ((end = partial_.indexOf('\n')) >= 0) {
        lines_ << QString::fromUtf8(partial_.left(end));
        partial_.remove(0, end + 1);
    }
}

}  // namespace testsupport
