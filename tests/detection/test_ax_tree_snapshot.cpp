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
// `leaf` below `levels` plain groups.
FakeAXNode nested(int levels, FakeAXNode leaf) {
    for (int i = 0; i < levels; ++i) leaf = group().child(std::move(leaf));
    return leaf;
}
QImage filled(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(Qt::red);
    return image;
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
    bool logged(const QString& line) { return log.contains(LogLevel::Debug, line); }

    testsupport::FakeAccessibility ax;
    testsupport::FakeWorkspace workspace;
    AXElement app;
};

TEST_F(AXTreeSnapshotTest, NoReadingWithoutTrustOrNotificationProcess) {
    window(banner().child(text(QStringLiteral("Hello"))));
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

TEST_F(AXTreeSnapshotTest, ALongestListWinsOverNotificationGroups) {
    FakeAXNode list(QStringLiteral("AXList"));
    for (int i = 0; i < 5; ++i) list.child(text(QStringLiteral("row %1").arg(i)));
    window(group().child(FakeAXNode(QStringLiteral("AXOutline")).child(text(QStringLiteral("one")))).child(list));
    window(banner());
    window(group().identifier(QStringLiteral("NotificationStack")));
    EXPECT_EQ(take().notificationCount, 5);
}

TEST_F(AXTreeSnapshotTest, WithoutAListTheGroupsCountAndAWindowlessProcessIsWalkedFromItsElement) {
    ax.addChild(app, banner());
    ax.addChild(app, group().identifier(QStringLiteral("notification-1")));
    ax.addChild(app, FakeAXNode(QStringLiteral("AXList")));             // no children: no list count
    ax.addChild(app, group().subrole(QStringLiteral("AXBannerView")));  // not a notification group
    EXPECT_EQ(take().notificationCount, 2);
}

TEST_F(AXTreeSnapshotTest, AnElementBelowDepthTwelveIsCountedButNeverRead) {
    AXElement depth11 = window(nested(11, text(QStringLiteral("deep"))));
    for (int i = 0; i < 11; ++i) depth11 = ax.childrenOf(depth11).front();
    const AXElement depth12 = ax.addChild(depth11, group());
    const int64_t before = take().signature;

    const AXElement depth13 = ax.addChild(depth12, text(QStringLiteral("too deep")));
    const AXTreeSnapshot after = take();
    EXPECT_GT(ax.readCount(depth12), 0);
    EXPECT_EQ(ax.readCount(depth13), 0);
    EXPECT_EQ(after.message, QStringLiteral("deep"));
    // The entry is still taken: the number of entries feeds the signature.
    EXPECT_NE(after.signature, before);
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

TEST_F(AXTreeSnapshotTest, AnUnreadableRoleStillHasItsTextAndChildrenRead) {
    const AXElement w = window(group().value(QStringLiteral("Readable text")).child(banner()));
    ax.failAttribute(w, QStringLiteral("AXRole"), AXError::CannotComplete);
    const AXTreeSnapshot snapshot = take();
    EXPECT_EQ(snapshot.notificationCount, 1);
    EXPECT_EQ(snapshot.message, QStringLiteral("Readable text"));
}

TEST_F(AXTreeSnapshotTest, MessagePrefersTextsInsideNotificationsKeptAsRead) {
    window(group()
               .child(text(QStringLiteral("Outside text")))
               .child(banner().child(text(QStringLiteral("x"))).child(text(QStringLiteral("  Lunch at one?  ")))));
    EXPECT_EQ(take().message, QStringLiteral("  Lunch at one?  "));
}

TEST_F(AXTreeSnapshotTest, MessageFallsBackToOtherTextsAndSkipsNotificationWording) {
    window(group().child(text(QStringLiteral("Notification"))).child(text(QStringLiteral("Build finished"))));
    EXPECT_EQ(take().message, QStringLiteral("Build finished"));
}

TEST_F(AXTreeSnapshotTest, ARelativeTimeCanBeTheMessageButNeverTheAppName) {
    window(banner().child(text(QStringLiteral("5 minutes ago"))));
    const AXTreeSnapshot snapshot = take();
    EXPECT_EQ(snapshot.message, QStringLiteral("5 minutes ago"));
    EXPECT_FALSE(snapshot.appName.has_value());
}

TEST_F(AXTreeSnapshotTest, AppNameCandidatesSortByDepthThenLengthThenOrderFound) {
    window(banner().child(group().child(text(QStringLiteral("Zed")))).child(text(QStringLiteral("Longer Name"))));
    EXPECT_EQ(take().appName, QStringLiteral("Longer Name"));
    EXPECT_TRUE(
        logged(QStringLiteral("AXTreeSnapshot: Selected app name 'Longer Name' from 2 candidates (no running "
                              "app match)")));
}

TEST_F(AXTreeSnapshotTest, AppNameAtEqualDepthTakesTheShorterThenTheFirst) {
    window(banner().child(text(QStringLiteral("Telegram"))).child(text(QStringLiteral("Signal"))));
    EXPECT_EQ(take().appName, QStringLiteral("Signal"));
}

TEST_F(AXTreeSnapshotTest, AppNameOfEqualDepthAndLengthIsTheFirstFound) {
    window(banner().child(text(QStringLiteral("Bravo"))).child(text(QStringLiteral("Alpha"))));
    EXPECT_EQ(take().appName, QStringLiteral("Bravo"));
}

TEST_F(AXTreeSnapshotTest, AppNamePrefersARunningApplicationsName) {
    workspace.addApplication(10, QStringLiteral("com.example.slack"), QStringLiteral("Slack"));
    window(banner().child(text(QStringLiteral("Hello Ana"))).child(group().child(text(QStringLiteral("slack")))));
    EXPECT_EQ(take().appName, QStringLiteral("slack"));
    EXPECT_TRUE(logged(QStringLiteral("AXTreeSnapshot: Selected app name 'slack' from 2 candidates (exact match)")));

    workspace.addApplication(11, QStringLiteral("com.example.mailhelper"), QStringLiteral("Mail Helper"));
    window(banner().child(text(QStringLiteral("Mail"))));
    log.clear();
    EXPECT_EQ(take().appName, QStringLiteral("Mail"));
    EXPECT_TRUE(logged(QStringLiteral(
        "AXTreeSnapshot: Selected app name 'Mail' from 3 candidates (partial match with 'mail helper')")));
}

TEST_F(AXTreeSnapshotTest, BundleIdentifierNamesOrRenamesTheApplication) {
    workspace.addApplication(20, QStringLiteral("com.example.chat"), QStringLiteral("Chat"));
    const AXElement container = window(banner().child(group().identifier(QStringLiteral("com.example.chat"))));

    // No candidate: the running application's name.
    AXTreeSnapshot snapshot = take();
    EXPECT_EQ(snapshot.bundleId, QStringLiteral("com.example.chat"));
    EXPECT_EQ(snapshot.appName, QStringLiteral("Chat"));
    EXPECT_TRUE(logged(QStringLiteral("AXTreeSnapshot: Got app name 'Chat' from bundle ID 'com.example.chat'")));

    // A name that differs only in letter case stays as picked.
    const AXElement candidate = ax.addChild(container, text(QStringLiteral("CHAT")));
    EXPECT_EQ(take().appName, QStringLiteral("CHAT"));

    // Any other name is replaced.
    ax.setAttribute(candidate, QStringLiteral("AXValue"), QStringLiteral("Hello"));
    EXPECT_EQ(take().appName, QStringLiteral("Chat"));
    EXPECT_TRUE(
        logged(QStringLiteral("AXTreeSnapshot: App name mismatch - replacing 'Hello' with 'Chat' from bundle ID")));

    // An identifier of no running application leaves the name alone.
    workspace.applications.pop_back();
    EXPECT_EQ(take().appName, QStringLiteral("Hello"));
}

TEST_F(AXTreeSnapshotTest, IconComesFromTheFirstSuitableImageInsideANotification) {
    window(FakeAXNode(QStringLiteral("AXImage")).image(filled(32, 32)));  // outside: ignored
    window(banner()
               .child(FakeAXNode(QStringLiteral("AXButton")).image(filled(40, 20)))  // not square enough
               .child(FakeAXNode(QStringLiteral("AXImage")).image(filled(16, 16)))   // too small
               .child(FakeAXNode(QStringLiteral("AXImage")).image(filled(30, 24)))
               .child(FakeAXNode(QStringLiteral("AXImage")).image(filled(48, 48))));
    const AXTreeSnapshot snapshot = take();
    ASSERT_TRUE(snapshot.appIconData.has_value());
    EXPECT_EQ(QImage::fromData(*snapshot.appIconData).size(), QSize(30, 24));
}

TEST_F(AXTreeSnapshotTest, ADescribedAppIconMayHaveAnySize) {
    window(banner().child(
        FakeAXNode(QStringLiteral("AXImage")).description(QStringLiteral("App Icon")).image(filled(8, 3))));
    const AXTreeSnapshot snapshot = take();
    ASSERT_TRUE(snapshot.appIconData.has_value());
    EXPECT_EQ(QImage::fromData(*snapshot.appIconData).size(), QSize(8, 3));
}

TEST_F(AXTreeSnapshotTest, SignatureFollowsTheKeptContent) {
    const AXElement w = window(banner().child(text(QStringLiteral("First"))).child(text(QStringLiteral("x"))));
    const AXElement body = ax.childrenOf(w)[0];
    const AXElement noise = ax.childrenOf(w)[1];
    const int64_t first = take().signature;
    EXPECT_EQ(take().signature, first);

    // A text the filters drop is not content.
    ax.setAttribute(noise, QStringLiteral("AXValue"), QStringLiteral("y"));
    EXPECT_EQ(take().signature, first);

    ax.setAttribute(body, QStringLiteral("AXValue"), QStringLiteral("Second"));
    EXPECT_NE(take().signature, first);
}

}  // namespace
