#pragma once

#include "core/event_bus.h"
#include "core/l10n.h"
#include "notch/expanded_dismiss_handshake.h"
#include "notch/notch_view_services.h"
#include "support/fake_screens.h"
#include "support/fake_workspace.h"
#include "support/fixtures.h"
#include "support/log_capture.h"
#include "support/virtual_scheduler.h"
#include "fake_player_media.h"

#include <gtest/gtest.h>

namespace notchtest {

// Friday 2025-12-12, 12:00 in Tokyo.
inline platform::Scheduler::Clock::time_point fridayNoonInTokyo() {
    return platform::Scheduler::Clock::time_point(
        std::chrono::seconds(QDateTime::fromString("2025-12-12T03:00:00Z", Qt::ISODate).toSecsSinceEpoch()));
}

// Virtual time starting on a known Friday, in-memory defaults, a private bus, fake screens,
// workspace and now-playing service, and the days and texts of Tokyo in English unless a test
// changes them.
class NotchViewTest : public ::testing::Test {
protected:
    NotchViewTest() : previousScheduler_(platform::Scheduler::setShared(&scheduler)) {
        screens.screenList = {testsupport::plainScreen(0, 0, 1512, 982)};
    }
    ~NotchViewTest() override { platform::Scheduler::setShared(previousScheduler_); }

    NotchViewServices services() {
        return NotchViewServices{bus,   scheduler, defaults(), screens, workspace, media, handshake,
                                 [this] { return locale; }, [this] { return zone; }};
    }
    platform::Defaults& defaults() { return memoryDefaults.defaults; }
    void useJapanese() {
        defaults().set(L10n::languageKey, QStringLiteral("ja"));
        locale = QLocale(QLocale::Japanese, QLocale::Japan);
    }
    QDate day(int y, int m, int d) const { return QDate(y, m, d); }
    // A moment on `day` at `time` in the test's zone.
    QDateTime at(const QDate& day, const QTime& time = QTime(0, 0)) const { return QDateTime(day, time, zone); }

    platform::VirtualScheduler scheduler{fridayNoonInTokyo()};
    testsupport::ScopedMemoryDefaults memoryDefaults;
    testsupport::LogCapture log;
    EventBus bus{scheduler};
    testsupport::FakeScreens screens;
    testsupport::FakeWorkspace workspace;
    FakePlayerMedia media;
    ExpandedDismissHandshake handshake{bus, scheduler};
    QLocale locale{QLocale::English, QLocale::UnitedStates};
    QTimeZone zone{"Asia/Tokyo"};

private:
    platform::Scheduler* previousScheduler_;
};

}  // namespace notchtest
