#include "calendar_fixture.h"
#include "overlay/island_panel.h"
#include "overlay/island_queue.h"
#include "overlay/island_window_controller.h"
#include "settings_ui/general_settings_tab.h"
#include "support/fake_screens.h"

#include <QApplication>
#include <QPainter>
#include <QPushButton>

// The test buttons take the road of a detected notification: the real queue and the real overlay
// panel show what they send.
class GeneralOverlayEndToEndTest : public CalendarPermissionTest {
protected:
    GeneralOverlayEndToEndTest() {
        screens.screenList = {testsupport::notchedScreen(0, 0, 1512, 982, 32, 662, 662, 1)};
        calendarStore.status = platform::CalendarAuthorizationStatus::fullAccess;
    }

    // The panel as it stands on screen, over a dark desktop.
    void screenshot(const QString& name) {
        QApplication::sendPostedEvents();
        IslandPanel* panel = controller.window();
        QImage image(panel->size() + QSize(40, 40), QImage::Format_ARGB32);
        image.fill(QColor(60, 70, 90));
        QPainter painter(&image);
        painter.drawPixmap(20, 20, panel->grab());
        painter.end();
        testsupport::keep(image, name);
    }

    testsupport::FakeScreens screens;
    IslandQueue queue{bus, scheduler(), &defaults()};
    IslandWindowController controller{{}, bus, &screens, scheduler(), &defaults()};
};

TEST_F(GeneralOverlayEndToEndTest, EachTestButtonShowsItsNotificationInTheOverlay) {
    workspace.applicationPaths["com.apple.MobileSMS"] = "/Applications/Messages.app";
    workspace.fileIcons["/Applications/Messages.app"] = testsupport::solidIcon(QColor(52, 199, 89));
    GeneralSettingsTab tab(environment);
    tab.show();
    scheduler().drain();

    struct Step {
        const char* button;
        const char* screenshot;
        std::optional<QString> message;
        QString source;
    };
    const Step steps[] = {
        {"genericTestButton", "overlay-generic.png", QStringLiteral("This is a test notification from Quillvex"),
         QStringLiteral("TestApp")},
        {"messageTestButton", "overlay-message.png", QStringLiteral("Hey, are you free tonight?"),
         QStringLiteral("Messages")},
        {"faceTimeTestButton", "overlay-facetime.png", std::nullopt, QStringLiteral("FaceTime")},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.button);
        find<QPushButton>(&tab, step.button)->click();
        scheduler().advance(0.6);
        const OverlayState state = bus.overlayStateSubject.value();
        EXPECT_TRUE(state.isVisible);
        EXPECT_EQ(state.sourceHint, step.source);
        EXPECT_EQ(state.message, step.message);
        EXPECT_EQ(controller.activePresentation(), IslandWindowController::Presentation::overlay);
        EXPECT_TRUE(controller.window()->isVisible());
        screenshot(step.screenshot);
        // Gone after the display time, before the next one.
        scheduler().advance(5);
        EXPECT_FALSE(bus.overlayStateSubject.value().isVisible);
    }
}
