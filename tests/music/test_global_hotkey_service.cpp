// The media hotkeys with a scripted key monitor: the setting decides the monitor's life, the key
// rule, the failure road, and the skip reaching the now-playing service.

#include "fake_helper.h"
#include "music/global_hotkey_service.h"
#include "music/media_remote_service.h"
#include "scripted_players.h"
#include "support/fake_global_key_monitor.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

using platform::KeyEvent;
using platform::LogLevel;

namespace {

constexpr uint32_t kArrowFlags = platform::modifierNumericPad | platform::modifierFunction;
constexpr uint32_t kCommand = platform::modifierCommand;

class GlobalHotkeyServiceTest : public testsupport::QuillvexTest {
protected:
    GlobalHotkeyServiceTest() : bus(scheduler()) {
        auto bridge = std::make_unique<MediaRemoteBridge>(helper.launcher, scheduler(), QStringLiteral("/fake/helper"));
        nowPlaying = std::make_unique<MediaRemoteService>(bus, scheduler(), &defaults(), std::move(bridge),
                                                          PlayerScripts(&players, [](double) {},
                                                                        [](const QUrl&) { return std::nullopt; }));
        scheduler().drain();  // the helper's launch
        service = std::make_unique<GlobalHotkeyService>(&defaults(), scheduler(), &monitor, nowPlaying.get());
    }
    ~GlobalHotkeyServiceTest() override { service.reset(); }

    void setHotkeys(bool on) {
        defaults().set(AppSettings::enableMusicHotkeysKey, on);
        scheduler().drain();
    }

    EventBus bus;
    musictest::FakeHelper helper;
    musictest::ScriptedPlayers players;
    testsupport::FakeGlobalKeyMonitor monitor;
    std::unique_ptr<MediaRemoteService> nowPlaying;
    std::unique_ptr<GlobalHotkeyService> service;
};

}  // namespace

TEST(GlobalHotkeyRule, CommandAloneWithAnArrowSkips) {
    using Action = GlobalHotkeyService::Action;
    EXPECT_EQ(GlobalHotkeyService::actionFor({platform::keyCodeRightArrow, kCommand | kArrowFlags}), Action::nextTrack);
    EXPECT_EQ(GlobalHotkeyService::actionFor({platform::keyCodeLeftArrow, kCommand | kArrowFlags}), Action::previousTrack);
    EXPECT_EQ(GlobalHotkeyService::actionFor({platform::keyCodeRightArrow, kCommand}), Action::nextTrack);
    for (uint32_t extra : {platform::modifierShift, platform::modifierControl, platform::modifierOption}) {
        EXPECT_FALSE(GlobalHotkeyService::actionFor({platform::keyCodeRightArrow, kCommand | kArrowFlags | extra}));
        EXPECT_FALSE(GlobalHotkeyService::actionFor({platform::keyCodeLeftArrow, kCommand | extra}));
    }
    EXPECT_FALSE(GlobalHotkeyService::actionFor({platform::keyCodeRightArrow, kArrowFlags}));
    EXPECT_FALSE(GlobalHotkeyService::actionFor({platform::keyCodeUpArrow, kCommand | kArrowFlags}));
    EXPECT_FALSE(GlobalHotkeyService::actionFor({platform::keyCodeUnknown, kCommand}));
}

TEST_F(GlobalHotkeyServiceTest, SettingOffMeansNoMonitorUntilItIsTurnedOn) {
    service->start();
    EXPECT_TRUE(log.contains(LogLevel::Info, "GlobalHotkeyService: Started (enabled=false)"));
    EXPECT_EQ(monitor.addCalls, 0);
    EXPECT_FALSE(service->hasMonitor());

    setHotkeys(true);
    EXPECT_EQ(monitor.liveCount(), 1u);
    EXPECT_TRUE(log.contains(LogLevel::Debug, "GlobalHotkeyService: Installed global key monitor"));
    EXPECT_EQ(log.count("GlobalHotkeyService: Hotkeys enabled"), 1);

    // Other settings pass through without effect.
    defaults().set(AppSettings::showWeatherKey, false);
    setHotkeys(true);
    EXPECT_EQ(monitor.addCalls, 1);
    EXPECT_EQ(log.count("GlobalHotkeyService: Hotkeys enabled"), 1);

    setHotkeys(false);
    EXPECT_EQ(monitor.liveCount(), 0u);
    EXPECT_FALSE(service->hasMonitor());
    EXPECT_EQ(log.count("GlobalHotkeyService: Hotkeys disabled"), 1);
    defaults().set(AppSettings::showWeatherKey, true);
    scheduler().drain();
    EXPECT_EQ(monitor.removeCalls, 1);
    EXPECT_EQ(log.count("GlobalHotkeyService: Hotkeys disabled"), 1);
}

TEST_F(GlobalHotkeyServiceTest, StartWithTheSettingOnInstallsOneMonitorRetriesAFailureOnTheNextChangeAndStopRemovesIt) {
    monitor.available = false;
    defaults().set(AppSettings::enableMusicHotkeysKey, true);
    service->start();
    EXPECT_TRUE(log.contains(LogLevel::Info, "GlobalHotkeyService: Started (enabled=true)"));
    EXPECT_TRUE(log.contains(LogLevel::Warning, "GlobalHotkeyService: Failed to install global key monitor"));
    EXPECT_FALSE(log.contains("GlobalHotkeyService: Installed global key monitor"));
    EXPECT_FALSE(service->hasMonitor());

    monitor.available = true;
    defaults().set(AppSettings::showCalendarKey, false);
    scheduler().drain();
    EXPECT_EQ(monitor.liveCount(), 1u);
    EXPECT_EQ(log.count("GlobalHotkeyService: Hotkeys enabled"), 1);
    EXPECT_TRUE(log.contains(LogLevel::Debug, "GlobalHotkeyService: Installed global key monitor"));
    const int adds = monitor.addCalls;
    scheduler().drain();
    EXPECT_EQ(monitor.addCalls, adds);

    service->stop();
    EXPECT_EQ(monitor.liveCount(), 0u);
    EXPECT_FALSE(service->isObservingSettings());
    EXPECT_TRUE(log.contains(LogLevel::Info, "GlobalHotkeyService: Stopped"));
    // Stopped: settings are no longer followed.
    setHotkeys(false);
    setHotkeys(true);
    EXPECT_EQ(monitor.addCalls, adds);
}

TEST_F(GlobalHotkeyServiceTest, CommandArrowsSkipThroughTheNowPlayingService) {
    defaults().set(AppSettings::enableMusicHotkeysKey, true);
    service->start();

    // Nothing shown: the helper's player gets the command.
    monitor.press(platform::keyCodeRightArrow, kCommand | kArrowFlags);
    EXPECT_TRUE(log.contains(LogLevel::Debug, "GlobalHotkeyService: Cmd+Right -> Next track"));
    monitor.press(platform::keyCodeLeftArrow, kCommand | kArrowFlags);
    EXPECT_TRUE(log.contains(LogLevel::Debug, "GlobalHotkeyService: Cmd+Left -> Previous track"));
    EXPECT_EQ(helper.requests, (QList<QByteArray>{"cmd:4", "cmd:5"}));

    players.clear();
    log.clear();
    monitor.press(platform::keyCodeRightArrow, kCommand | kArrowFlags | platform::modifierShift);
    monitor.press(platform::keyCodeRightArrow, kCommand | kArrowFlags | platform::modifierControl);
    monitor.press(platform::keyCodeRightArrow, kCommand | kArrowFlags | platform::modifierOption);
    monitor.press(platform::keyCodeRightArrow, kArrowFlags);
    EXPECT_EQ(helper.requests.size(), 2);
    EXPECT_TRUE(log.matching("GlobalHotkeyService: Cmd").isEmpty());
}
