#include "platform/workspace/linux_workspace.h"
#include "platform/scripting/scripting.h"
#include "support/fake_workspace.h"

#include <QCoreApplication>
#include <QWidget>
#include <QUrl>

#include <gtest/gtest.h>

using namespace platform;

TEST(WorkspaceTest, LookupsKeepTheWorkspaceOrder) {
    testsupport::FakeWorkspace fake;
    fake.addApplication(10, QStringLiteral("com.example.Mail"), QStringLiteral("Mail"));
    fake.addApplication(11, QStringLiteral("com.example.Notes"), QStringLiteral("Notes"));
    fake.addApplication(12, QStringLiteral("com.example.Mail"), QStringLiteral("Mail 2"));

    const auto mails = Workspace::shared().runningApplicationsWithBundleIdentifier(QStringLiteral("com.example.Mail"));
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_EQ(mails[0].processIdentifier, 10);
    EXPECT_EQ(mails[1].processIdentifier, 12);
    EXPECT_EQ(Workspace::shared().runningApplicationWithProcessIdentifier(11)->localizedName, QStringLiteral("Notes"));
    EXPECT_FALSE(Workspace::shared().runningApplicationWithProcessIdentifier(99).has_value());
}

TEST(LinuxWorkspaceTest, KnowsOnlyThisProcessAndLaunchesNothing) {
    LinuxWorkspace workspace;
    const auto running = workspace.runningApplications();
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(running[0].processIdentifier, QCoreApplication::applicationPid());

    EXPECT_FALSE(workspace.urlForApplicationWithBundleIdentifier(QStringLiteral("com.example.Mail")).has_value());
    EXPECT_FALSE(workspace.launchApplicationWithBundleIdentifier(QStringLiteral("com.example.Mail")));
    EXPECT_FALSE(workspace.launchApplicationNamed(QStringLiteral("rm -rf ~")));
    EXPECT_FALSE(workspace.activateApplication(QCoreApplication::applicationPid() + 1, true));
    // A shown window that takes no focus (an overlay) is not asked to: Qt would warn at each click.
    QWidget overlay(nullptr, Qt::Tool | Qt::WindowDoesNotAcceptFocus);
    overlay.show();
    static QStringList warnings;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) { warnings << text; });
    EXPECT_TRUE(workspace.activateApplication(QCoreApplication::applicationPid(), true));
    qInstallMessageHandler(previous);
    EXPECT_TRUE(warnings.filter(QStringLiteral("requestActivate")).isEmpty()) << warnings.join('\n').toStdString();
    EXPECT_FALSE(workspace.iconForFile(QStringLiteral("/nonexistent/Thing.app")).isNull());
    // System-settings deep links have no handler on Linux: refused, not passed to the desktop.
    EXPECT_FALSE(workspace.openUrl(
        QUrl(QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_AllFiles"))));
}

TEST(ScriptRunnerTest, LinuxHasNoScriptHost) {
    const ScriptOutcome outcome = ScriptRunner::shared().run(QStringLiteral("return 1"));
    EXPECT_FALSE(outcome.succeeded());
    EXPECT_EQ(outcome.error, UnavailableScriptRunner::errorText());
}
