#include "notch/expanded_notch_view.h"
#include "notch_view_fixture.h"

#include "core/app_settings.h"
#include "support/golden_image.h"

#include <QLinearGradient>
#include <QPainter>

using notchtest::NotchViewTest;

// The open surface in each state against its golden pictures.
class ExpandedScreenshots : public NotchViewTest {
protected:
    void SetUp() override {
        QImage artwork(200, 200, QImage::Format_ARGB32);
        QPainter painter(&artwork);
        QLinearGradient gradient(0, 0, 200, 200);
        gradient.setColorAt(0, QColor(230, 90, 60));
        gradient.setColorAt(1, QColor(60, 40, 160));
        painter.fillRect(artwork.rect(), gradient);
        painter.end();
        NowPlayingInfo info;
        info.title = QStringLiteral("Midnight Harbour Lights");
        info.artist = QStringLiteral("The Quiet Tides");
        info.album = QStringLiteral("Northern Coast");
        info.artwork = artwork;
        info.playbackRate = 1;
        info.bundleIdentifier = QStringLiteral("com.apple.Music");
        media.track = info;
        media.playing = true;

        auto event = [&](const QString& id, const QString& title, QTime time, bool allDay, QColor color) {
            CalendarEvent e;
            e.id = id;
            e.title = title;
            e.calendarTitle = QStringLiteral("Work");
            e.startDate = at(day(2025, 12, 12), time);
            e.isAllDay = allDay;
            e.calendarColor = {color.redF(), color.greenF(), color.blueF()};
            return e;
        };
        bus.calendarEventsSubject.send({event("1", "Design review", QTime(9, 30), false, QColor(80, 160, 255)),
                                        event("2", "Team lunch", QTime(12, 0), false, QColor(255, 160, 60)),
                                        event("3", "Retro", QTime(16, 0), false, QColor(120, 220, 120))});
        WeatherInfo weather;
        weather.temperature = 8.6;
        weather.conditionDescription = QStringLiteral("Partly cloudy");
        weather.iconName = QStringLiteral("cloud.sun.fill");
        for (int i = 0; i < 3; ++i)
            weather.hourlyForecast << WeatherInfo::HourlyWeather{QUuid::createUuid(),
                                                                 at(day(2025, 12, 12), QTime(13 + i, 0)), 9.0 - i, 2,
                                                                 QStringLiteral("cloud.fill")};
        bus.weatherInfoSubject.send(weather);
    }

    // The panel opened for `openFor` seconds over a grey desktop, compared with its golden.
    ::testing::AssertionResult shoot(const QString& name, double openFor = 2) {
        ExpandedNotchView view(nullptr, services());
        view.resize(620, 175);
        view.show();
        scheduler.drain();
        bus.lyricsSubject.send(LyricsInfo{QString(), {QStringLiteral("Lanterns on the water, drifting out to sea")}, 0});
        scheduler.advance(openFor);
        return testsupport::matchesGolden(QStringLiteral(QUILLVEX_GOLDEN_DIR), name, view, QColor(90, 90, 100));
    }
};

// With and without the glance panel, while opening, in both languages.
TEST_F(ExpandedScreenshots, WithAndWithoutThePanelInBothLanguages) {
    EXPECT_TRUE(shoot(QStringLiteral("expanded-panel-en")));
    EXPECT_TRUE(shoot(QStringLiteral("expanded-opening-en"), 0.2));
    defaults().set(AppSettings::enableGlanceKey, false);
    EXPECT_TRUE(shoot(QStringLiteral("expanded-nopanel-en")));
    useJapanese();
    EXPECT_TRUE(shoot(QStringLiteral("expanded-nopanel-ja")));
    defaults().set(AppSettings::enableGlanceKey, true);
    EXPECT_TRUE(shoot(QStringLiteral("expanded-panel-ja")));
}

// A desktop player with its own settings: shuffle on and one track repeated show in the accent
// colour, the repeat symbol with its "1".
TEST_F(ExpandedScreenshots, APlayersShuffleAndRepeatOneShowItsSettings) {
    media.track->bundleIdentifier = QStringLiteral("org.example.Tunes");
    media.playerShuffle = true;
    media.playerLoopStatus = QStringLiteral("Track");
    defaults().set(AppSettings::enableGlanceKey, false);
    EXPECT_TRUE(shoot(QStringLiteral("expanded-player-settings")));
}
