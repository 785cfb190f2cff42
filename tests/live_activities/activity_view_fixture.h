#pragma once

// Shared by the activity views' tests: a screen with a simulated 200 x 32 notch, the views'
// environment on the virtual clock, and the top of that screen as the user sees it.

#include "core/event_bus.h"
#include "live_activities/live_activity_view.h"
#include "support/fake_screens.h"
#include "support/fixtures.h"

#include <QImage>
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

// The top of a screen with a simulated 200 x 32 notch and the activity hanging from it, at 2x.
inline QImage atTheNotch(QWidget& view) {
    const QPixmap activity = view.grab();
    const QSize screenTop(520, 80);
    QImage image(screenTop * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(QColor(0x2c, 0x2c, 0x2e));
    QPainter painter(&image);
    painter.fillRect(QRectF(0, 0, screenTop.width(), 24), QColor(0x4a, 0x4a, 0x4e));  // menu bar
    painter.fillRect(QRectF((screenTop.width() - 200) / 2.0, 0, 200, 32), Qt::black);  // the notch
    painter.drawPixmap(QPointF((screenTop.width() - activity.width() / activity.devicePixelRatio()) / 2.0, 0), activity);
    return image;
}

}  // namespace testsupport
