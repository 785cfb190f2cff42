#pragma once

// Player scripts answered by their text: each script gets the answer set for it, anything else
// the Linux runner's (no player running). Records every script it ran.

#include "platform/scripting/linux_script_runner.h"

#include <QStringList>

#include <deque>
#include <map>
#include <mutex>

namespace musictest {

class ScriptedPlayers final : public platform::ScriptRunner {
public:
    // Every run of `script` answers `outcome` from now on.
    void answer(const QString& script, platform::ScriptOutcome outcome) {
        std::lock_guard lock(mutex_);
        answers_[script] = {std::move(outcome)};
    }
    // The next runs of `script` answer these in turn, then the last one again.
    void answerInTurn(const QString& script, std::deque<platform::ScriptOutcome> outcomes) {
        std::lock_guard lock(mutex_);
        answers_[script] = std::move(outcomes);
    }
    void answerText(const QString& script, const QString& text) { answer(script, platform::ScriptOutcome::success(text)); }

    platform::ScriptOutcome run(const QString& source) override {
        std::lock_guard lock(mutex_);
        ran_ << source;
        auto it = answers_.find(source);
        if (it == answers_.end() || it->second.empty()) return platform::LinuxScriptRunner().run(source);
        platform::ScriptOutcome outcome = it->second.front();
        if (it->second.size() > 1) it->second.pop_front();
        return outcome;
    }

    QStringList ran() const {
        std::lock_guard lock(mutex_);
        return ran_;
    }
    int count(const QString& script) const { return static_cast<int>(ran().count(script)); }
    void clear() {
        std::lock_guard lock(mutex_);
        ran_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::map<QString, std::deque<platform::ScriptOutcome>> answers_;
    QStringList ran_;
};

}  // namespace musictest
