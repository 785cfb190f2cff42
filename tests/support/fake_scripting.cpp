#include "support/fake_scripting.h"

namespace testsupport {

FakeScriptRunner::FakeScriptRunner() : previous_(platform::ScriptRunner::setShared(this)) {}

FakeScriptRunner::~FakeScriptRunner() { platform::ScriptRunner::setShared(previous_); }

void FakeScriptRunner::enqueue(platform::ScriptOutcome outcome) {
    std::lock_guard lock(mutex_);
    queued_.push_back(std::move(outcome));
}

QStringList FakeScriptRunner::scripts() const {
    std::lock_guard lock(mutex_);
    return scripts_;
}

platform::ScriptOutcome FakeScriptRunner::run(const QString& source) {
    std::lock_guard lock(mutex_);
    scripts_ << source;
    if (queued_.empty()) return platform::ScriptOutcome::success();
    platform::ScriptOutcome outcome = std::move(queued_.front());
    queued_.pop_front();
    return outcome;
}

}  // namespace testsupport
