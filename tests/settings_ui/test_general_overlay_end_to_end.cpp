#include "calendar_fixture.h"
#include "core/app_icon_helper.h"
#include "overlay/island_panel.h"
#include "overlay/island_queue.h"
#include "overlay/island_window_controller.h"
#include "settings_ui/general_settings_tab.h"
#include "support/fake_screens.h"
#include "support/golden_image.h"

#include <QPushButton>
#include <QTemporaryDir>

// The test buttons take the road of a detected notification: the real queue and the real overlay
// panel show what they send.
class GeneralOverlayEndToEndTest : public CalendarPermissionTest {
protected:
    GeneralOverlayEndToEndTest() : previousRoot(AppIconHelper::setRoot(noEntries.path())) {
        screens.screenList = {testsupport::notchedScreen(0, 0, 1512, 982, 32, 662, 662, 1)};
        calendarStore.status = platform::CalendarAuthorizationStatus::fullAccess;
    }
    ~GeneralOverlayEndToEndTest() override { AppIconHelper::setRoot(previousRoot); }

    // The pictures never depend on the desktop entries the machine has installed.
    QTemporaryDir noEntries;
    QString previousRoot;

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
        const char* golden;
        std::optional<QString> message;
        QString source;
    };
    const Step steps[] = {
        {"genericTestButton", "overlay-generic", QStringLiteral("This is a test notification from Quillvex"),
         QStringLiteral("TestApp")},
        {"messageTestButton", "overlay-message", QStringLiteral("Hey, are you free tonight?"),
         QStringLiteral("Messages")},
        {"faceTimeTestButton", "overlay-facetime", std::nullopt, QStringLiteral("FaceTime")},
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
        EXPECT_GOLDEN(QString::fromLatin1(step.golden), *controller.window(), QColor(60, 70, 90));  // a dark desktop
        // Gone after the display time, before the next one.
        scheduler().advance(5);
        EXPECT_FALSE(bus.overlayStateSubject.value().isVisible);
    }
}
