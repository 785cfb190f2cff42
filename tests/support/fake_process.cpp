#include "support/fake_process.h"

namespace testsupport {

void FakeChild::exit(int code) {
    if (!exitCode_) exitCode_ = code;
}

QList<QByteArray> FakeChild::inputLines() const {
    QList<QByteArray> lines = input_.split('\n');
    lines.removeLast();  // the unterminated rest (empty after a final line feed)
    return lines;
}

// The ChildProcess the code under test gets; the test keeps the FakeChild behind it.
class FakeChildProcess final : public platform::ChildProcess {
public:
    explicit FakeChildProcess(std::shared_ptr<FakeChild> child) : child_(std::move(child)) {}
    ~FakeChildProcess() override {
        if (child_->isRunning()) child_->exit(128 + 9);
        child_->released_ = true;
    }

    long long pid() const override { return child_->pid; }
    bool isRunning() override { return child_->isRunning(); }

    bool write(const QByteArray& bytes) override {
        FakeChild& c = *child_;
        if (!c.isRunning() || c.inputClosed_) return false;
        c.input_ += bytes;
        c.pendingInputLine_ += bytes;
        qsizetype newline;
        while ((newline = c.pendingInputLine_.indexOf('\n')) >= 0) {
            QByteArray line = c.pendingInputLine_.left(newline);
            c.pendingInputLine_.remove(0, newline + 1);
            if (c.onLine) c.onLine(c, line);
        }
        return true;
    }

    void closeInput() override { child_->inputClosed_ = true; }

    platform::LineRead readLine(double timeoutSeconds) override {
        FakeChild& c = *child_;
        c.readTimeouts_.push_back(timeoutSeconds);
        const qsizetype newline = c.output_.indexOf('\n');
        if (newline >= 0) {
            QByteArray line = c.output_.left(newline);
            c.output_.remove(0, newline + 1);
            return {platform::LineRead::Status::Line, line};
        }
        if (!c.isRunning()) return {platform::LineRead::Status::Ended, std::exchange(c.output_, {})};
        return {platform::LineRead::Status::TimedOut, c.output_};
    }

    std::size_t discardPendingOutput() override {
        return static_cast<std::size_t>(std::exchange(child_->output_, {}).size());
    }

    QByteArray standardError() const override { return child_->standardError_; }

    void terminate() override {
        ++child_->terminateCount_;
        if (child_->exitsOnTerminate) child_->exit(128 + 15);
    }
    void kill() override {
        ++child_->killCount_;
        child_->exit(128 + 9);
    }
    std::optional<int> wait(double) override { return child_->exitCode_; }

private:
    std::shared_ptr<FakeChild> child_;
};

std::optional<QString> FakeProcessLauncher::failureFor(const QString& program) const {
    auto it = startFailures_.find(program);
    if (it == startFailures_.end()) return std::nullopt;
    return it->second;
}

std::unique_ptr<platform::ChildProcess> FakeProcessLauncher::start(const platform::ProcessSpec& spec, QString* errorText) {
    if (auto failure = failureFor(spec.program)) {
        if (errorText) *errorText = *failure;
        return nullptr;
    }
    auto child = std::make_shared<FakeChild>();
    child->spec = spec;
    child->pid = nextPid_++;
    children_.push_back(child);
    if (onStart) onStart(*child);
    return std::make_unique<FakeChildProcess>(child);
}

platform::ProcessResult FakeProcessLauncher::run(const platform::ProcessSpec& spec, double timeoutSeconds,
                                                 std::size_t outputLimit) {
    runs_.push_back({spec, timeoutSeconds});
    platform::ProcessResult result;
    if (auto failure = failureFor(spec.program)) {
        result.status = platform::ProcessResult::Status::FailedToStart;
        result.errorText = *failure;
        return result;
    }
    if (!onRun) {
        result.status = platform::ProcessResult::Status::Exited;
        result.exitCode = 0;
        return result;
    }
    result = onRun(spec, timeoutSeconds);
    // Kept up to the limit, as a real run keeps them.
    for (QByteArray* stream : {&result.standardOutput, &result.standardError}) {
        if (static_cast<std::size_t>(stream->size()) <= outputLimit) continue;
        stream->truncate(static_cast<qsizetype>(outputLimit));
        result.outputTruncated = true;
    }
    return result;
}

std::optional<long long> FakeProcessLauncher::startDetached(const platform::ProcessSpec& spec, QString* errorText) {
    if (auto failure = failureFor(spec.program)) {
        if (errorText) *errorText = *failure;
        return std::nullopt;
    }
    detached_.push_back(spec);
    return nextPid_++;
}

}  // namespace testsupport
