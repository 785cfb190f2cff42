#include "app/desktop_notch_features.h"

#include "live_activities/air_drop_service.h"
#include "live_activities/screenshot_service.h"
#include "notch/notch_container_view.h"
#include "support/fake_calendar_store.h"
#include "support/fixtures.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace {

using platform::CalendarAuthorizationStatus;

TEST(DesktopNotchFeaturesTest, CalendarAccessIsTheStoresFullAccessOnly) {
    testsupport::FakeCalendarStore store;
    DesktopNotchFeatures features;
    EXPECT_TRUE(features.isCalendarAccessGranted());
    for (auto status : {CalendarAuthorizationStatus::notDetermined, CalendarAuthorizationStatus::restricted,
                        CalendarAuthorizationStatus::denied, CalendarAuthorizationStatus::writeOnly}) {
        store.status = status;
        EXPECT_FALSE(features.isCalendarAccessGranted());
    }
    // Read at every call: access granted later counts at the next start.
    store.status = CalendarAuthorizationStatus::fullAccess;
    EXPECT_TRUE(features.isCalendarAccessGranted());

    // Why the store is out of reach, as the store last found it.
    EXPECT_EQ(features.calendarStoreProblem(), std::nullopt);
    store.storeProblem = platform::CalendarStoreProblem::notInstalled;
    EXPECT_EQ(features.calendarStoreProblem(), platform::CalendarStoreProblem::notInstalled);
}

// Turning the notch features off ends the folder watches of the screenshot and download activities.
TEST(DesktopNotchFeaturesTest, StoppingEndsTheFolderWatchingActivities) {
    testsupport::FakeCalendarStore store;
    DesktopNotchFeatures features;
    ScreenshotService& screenshots = ScreenshotService::shared();
    AirDropService& downloads = AirDropService::shared();
    screenshots.start();
    downloads.start();
    ASSERT_TRUE(screenshots.isRunning());
    // The folder is resolved off the main thread, then watched on it.
    for (QDeadlineTimer deadline(20000); !screenshots.isWatching() && !deadline.hasExpired();)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    ASSERT_TRUE(screenshots.isWatching());
    ASSERT_TRUE(downloads.isRunning());
    features.stopAll();
    EXPECT_FALSE(screenshots.isRunning());
    EXPECT_FALSE(screenshots.isWatching());
    EXPECT_FALSE(downloads.isRunning());
}

// The container with the views the application installs: every child of fixed size stands centred
// under the notch, from the top of the 620-point panel.
TEST(DesktopNotchFeaturesTest, FixedSizeNotchViewsAreCentredInThePanel) {
    testsupport::ScopedVirtualScheduler clock;
    testsupport::ScopedMemoryDefaults memoryDefaults;
    DesktopNotchFeatures::installNotchContent();
    EventBus bus{clock.scheduler};
    NotchContainerView view(nullptr, bus, clock.scheduler);
    view.resize(620, 200);
    const struct {
        NotchMode mode;
        QSize size;
        const char* className;
    } cases[] = {{NotchMode::drop, {340, 180}, "DropZoneView"},
                 {NotchMode::glance, {380, 200}, "GlanceExpandedView"},
                 {NotchMode::switcher, {400, 160}, "AppSwitcherView"}};
    for (const auto& c : cases) {
        bus.notchModeSubject.send(c.mode);
        ASSERT_NE(view.contentView(), nullptr);
        EXPECT_STREQ(view.contentView()->metaObject()->className(), c.className);
        EXPECT_EQ(view.contentView()->geometry(), QRect(QPoint((620 - c.size.width()) / 2, 0), c.size))
            << c.mode.description().toStdString();
    }
}

}  // namespace
