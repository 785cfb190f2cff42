#include "core/records.h"
#include "core/l10n.h"
#include "support/fixtures.h"

#include <QImage>

#include <concepts>

namespace {

// Signals and overlay states are only forwarded; comparing them is a mistake the compiler catches.
static_assert(!std::equality_comparable<NotificationSignal>);
static_assert(!std::equality_comparable<OverlayState>);

class RecordsTest : public testsupport::QuillvexTest {};

NowPlayingInfo track() {
    return NowPlayingInfo{
        .title = QStringLiteral("Song"),
        .artist = QStringLiteral("Artist"),
        .album = QStringLiteral("Album"),
        .artwork = std::nullopt,
        .duration = 200.0,
        .elapsedTime = 10.0,
        .playbackRate = 1.0,
        .bundleIdentifier = QStringLiteral("com.example.player"),
    };
}

QImage filled(int w, int h, Qt::GlobalColor color) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

TEST_F(RecordsTest, NowPlayingIgnoresPositionAndLengthButNotRateOrTexts) {
    NowPlayingInfo later = track();
    later.elapsedTime = 95.0;
    later.duration = std::nullopt;
    EXPECT_EQ(track(), later);

    NowPlayingInfo paused = track();
    paused.playbackRate = 0;
    EXPECT_NE(track(), paused);

    NowPlayingInfo emptyTitle = track();
    emptyTitle.title = QString();
    NowPlayingInfo noTitle = track();
    noTitle.title = std::nullopt;
    EXPECT_NE(emptyTitle, noTitle);
}

TEST_F(RecordsTest, NowPlayingComparesArtworkByPresenceAndSizeOnly) {
    NowPlayingInfo red = track();
    red.artwork = filled(64, 64, Qt::red);
    NowPlayingInfo blue = track();
    blue.artwork = filled(64, 64, Qt::blue);
    EXPECT_EQ(red, blue);

    NowPlayingInfo bigger = track();
    bigger.artwork = filled(128, 64, Qt::red);
    EXPECT_NE(red, bigger);
    EXPECT_NE(red, track());
}

TEST_F(RecordsTest, NotchModeComparesCaseAndCarriedType) {
    EXPECT_EQ(NotchMode::liveActivity(LiveActivityType::charging), NotchMode::liveActivity(LiveActivityType::charging));
    EXPECT_NE(NotchMode::liveActivity(LiveActivityType::charging), NotchMode::idle);
    EXPECT_NE(NotchMode::liveActivity(LiveActivityType::charging), NotchMode::liveActivity(LiveActivityType::lowBattery));
    EXPECT_NE(NotchMode::glance, NotchMode::drop);
    EXPECT_EQ(NotchMode(), NotchMode::idle);

    EXPECT_EQ(NotchMode::idle.description(), QStringLiteral("idle"));
    EXPECT_EQ(NotchMode::miniPlayer.description(), QStringLiteral("miniPlayer"));
    EXPECT_EQ(NotchMode::liveActivity(LiveActivityType::volume).description(), QStringLiteral("liveActivity(volume)"));
    EXPECT_EQ(NotchMode::liveActivity(LiveActivityType::screenUnlock).activityType(), LiveActivityType::screenUnlock);
    EXPECT_FALSE(NotchMode::switcher.activityType());
}

TEST_F(RecordsTest, DisplayStateAndLyricsCompareFieldByField) {
    NowPlayingInfo moved = track();
    moved.elapsedTime = 120.0;
    NotchDisplayState a{.mode = NotchMode::miniPlayer, .isHovering = false, .nowPlaying = track(), .previousMode = std::nullopt};
    NotchDisplayState b = a;
    b.nowPlaying = moved;
    EXPECT_EQ(a, b);
    b.previousMode = NotchMode::idle;
    EXPECT_NE(a, b);

    LyricsInfo sung{.fullText = QStringLiteral("a\nb"), .lines = {QStringLiteral("a"), QStringLiteral("b")}, .currentLineIndex = 3};
    LyricsInfo none = sung;
    none.currentLineIndex = std::nullopt;
    EXPECT_NE(sung, none);
}

TEST_F(RecordsTest, SystemEventRecordsCompareEveryField) {
    EXPECT_EQ((BatteryInfo{50, true, true}), (BatteryInfo{50, true, true}));
    EXPECT_NE((BatteryInfo{50, true, true}), (BatteryInfo{50, true, false}));
    EXPECT_NE((VolumeInfo{0.5f, true}), (VolumeInfo{0.5f, false}));
    BluetoothDeviceInfo pods{QStringLiteral("Pods"), BluetoothDeviceCategory::airpods, 80};
    BluetoothDeviceInfo unknownBattery = pods;
    unknownBattery.batteryLevel = std::nullopt;
    EXPECT_NE(pods, unknownBattery);
    EXPECT_EQ(InputSourceInfo{}, (InputSourceInfo{QString(), QString()}));
}

TEST_F(RecordsTest, CalendarEventIgnoresEndAllDayColourAndLocation) {
    const QDateTime start = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
    CalendarEvent a{.id = QStringLiteral("e1"), .title = QStringLiteral("Standup"), .calendarTitle = QStringLiteral("Work"),
                    .startDate = start, .endDate = start.addSecs(900), .isAllDay = false,
                    .calendarColor = {1, 0, 0}, .location = std::nullopt};
    CalendarEvent b = a;
    b.endDate = start.addSecs(3600);
    b.isAllDay = true;
    b.calendarColor = {0, 0, 1};
    b.location = QStringLiteral("Room 4");
    EXPECT_EQ(a, b);
    b.startDate = start.addSecs(60);
    EXPECT_NE(a, b);
}

TEST_F(RecordsTest, HourlyWeatherComparesHourAndTemperatureOnly) {
    const QDateTime hour = QDateTime::fromSecsSinceEpoch(1'800'003'600, Qt::UTC);
    WeatherInfo::HourlyWeather first{QUuid::createUuid(), hour, 21.5, 1, QStringLiteral("sun.max")};
    WeatherInfo::HourlyWeather rebuilt{QUuid::createUuid(), hour, 21.5, 3, QStringLiteral("cloud")};
    EXPECT_EQ(first, rebuilt);
    WeatherInfo::HourlyWeather warmer = rebuilt;
    warmer.temperature = 22;
    EXPECT_NE(first, warmer);

    WeatherInfo before{20, 1, QStringLiteral("Clear"), QStringLiteral("sun.max"), {first}};
    WeatherInfo after{20, 1, QStringLiteral("Clear"), QStringLiteral("sun.max"), {rebuilt}};
    EXPECT_EQ(before, after);
    after.hourlyForecast.append(rebuilt);
    EXPECT_NE(before, after);
}

TEST_F(RecordsTest, RawTextsParseExactly) {
    EXPECT_EQ(fromRawValue<SignalConfidence>(QStringLiteral("strong")), SignalConfidence::strong);
    EXPECT_FALSE(fromRawValue<SignalConfidence>(QStringLiteral("Strong")));
    EXPECT_FALSE(fromRawValue<SignalConfidence>(QString()));

    EXPECT_EQ(fromRawValue<DropAction>(QStringLiteral("airdrop")), DropAction::airdrop);
    EXPECT_FALSE(fromRawValue<DropAction>(QStringLiteral("AirDrop")));
}

TEST_F(RecordsTest, DropActionTitlesFollowTheLanguage) {
    L10n::setSelectedLanguage(QStringLiteral("en"));
    EXPECT_EQ(title(DropAction::copyToFolder), QStringLiteral("Copy to Folder"));
    EXPECT_EQ(title(DropAction::airdrop), QStringLiteral("AirDrop"));
    L10n::setSelectedLanguage(QStringLiteral("ja"));
    EXPECT_EQ(title(DropAction::copyToFolder), QStringLiteral("フォルダにコピー"));
    EXPECT_EQ(title(DropAction::airdrop), QStringLiteral("AirDrop"));
}

}  // namespace
