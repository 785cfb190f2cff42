#pragma once

// Shared by the activity views' tests: a screen with a simulated 200 x 32 notch, the views'
// environment on the virtual clock, and the top of that screen as the user sees it.

#include "core/event_bus.h"
#include "live_activities/live_activity_view.h"
#include "support/fake_screens.h"
#include "support/fixtures.h"
#include "support/golden_image.h"

#include <QPainter>
#include <QWidget>

namespace testsupport {

class ActivityViewTest : public QuillvexTest {
protected:
    ActivityViewTest() {
        platform::ScreenInfo screen = plainScreen(0, 0, 1512, 982);
        platform::applySimulatedNotch(screen, QSizeF(200, 32));
        screens.screenList = {screen};
    }

    LiveActivityEnvironment environment() { return {&bus, &scheduler(), &defaults(), &screens}; }

    EventBus bus{scheduler()};
    FakeScreens screens;
};

// The top of a screen with a simulated 200 x 32 notch and the activity hanging from it, compared
// with the folder's golden pictures.
#define EXPECT_AT_THE_NOTCH(view, name) EXPECT_GOLDEN(QStringLiteral(name), QSize(520, 80), testsupport::atTheNotch(view))
inline PaintFunction atTheNotch(QWidget& view) {
    return [&view](QPainter& painter) {
        painter.fillRect(QRectF(0, 0, 520, 80), QColor(0x2c, 0x2c, 0x2e));
        painter.fillRect(QRectF(0, 0, 520, 24), QColor(0x4a, 0x4a, 0x4e));  // menu bar
        painter.fillRect(QRectF((520 - 200) / 2.0, 0, 200, 32), Qt::black);  // the notch
        view.render(&painter, QPoint((520 - view.width()) / 2, 0), QRegion(), QWidget::DrawChildren);
    };
}

// The symbol of most activities grows in with the shell's entrance and shrinks on a dismiss.
template <class View>
void expectSymbolPopsInAndOut(View& view, EventBus& bus, platform::VirtualScheduler& scheduler) {
    EXPECT_EQ(view.viewModel().iconScale, 0.5);
    view.show();
    scheduler.advance(0.2);  // the shell's appear delay
    ASSERT_TRUE(view.iconScale().lastAnimation());
    EXPECT_EQ(view.iconScale().lastAnimation()->animation, platform::Animation::spring(0.4, 0.6, 0));
    EXPECT_EQ(view.iconScale().target(), 1.0);
    scheduler.advance(2.0);
    EXPECT_NEAR(view.viewModel().iconScale, 1.0, 1e-3);
    bus.liveActivityDismissSubject.send();
    EXPECT_EQ(view.iconScale().lastAnimation()->animation, platform::Animation::spring(0.35, 0.65, 0));
    EXPECT_EQ(view.iconScale().target(), 0.5);
}

}  // namespace testsupport
