#include "platform/scripting/scripting.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<ScriptRunner*> installed{nullptr};
}  // namespace

ScriptRunner& ScriptRunner::shared() {
    if (ScriptRunner* runner = installed.load()) return *runner;
    static auto* unavailable = new UnavailableScriptRunner();
    return *unavailable;
}

ScriptRunner* ScriptRunner::setShared(ScriptRunner* runner) { return installed.exchange(runner); }

QString UnavailableScriptRunner::errorText() { return QStringLiteral("AppleScript is not available on this system"); }

ScriptOutcome UnavailableScriptRunner::run(const QString&) { return ScriptOutcome::failure(errorText()); }

}  // namespace platform
