#pragma once

// The built application started as a user would, for end-to-end tests: a private home and
// environment, the log on standard error followed line by line, waits bounded by the line they
// expect, signals sent by pid. The process is killed and reaped when the object goes.

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

namespace testsupport {

constexpr int kAppStartTimeoutMs = 20000;

// A bus address nothing listens on: the application finds no bus rather than the machine's.
inline const QString kNoBus = QStringLiteral("unix:path=/nonexistent/bus");

// A fresh HOME with its XDG folders, a 0700 runtime folder and TMPDIR inside it.
class AppHome {
public:
    AppHome();
    QString path() const { return dir_.path(); }
    QString filePath(const QString& name) const { return dir_.filePath(name); }
    QString runtimePath() const { return dir_.path() + QStringLiteral("/run"); }

    // The application's environment: this home, the log on standard error at debug level,
    // offscreen Qt with no display, no sound server, and the session and system buses below
    // (none reachable unless a test gives a private one). Hardware is still read from /sys.
    QProcessEnvironment environment() const;

    QString sessionBus = kNoBus;
    QString systemBus = kNoBus;

private:
    QTemporaryDir dir_;
};

class AppProcess {
public:
    AppProcess(const QString& program, const QProcessEnvironment& environment, const QStringList& arguments = {});
    ~AppProcess();
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    bool started();
    qint64 pid() const { return process_.processId(); }
    // Sends `signal` to the process; false when it could not be sent.
    bool signal(int signal) const;

    // Index of the first line from `from` on that satisfies `match`, waiting up to `timeoutMs`;
    // -1 when none came (or the process ended first).
    int waitForLine(const std::function<bool(const QString&)>& match, int timeoutMs, int from = 0);
    int waitForLine(const QString& exact, int timeoutMs, int from = 0);
    int waitForPrefix(const QString& prefix, int timeoutMs, int from = 0);
    // Once the application both records the desktop's notifications and watches the store it
    // records them in, which it tells in two lines of either order (the recorder's bus comes up
    // on its own): the later's index; -1 when either never came.
    int waitUntilWatching(int timeoutMs);
    // Reads what has arrived, without waiting.
    void pump();

    // Waits for the process to end and reads the rest of its output, an unfinished last line too.
    bool finish(int timeoutMs);
    int exitCode() const { return process_.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return process_.exitStatus(); }
    const QStringList& lines() const { return lines_; }
    QString lastLine() const;
    QString transcript() const { return lines_.join(QLatin1Char('\n')); }
    // What the running process's threads are doing, for a failure message: gdb's backtraces where
    // gdb is installed, else each thread's state and kernel wait channel. Tells a stalled main
    // thread from an idle one.
    QString threadStates() const;

private:
    void readLines();

    QProcess process_;
    QByteArray partial_;
    QStringList lines_;
};

}  // namespace testsupport
