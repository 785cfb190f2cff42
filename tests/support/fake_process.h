#pragma once

#include "platform/process/child_process.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace testsupport {

// The test's side of one fake child: what it was started with, what it was sent, and the
// output it gives. It outlives the ChildProcess handed to the code under test, so a test can
// look at it after that code has dropped the child. Reads never wait: a read that finds no
// whole line times out at once (and the requested timeout is recorded).
class FakeChild {
public:
    platform::ProcessSpec spec;
    long long pid = 0;

    // Called for every whole line written to the child (without its line feed), e.g. to reply.
    std::function<void(FakeChild&, const QByteArray& line)> onLine;
    // When false, terminate() is ignored (a child stuck in a handler); kill() always works.
    bool exitsOnTerminate = true;

    void emitOutput(const QByteArray& bytes) { output_ += bytes; }
    void emitLine(const QByteArray& line) { emitOutput(line + '\n'); }
    void emitStandardError(const QByteArray& bytes) { standardError_ += bytes; }
    // The child ends: its output is over, writes fail, wait() returns `code`.
    void exit(int code);

    bool isRunning() const { return !exitCode_.has_value(); }
    std::optional<int> exitCode() const { return exitCode_; }
    const QByteArray& input() const { return input_; }
    QList<QByteArray> inputLines() const;
    bool inputClosed() const { return inputClosed_; }
    int terminateCount() const { return terminateCount_; }
    int killCount() const { return killCount_; }
    // True once the code under test destroyed its ChildProcess.
    bool released() const { return released_; }
    const std::vector<double>& readTimeouts() const { return readTimeouts_; }

private:
    friend class FakeChildProcess;
    QByteArray input_;
    QByteArray pendingInputLine_;
    QByteArray output_;
    QByteArray standardError_;
    std::optional<int> exitCode_;
    bool inputClosed_ = false;
    bool released_ = false;
    int terminateCount_ = 0;
    int killCount_ = 0;
    std::vector<double> readTimeouts_;
};

// A scripted launcher: records every start, run and detached start, and answers them as the
// test says. Not locked: drive it from one thread at a time.
class FakeProcessLauncher final : public platform::ProcessLauncher {
public:
    std::unique_ptr<platform::ChildProcess> start(const platform::ProcessSpec& spec, QString* errorText = nullptr) override;
    platform::ProcessResult run(const platform::ProcessSpec& spec, double timeoutSeconds,
                                std::size_t outputLimit = kDefaultOutputLimit) override;
    std::optional<long long> startDetached(const platform::ProcessSpec& spec, QString* errorText = nullptr) override;

    // Starting `program` (start, run or detached) fails with `errorText`.
    void failStart(const QString& program, const QString& errorText) { startFailures_[program] = errorText; }
    // Called with each new fake child before start() returns it (emit a greeting, set onLine).
    std::function<void(FakeChild&)> onStart;
    // Answers run(), its streams cut at the run's output limit as a real run's are; by default a
    // run exits 0 with no output.
    std::function<platform::ProcessResult(const platform::ProcessSpec&, double timeoutSeconds)> onRun;

    const std::vector<std::shared_ptr<FakeChild>>& children() const { return children_; }
    std::shared_ptr<FakeChild> lastChild() const { return children_.empty() ? nullptr : children_.back(); }
    struct RunCall {
        platform::ProcessSpec spec;
        double timeoutSeconds;
    };
    const std::vector<RunCall>& runs() const { return runs_; }
    const std::vector<platform::ProcessSpec>& detachedStarts() const { return detached_; }

private:
    std::optional<QString> failureFor(const QString& program) const;

    std::map<QString, QString> startFailures_;
    std::vector<std::shared_ptr<FakeChild>> children_;
    std::vector<RunCall> runs_;
    std::vector<platform::ProcessSpec> detached_;
    long long nextPid_ = 40000;
};

}  // namespace testsupport
