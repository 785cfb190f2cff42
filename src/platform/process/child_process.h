#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <memory>
#include <optional>

namespace platform {

// What to start. The program is an absolute path: it is never looked up in PATH, so callers
// keep their tools' paths injectable and nothing else gets run by accident.
struct ProcessSpec {
    enum class Stderr {
        Discard,          // to /dev/null
        Capture,          // kept apart, capped (see ChildProcess::standardError, ProcessResult)
        MergeWithStdout,  // the same pipe as standard output, in the order written
    };

    QString program;
    QStringList arguments;
    Stderr standardError = Stderr::Discard;
    // Empty: the caller's working directory.
    QString workingDirectory;
};

// One read of a line-protocol child.
struct LineRead {
    enum class Status {
        Line,      // `text` is one whole line, without its line feed
        TimedOut,  // no whole line by the deadline; `text` is the started line so far (kept buffered)
        Ended,     // the child's output is over; `text` is its last, unterminated line (or empty)
    };
    Status status = Status::TimedOut;
    QByteArray text;

    bool isLine() const { return status == Status::Line; }
};

// A running child with its standard input and output on pipes.
//
// Not thread-safe: one thread at a time (any thread, not only the main one). Writes never raise
// SIGPIPE and every read or wait is bounded by its deadline; none of them needs an event loop.
// Destroying the object closes the pipes and, if the child still runs, kills and reaps it.
class ChildProcess {
public:
    static constexpr double kWriteTimeoutSeconds = 5.0;

    virtual ~ChildProcess() = default;

    virtual long long pid() const = 0;
    // False once the child has exited (it is reaped then, so it leaves no zombie).
    virtual bool isRunning() = 0;

    // Writes all of `bytes` to the child's standard input. False when the child no longer reads
    // it (exited, closed its input), the input was closed here, or the child left its full input
    // unread for kWriteTimeoutSeconds; never raises SIGPIPE.
    virtual bool write(const QByteArray& bytes) = 0;
    // `line` followed by a line feed.
    bool writeLine(const QByteArray& line) { return write(line + '\n'); }
    // Closes the child's standard input (it sees end of file).
    virtual void closeInput() = 0;

    // The next line of the child's standard output, waiting at most `timeoutSeconds`.
    // Bytes after that line stay buffered for the next call, and so does a started line at the
    // deadline (a later call finishes it). Bytes already readable at the deadline are still taken.
    // A line longer than ProcessLauncher::kDefaultOutputLimit comes cut at that length.
    // Once the child has exited this returns Ended without waiting out the deadline, even when a
    // grandchild still holds the output open.
    virtual LineRead readLine(double timeoutSeconds) = 0;
    // Drops every buffered line and whatever output is readable right now (stale replies of an
    // earlier request), without waiting. Returns how many bytes went.
    virtual std::size_t discardPendingOutput() = 0;

    // Standard error read so far (Stderr::Capture), capped at ProcessLauncher::kDefaultOutputLimit.
    // It is drained while reading lines and waiting, so a chatty child does not block on it.
    virtual QByteArray standardError() const = 0;

    virtual void terminate() = 0;  // SIGTERM
    virtual void kill() = 0;       // SIGKILL

    // Waits at most `timeoutSeconds` for the child to exit and reaps it. Returns the exit code,
    // or 128 + the signal number when a signal ended it; none when it still runs at the deadline.
    virtual std::optional<int> wait(double timeoutSeconds) = 0;
};

// The outcome of ProcessLauncher::run.
struct ProcessResult {
    enum class Status {
        Exited,         // `exitCode` is the child's exit status
        Signalled,      // `exitCode` is the signal that ended it
        TimedOut,       // killed at the deadline and reaped
        FailedToStart,  // `errorText` says why
    };
    Status status = Status::FailedToStart;
    int exitCode = -1;
    QByteArray standardOutput;  // with Stderr::MergeWithStdout, both streams
    QByteArray standardError;   // Stderr::Capture only
    bool outputTruncated = false;  // a stream went past the output limit; its tail was dropped
    QString errorText;

    bool succeeded() const { return status == Status::Exited && exitCode == 0; }
};

// Starts child processes. Callers take a ProcessLauncher& (system() by default) so tests can
// hand them a scripted fake. Every call may come from any thread. The children of start() and
// run() are killed when this process ends, however it ends (a crash too); only startDetached()
// makes one that outlives it.
class ProcessLauncher {
public:
    static constexpr std::size_t kDefaultOutputLimit = 1 << 20;  // per stream

    virtual ~ProcessLauncher() = default;

    static ProcessLauncher& system();

    // Starts a long-lived child with piped standard input and output. Null when it cannot be
    // started, with the reason in `errorText` (e.g. "No such file or directory").
    virtual std::unique_ptr<ChildProcess> start(const ProcessSpec& spec, QString* errorText = nullptr) = 0;

    // Runs a child to its end with standard input at end of file, capturing its output up to
    // `outputLimit` bytes per stream (the rest is read and dropped, so a flood cannot block or
    // fill memory). At `timeoutSeconds` the child is killed and reaped: status TimedOut.
    virtual ProcessResult run(const ProcessSpec& spec, double timeoutSeconds,
                              std::size_t outputLimit = kDefaultOutputLimit) = 0;

    // Starts a child that outlives this process: its own session, standard streams on
    // /dev/null, nobody waits for its status (it is reaped in the background while we live).
    // Returns its pid, or none with the reason in `errorText`.
    virtual std::optional<long long> startDetached(const ProcessSpec& spec, QString* errorText = nullptr) = 0;
};

}  // namespace platform
