#include "notch/expanded_player_view.h"
#include "notch_view_fixture.h"

#include "core/app_settings.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <memory>

using notchtest::NotchViewTest;

class ExpandedPlayerViewTest : public NotchViewTest {
protected:
    // A shown player of the open surface's size (620 x 143), its subscriptions made.
    std::unique_ptr<ExpandedPlayerView> makeView() {
        auto view = std::make_unique<ExpandedPlayerView>(nullptr, services());
        view->resize(620, 143);
        view->show();
        scheduler.drain();
        return view;
    }
    static NowPlayingInfo track(std::optional<QString> album = QStringLiteral("Album"),
                                std::optional<QString> bundle = QStringLiteral("com.spotify.client")) {
        NowPlayingInfo info;
        info.title = QStringLiteral("Song");
        info.artist = QStringLiteral("Band");
        info.album = album;
        info.playbackRate = 1;
        info.bundleIdentifier = bundle;
        return info;
    }
    void sendLyrics(QStringList lines, std::optional<int> index) {
        bus.lyricsSubject.send(LyricsInfo{lines.join('\n'), lines, index});
        scheduler.drain();
    }
    static QString text(const ExpandedPlayerLayout& layout, const QString& key) {
        const DrawItem* item = layout.drawing.find(key);
        return item ? item->text : QStringLiteral("<none>");
    }
    void drag(QWidget& view, QPointF from, QPointF to) {
        QMouseEvent press(QEvent::MouseButtonPress, from, view.mapToGlobal(from), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, to, view.mapToGlobal(to), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &press);
        QCoreApplication::sendEvent(&view, &release);
    }
};

TEST_F(ExpandedPlayerViewTest, NoTrackShowsThePlaceholderAndTheColumnWidthFollowsThePanel) {
    auto view = makeView();
    ExpandedPlayerLayout layout = view->layout();
    EXPECT_EQ(text(layout, "player.title"), "Not Playing");
    EXPECT_EQ(text(layout, "player.artist"), "");
    EXPECT_FALSE(layout.drawing.has("player.album"));
    EXPECT_TRUE(layout.drawing.has("player.artwork.placeholder"));
    EXPECT_EQ(layout.drawing.find("player.artwork.symbol")->symbol, "music.note");
    EXPECT_EQ(layout.drawing.find("player.control.playPause")->symbol, "play.fill");
    EXPECT_EQ(layout.controls.size(), 5u);
    EXPECT_FALSE(layout.drawing.has("player.lyric"));

    // 16 + 80 + 14 + 14 + 1 + 14 + 276 + 16 = 431 fixed points of 620.
    EXPECT_EQ(layout.mainColumn.width(), 189);
    ASSERT_TRUE(layout.divider);
    EXPECT_EQ(layout.divider->left(), 16 + 80 + 14 + 189 + 14);
    EXPECT_EQ(layout.panel->left(), 620 - 16 - 276);

    // Any of the switches changes the row at once.
    defaults().set(AppSettings::enableGlanceKey, false);
    layout = view->layout();
    EXPECT_EQ(layout.mainColumn.width(), 494);
    EXPECT_FALSE(layout.divider);
    EXPECT_FALSE(layout.drawing.has("player.divider"));
    EXPECT_FALSE(layout.drawing.has("glance.month"));
    defaults().set(AppSettings::enableGlanceKey, true);
    defaults().set(AppSettings::showCalendarKey, false);
    EXPECT_TRUE(view->layout().divider);
    defaults().set(AppSettings::showWeatherKey, false);
    EXPECT_FALSE(view->shouldShowGlancePanel());
    EXPECT_EQ(view->layout().mainColumn.width(), 494);
}

TEST_F(ExpandedPlayerViewTest, TrackLinesAndTransportGoToTheService) {
    media.track = track(QString());
    media.playing = true;
    auto view = makeView();
    ExpandedPlayerLayout layout = view->layout();
    EXPECT_EQ(text(layout, "player.title"), "Song");
    EXPECT_EQ(text(layout, "player.artist"), "Band");
    EXPECT_FALSE(layout.drawing.has("player.album"));  // an empty album is no album
    EXPECT_EQ(layout.drawing.find("player.control.playPause")->symbol, "pause.fill");

    media.track = track("Album");
    media.track->title = QString();
    layout = view->layout();
    EXPECT_EQ(text(layout, "player.album"), "Album");
    EXPECT_EQ(text(layout, "player.title"), "");  // an empty title stays empty

    view->tapControl(PlayerControl::previous);
    view->tapControl(PlayerControl::playPause);
    view->tapControl(PlayerControl::next);
    EXPECT_EQ(media.commands, QStringList({"previousTrack", "togglePlayPause", "nextTrack"}));

    // A click lands on the button under the pointer.
    const QPointF next = layout.controls.at(PlayerControl::next).center();
    drag(*view, next, next);
    EXPECT_EQ(media.commands.last(), "nextTrack");
    EXPECT_EQ(media.commands.size(), 4);
    // The small symbols answer a little beyond their edges on every side, where the pointer is let go.
    const QRectF frame = layout.controls.at(PlayerControl::next);
    for (const QPointF end : {QPointF(frame.left() - 3.5, next.y()), QPointF(frame.right() + 3.5, next.y()),
                              QPointF(next.x(), frame.top() - 3.5), QPointF(next.x(), frame.bottom() + 3.5)})
        drag(*view, next, end);
    EXPECT_EQ(media.commands.size(), 8);
}

TEST_F(ExpandedPlayerViewTest, ShuffleAndRepeatBounceAndToggleWithoutTellingAnyPlayer) {
    auto view = makeView();
    view->tapControl(PlayerControl::shuffle);
    EXPECT_TRUE(view->isShuffleActive());
    EXPECT_EQ(view->shuffleScale().target(), 1.3);
    EXPECT_EQ(view->shuffleScale().lastAnimation()->animation, platform::Animation::spring(0.3, 0.5, 0));
    EXPECT_EQ(view->layout().drawing.find("player.control.shuffle")->color, view->palette().color(QPalette::Highlight));
    scheduler.advance(0.149);
    EXPECT_EQ(view->shuffleScale().target(), 1.3);
    scheduler.advance(0.002);
    EXPECT_EQ(view->shuffleScale().target(), 1.0);

    view->tapControl(PlayerControl::shuffle);
    EXPECT_FALSE(view->isShuffleActive());
    EXPECT_EQ(view->layout().drawing.find("player.control.shuffle")->color, whiteAt(0.6));
    view->tapControl(PlayerControl::repeat);
    EXPECT_TRUE(view->isRepeatActive());
    EXPECT_TRUE(media.commands.isEmpty());

    // The return still due after the view is gone changes nothing and does not crash.
    view.reset();
    scheduler.advance(1);
}

TEST_F(ExpandedPlayerViewTest, APlayerWithShuffleAndLoopSettingsIsAskedAndItsStateColoursTheButtons) {
    media.track = track("Album", "mpv");
    media.playerShuffle = true;
    media.playerLoopStatus = QStringLiteral("None");
    auto view = makeView();
    const QColor accent = view->palette().color(QPalette::Highlight);
    ExpandedPlayerLayout layout = view->layout();
    EXPECT_EQ(layout.drawing.find("player.control.shuffle")->color, accent);
    EXPECT_EQ(layout.drawing.find("player.control.repeat")->color, whiteAt(0.6));
    EXPECT_EQ(layout.drawing.find("player.control.repeat")->symbol, "repeat");

    // A press asks the player and bounces; the colour waits for the player's answer.
    view->tapControl(PlayerControl::shuffle);
    view->tapControl(PlayerControl::repeat);
    EXPECT_EQ(media.commands, QStringList({"toggleShuffle", "cycleLoopStatus"}));
    EXPECT_FALSE(view->isShuffleActive());
    EXPECT_EQ(view->shuffleScale().target(), 1.3);
    EXPECT_EQ(view->repeatScale().target(), 1.3);
    EXPECT_EQ(view->layout().drawing.find("player.control.shuffle")->color, accent);

    media.playerShuffle = false;
    media.playerLoopStatus = QStringLiteral("Track");
    layout = view->layout();
    EXPECT_EQ(layout.drawing.find("player.control.shuffle")->color, whiteAt(0.6));
    EXPECT_EQ(layout.drawing.find("player.control.repeat")->color, accent);
    EXPECT_EQ(layout.drawing.find("player.control.repeat")->symbol, "repeat.1");
    media.playerLoopStatus = QStringLiteral("Playlist");
    EXPECT_EQ(view->layout().drawing.find("player.control.repeat")->symbol, "repeat");
    EXPECT_EQ(view->layout().drawing.find("player.control.repeat")->color, accent);
}

TEST_F(ExpandedPlayerViewTest, BrowserTrackShowsItsSourceInsteadOfLyricsAndNoShuffleOrRepeat) {
    media.track = track("Album", "org.mozilla.firefox");
    media.browser = true;
    workspace.applicationPaths["org.mozilla.firefox"] = "/usr/share/applications/Firefox Web.desktop";
    workspace.fileIcons["/usr/share/applications/Firefox Web.desktop"] = testsupport::solidIcon(Qt::red);
    auto view = makeView();
    sendLyrics({"one", "two"}, 0);

    ExpandedPlayerLayout layout = view->layout();
    EXPECT_EQ(layout.controls.size(), 3u);
    EXPECT_FALSE(layout.drawing.has("player.control.shuffle"));
    EXPECT_FALSE(layout.drawing.has("player.lyric"));
    EXPECT_EQ(text(layout, "player.source.name"), "Firefox Web");
    EXPECT_TRUE(layout.drawing.has("player.source.icon"));

    // An identifier the workspace does not know: no icon, its last part as the name.
    media.track->bundleIdentifier = "com.example.player";
    layout = view->layout();
    EXPECT_FALSE(layout.drawing.has("player.source.icon"));
    EXPECT_EQ(text(layout, "player.source.name"), "player");
    media.track->bundleIdentifier.reset();
    EXPECT_FALSE(view->layout().drawing.has("player.source.name"));

    EXPECT_EQ(ExpandedPlayerView::appDisplayName("nodots", workspace), "nodots");
    EXPECT_EQ(ExpandedPlayerView::appDisplayName("", workspace), "");
    // A desktop entry that can be read names its application.
    QTemporaryDir entries;
    const QString entry = entries.path() + "/org.example.Tunes.desktop";
    ASSERT_TRUE(testsupport::writeFile(entry, "[Desktop Entry]\nType=Application\nName=Tunes\n"));
    workspace.applicationPaths["org.example.Tunes"] = entry;
    EXPECT_EQ(ExpandedPlayerView::appDisplayName("org.example.Tunes", workspace), "Tunes");
}

TEST_F(ExpandedPlayerViewTest, LyricLineFollowsTheCurrentIndexAndFadesOut) {
    auto view = makeView();
    bus.lyricsSubject.send(LyricsInfo{"a\nb", {"a", "b"}, 1});
    EXPECT_FALSE(view->currentLyric());  // received on the main run loop, not inside the send
    scheduler.drain();
    EXPECT_EQ(view->currentLyric(), "b");
    EXPECT_EQ(text(view->layout(), "player.lyric"), "b");
    EXPECT_EQ(view->lyricOpacity().target(), 1.0);
    EXPECT_EQ(view->lyricOpacity().lastAnimation()->animation, platform::Animation::easeInOut(0.3));

    for (std::optional<int> index : {std::optional<int>(2), std::optional<int>(-1), std::optional<int>()}) {
        sendLyrics({"a", "b"}, index);
        EXPECT_FALSE(view->currentLyric());
    }
    sendLyrics({"a", ""}, 1);
    EXPECT_EQ(view->currentLyric(), "");

    sendLyrics({"a", "b"}, 0);
    scheduler.advance(0.5);
    bus.lyricsSubject.send(std::nullopt);
    scheduler.drain();
    // The line fades out over 0.3 s, then takes no space.
    EXPECT_TRUE(view->layout().drawing.has("player.lyric"));
    EXPECT_EQ(view->lyricOpacity().target(), 0.0);
    scheduler.advance(0.31);
    EXPECT_FALSE(view->layout().drawing.has("player.lyric"));
}

TEST_F(ExpandedPlayerViewTest, GlanceValuesArriveWhileShownAndTheSelectedDayResetsOnEachShow) {
    CalendarEvent standup;
    standup.id = "s";
    standup.title = "Standup";
    standup.startDate = at(day(2025, 12, 12), QTime(9, 30));
    bus.calendarEventsSubject.send({standup});
    auto view = makeView();
    EXPECT_TRUE(view->isSubscribed());
    EXPECT_EQ(view->glanceSubscriptionCount(), 3u);
    EXPECT_EQ(view->glanceState().events.size(), 1);
    EXPECT_EQ(text(view->layout(), "glance.event.s.text"), "09:30  Standup");

    WeatherInfo weather;
    weather.temperature = 21.5;
    bus.weatherInfoSubject.send(weather);
    scheduler.drain();
    EXPECT_EQ(text(view->layout(), "glance.weather.temperature"), "22°");
    bus.weatherInfoSubject.send(std::nullopt);
    scheduler.drain();
    EXPECT_TRUE(view->layout().drawing.has("glance.weather.placeholder"));
    bus.weatherLocationUnavailableSubject.send(true);
    scheduler.drain();
    EXPECT_EQ(text(view->layout(), "glance.weather.loading"), "Location unavailable");

    // A swipe and a tap on the strip, through the pointer.
    const ExpandedPlayerLayout layout = view->layout();
    const QPointF middle = layout.panelHits.strip.center();
    drag(*view, middle, middle + QPointF(-20, 0));
    EXPECT_EQ(view->glanceState().weekOffset, 0);
    drag(*view, middle, middle + QPointF(-40, 0));
    EXPECT_EQ(view->glanceState().weekOffset, 1);
    // The new week's chips fade in with the swipe's spring.
    EXPECT_EQ(view->stripOpacity().lastAnimation()->animation, platform::Animation::spring(0.28, 0.9, 0));
    EXPECT_EQ(view->layout().drawing.find("glance.chip.2025-12-19.number")->opacity, 0);
    scheduler.advance(1);
    EXPECT_EQ(view->layout().drawing.find("glance.chip.2025-12-19.number")->opacity, 1);
    EXPECT_EQ(view->glanceState().selectedDate, at(day(2025, 12, 19)));
    const QPointF firstChip = view->layout().panelHits.chips.front().frame.center();
    drag(*view, firstChip, firstChip);
    EXPECT_EQ(view->glanceState().selectedDate, at(day(2025, 12, 17)));

    // Hidden: no more values; shown again: today is selected and the current values arrive.
    view->hide();
    EXPECT_FALSE(view->isSubscribed());
    EXPECT_EQ(view->glanceSubscriptionCount(), 0u);
    bus.calendarEventsSubject.send({});
    scheduler.drain();
    EXPECT_EQ(view->glanceState().events.size(), 1);
    view->show();
    scheduler.drain();
    EXPECT_EQ(view->glanceState().selectedDate, at(day(2025, 12, 12)));
    EXPECT_TRUE(view->glanceState().events.isEmpty());
}
