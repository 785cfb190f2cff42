#pragma once

#include "platform/scripting/scripting.h"

namespace platform {

// Linux has no script host and none of the scriptable applications, yet a script that only asks
// whether an application or process is there has an honest answer: it is not. This runner
// evaluates that small part of the language (string returns, `if ... then` on "application "X"
// is [not] running" and "exists process "X"", `tell application "System Events"`); every such
// test is false. Anything else fails with UnavailableScriptRunner's error text, as before.
class LinuxScriptRunner final : public ScriptRunner {
public:
    ScriptOutcome run(const QString& source) override;
};

}  // namespace platform
