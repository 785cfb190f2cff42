#include "platform/scripting/scripting.h"

#include "platform/scripting/linux_script_runner.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<ScriptRunner*> installed{nullptr};
}  // namespace

ScriptRunner& ScriptRunner::shared() {
    if (ScriptRunner* runner = installed.load()) return *runner;
    static auto* fallback = new LinuxScriptRunner();
    return *fallback;
}

ScriptRunner* ScriptRunner::setShared(ScriptRunner* runner) { return installed.exchange(runner); }

QString UnavailableScriptRunner::errorText() { return QStringLiteral("AppleScript is not available on this system"); }

ScriptOutcome UnavailableScriptRunner::run(const QString&) { return ScriptOutcome::failure(errorText()); }

}  // namespace platform
