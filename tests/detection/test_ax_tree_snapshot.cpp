#include "detection/ax_tree_snapshot.h"

#include "support/fake_accessibility.h"
#include "support/fake_workspace.h"
#include "support/fixtures.h"

#include <QImage>

using platform::AXElement;
using platform::AXError;
using platform::LogLevel;
using testsupport::FakeAXNode;

namespace {

constexpr int32_t kNotificationPid = 400;

FakeAXNode group() { return FakeAXNode(QStringLiteral("AXGroup")); }
FakeAXNode banner() { return group().subrole(QStringLiteral("AXNotificationCenterBanner")); }
FakeAXNode text(const QString& value) { return FakeAXNode(QStringLiteral("AXStaticText")).value(value); }
FakeAXNode image(int w, int h, const QString& role = QStringLiteral("AXImage")) {
    QImage filled(w, h, QImage::Format_ARGB32);
    filled.fill(Qt::red);
    return FakeAXNode(role).image(filled);
}

class AXTreeSnapshotTest : public testsupport::QuillvexTest {
protected:
    void SetUp() override {
        ax.setTrusted(true);
        workspace.addApplication(kNotificationPid, QStringLiteral("com.apple.notificationcenterui"),
                                 QStringLiteral("Notification Center"));
        app = ax.addProcess(kNotificationPid);
    }
    AXElement window(const FakeAXNode& tree) { return ax.addWindow(kNotificationPid, tree); }
    AXTreeSnapshot take() {
        auto snapshot = AXTreeSnapshot::take();
        EXPECT_TRUE(snapshot.has_value());
        return snapshot.value_or(AXTreeSnapshot{});
    }
    bool logged(const QString& line) { return log.contains(LogLevel::Debug, "AXTreeSnapshot: " + line); }

    testsupport::FakeAccessibility ax;
    testsupport::FakeWorkspace workspace;
    AXElement app;
};

TEST_F(AXTreeSnapshotTest, NoReadingWithoutTrustOrNotificationProcess) {
    window(banner());
    ax.setTrusted(false);
    EXPECT_FALSE(AXTreeSnapshot::take().has_value());
    EXPECT_EQ(ax.totalReads(), 0);

    ax.setTrusted(true);
    workspace.applications.clear();
    EXPECT_FALSE(AXTreeSnapshot::take().has_value());
    // The later identifiers of the list are tried in turn.
    workspace.addApplication(77, QStringLiteral("com.apple.systemuiserver"), QStringLiteral("SystemUIServer"));
    ax.addWindow(77, banner());
    EXPECT_EQ(take().notificationCount, 1);
}

// The owner of the desktop's notification service comes first; a backend that counts the tree's
// changes spares the walk of a tree that did not change.
TEST_F(AXTreeSnapshotTest, TheNotificationServiceOwnerIsReadAndAnUnchangedTreeIsNotWalkedAgain) {
    constexpr int32_t kDaemon = 900;
    ax.addWindow(kDaemon, banner());
    ax.addWindow(kDaemon, banner());
    ax.setNotificationServerPID(kDaemon);
    ax.setTreeGeneration(kDaemon, 1);
    EXPECT_EQ(take().notificationCount, 2);
    const int reads = ax.totalReads();
    ASSERT_GT(reads, 0);
    const AXTreeSnapshot again = take();
    EXPECT_EQ(again.notificationCount, 2);
    EXPECT_EQ(ax.totalReads(), reads);  // nothing read

    ax.addWindow(kDaemon, banner());
    ax.setTreeGeneration(kDaemon, 2);
    EXPECT_EQ(take().notificationCount, 3);
    EXPECT_GT(ax.totalReads(), reads);
}

TEST_F(AXTreeSnapshotTest, ALongestListWinsOverNotificationGroupsWhichCountWithoutOne) {
    // No windows: the application element is walked.
    ax.addChild(app, banner());
    ax.addChild(app, group().identifier(QStringLiteral("notification-1")));
    ax.addChild(app, FakeAXNode(QStringLiteral("AXList")));             // no children: no list count
    ax.addChild(app, group().subrole(QStringLiteral("AXBannerView")));  // not a notification group
    EXPECT_EQ(take().notificationCount, 2);

    FakeAXNode list(QStringLiteral("AXList"));
    for (int i = 0; i < 5; ++i) list.child(text(QStringLiteral("row %1").arg(i)));
    window(group().child(FakeAXNode(QStringLiteral("AXOutline")).child(text(QStringLiteral("one")))).child(list));
    window(banner());
    window(group().identifier(QStringLiteral("NotificationStack")));
    EXPECT_EQ(take().notificationCount, 5);
}

TEST_F(AXTreeSnapshotTest, AnElementAtDepthThirteenIsTakenButNeverRead) {
    FakeAXNode chain = group();
    for (int i = 0; i < 12; ++i) chain = group().child(std::move(chain));
    AXElement depth12 = window(chain);
    for (int i = 0; i < 12; ++i) depth12 = ax.childrenOf(depth12).front();
    const int64_t before = take().signature;
    const AXElement depth13 = ax.addChild(depth12, text(QStringLiteral("too deep")));
    const AXTreeSnapshot after = take();
    EXPECT_GT(ax.readCount(depth12), 0);
    EXPECT_EQ(ax.readCount(depth13), 0);
    EXPECT_FALSE(after.message.has_value());
    EXPECT_NE(after.signature, before);  // the number of entries taken feeds the signature
}

TEST_F(AXTreeSnapshotTest, AHugeTreeIsCutAfterTwoThousandEntries) {
    FakeAXNode root = group();
    for (int g = 0; g < 50; ++g) {
        FakeAXNode row = group();
        for (int i = 0; i < 100; ++i) row.child(text(QStringLiteral("item %1-%2").arg(g).arg(i)));
        root.child(std::move(row));
    }
    window(root);
    ASSERT_GT(ax.elementCount(), 5000u);
    take();
    // Every entry taken (all within depth 12 here) is read; the application element is read too.
    EXPECT_EQ(ax.elementsRead(), static_cast<size_t>(AXTreeSnapshot::maxEntries) + 1);
}

TEST_F(AXTreeSnapshotTest, MessageIsTheFirstKeptTextPreferringNotificationsAndAnUnreadableRoleStillCounts) {
    const AXElement w = window(group()
                                   .value(QStringLiteral("Outside text"))
                                   .child(text(QStringLiteral("Notification")))
                                   .child(banner().child(text(QStringLiteral("x"))).child(text(QStringLiteral("  Lunch?  ")))));
    ax.failAttribute(w, QStringLiteral("AXRole"), AXError::CannotComplete);
    AXTreeSnapshot snapshot = take();
    EXPECT_EQ(snapshot.message, QStringLiteral("  Lunch?  "));
    EXPECT_EQ(snapshot.notificationCount, 1);

    ax.setAttribute(ax.childrenOf(ax.childrenOf(w)[1])[1], QStringLiteral("AXValue"), QStringLiteral("5 minutes ago"));
    snapshot = take();
    // A relative time can be the message, but never the app name.
    EXPECT_EQ(snapshot.message, QStringLiteral("5 minutes ago"));
    EXPECT_FALSE(snapshot.appName.has_value());

    ax.setAttribute(ax.childrenOf(ax.childrenOf(w)[1])[1], QStringLiteral("AXValue"), QStringLiteral(" "));
    EXPECT_EQ(take().message, QStringLiteral("Outside text"));
}

TEST_F(AXTreeSnapshotTest, AppNameCandidatesSortByDepthThenLengthThenOrderFound) {
    const AXElement w = window(banner()
                                   .child(group().child(text(QStringLiteral("Zed"))))
                                   .child(text(QStringLiteral("Telegram")))
                                   .child(text(QStringLiteral("Signal"))));
    EXPECT_EQ(take().appName, QStringLiteral("Signal"));
    EXPECT_TRUE(logged("Selected app name 'Signal' from 3 candidates (no running app match)"));
    ax.setAttribute(ax.childrenOf(w)[1], QStringLiteral("AXValue"), QStringLiteral("Bravo"));
    ax.setAttribute(ax.childrenOf(w)[2], QStringLiteral("AXValue"), QStringLiteral("Alpha"));
    EXPECT_EQ(take().appName, QStringLiteral("Bravo"));
}

TEST_F(AXTreeSnapshotTest, AppNamePrefersARunningApplicationsNameExactlyThenPartly) {
    workspace.addApplication(10, QStringLiteral("com.example.slack"), QStringLiteral("Slack"));
    window(banner().child(text(QStringLiteral("Hello Ana"))).child(group().child(text(QStringLiteral("slack")))));
    EXPECT_EQ(take().appName, QStringLiteral("slack"));
    EXPECT_TRUE(logged("Selected app name 'slack' from 2 candidates (exact match)"));

    workspace.addApplication(11, QStringLiteral("com.example.mailhelper"), QStringLiteral("Mail Helper"));
    window(banner().child(text(QStringLiteral("Mail"))));
    EXPECT_EQ(take().appName, QStringLiteral("Mail"));
    EXPECT_TRUE(logged("Selected app name 'Mail' from 3 candidates (partial match with 'mail helper')"));
}

TEST_F(AXTreeSnapshotTest, BundleIdentifierNamesOrRenamesTheApplication) {
    workspace.addApplication(20, QStringLiteral("com.example.chat"), QStringLiteral("Chat"));
    const AXElement container = window(banner().child(group().identifier(QStringLiteral("com.example.chat"))));
    AXTreeSnapshot snapshot = take();
    EXPECT_EQ(snapshot.bundleId, QStringLiteral("com.example.chat"));
    EXPECT_EQ(snapshot.appName, QStringLiteral("Chat"));
    EXPECT_TRUE(logged("Got app name 'Chat' from bundle ID 'com.example.chat'"));

    // A name that differs only in letter case stays as picked; any other is replaced.
    const AXElement candidate = ax.addChild(container, text(QStringLiteral("CHAT")));
    EXPECT_EQ(take().appName, QStringLiteral("CHAT"));
    ax.setAttribute(candidate, QStringLiteral("AXValue"), QStringLiteral("Hello"));
    EXPECT_EQ(take().appName, QStringLiteral("Chat"));
    EXPECT_TRUE(logged("App name mismatch - replacing 'Hello' with 'Chat' from bundle ID"));

    // An identifier of no running application leaves the name alone.
    workspace.applications.pop_back();
    EXPECT_EQ(take().appName, QStringLiteral("Hello"));
}

TEST_F(AXTreeSnapshotTest, IconComesFromTheFirstSuitableImageInsideANotification) {
    window(image(32, 32));  // outside: ignored
    const AXElement w = window(banner()
               .child(image(40, 20, QStringLiteral("AXButton")))  // not square enough
               .child(image(16, 16))                              // too small
               .child(image(30, 24))
               .child(image(48, 48)));
    EXPECT_EQ(QImage::fromData(take().appIconData.value_or(QByteArray())).size(), QSize(30, 24));

    // A described app icon may have any size.
    ax.setAttribute(ax.childrenOf(w)[0], QStringLiteral("AXDescription"), QStringLiteral("App Icon"));
    EXPECT_EQ(QImage::fromData(take().appIconData.value_or(QByteArray())).size(), QSize(40, 20));
}

TEST_F(AXTreeSnapshotTest, SignatureFollowsTheKeptContent) {
    const AXElement w = window(banner().child(text(QStringLiteral("First"))).child(text(QStringLiteral("x"))));
    const int64_t first = take().signature;
    EXPECT_EQ(take().signature, first);
    ax.setAttribute(ax.childrenOf(w)[1], QStringLiteral("AXValue"), QStringLiteral("y"));  // dropped by the filters
    EXPECT_EQ(take().signature, first);
    ax.setAttribute(ax.childrenOf(w)[0], QStringLiteral("AXValue"), QStringLiteral("Second"));
    EXPECT_NE(take().signature, first);
}

}  // namespace
