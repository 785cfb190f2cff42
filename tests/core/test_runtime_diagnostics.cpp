#include "core/runtime_diagnostics.h"
#include "support/fake_codesign.h"
#include "support/fake_scripting.h"
#include "support/fake_workspace.h"
#include "support/fixtures.h"

#include <QCoreApplication>

using platform::LogLevel;

namespace {

class RuntimeDiagnosticsTest : public testsupport::QuillvexTest {
protected:
    testsupport::FakeCodeSigning signing;
    testsupport::FakeScriptRunner scripts;
    testsupport::FakeWorkspace workspace;
};

TEST_F(RuntimeDiagnosticsTest, UnsignedBundleStillLogsItsIdentityAndPath) {
    AppRuntimeDiagnostics::logSigningState(QStringLiteral("launch"));
    EXPECT_EQ(log.lines().size(), 1u);
    EXPECT_TRUE(log.contains(LogLevel::Info,
                             "RuntimeSigning[launch]: bundleID=com.varnock.Quillvex codeID=unknown "
                             "teamID=none path=/Applications/Quillvex.app"));
}

TEST_F(RuntimeDiagnosticsTest, SignatureIsReadAfreshEachTime) {
    signing.code = QStringLiteral("com.varnock.Quillvex");
    signing.team = QStringLiteral("T3AM1D");
    AppRuntimeDiagnostics::logSigningState(QStringLiteral("calendar-request"));
    signing.team.reset();
    signing.bundle = platform::MainBundle(std::nullopt, QStringLiteral("/tmp/build/Quillvex.app"));
    AppRuntimeDiagnostics::logSigningState(QStringLiteral("launch"));

    EXPECT_EQ(log.texts(), (QStringList{
                               "RuntimeSigning[calendar-request]: bundleID=com.varnock.Quillvex "
                               "codeID=com.varnock.Quillvex teamID=T3AM1D path=/Applications/Quillvex.app",
                               "RuntimeSigning[launch]: bundleID=unknown codeID=com.varnock.Quillvex teamID=none "
                               "path=/tmp/build/Quillvex.app",
                           }));
}

TEST_F(RuntimeDiagnosticsTest, NotificationCenterOpenerActivatesAndRunsTheScript) {
    Actions::openNotificationCenter();

    const QString expected = QStringLiteral(
        "tell application \"System Events\"\n"
        "  tell application process \"SystemUIServer\"\n"
        "    try\n"
        "      click (first menu bar item whose description is \"Notification Center\") of menu bar 1\n"
        "    on error\n"
        "      try\n"
        "        click (first menu bar item whose description contains \"Notification\") of menu bar 1\n"
        "      end try\n"
        "    end try\n"
        "  end tell\n"
        "end tell");
    EXPECT_EQ(scripts.scripts(), QStringList{expected});
    ASSERT_EQ(workspace.activations.size(), 1u);
    EXPECT_EQ(workspace.activations[0], std::make_pair(QCoreApplication::applicationPid(), true));
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(RuntimeDiagnosticsTest, NotificationCenterFailureIsLoggedOnce) {
    scripts.enqueue(platform::ScriptOutcome::failure(QStringLiteral("Not authorized to send Apple events (-1743)")));
    Actions::openNotificationCenter();
    EXPECT_EQ(log.lines().size(), 1u);
    EXPECT_TRUE(log.contains(LogLevel::Warning,
                             "Failed to open Notification Center: Not authorized to send Apple events (-1743)"));
}

TEST(RuntimeDiagnosticsLinuxTest, WithoutScriptHostTheOpenerOnlyWarns) {
    testsupport::LogCapture log;
    testsupport::FakeWorkspace workspace;
    Actions::openNotificationCenter();
    EXPECT_EQ(log.texts(), QStringList{QStringLiteral("Failed to open Notification Center: ") +
                                       platform::UnavailableScriptRunner::errorText()});
}

}  // namespace
