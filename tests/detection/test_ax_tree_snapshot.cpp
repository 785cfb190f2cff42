#include "detection/ax_tree_snapshot.h"

#include "support/fake_accessibility.h"
#include "support/fake_workspace.h"
#include "support/fixtures.h"

#include <QImage>

using platform::AXElement;
using platform::AXError;
using testsupport::FakeAXNode;

namespace {

constexpr int32_t kNotificationPid = 400;

FakeAXNode group(const QString& subrole = {}) {
    FakeAXNode node(QStringLiteral("AXGroup"));
    if (!subrole.isEmpty()) node.subrole(subrole);
    return node;
}
FakeAXNode banner() { return group(QStringLiteral("AXNotificationCenterBanner")); }
FakeAXNode text(const QString& value) { return FakeAXNode(QStringLiteral("AXStaticText")).value(value); }
// A chain of `levels` plain groups ending in `leaf`, so the leaf sits `levels` below the chain's top.
FakeAXNode nested(int levels, FakeAXNode leaf) {
    for (int i = 0; i < levels; ++i) leaf = group().child(std::move(leaf));
    return leaf;
}
QImage square(int w, int h) {
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

TEST_F(AXTreeSnapshotTest, CountsTheLargestListElseTheNotificationGroups) {
    FakeAXNode list(QStringLiteral("AXList"));
    for (int i = 0; i < 5; ++i) list.child(text(QStringLiteral("row %1").arg(i)));
    window(group().child(list).child(banner()).child(group().identifier(QStringLiteral("NotificationStack"))));
    EXPECT_EQ(take().notificationCount, 5);

    ax.addWindow(kNotificationPid, FakeAXNode(QStringLiteral("AXList")));  // a list without children
    auto second = ax.addWindow(kNotificationPid, group());
    ax.setAttribute(second, QStringLiteral("AXSubrole"), QStringLiteral("AXGroup"));
    AXTreeSnapshot withList = take();
    EXPECT_EQ(withList.notificationCount, 5);
}

TEST_F(AXTreeSnapshotTest, WithoutAListTheGroupsAreCountedAndAWindowlessProcessIsWalkedFromItsElement) {
    // No windows: the application element is the root.
    ax.addChild(app, banner());
    ax.addChild(app, group().identifier(QStringLiteral("notification-1")));
    ax.addChild(app, FakeAXNode(QStringLiteral("AXList")));  // empty list: count falls back to groups
    ax.addChild(app, group().subrole(QStringLiteral("AXBannerView")));  // not a notification group
    EXPECT_EQ(take().notificationCount, 2);
}

TEST_F(AXTreeSnapshotTest, AnElementBelowDepthTwelveIsCountedButNeverRead) {
    auto root = window(nested(11, text(QStringLiteral("deep"))));  // leaf at depth 11
    AXElement depth11 = root;
    for (int i = 0; i < 11; ++i) depth11 = ax.childrenOf(depth11).front();
    AXElement depth12 = ax.addChild(depth11, group());
    const int64_t before = take().signature;

    AXElement depth13 = ax.addChild(depth12, text(QStringLiteral("too deep")));
    const AXTreeSnapshot after = take();
    EXPECT_GT(ax.readCount(depth12), 0);
    EXPECT_EQ(ax.readCount(depth13), 0);
    EXPECT_EQ(after.message, QStringLiteral("deep"));
    // The entry still counts: the number of entries taken feeds the signature.
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
    int elementsRead = 0;
    for (const auto& row : ax.childrenOf(ax.childrenOf(app).empty() ? AXElement{} : AXElement{})) (void)row;
    // Every element taken at depth 12 or less is read at least once; count them by walking the fake.
    std::vector<AXElement> pending{AXElement(kNotificationPid, 1)};
    while (!pending.empty()) {
        AXElement e = pending.back();
        pending.pop_back();
        if (ax.readCount(e) > 0) ++elementsRead;
        for (const auto& c : ax.childrenOf(e)) pending.push_back(c);
    }
    EXPECT_EQ(elementsRead, AXTreeSnapshot::maxEntries);
}

TEST_F(AXTreeSnapshotTest, MessagePrefersTextsInsideNotificationsAndKeepsThemAsRead) {
    window(group()
               .child(text(QStringLiteral("Outside text")))
               .child(banner().child(text(QStringLiteral("  New message from Ana  ")))));
    EXPECT_EQ(take().message, QStringLiteral("  New message from Ana  "));

    workspace.applications.clear();
    workspace.addApplication(kNotificationPid, QStringLiteral("com.apple.notificationcenterui"), std::nullopt);
    ax = {};
}

}  // namespace
