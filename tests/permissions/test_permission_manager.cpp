#include "permissions/permission_manager.h"

#include "support/fake_accessibility.h"
#include "support/fake_workspace.h"
#include "support/fixtures.h"

#include <QUrl>

namespace {

class PermissionManagerTest : public testsupport::QuillvexTest {
protected:
    testsupport::FakeAccessibility ax;
    testsupport::FakeWorkspace workspace;
    PermissionManager manager;  // the shared ports, looked up at each use
};

const QUrl kAccessibilityPane(
    QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility"));

TEST_F(PermissionManagerTest, TrustIsTestedWithoutAPrompt) {
    EXPECT_FALSE(manager.isAccessibilityTrusted());
    ax.setTrusted(true);
    EXPECT_TRUE(manager.isAccessibilityTrusted());
    EXPECT_EQ(ax.trustChecksWithPromptOption(), 0);
}

TEST_F(PermissionManagerTest, RequestPromptsWhileUntrustedAndAlwaysOpensThePane) {
    manager.requestAccessibility();
    EXPECT_EQ(ax.promptCount(), 1);
    ASSERT_EQ(workspace.openedUrls.size(), 1u);
    EXPECT_EQ(workspace.openedUrls.front(), kAccessibilityPane);

    ax.setTrusted(true);
    manager.requestAccessibility();
    EXPECT_EQ(ax.trustChecksWithPromptOption(), 2);
    EXPECT_EQ(ax.promptCount(), 1);  // no prompt once trusted
    EXPECT_EQ(workspace.openedUrls.size(), 2u);
}

TEST_F(PermissionManagerTest, StopObservingOnAFreshInstanceIsHarmless) {
    manager.stopObserving();
    manager.stopObserving();
    EXPECT_EQ(scheduler().pendingCount(), 0u);
    EXPECT_TRUE(workspace.openedUrls.empty());
    EXPECT_TRUE(log.lines().empty());
}

}  // namespace
