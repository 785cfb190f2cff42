#include "app/desktop_notch_features.h"

#include "support/fake_calendar_store.h"
#include "support/fixtures.h"

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
}

}  // namespace
