#include "platform/process/posix_process_launcher.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <future>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::LineRead;
using platform::PosixProcessLauncher;
using platform::ProcessResult;
using platform::ProcessSpec;

namespace {

ProcessSpec shell(const QString& script, ProcessSpec::Stderr err = ProcessSpec::Stderr::Discard) {
    return ProcessSpec{QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}, err, {}};
}

// True once `pid` is neither running nor a zombie: it was reaped.
bool isGone(long long pid) { return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class ProcessTest : public ::testing::Test {
protected:
    PosixProcessLauncher launcher;
};

TEST_F(ProcessTest, LineProtocolRoundTripsAndKeepsLeftoverBytes) {
    auto child = launcher.start(shell("echo READY; read l; echo \"got:$l\"; read l; printf 'a\\nb\\n'; read l || exit 4"));
    ASSERT_TRUE(child);
    EXPECT_GT(child->pid(), 0);
    auto ready = child->readLine(5);
    EXPECT_TRUE(ready.isLine());
    EXPECT_EQ(ready.text, "READY");
    ASSERT_TRUE(child->writeLine("query"));
    EXPECT_EQ(child->readLine(5).text, "got:query");

    // Two lines written at once: the second is kept for the next call, which needs no waiting.
    ASSERT_TRUE(child->writeLine("pair"));
    EXPECT_EQ(child->readLine(5).text, "a");
    auto second = child->readLine(0);
    EXPECT_TRUE(second.isLine());
    EXPECT_EQ(second.text, "b");

    child->closeInput();  // its last read sees end of file
    EXPECT_EQ(child->wait(5), 4);
    EXPECT_EQ(child->readLine(5).status, LineRead::Status::Ended);
    EXPECT_TRUE(isGone(child->pid()));
}

TEST_F(ProcessTest, StartedLineAtTheDeadlineIsFinishedByTheNextReadAndStaleOutputCanBeDropped) {
    // The child writes half a line and waits for us: the read must time out with the half.
    auto child = launcher.start(shell("printf hel; read x; printf 'lo\\nwor'; read y; echo ld"));
    ASSERT_TRUE(child);
    auto partial = child->readLine(0.2);
    EXPECT_EQ(partial.status, LineRead::Status::TimedOut);
    EXPECT_EQ(partial.text, "hel");
    ASSERT_TRUE(child->writeLine("go"));
    EXPECT_EQ(child->readLine(5).text, "hello");
    ASSERT_TRUE(child->writeLine("go"));
    EXPECT_EQ(child->readLine(5).text, "world");

    // Stale output, a partial line included, is discarded on request.
    auto stale = launcher.start(shell("printf 'first\\nstale\\nsta'; read x; echo fresh"));
    ASSERT_TRUE(stale);
    EXPECT_EQ(stale->readLine(5).text, "first");
    EXPECT_EQ(stale->discardPendingOutput(), 9u);
    ASSERT_TRUE(stale->writeLine("go"));
    EXPECT_EQ(stale->readLine(5).text, "fresh");
}

TEST_F(ProcessTest, DiscardingTakesWhatWaitsInThePipeAndEndsAgainstAChildThatNeverStopsWriting) {
    // Output written after our last read sits in the pipe, not yet in our buffer: it goes too.
    QTemporaryDir dir;
    const QString written = dir.filePath("written");
    ASSERT_EQ(::mkfifo(QFile::encodeName(written).constData(), 0600), 0);
    auto stale = launcher.start(shell(QStringLiteral("echo first; read x; echo stale; echo >'%1'; read y; echo fresh").arg(written)));
    ASSERT_TRUE(stale);
    EXPECT_EQ(stale->readLine(5).text, "first");
    ASSERT_TRUE(stale->writeLine("go"));
    // The fifo opens once the child opens its end, which it does after writing "stale".
    const int fifo = ::open(QFile::encodeName(written).constData(), O_RDONLY);
    ASSERT_GE(fifo, 0);
    char byte;
    EXPECT_EQ(::read(fifo, &byte, 1), 1);
    ::close(fifo);
    EXPECT_EQ(stale->discardPendingOutput(), 6u);
    ASSERT_TRUE(stale->writeLine("go"));
    EXPECT_EQ(stale->readLine(5).text, "fresh");

    // A child that never pauses: the discard takes what is there and returns, never waiting for an end.
    auto endless = launcher.start(shell("exec yes"));
    ASSERT_TRUE(endless);
    ASSERT_EQ(endless->readLine(5).text, "y");
    const auto pid = static_cast<pid_t>(endless->pid());
    auto discarding = std::async(std::launch::async, [&] { return endless->discardPendingOutput(); });
    const bool returned = discarding.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    if (!returned) ::kill(pid, SIGKILL);  // its end lets a discard without a bound return, so the test ends
    EXPECT_TRUE(returned);
    discarding.get();
    EXPECT_EQ(endless->readLine(5).text, "y");
}

TEST_F(ProcessTest, ChildDyingMidProtocolEndsTheReadAtOnce) {
    // It exits with half a line; a grandchild it leaves behind still holds the pipe open.
    auto child = launcher.start(shell("read x; sleep 30 & echo $!; printf half; exit 3"));
    ASSERT_TRUE(child);
    ASSERT_TRUE(child->writeLine("go"));
    auto grandchild = child->readLine(5);
    ASSERT_TRUE(grandchild.isLine());
    const auto start = std::chrono::steady_clock::now();
    auto ended = child->readLine(20);
    EXPECT_LT(secondsSince(start), 3.0);
    EXPECT_EQ(ended.status, LineRead::Status::Ended);
    EXPECT_EQ(ended.text, "half");
    EXPECT_FALSE(child->isRunning());
    EXPECT_EQ(child->wait(0), 3);
    ::kill(static_cast<pid_t>(grandchild.text.toLongLong()), SIGKILL);
}

TEST_F(ProcessTest, WritingToAChildThatStoppedReadingFailsWithoutSigpipe) {
    auto closedInput = launcher.start(shell("exec 0<&-; echo ready; exec sleep 30"));
    ASSERT_TRUE(closedInput);
    ASSERT_EQ(closedInput->readLine(5).text, "ready");
    EXPECT_FALSE(closedInput->writeLine("hello"));
    EXPECT_FALSE(closedInput->writeLine("again"));

    auto dead = launcher.start(shell("exit 0"));
    ASSERT_TRUE(dead);
    EXPECT_EQ(dead->wait(5), 0);
    EXPECT_FALSE(dead->write(QByteArray(100000, 'x')));

    // Still here, and no SIGPIPE left pending to kill us later.
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

TEST_F(ProcessTest, SilentChildTimesOutAtTheDeadlineAndTerminateKillAndWaitReportHowItEnded) {
    auto silent = launcher.start(shell("exec sleep 30"));
    ASSERT_TRUE(silent);
    const auto start = std::chrono::steady_clock::now();
    auto read = silent->readLine(0.2);
    const double took = secondsSince(start);
    EXPECT_EQ(read.status, LineRead::Status::TimedOut);
    EXPECT_TRUE(read.text.isEmpty());
    EXPECT_GE(took, 0.19);
    EXPECT_LT(took, 3.0);
    EXPECT_TRUE(silent->isRunning());
    const long long silentPid = silent->pid();
    silent.reset();  // dropping a running child kills and reaps it
    EXPECT_TRUE(isGone(silentPid));

    auto child = launcher.start(shell("exec sleep 30"));
    ASSERT_TRUE(child);
    EXPECT_EQ(child->wait(0.05), std::nullopt);
    child->terminate();
    EXPECT_EQ(child->wait(5), 128 + SIGTERM);
    EXPECT_FALSE(child->isRunning());
    EXPECT_TRUE(isGone(child->pid()));

    auto stubborn = launcher.start(shell("trap '' TERM; echo armed; while :; do sleep 1; done"));
    ASSERT_TRUE(stubborn);
    ASSERT_EQ(stubborn->readLine(5).text, "armed");
    stubborn->terminate();
    EXPECT_EQ(stubborn->wait(0.1), std::nullopt);
    stubborn->kill();
    EXPECT_EQ(stubborn->wait(5), 128 + SIGKILL);
}

TEST_F(ProcessTest, StartFailuresAreReportedNotThrown) {
    QString error;
    EXPECT_FALSE(launcher.start({QStringLiteral("/nonexistent/tool"), {}, {}, {}}, &error));
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_FALSE(launcher.start({QStringLiteral("sh"), {}, {}, {}}, &error));  // never searched in PATH
    EXPECT_TRUE(error.contains("absolute"));
    auto result = launcher.run({QStringLiteral("/nonexistent/tool"), {}, {}, {}}, 5);
    EXPECT_EQ(result.status, ProcessResult::Status::FailedToStart);
    EXPECT_FALSE(result.errorText.isEmpty());
    EXPECT_FALSE(launcher.startDetached({QStringLiteral("/nonexistent/tool"), {}, {}, {}}, &error));
}

TEST_F(ProcessTest, RunReportsExitStatusSignalAndOutput) {
    auto ok = launcher.run(shell("echo out; echo err >&2; exit 7", ProcessSpec::Stderr::Capture), 5);
    EXPECT_EQ(ok.status, ProcessResult::Status::Exited);
    EXPECT_EQ(ok.exitCode, 7);
    EXPECT_FALSE(ok.succeeded());
    EXPECT_EQ(ok.standardOutput, "out\n");
    EXPECT_EQ(ok.standardError, "err\n");

    auto longLived = launcher.start(shell("echo oops >&2; echo out; exit 0", ProcessSpec::Stderr::Capture));
    ASSERT_TRUE(longLived);
    EXPECT_EQ(longLived->readLine(5).text, "out");
    EXPECT_EQ(longLived->wait(5), 0);
    EXPECT_EQ(longLived->standardError(), "oops\n");

    auto merged = launcher.run(shell("echo out; echo err >&2", ProcessSpec::Stderr::MergeWithStdout), 5);
    EXPECT_TRUE(merged.succeeded());
    EXPECT_EQ(merged.standardOutput, "out\nerr\n");

    auto signalled = launcher.run(shell("kill -TERM $$"), 5);
    EXPECT_EQ(signalled.status, ProcessResult::Status::Signalled);
    EXPECT_EQ(signalled.exitCode, SIGTERM);

    QTemporaryDir dir;
    ProcessSpec pwd{QStringLiteral("/bin/pwd"), {}, {}, dir.path()};
    EXPECT_EQ(launcher.run(pwd, 5).standardOutput.trimmed(), QFile::encodeName(QDir(dir.path()).canonicalPath()));
}

TEST_F(ProcessTest, RunTimeoutKillsAndReapsTheChild) {
    const auto start = std::chrono::steady_clock::now();
    auto result = launcher.run(shell("echo $$; exec sleep 30"), 0.3);
    EXPECT_LT(secondsSince(start), 3.0);
    EXPECT_EQ(result.status, ProcessResult::Status::TimedOut);
    const long long pid = result.standardOutput.trimmed().toLongLong();
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(isGone(pid));  // killed and reaped: no zombie left
}

TEST_F(ProcessTest, FloodingOutputIsCappedWithoutBlocking) {
    auto run = launcher.run(shell("head -c 4000000 /dev/zero; echo done >&2", ProcessSpec::Stderr::Capture), 10, 1000);
    EXPECT_TRUE(run.succeeded());  // the child was never blocked on a full pipe
    EXPECT_EQ(run.standardOutput.size(), 1000);
    EXPECT_TRUE(run.outputTruncated);
    EXPECT_EQ(run.standardError, "done\n");

    // A line-protocol child that never ends its line gets it cut at the limit.
    auto child = launcher.start(shell("head -c 3000000 /dev/zero | tr '\\0' a; echo; echo next"));
    ASSERT_TRUE(child);
    auto cut = child->readLine(10);
    EXPECT_TRUE(cut.isLine());
    EXPECT_EQ(static_cast<size_t>(cut.text.size()), platform::ProcessLauncher::kDefaultOutputLimit);
    while (child->readLine(10).isLine() && child->isRunning()) {
    }
}

TEST_F(ProcessTest, DetachedChildRunsInItsOwnSession) {
    QTemporaryDir dir;
    const QString marker = dir.filePath("sid");
    auto pid = launcher.startDetached(
        shell(QStringLiteral("cut -d' ' -f6 /proc/$$/stat > '%1.tmp' && mv '%1.tmp' '%1'").arg(marker)));
    ASSERT_TRUE(pid);
    // The waiting is the child's own: it polls for the marker.
    auto seen = launcher.run(shell(QStringLiteral("for i in $(seq 300); do [ -s '%1' ] && exit 0; sleep 0.01; done; exit 1").arg(marker)), 10);
    ASSERT_TRUE(seen.succeeded());
    QFile file(marker);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().trimmed().toLongLong(), *pid);  // a session leader: sid == pid
}

// Neither running nor a zombie waiting to be reaped.
bool hasEnded(long long pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return true;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close >= 0 && text.size() > close + 2 && text.at(close + 2) == 'Z';
}

TEST_F(ProcessTest, ChildrenDieWithTheProcessButNotWithTheThreadThatStartedThem) {
    // A process that crashes with a long-lived child and a child it runs to the end takes both.
    // The death test runs this body again in a fresh process, which finds the file's path here.
    QTemporaryDir dir;
    if (!qEnvironmentVariableIsSet("QUILLVEX_TEST_PIDS")) qputenv("QUILLVEX_TEST_PIDS", QFile::encodeName(dir.filePath("pids")));
    const QString pids = qEnvironmentVariable("QUILLVEX_TEST_PIDS");
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // not a fork of this process and its threads
    const auto crash = std::chrono::steady_clock::now();
    EXPECT_DEATH(
        {
            PosixProcessLauncher own;
            [[maybe_unused]] auto lived = own.start(shell(QStringLiteral("echo $$ >> '%1'; exec sleep 30").arg(pids)));
            std::thread([&] { own.run(shell(QStringLiteral("echo $$ >> '%1'; exec sleep 30").arg(pids)), 60); }).detach();
            for (int i = 0; i < 1000; ++i) {
                QFile written(pids);
                if (written.open(QIODevice::ReadOnly) && written.readAll().count('\n') == 2) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            std::abort();
        },
        "");
    // The death test waits for whatever holds its pipe: children that lived on would hold it 30 s.
    EXPECT_LT(secondsSince(crash), 15);
    qunsetenv("QUILLVEX_TEST_PIDS");
    QFile file(pids);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2);
    for (const QByteArray& line : lines) {
        const auto start = std::chrono::steady_clock::now();
        while (!hasEnded(line.toLongLong()) && secondsSince(start) < 5) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_TRUE(hasEnded(line.toLongLong())) << line.toStdString();
    }

    // A child started from a thread, which speaks with it there, lives on after the thread ends.
    std::unique_ptr<platform::ChildProcess> fromWorker;
    QByteArray reply;
    std::thread([&] {
        fromWorker = launcher.start(shell("read l; echo \"re:$l\"; exec sleep 30"));
        if (fromWorker && fromWorker->writeLine("ping")) reply = fromWorker->readLine(5).text;
    }).join();
    ASSERT_TRUE(fromWorker);
    EXPECT_EQ(reply, "re:ping");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(fromWorker->isRunning());
}

}  // namespace
