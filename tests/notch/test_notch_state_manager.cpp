#include "core/app_settings.h"
#include "core/event_bus.h"
#include "notch/notch_state_manager.h"
#include "support/fixtures.h"

#include <QImage>

#include <memory>
#include <vector>

namespace {

NowPlayingInfo track(const QString& title, double rate, bool artwork) {
    NowPlayingInfo info;
    info.title = title;
    info.artist = QStringLiteral("Band");
    info.playbackRate = rate;
    if (artwork) info.artwork = QImage(4, 4, QImage::Format_ARGB32);
    return info;
}

OverlayState overlay(bool visible) {
    return OverlayState{visible, IslandMode::expanded, visible ? 1 : 0, QDateTime(), std::nullopt, std::nullopt,
                        std::nullopt, std::nullopt};
}

class NotchStateManagerTest : public testsupport::QuillvexTest {
protected:
    NotchStateManagerTest() {
        modeLog = bus.notchModeSubject.sink([this](const NotchMode& m) { modes.push_back(m); });
        dismissLog = bus.miniPlayerDismissSubject.sink([this] { dismissAt.push_back(scheduler().elapsed()); });
    }

    EventBus bus{scheduler()};
    std::unique_ptr<NotchStateManager> manager = std::make_unique<NotchStateManager>(bus, scheduler(), &defaults());
    std::vector<NotchMode> modes;
    std::vector<double> dismissAt;
    platform::AnyCancellable modeLog;
    platform::AnyCancellable dismissLog;

    NotchMode mode() const { return bus.notchModeSubject.value(); }
    void play(const QString& title, bool artwork = true) { bus.nowPlayingSubject.send(track(title, 1.0, artwork)); }
    void pause(const QString& title) { bus.nowPlayingSubject.send(track(title, 0.0, true)); }
    void advanceTo(double t) { scheduler().advance(t - scheduler().elapsed()); }
};

}  // namespace

TEST_F(NotchStateManagerTest, TrackKeyJoinsFourPartsWithEmptyForAbsent) {
    NowPlayingInfo info;
    info.title = QStringLiteral("Song");
    EXPECT_EQ(NotchStateManager::makeTrackKey(info), QStringLiteral("Song|||"));
    info.bundleIdentifier = QStringLiteral("org.mpris.mpv");
    info.album = QStringLiteral("LP");
    EXPECT_EQ(NotchStateManager::makeTrackKey(info), QStringLiteral("Song||LP|org.mpris.mpv"));
}

TEST_F(NotchStateManagerTest, MusicWithArtworkShowsMiniPlayerAtOnce) {
    play(QStringLiteral("Song"));
    EXPECT_EQ(mode(), NotchMode::miniPlayer);
    EXPECT_TRUE(log.contains(QStringLiteral("NotchStateManager: Switched to miniPlayer (music started with artwork)")));
    // No pending start is left behind to fire later.
    bus.notchModeSubject.send(NotchMode::idle);
    advanceTo(1.0);
    EXPECT_EQ(mode(), NotchMode::idle);
}

TEST_F(NotchStateManagerTest, MusicWithoutArtworkWaitsOnceForTheSameTrack) {
    play(QStringLiteral("Song"), false);
    advanceTo(0.3);
    EXPECT_EQ(mode(), NotchMode::idle);
    play(QStringLiteral("Song"), false);  // the same key keeps the first deadline
    advanceTo(0.36);
    EXPECT_EQ(mode(), NotchMode::miniPlayer);
    EXPECT_TRUE(log.contains(QStringLiteral("NotchStateManager: Switched to miniPlayer after artwork wait timeout")));
}

TEST_F(NotchStateManagerTest, ArtworkArrivingDuringTheWaitSwitchesAtOnceAndCancelsTheWait) {
    play(QStringLiteral("Song"), false);
    advanceTo(0.1);
    play(QStringLiteral("Song"), true);
    EXPECT_EQ(mode(), NotchMode::miniPlayer);
    bus.notchModeSubject.send(NotchMode::idle);
    advanceTo(1.0);
    EXPECT_EQ(mode(), NotchMode::idle);
    EXPECT_EQ(log.count(QStringLiteral("NotchStateManager: Switched to miniPlayer after artwork wait timeout")), 0);
}

TEST_F(NotchStateManagerTest, ANewTrackRestartsTheWaitAndHoverAtTheDeadlineBlocksIt) {
    play(QStringLiteral("One"), false);
    advanceTo(0.2);
    play(QStringLiteral("Two"), false);
    advanceTo(0.4);
    EXPECT_EQ(mode(), NotchMode::idle);  // the first track's deadline was cancelled
    bus.hoverStateSubject.send(true);
    advanceTo(0.6);
    EXPECT_EQ(mode(), NotchMode::idle);
}

TEST_F(NotchStateManagerTest, StoppedMusicDismissesInTwoPhasesFromTheFirstStop) {
    play(QStringLiteral("Song"));
    advanceTo(1.0);
    pause(QStringLiteral("Song"));
    advanceTo(2.0);
    bus.nowPlayingSubject.send(std::nullopt);  // a second stop does not push the deadline back
    advanceTo(2.49);
    EXPECT_TRUE(dismissAt.empty());
    advanceTo(2.5);
    ASSERT_EQ(dismissAt.size(), 1u);
    EXPECT_DOUBLE_EQ(dismissAt[0], 2.5);
    EXPECT_EQ(mode(), NotchMode::miniPlayer);
    advanceTo(2.8);
    EXPECT_EQ(mode(), NotchMode::idle);
    EXPECT_TRUE(log.contains(QStringLiteral("NotchStateManager: Switched to idle (music stopped, 2-phase dismiss)")));
}

TEST_F(NotchStateManagerTest, MusicResumingCancelsEitherPhaseOfTheDismiss) {
    play(QStringLiteral("Song"));
    pause(QStringLiteral("Song"));
    advanceTo(1.0);
    play(QStringLiteral("Song"));
    advanceTo(3.0);
    EXPECT_TRUE(dismissAt.empty());
    EXPECT_EQ(mode(), NotchMode::miniPlayer);

    pause(QStringLiteral("Song"));
    advanceTo(4.6);  // content dismissed at 4.5
    ASSERT_EQ(dismissAt.size(), 1u);
    play(QStringLiteral("Song"));
    advanceTo(6.0);
    EXPECT_EQ(mode(), NotchMode::miniPlayer);
}

TEST_F(NotchStateManagerTest, TheSecondPhaseLeavesAModeThatTookTheNotchMeanwhile) {
    play(QStringLiteral("Song"));
    pause(QStringLiteral("Song"));
    advanceTo(1.6);  // content dismissed at 1.5
    bus.notchModeSubject.send(NotchMode::expanded);
    advanceTo(2.0);
    EXPECT_EQ(mode(), NotchMode::expanded);
}

TEST_F(NotchStateManagerTest, TheFirstPhaseSendsNoDismissOnceTheMiniPlayerIsGone) {
    play(QStringLiteral("Song"));
    pause(QStringLiteral("Song"));
    advanceTo(1.0);
    bus.notchModeSubject.send(NotchMode::expanded);  // the pointer opened the notch meanwhile
    advanceTo(2.0);
    EXPECT_TRUE(dismissAt.empty());
    EXPECT_EQ(mode(), NotchMode::expanded);
}

TEST_F(NotchStateManagerTest, TheArtworkWaitEndsExactlyAfterItsDelay) {
    play(QStringLiteral("Song"), false);
    advanceTo(0.349);
    EXPECT_EQ(mode(), NotchMode::idle);
    advanceTo(0.35);
    EXPECT_EQ(mode(), NotchMode::miniPlayer);
}

TEST_F(NotchStateManagerTest, DisabledMiniPlayerKeepsIdle) {
    play(QStringLiteral("Song"));
    defaults().set(AppSettings::showMiniPlayerWhenPlayingKey, false);
    play(QStringLiteral("Other"));
    EXPECT_EQ(mode(), NotchMode::idle);
    EXPECT_TRUE(log.contains(QStringLiteral("NotchStateManager: Kept idle because mini player auto-show is disabled")));
    defaults().set(AppSettings::showMiniPlayerWhenPlayingKey, true);
    defaults().set(AppSettings::enableNotchFeaturesKey, false);
    play(QStringLiteral("Third"));
    EXPECT_EQ(mode(), NotchMode::idle);
}

TEST_F(NotchStateManagerTest, MusicIsIgnoredWhileHoveredLockedOrOccupied) {
    bus.hoverStateSubject.send(true);
    play(QStringLiteral("A"));
    EXPECT_EQ(mode(), NotchMode::idle);
    bus.hoverStateSubject.send(false);
    bus.screenLockedSubject.send(true);
    play(QStringLiteral("B"));
    EXPECT_EQ(mode(), NotchMode::idle);
    bus.screenLockedSubject.send(false);
    bus.notchModeSubject.send(NotchMode::liveActivity(LiveActivityType::volume));
    play(QStringLiteral("C"));
    EXPECT_EQ(mode(), NotchMode::liveActivity(LiveActivityType::volume));
}

TEST_F(NotchStateManagerTest, ElapsedTimeTicksDoNotReachTheRules) {
    play(QStringLiteral("Song"));
    bus.notchModeSubject.send(NotchMode::idle);
    NowPlayingInfo tick = track(QStringLiteral("Song"), 1.0, true);
    tick.elapsedTime = 12.0;
    bus.nowPlayingSubject.send(tick);
    EXPECT_EQ(mode(), NotchMode::idle);
}

TEST_F(NotchStateManagerTest, NotificationSavesTheModeAndReturnsByTheReturnRule) {
    bus.notchModeSubject.send(NotchMode::expanded);
    bus.hoverStateSubject.send(true);
    bus.overlayStateSubject.send(overlay(true));
    EXPECT_EQ(mode(), NotchMode::notification);
    EXPECT_TRUE(log.contains(QStringLiteral("NotchStateManager: Switched to notification (saved previous mode: expanded)")));
    EXPECT_EQ(bus.notchDisplayStateSubject.value().previousMode, NotchMode::expanded);
    bus.overlayStateSubject.send(overlay(true));  // stacking changes nothing
    EXPECT_EQ(log.matching(QStringLiteral("NotchStateManager: Switched to notification")).size(), 1);
    bus.overlayStateSubject.send(overlay(false));
    EXPECT_EQ(mode(), NotchMode::expanded);
    EXPECT_TRUE(log.contains(QStringLiteral("NotchStateManager: Returned from notification to expanded")));

    // A live activity is replaced and never returned to.
    bus.hoverStateSubject.send(false);
    bus.notchModeSubject.send(NotchMode::liveActivity(LiveActivityType::charging));
    bus.overlayStateSubject.send(overlay(true));
    EXPECT_TRUE(log.contains(
        QStringLiteral("NotchStateManager: Switched to notification (saved previous mode: liveActivity(charging))")));
    bus.overlayStateSubject.send(overlay(false));
    EXPECT_EQ(mode(), NotchMode::idle);
}

TEST_F(NotchStateManagerTest, MusicKeepsTheNotchFromNotifications) {
    play(QStringLiteral("Song"));
    bus.overlayStateSubject.send(overlay(true));
    EXPECT_EQ(mode(), NotchMode::miniPlayer);

    pause(QStringLiteral("Song"));  // a paused track keeps the mini player too
    bus.overlayStateSubject.send(overlay(true));
    EXPECT_EQ(mode(), NotchMode::miniPlayer);

    // A paused track in idle gives way.
    bus.notchModeSubject.send(NotchMode::idle);
    bus.overlayStateSubject.send(overlay(true));
    EXPECT_EQ(mode(), NotchMode::notification);
}

TEST_F(NotchStateManagerTest, ReturnModeNeedsArtworkForTheMiniPlayer) {
    bus.overlayStateSubject.send(overlay(true));
    // Music that starts during the notification is ignored by the music rules.
    bus.nowPlayingSubject.send(track(QStringLiteral("Song"), 1.0, false));
    bus.overlayStateSubject.send(overlay(false));
    EXPECT_EQ(mode(), NotchMode::idle);

    bus.nowPlayingSubject.send(std::nullopt);
    bus.overlayStateSubject.send(overlay(true));
    bus.nowPlayingSubject.send(track(QStringLiteral("Song"), 1.0, true));
    bus.overlayStateSubject.send(overlay(false));
    EXPECT_EQ(mode(), NotchMode::miniPlayer);
    EXPECT_TRUE(log.contains(QStringLiteral("NotchStateManager: Returned from notification to miniPlayer")));
}

TEST_F(NotchStateManagerTest, DropsOpenTheDropModeOnceWhenEnabled) {
    bus.notchModeSubject.send(NotchMode::miniPlayer);
    bus.dropEventSubject.send({QUrl::fromLocalFile(QStringLiteral("/tmp/a.png"))});
    EXPECT_EQ(mode(), NotchMode::drop);
    EXPECT_EQ(bus.notchDisplayStateSubject.value().previousMode, NotchMode::miniPlayer);
    bus.dropEventSubject.send({});
    EXPECT_EQ(log.count(QStringLiteral("NotchStateManager: Switched to drop mode")), 1);

    bus.notchModeSubject.send(NotchMode::idle);
    defaults().set(AppSettings::enableDropKey, false);
    bus.dropEventSubject.send({});
    EXPECT_EQ(mode(), NotchMode::idle);
}

TEST_F(NotchStateManagerTest, DisplayStateFollowsEveryChange) {
    bus.hoverStateSubject.send(true);
    const NotchDisplayState state = bus.notchDisplayStateSubject.value();
    EXPECT_TRUE(state.isHovering);
    EXPECT_EQ(state.mode, NotchMode::idle);
    EXPECT_EQ(state.previousMode, NotchMode::idle);
}
