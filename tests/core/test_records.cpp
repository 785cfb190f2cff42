#include "core/records.h"
#include "core/l10n.h"
#include "support/fixtures.h"

#include <QImage>

#include <concepts>
#include <functional>
#include <vector>

namespace {

// Signals and overlay states are only forwarded; comparing them is a mistake the compiler catches.
static_assert(!std::equality_comparable<NotificationSignal>);
static_assert(!std::equality_comparable<OverlayState>);

class RecordsTest : public testsupport::QuillvexTest {};

NowPlayingInfo track() {
    return NowPlayingInfo{QStringLiteral("Song"), QStringLiteral("Artist"), QStringLiteral("Album"), std::nullopt,
                          200.0, 10.0, 1.0, QStringLiteral("com.example.player")};
}

QImage filled(int w, int h, Qt::GlobalColor color) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

TEST_F(RecordsTest, NowPlayingIgnoresPositionLengthAndArtworkPixels) {
    NowPlayingInfo later = track();
    later.elapsedTime = 95.0;
    later.duration = std::nullopt;
    EXPECT_EQ(track(), later);
    // ... and so does a display state that carries it.
    EXPECT_EQ((NotchDisplayState{NotchMode::miniPlayer, false, track(), std::nullopt}),
              (NotchDisplayState{NotchMode::miniPlayer, false, later, std::nullopt}));

    NowPlayingInfo paused = track();
    paused.playbackRate = 0;
    EXPECT_NE(track(), paused);
    NowPlayingInfo emptyTitle = track(), noTitle = track();
    emptyTitle.title = QString();
    noTitle.title.reset();
    EXPECT_NE(emptyTitle, noTitle);

    NowPlayingInfo red = track(), blue = track();
    red.artwork = filled(64, 64, Qt::red);
    blue.artwork = filled(64, 64, Qt::blue);
    EXPECT_EQ(red, blue);
    EXPECT_NE(red, track());
}

TEST_F(RecordsTest, NotchModeComparesCaseAndCarriedType) {
    EXPECT_NE(NotchMode::liveActivity(LiveActivityType::charging), NotchMode::liveActivity(LiveActivityType::lowBattery));
    EXPECT_EQ(NotchMode::liveActivity(LiveActivityType::volume).description(), QStringLiteral("liveActivity(volume)"));
}

TEST_F(RecordsTest, CalendarEventComparesEveryField) {
    const QDateTime start = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
    const CalendarEvent a{"e1", "Standup", "Work", start, start.addSecs(900), false, {1, 0, 0}, std::nullopt};
    EXPECT_EQ(a, a);
    const std::vector<std::function<void(CalendarEvent&)>> changes{
        [](CalendarEvent& e) { e.id = "e2"; },
        [](CalendarEvent& e) { e.title = "Retro"; },
        [](CalendarEvent& e) { e.calendarTitle = "Home"; },
        [&](CalendarEvent& e) { e.startDate = start.addSecs(60); },
        [&](CalendarEvent& e) { e.endDate = start.addSecs(3600); },
        [](CalendarEvent& e) { e.isAllDay = true; },
        [](CalendarEvent& e) { e.calendarColor.blue = 1; },
        [](CalendarEvent& e) { e.location = QStringLiteral("Room 4"); },
    };
    for (size_t i = 0; i < changes.size(); ++i) {
        CalendarEvent b = a;
        changes[i](b);
        EXPECT_NE(a, b) << "change " << i;
    }
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

TEST_F(RecordsTest, RawTextsParseExactlyAndTitlesFollowTheLanguage) {
    EXPECT_EQ(fromRawValue<SignalConfidence>(QStringLiteral("strong")), SignalConfidence::strong);
    EXPECT_FALSE(fromRawValue<SignalConfidence>(QStringLiteral("Strong")));
    EXPECT_FALSE(fromRawValue<SignalConfidence>(QString()));
    EXPECT_EQ(fromRawValue<DropAction>(QStringLiteral("airdrop")), DropAction::airdrop);
    EXPECT_FALSE(fromRawValue<DropAction>(QStringLiteral("AirDrop")));

    L10n::setSelectedLanguage(QStringLiteral("en"));
    EXPECT_EQ(title(DropAction::copyToFolder), QStringLiteral("Copy to Folder"));
    EXPECT_EQ(title(DropAction::airdrop), QStringLiteral("Bluetooth"));
    L10n::setSelectedLanguage(QStringLiteral("ja"));
    EXPECT_EQ(title(DropAction::copyToFolder), QStringLiteral("フォルダにコピー"));
    EXPECT_EQ(title(DropAction::airdrop), QStringLiteral("Bluetooth"));
}

}  // namespace
