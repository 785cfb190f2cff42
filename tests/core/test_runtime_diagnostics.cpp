#include "core/runtime_diagnostics.h"
#include "support/fake_codesign.h"
#include "support/fake_notification_list.h"
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
    testsupport::FakeNotificationList daemon;
};

TEST_F(RuntimeDiagnosticsTest, SigningLineIsReadAfreshEachTime) {
    AppRuntimeDiagnostics::logSigningState(QStringLiteral("launch"));
    signing.code = QStringLiteral("com.varnock.Quillvex");
    signing.team = QStringLiteral("T3AM1D");
    signing.bundle = platform::MainBundle(std::nullopt, QStringLiteral("/tmp/build/Quillvex.app"));
    AppRuntimeDiagnostics::logSigningState(QStringLiteral("calendar-request"));

    EXPECT_EQ(log.texts(), (QStringList{
                               "RuntimeSigning[launch]: bundleID=com.varnock.Quillvex codeID=unknown teamID=none "
                               "path=/Applications/Quillvex.app",
                               "RuntimeSigning[calendar-request]: bundleID=unknown codeID=com.varnock.Quillvex "
                               "teamID=T3AM1D path=/tmp/build/Quillvex.app",
                           }));
    EXPECT_EQ(log.lines()[0].level, LogLevel::Info);
}

TEST_F(RuntimeDiagnosticsTest, NotificationCenterOpenerRunsTheScriptAndLogsOnlyAFailure) {
    Actions::openNotificationCenter();
    EXPECT_TRUE(log.lines().empty());
    scripts.enqueue(platform::ScriptOutcome::failure(QStringLiteral("Not authorized to send Apple events (-1743)")));
    Actions::openNotificationCenter();
    EXPECT_EQ(log.texts(), QStringList{"Failed to open Notification Center: Not authorized to send Apple events (-1743)"});
    EXPECT_EQ(log.lines()[0].level, LogLevel::Warning);

    ASSERT_EQ(scripts.scripts().size(), 2);
    EXPECT_EQ(scripts.scripts()[0], scripts.scripts()[1]);
    EXPECT_TRUE(scripts.scripts()[0].contains(
        "click (first menu bar item whose description is \"Notification Center\") of menu bar 1"));
    const auto activation = std::make_pair(QCoreApplication::applicationPid(), true);
    EXPECT_EQ(workspace.activations, (std::vector{activation, activation}));
    EXPECT_EQ(daemon.shows, 2);
}

TEST_F(RuntimeDiagnosticsTest, NotificationCenterOpenerShowsTheDaemonsListInsteadWhereItKeepsOne) {
    daemon.hasList = true;
    scripts.enqueue(platform::ScriptOutcome::failure(QStringLiteral("Not authorized to send Apple events (-1743)")));
    Actions::openNotificationCenter();
    EXPECT_EQ(daemon.shows, 1);
    EXPECT_TRUE(scripts.scripts().isEmpty());
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(workspace.activations.size(), 1u);
}

}  // namespace
