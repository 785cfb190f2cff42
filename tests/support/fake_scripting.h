#pragma once

#include "platform/scripting/scripting.h"

#include <QStringList>

#include <deque>
#include <mutex>

namespace testsupport {

// Records every script text exactly and answers with queued outcomes, then success.
// Installs itself as the shared runner while alive. Safe to call from any thread.
class FakeScriptRunner final : public platform::ScriptRunner {
public:
    FakeScriptRunner();
    ~FakeScriptRunner() override;
    FakeScriptRunner(const FakeScriptRunner&) = delete;
    FakeScriptRunner& operator=(const FakeScriptRunner&) = delete;

    void enqueue(platform::ScriptOutcome outcome);
    QStringList scripts() const;

    platform::ScriptOutcome run(const QString& source) override;

private:
    mutable std::mutex mutex_;
    std::deque<platform::ScriptOutcome> queued_;
    QStringList scripts_;
    platform::ScriptRunner* previous_;
};

}  // namespace testsupport
