#include "switcher/app_switcher_view.h"

#include "core/app_settings.h"
#include "support/fake_screens.h"
#include "support/fake_workspace.h"
#include "support/fixtures.h"
#include "support/golden_image.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QWheelEvent>

#include <gtest/gtest.h>

namespace {

using platform::RunningApplication;

RunningApplication entry(qint64 pid, std::optional<QString> name, std::optional<QIcon> icon,
                         std::optional<QString> id = std::nullopt) {
    RunningApplication a;
    a.processIdentifier = pid;
    a.bundleIdentifier = id ? id : std::optional(QStringLiteral("org.example.App%1").arg(pid));
    a.localizedName = std::move(name);
    a.icon = std::move(icon);
    return a;
}

class AppSwitcherViewTest : public testsupport::QuillvexTest {
protected:
    testsupport::FakeScreens screens;
    testsupport::FakeWorkspace workspace;
    EventBus bus{scheduler()};

    AppSwitcherViewTest() { screens.screenList = {testsupport::plainScreen(0, 0, 1512, 982)}; }

    SwitcherViewServices services() { return {bus, scheduler(), defaults(), screens, workspace}; }

    void send(AppSwitcherView& view, QEvent::Type type, QPointF at, Qt::MouseButton button = Qt::LeftButton) {
        QMouseEvent event(type, at, view.mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : button,
                          type == QEvent::MouseButtonPress ? button : Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &event);
    }
    void click(AppSwitcherView& view, QPointF at) {
        send(view, QEvent::MouseButtonPress, at);
        send(view, QEvent::MouseButtonRelease, at);
    }
    void publish(const QList<RunningApplication>& apps) {
        bus.recentAppsSubject.send(apps);
        scheduler().drain();
    }
};

TEST_F(AppSwitcherViewTest, CornerRadiusReadsTheSettingAndClampsIt) {
    EXPECT_EQ(AppSwitcherView::cornerRadius(defaults()), 16);
    for (auto [stored, expected] : {std::pair{0.0, 16.0}, {-3.0, 16.0}, {4.0, 8.0}, {30.0, 24.0}, {12.0, 12.0}}) {
        defaults().set(AppSettings::dynamicIslandCornerRadiusKey, stored);
        EXPECT_EQ(AppSwitcherView::cornerRadius(defaults()), expected) << stored;
    }
}

TEST_F(AppSwitcherViewTest, IconAndNameFallBackToTheSymbolAndUnknown) {
    AppSwitcherView view(nullptr, services());
    view.show();
    scheduler().drain();
    EXPECT_EQ(view.size(), QSize(400, 160));
    EXPECT_GOLDEN(QStringLiteral("empty"), view);
    publish({entry(1, QStringLiteral("Editor"), testsupport::solidIcon(Qt::red)), entry(2, std::nullopt, std::nullopt),
             entry(3, QStringLiteral("A very long application name"), testsupport::solidIcon(QColor(240, 160, 40), 32))});
    send(view, QEvent::MouseMove, view.itemFrame(2).center());
    scheduler().advance(2);
    EXPECT_GOLDEN(QStringLiteral("hovered"), view);
    const DrawList drawing = view.layout();
    const DrawItem* icon = drawing.find(QStringLiteral("switcher.item.0.icon"));
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->kind, DrawItem::Kind::image);
    EXPECT_EQ(icon->frame.size(), QSizeF(48, 48));
    EXPECT_EQ(drawing.find(QStringLiteral("switcher.item.0.name"))->text, QStringLiteral("Editor"));
    const DrawItem* symbol = drawing.find(QStringLiteral("switcher.item.1.icon"));
    ASSERT_TRUE(symbol);
    EXPECT_EQ(symbol->kind, DrawItem::Kind::symbol);
    EXPECT_EQ(symbol->symbol, QStringLiteral("app.fill"));
    EXPECT_NEAR(symbol->color.alphaF(), 0.5, 1e-3);
    EXPECT_EQ(drawing.find(QStringLiteral("switcher.item.1.name"))->text, QStringLiteral("Unknown"));
    // Items sit 60 wide, 14 apart, 20 in from the left.
    EXPECT_DOUBLE_EQ(view.itemFrame(0).left(), 20);
    EXPECT_DOUBLE_EQ(view.itemFrame(1).left(), 20 + 60 + 14);
}

TEST_F(AppSwitcherViewTest, SubscribesWhileShownAndKeepsTheLastListWhileHidden) {
    bus.recentAppsSubject.send({entry(1, QStringLiteral("A"), std::nullopt)});
    AppSwitcherView view(nullptr, services());
    EXPECT_FALSE(view.isSubscribed());
    view.show();
    scheduler().drain();
    EXPECT_EQ(view.recentApps().size(), 1);
    view.hide();
    EXPECT_FALSE(view.isSubscribed());
    publish({entry(1, QStringLiteral("A"), std::nullopt), entry(2, QStringLiteral("B"), std::nullopt)});
    EXPECT_EQ(view.recentApps().size(), 1);
    view.show();
    scheduler().drain();
    EXPECT_EQ(view.recentApps().size(), 2);
}

TEST_F(AppSwitcherViewTest, HoverEnlargesOneItemAndLeavingClearsIt) {
    AppSwitcherView view(nullptr, services());
    view.show();
    publish({entry(1, QStringLiteral("A"), std::nullopt), entry(2, QStringLiteral("B"), std::nullopt)});
    send(view, QEvent::MouseMove, view.itemFrame(1).center());
    EXPECT_EQ(view.hoveredPID(), 2);
    // A spring of a quarter second carries the item to its hovered look.
    scheduler().advance(0.05);
    EXPECT_GT(view.hoverProgress(2), 0.05);
    EXPECT_LT(view.hoverProgress(2), 0.9);
    scheduler().advance(2);
    DrawList drawing = view.layout();
    EXPECT_NEAR(drawing.find(QStringLiteral("switcher.item.1.icon"))->frame.width(), 32 * 1.12, 1e-9);
    EXPECT_EQ(drawing.find(QStringLiteral("switcher.item.0.icon"))->frame.width(), 32);
    EXPECT_NEAR(drawing.find(QStringLiteral("switcher.item.1.background"))->color.alphaF(), 0.1, 1e-3);
    EXPECT_EQ(drawing.find(QStringLiteral("switcher.item.0.background"))->color.alpha(), 0);
    EXPECT_EQ(drawing.find(QStringLiteral("switcher.item.1.background"))->frame,
              view.itemFrame(1).adjusted(-6, -6, 6, 6));
    send(view, QEvent::MouseMove, QPointF(view.itemFrame(1).right() + 7, view.itemFrame(1).center().y()));
    EXPECT_FALSE(view.hoveredPID());
    scheduler().advance(2);
    EXPECT_EQ(view.layout().find(QStringLiteral("switcher.item.1.icon"))->frame.width(), 32);
    send(view, QEvent::MouseMove, view.itemFrame(0).center());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&view, &leave);
    EXPECT_FALSE(view.hoveredPID());
}

TEST_F(AppSwitcherViewTest, ClickActivatesOnlyTheApplicationStillBehindTheEntry) {
    workspace.addApplication(1, QStringLiteral("org.example.App1"), QStringLiteral("A"));
    // Process 2 quit and its id now belongs to another program.
    workspace.addApplication(2, QStringLiteral("org.example.Other"), QStringLiteral("Other"));
    workspace.addApplication(4, std::nullopt, QStringLiteral("Other"));
    AppSwitcherView view(nullptr, services());
    view.show();
    publish({entry(1, QStringLiteral("A"), std::nullopt), entry(2, QStringLiteral("B"), std::nullopt),
             entry(3, QStringLiteral("Gone"), std::nullopt), entry(4, QStringLiteral("D"), std::nullopt, QString())});
    click(view, view.itemFrame(0).center());
    ASSERT_EQ(workspace.activations.size(), 1u);
    EXPECT_EQ(workspace.activations[0], std::make_pair(qint64(1), true));
    click(view, view.itemFrame(1).center());
    click(view, view.itemFrame(2).center());
    click(view, view.itemFrame(3).center());
    EXPECT_EQ(workspace.activations.size(), 1u);
    // A press that ends beside the item is no click.
    send(view, QEvent::MouseButtonPress, view.itemFrame(0).center());
    send(view, QEvent::MouseButtonRelease, QPointF(390, 150));
    EXPECT_EQ(workspace.activations.size(), 1u);
    // Nor over no item when the pressed one is the only one.
    publish({entry(1, QStringLiteral("A"), std::nullopt)});
    send(view, QEvent::MouseButtonPress, view.itemFrame(0).center());
    send(view, QEvent::MouseButtonRelease, QPointF(390, 150));
    EXPECT_EQ(workspace.activations.size(), 1u);
}

TEST_F(AppSwitcherViewTest, ManyItemsScrollSideways) {
    QList<RunningApplication> apps;
    for (qint64 pid = 1; pid <= 8; ++pid) apps << entry(pid, QStringLiteral("App %1").arg(pid), std::nullopt);
    AppSwitcherView view(nullptr, services());
    view.show();
    publish(apps);
    EXPECT_DOUBLE_EQ(view.contentWidth(), 40 + 8 * 60 + 7 * 14);
    QWheelEvent wheel(QPointF(200, 80), view.mapToGlobal(QPointF(200, 80)), QPoint(), QPoint(0, -2000), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&view, &wheel);
    EXPECT_DOUBLE_EQ(view.scrollOffset(), view.contentWidth() - 400);
    EXPECT_DOUBLE_EQ(view.itemFrame(7).right(), 400 - 20);
    // A shorter list pulls the row back into place.
    publish({apps[0]});
    EXPECT_EQ(view.scrollOffset(), 0);
}

}  // namespace
