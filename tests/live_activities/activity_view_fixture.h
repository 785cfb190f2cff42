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

// Device-pixel rectangles of a grab of the band: the cell left of the notch, the notch gap and the
// cell right of it.
struct BandCells {
    explicit BandCells(const QImage& image) : ratio(image.devicePixelRatio()) {}
    int px(double points) const { return static_cast<int>(points * ratio); }
    QRect left() const { return {0, 0, px(48), px(32)}; }
    QRect gap() const { return {px(60), px(4), px(150), px(24)}; }
    QRect right() const { return {px(228), 0, px(48), px(32)}; }
    double ratio;
};

// Pixels in `rect` (device pixels) whose channels differ from `colour` by less than `tolerance` in sum.
inline int pixelsNear(const QImage& image, const QRect& rect, const QColor& colour, int tolerance = 60) {
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            n += std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
                         std::abs(c.blue() - colour.blue()) < tolerance ? 1 : 0;
        }
    return n;
}

// Pixels in `rect` brighter than `threshold`.
inline int brightPixels(const QImage& image, const QRect& rect, int threshold = 120) {
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x) n += qGray(image.pixel(x, y)) > threshold ? 1 : 0;
    return n;
}

}  // namespace testsupport
