// The Linux script runner: scripts that only ask whether an application or process is there get
// the answer the platform gives when it is not; anything else fails as before.

#include "platform/scripting/linux_script_runner.h"

#include <gtest/gtest.h>

using platform::LinuxScriptRunner;
using platform::ScriptOutcome;
using platform::UnavailableScriptRunner;

namespace {

ScriptOutcome run(const char* source) { return LinuxScriptRunner().run(QString::fromUtf8(source)); }

}  // namespace

TEST(LinuxScriptRunner, NoApplicationIsRunning) {
    const ScriptOutcome probe = run(
        "if application \"Music\" is running then\n"
        "    tell application \"Music\"\n"
        "        if player state is playing then return \"MUSIC_PLAYING\"\n"
        "    end tell\n"
        "end if\n"
        "\n"
        "return \"NONE\"");
    EXPECT_TRUE(probe.succeeded());
    EXPECT_EQ(probe.result, QStringLiteral("NONE"));

    const ScriptOutcome reader = run(
        "if application \"Spotify\" is not running then return \"NOT_RUNNING\"\n"
        "tell application \"Spotify\"\n"
        "    return name of current track\n"
        "end tell");
    EXPECT_EQ(reader.result, QStringLiteral("NOT_RUNNING"));
}

TEST(LinuxScriptRunner, NoProcessExistsSoNothingIsSent) {
    const char* answering =
        "tell application \"System Events\"\n"
        "    if exists process \"Music\" then\n"
        "        tell application \"Music\" to playpause\n"
        "        return \"OK\"\n"
        "    end if\n"
        "end tell\n"
        "return \"NO_APP\"";
    EXPECT_EQ(run(answering).result, QStringLiteral("NO_APP"));

    const ScriptOutcome silent = run(
        "tell application \"System Events\"\n"
        "    if exists process \"Spotify\" then\n"
        "        tell application \"Spotify\" to next track\n"
        "    end if\n"
        "end tell");
    EXPECT_TRUE(silent.succeeded());
    EXPECT_EQ(silent.result, std::nullopt);

    EXPECT_EQ(run("if application \"A\" is running then\nreturn \"yes\"\nelse\nreturn \"no\"\nend if").result,
              QStringLiteral("no"));
}

TEST(LinuxScriptRunner, AnythingElseFailsCleanly) {
    for (const char* source : {
             "return 1",
             "tell application \"Music\"\n    return name of current track\nend tell",
             "tell application \"System Events\"\n  tell application process \"SystemUIServer\"\n  end tell\nend tell",
             "if application \"Music\" is running then\nreturn \"x\"",  // never closed
             "end if",
             "if player state is playing then return \"MUSIC_PLAYING\"",
             "if application \"Music\" is not running then tell application \"Music\"",
         }) {
        const ScriptOutcome outcome = run(source);
        EXPECT_FALSE(outcome.succeeded()) << source;
        EXPECT_EQ(outcome.error, UnavailableScriptRunner::errorText()) << source;
    }
}
