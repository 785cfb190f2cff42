#include "platform/process/posix_process_launcher.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace platform {

namespace {

using SteadyClock = std::chrono::steady_clock;

QString errorName(int error) {
    const char* text = ::strerrordesc_np(error);
    return text ? QString::fromLocal8Bit(text) : QStringLiteral("error %1").arg(error);
}

SteadyClock::time_point deadlineAfter(double seconds) {
    if (!(seconds > 0)) return SteadyClock::now();  // also NaN
    seconds = std::min(seconds, 1e6);
    return SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(seconds));
}

// Milliseconds until `deadline` for poll(), rounded up so a poll never returns just before it.
int millisUntil(SteadyClock::time_point deadline) {
    auto left = deadline - SteadyClock::now();
    if (left <= SteadyClock::duration::zero()) return 0;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

int exitCodeFrom(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// Writes with SIGPIPE blocked in this thread only; a SIGPIPE this write raised is taken back
// before the mask is restored, so it is never delivered. Other threads and the process's
// dispositions are untouched, which a library must not change behind its host's back.
ssize_t writeWithoutSigpipe(int fd, const char* data, size_t size) {
    sigset_t pipeOnly, previous;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    sigset_t pending;
    sigpending(&pending);
    const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;

    ssize_t n;
    do {
        n = ::write(fd, data, size);
    } while (n < 0 && errno == EINTR);
    const int savedErrno = errno;

    if (n < 0 && savedErrno == EPIPE && !alreadyPending) {
        timespec zero{};
        while (sigtimedwait(&pipeOnly, nullptr, &zero) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = savedErrno;
    return n;
}

struct Pipe {
    int read = -1;
    int write = -1;
    bool open() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return false;
        read = fds[0];
        write = fds[1];
        return true;
    }
    void close() {
        closeFd(read);
        closeFd(write);
    }
};

// Forks on one thread that lives as long as the process. A child's parent-death signal comes
// when the thread that forked it ends, not the process, and pool threads come and go.
class ForkThread {
public:
    static ForkThread& shared() {
        static ForkThread* thread = new ForkThread;  // never destroyed: children may start until exit
        return *thread;
    }

    // Runs `work` on the fork thread and waits for it.
    void run(const std::function<void()>& work) {
        std::unique_lock lock(mutex_);
        const uint64_t ticket = ++queued_;
        pending_.push_back(&work);
        wake_.notify_all();
        done_.wait(lock, [&] { return finished_ >= ticket; });
    }

private:
    ForkThread() {
        std::thread([this] {
            pthread_setname_np(pthread_self(), "process-spawner");
            std::unique_lock lock(mutex_);
            for (;;) {
                wake_.wait(lock, [this] { return !pending_.empty(); });
                const std::function<void()>* work = pending_.front();
                pending_.pop_front();
                lock.unlock();
                (*work)();
                lock.lock();
                ++finished_;
                done_.notify_all();
            }
        }).detach();
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<const std::function<void()>*> pending_;
    uint64_t queued_ = 0;
    uint64_t finished_ = 0;
};

// Spawn plumbing shared by the three ways of starting a child: what the child does between fork
// and exec, recorded first so the child itself only makes async-signal-safe calls.
class Spawner {
public:
    void dupTo(int fd, int target) { actions_.push_back({fd, target, 0}); }
    void nullTo(int target, int mode) { actions_.push_back({-1, target, mode}); }
    void newSession() { newSession_ = true; }
    // The child is killed when this process ends, however it ends.
    void dieWithParent() { dieWithParent_ = true; }
    void routeStandardError(ProcessSpec::Stderr mode, int outputWrite, int errorWrite) {
        switch (mode) {
        case ProcessSpec::Stderr::Discard: nullTo(STDERR_FILENO, O_WRONLY); break;
        case ProcessSpec::Stderr::Capture: dupTo(errorWrite, STDERR_FILENO); break;
        case ProcessSpec::Stderr::MergeWithStdout: dupTo(outputWrite, STDERR_FILENO); break;
        }
    }

    // The child's pid, or none with the reason.
    std::optional<pid_t> spawn(const ProcessSpec& spec, QString* errorText) {
        auto fail = [&](const QString& why) -> std::optional<pid_t> {
            if (errorText) *errorText = why;
            return std::nullopt;
        };
        if (spec.program.isEmpty() || !spec.program.startsWith(QLatin1Char('/')))
            return fail(QStringLiteral("not an absolute program path: \"%1\"").arg(spec.program));

        std::vector<QByteArray> storage;
        storage.push_back(QFile::encodeName(spec.program));
        for (const QString& argument : spec.arguments) storage.push_back(argument.toUtf8());
        std::vector<char*> argv;
        for (QByteArray& item : storage) argv.push_back(item.data());
        argv.push_back(nullptr);
        const QByteArray directory = QFile::encodeName(spec.workingDirectory);

        // The child reports a failed exec through this pipe; a successful one closes it.
        Pipe report;
        if (!report.open()) return fail(errorName(errno));
        pid_t pid = -1;
        int forkError = 0;
        ForkThread::shared().run([&] {
            // No handler of ours may run in the child before it resets them.
            sigset_t all, previous;
            sigfillset(&all);
            pthread_sigmask(SIG_SETMASK, &all, &previous);
            const pid_t parent = ::getpid();
            pid = ::fork();
            if (pid == 0) runChild(argv.data(), directory, parent, report.write);  // never returns
            if (pid < 0) forkError = errno;
            pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        });
        closeFd(report.write);
        if (pid < 0) {
            report.close();
            return fail(errorName(forkError));
        }
        int childError = 0;
        ssize_t n;
        do {
            n = ::read(report.read, &childError, sizeof childError);
        } while (n < 0 && errno == EINTR);
        report.close();
        if (n == static_cast<ssize_t>(sizeof childError)) {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
            return fail(errorName(childError));
        }
        return pid;
    }

private:
    struct Action {
        int fd;  // -1: /dev/null opened with `mode`
        int target;
        int mode;
    };

    [[noreturn]] void runChild(char* const* argv, const QByteArray& directory, pid_t parent, int report) {
        const auto failWith = [report](int error) {
            [[maybe_unused]] auto n = ::write(report, &error, sizeof error);
            ::_exit(127);
        };
        // Default dispositions and an empty mask, whatever the parent had.
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        for (int number = 1; number < NSIG; ++number) {
            if (number != SIGKILL && number != SIGSTOP) ::sigaction(number, &byDefault, nullptr);
        }
        if (newSession_ && ::setsid() < 0) failWith(errno);
        if (dieWithParent_) {
            if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) failWith(errno);
            if (::getppid() != parent) ::_exit(127);  // the parent ended before the signal was set
        }
        for (const Action& action : actions_) {
            int fd = action.fd;
            if (fd < 0) {
                fd = ::open("/dev/null", action.mode | O_CLOEXEC);
                if (fd < 0) failWith(errno);
            }
            if (fd == action.target) {
                // dup2 onto itself keeps close-on-exec: clear it instead.
                if (::fcntl(fd, F_SETFD, 0) < 0) failWith(errno);
            } else if (::dup2(fd, action.target) < 0) {
                failWith(errno);
            }
        }
        if (!directory.isEmpty() && ::chdir(directory.constData()) != 0) failWith(errno);
        sigset_t none;
        sigemptyset(&none);
        pthread_sigmask(SIG_SETMASK, &none, nullptr);
        ::execve(argv[0], argv, environ);
        failWith(errno);
        ::_exit(127);
    }

    std::vector<Action> actions_;
    bool newSession_ = false;
    bool dieWithParent_ = false;
};

class PosixChildProcess final : public ChildProcess {
public:
    enum class Mode { Lines, Capture };

    PosixChildProcess(pid_t pid, int input, int output, int error, Mode mode, size_t limit)
        : pid_(pid), in_(input), out_(output), err_(error), mode_(mode), limit_(limit) {
        pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    }

    ~PosixChildProcess() override {
        closeFd(in_);
        if (!status_) {
            ::kill(pid_, SIGKILL);
            reap(true);
        }
        closeFd(out_);
        closeFd(err_);
        closeFd(pidfd_);
    }

    long long pid() const override { return pid_; }

    bool isRunning() override { return !reap(false); }

    bool write(const QByteArray& bytes) override {
        if (in_ < 0) return false;
        const auto deadline = deadlineAfter(kWriteTimeoutSeconds);
        qsizetype done = 0;
        while (done < bytes.size()) {
            ssize_t n = writeWithoutSigpipe(in_, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
            if (n > 0) {
                done += n;
                continue;
            }
            if (n < 0 && errno == EAGAIN) {
                pollfd pfd{in_, POLLOUT, 0};
                int ready = ::poll(&pfd, 1, millisUntil(deadline));
                if (ready == 0) return false;  // the child leaves its input unread
                if (ready < 0 && errno != EINTR) return false;
                continue;
            }
            // EPIPE or worse: the child will never read again.
            closeFd(in_);
            return false;
        }
        return true;
    }

    void closeInput() override { closeFd(in_); }

    LineRead readLine(double timeoutSeconds) override {
        const auto deadline = deadlineAfter(timeoutSeconds);
        for (;;) {
            if (auto line = takeLine()) return {LineRead::Status::Line, *line};
            if (outputEnded_) {
                LineRead ended{LineRead::Status::Ended, buffer_};
                buffer_.clear();
                return ended;
            }
            const int wait = millisUntil(deadline);
            pump(wait);
            if (wait == 0) {
                // The deadline is past: take what the last poll brought, and no more waiting.
                if (auto line = takeLine()) return {LineRead::Status::Line, *line};
                if (outputEnded_) continue;
                return {LineRead::Status::TimedOut, buffer_};
            }
        }
    }

    size_t discardPendingOutput() override {
        size_t dropped = 0;
        // Bounded: a child that writes without pause must not keep us here.
        for (int round = 0; round < 16; ++round) {
            dropped += static_cast<size_t>(buffer_.size());
            buffer_.clear();
            pump(0);
            if (buffer_.isEmpty()) break;
        }
        dropped += static_cast<size_t>(buffer_.size());
        buffer_.clear();
        return dropped;
    }

    QByteArray standardError() const override { return error_; }

    void terminate() override {
        if (!status_) ::kill(pid_, SIGTERM);
    }
    void kill() override {
        if (!status_) ::kill(pid_, SIGKILL);
    }

    std::optional<int> wait(double timeoutSeconds) override {
        const auto deadline = deadlineAfter(timeoutSeconds);
        for (;;) {
            if (reap(false)) return exitCodeFrom(*status_);
            const int wait = millisUntil(deadline);
            if (wait == 0) return std::nullopt;
            pump(wait);
        }
    }

    // For run(): what a finished child wrote.
    QByteArray takeOutput() { return std::exchange(buffer_, {}); }
    bool truncated() const { return truncated_; }
    std::optional<int> rawStatus() const { return status_; }
    bool outputEnded() const { return outputEnded_; }
    void reapBlocking() { reap(true); }
    void drainPipes() {
        drainOutput();
        if (err_ >= 0) drainError();
    }

private:
    std::optional<QByteArray> takeLine() {
        const qsizetype newline = buffer_.indexOf('\n');
        if (newline >= 0) {
            QByteArray line = buffer_.left(newline);
            buffer_.remove(0, newline + 1);
            return line;
        }
        if (mode_ == Mode::Lines && static_cast<size_t>(buffer_.size()) >= limit_) {
            QByteArray cut = buffer_.left(static_cast<qsizetype>(limit_));
            buffer_.remove(0, static_cast<qsizetype>(limit_));
            return cut;
        }
        return std::nullopt;
    }

    // Reaps the child if it has exited (blocking: waits for it). True once it has.
    bool reap(bool block) {
        if (status_) return true;
        int status = 0;
        pid_t r;
        do {
            r = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
        } while (r < 0 && errno == EINTR);
        if (r == pid_) {
            status_ = status;
        } else if (r < 0) {
            status_ = 0;  // reaped elsewhere (ECHILD): treat as gone, never signal the pid again
        }
        return status_.has_value();
    }

    // One poll of at most `timeoutMs` over the output, error and exit descriptors, then drains
    // whatever became readable.
    void pump(int timeoutMs) {
        std::array<pollfd, 3> fds{};
        nfds_t count = 0;
        int outIndex = -1, errIndex = -1, pidIndex = -1;
        if (out_ >= 0 && !outputEnded_ && !outputFull()) {
            outIndex = static_cast<int>(count);
            fds[count++] = {out_, POLLIN, 0};
        }
        if (err_ >= 0) {
            errIndex = static_cast<int>(count);
            fds[count++] = {err_, POLLIN, 0};
        }
        const bool haveExitEvent = pidfd_ >= 0 && !status_;
        if (haveExitEvent) {
            pidIndex = static_cast<int>(count);
            fds[count++] = {pidfd_, POLLIN, 0};
        }
        // Without pidfd the exit is noticed between short polls.
        if (!haveExitEvent && !status_) timeoutMs = std::min(timeoutMs, 10);
        int ready = ::poll(fds.data(), count, timeoutMs);
        if (ready < 0) return;  // EINTR: the caller loops against its deadline
        if (outIndex >= 0 && fds[outIndex].revents) drainOutput();
        if (errIndex >= 0 && fds[errIndex].revents) drainError();
        if ((pidIndex >= 0 && fds[pidIndex].revents) || (!haveExitEvent && !status_)) reap(false);
        if (status_ && !outputEnded_) {
            // Everything it wrote before exiting is in the pipe now; a grandchild that keeps
            // the pipe open must not keep us waiting.
            drainOutput();
            if (err_ >= 0) drainError();
            outputEnded_ = true;
        }
    }

    bool outputFull() const { return mode_ == Mode::Lines && static_cast<size_t>(buffer_.size()) >= limit_; }

    void drainOutput() {
        if (out_ >= 0 && drain(out_, buffer_, [this] { return outputFull(); })) outputEnded_ = true;
    }

    void drainError() {
        if (drain(err_, error_, [] { return false; })) closeFd(err_);
    }

    // Reads `fd` until it has nothing more for now or `full()`; true at end of file.
    template <class Full>
    bool drain(int fd, QByteArray& into, Full full) {
        std::array<char, 65536> chunk;
        while (!full()) {
            const ssize_t n = ::read(fd, chunk.data(), chunk.size());
            if (n > 0) {
                appendCapped(into, chunk.data(), static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            return n == 0;  // otherwise EAGAIN: all read for now
        }
        return false;
    }

    // Lines mode never reads past the limit (see outputFull); Capture mode reads on and drops
    // the excess, so a flooding child never blocks on a full pipe.
    void appendCapped(QByteArray& into, const char* data, size_t size) {
        const size_t room = limit_ > static_cast<size_t>(into.size()) ? limit_ - static_cast<size_t>(into.size()) : 0;
        if (size > room) truncated_ = true;
        into.append(data, static_cast<qsizetype>(std::min(size, room)));
    }

    pid_t pid_;
    int in_;
    int out_;
    int err_;
    int pidfd_ = -1;
    Mode mode_;
    size_t limit_;
    QByteArray buffer_;
    QByteArray error_;
    bool outputEnded_ = false;
    bool truncated_ = false;
    std::optional<int> status_;
};

}  // namespace

ProcessLauncher& ProcessLauncher::system() {
    static PosixProcessLauncher instance;
    return instance;
}

std::unique_ptr<ChildProcess> PosixProcessLauncher::start(const ProcessSpec& spec, QString* errorText) {
    Pipe input, output, error;
    if (!input.open() || !output.open() ||
        (spec.standardError == ProcessSpec::Stderr::Capture && !error.open())) {
        if (errorText) *errorText = errorName(errno);
        input.close();
        output.close();
        error.close();
        return nullptr;
    }
    Spawner spawner;
    spawner.dieWithParent();
    spawner.dupTo(input.read, STDIN_FILENO);
    spawner.dupTo(output.write, STDOUT_FILENO);
    spawner.routeStandardError(spec.standardError, output.write, error.write);
    auto pid = spawner.spawn(spec, errorText);
    closeFd(input.read);
    closeFd(output.write);
    closeFd(error.write);
    if (!pid) {
        input.close();
        output.close();
        error.close();
        return nullptr;
    }
    ::fcntl(input.write, F_SETFL, O_NONBLOCK);
    ::fcntl(output.read, F_SETFL, O_NONBLOCK);
    if (error.read >= 0) ::fcntl(error.read, F_SETFL, O_NONBLOCK);
    return std::make_unique<PosixChildProcess>(*pid, input.write, output.read, error.read,
                                               PosixChildProcess::Mode::Lines, kDefaultOutputLimit);
}

ProcessResult PosixProcessLauncher::run(const ProcessSpec& spec, double timeoutSeconds, size_t outputLimit) {
    ProcessResult result;
    Pipe output, error;
    const bool captureError = spec.standardError == ProcessSpec::Stderr::Capture;
    if (!output.open() || (captureError && !error.open())) {
        result.errorText = errorName(errno);
        output.close();
        error.close();
        return result;
    }
    Spawner spawner;
    spawner.dieWithParent();
    spawner.nullTo(STDIN_FILENO, O_RDONLY);
    spawner.dupTo(output.write, STDOUT_FILENO);
    spawner.routeStandardError(spec.standardError, output.write, error.write);
    auto pid = spawner.spawn(spec, &result.errorText);
    closeFd(output.write);
    closeFd(error.write);
    if (!pid) {
        output.close();
        error.close();
        return result;
    }
    ::fcntl(output.read, F_SETFL, O_NONBLOCK);
    if (error.read >= 0) ::fcntl(error.read, F_SETFL, O_NONBLOCK);
    PosixChildProcess child(*pid, -1, output.read, error.read, PosixChildProcess::Mode::Capture, outputLimit);

    auto exitCode = child.wait(timeoutSeconds);
    if (!exitCode) {
        child.kill();
        child.reapBlocking();
        result.status = ProcessResult::Status::TimedOut;
    } else {
        const int status = *child.rawStatus();
        if (WIFSIGNALED(status)) {
            result.status = ProcessResult::Status::Signalled;
            result.exitCode = WTERMSIG(status);
        } else {
            result.status = ProcessResult::Status::Exited;
            result.exitCode = WEXITSTATUS(status);
        }
    }
    child.drainPipes();
    result.standardOutput = child.takeOutput();
    result.standardError = child.standardError();
    result.outputTruncated = child.truncated();
    return result;
}

std::optional<long long> PosixProcessLauncher::startDetached(const ProcessSpec& spec, QString* errorText) {
    Spawner spawner;
    spawner.nullTo(STDIN_FILENO, O_RDONLY);
    spawner.nullTo(STDOUT_FILENO, O_WRONLY);
    spawner.nullTo(STDERR_FILENO, O_WRONLY);
    spawner.newSession();
    auto pid = spawner.spawn(spec, errorText);
    if (!pid) return std::nullopt;
    // If it ends while we still run, it must not stay a zombie.
    std::thread([child = *pid] {
        pthread_setname_np(pthread_self(), "child-reaper");
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return *pid;
}

}  // namespace platform
