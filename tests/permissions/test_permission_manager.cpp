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

TEST_F(PermissionManagerTest, TrustIsTestedWithoutAPromptAndARequestPromptsOnlyWhileUntrusted) {
    EXPECT_FALSE(manager.isAccessibilityTrusted());
    manager.requestAccessibility();
    EXPECT_EQ(ax.promptCount(), 1);
    ax.setTrusted(true);
    EXPECT_TRUE(manager.isAccessibilityTrusted());
    EXPECT_EQ(ax.trustChecksWithPromptOption(), 1);

    manager.requestAccessibility();
    EXPECT_EQ(ax.trustChecksWithPromptOption(), 2);
    EXPECT_EQ(ax.promptCount(), 1);
    // The pane opens either way.
    const QUrl pane(QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility"));
    EXPECT_EQ(workspace.openedUrls, (std::vector<QUrl>{pane, pane}));
}

}  // namespace
