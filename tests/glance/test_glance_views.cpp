#include "glance/glance_expanded_view.h"
#include "glance/weather_card_view.h"

#include "core/app_settings.h"
#include "core/l10n.h"
#include "support/fake_screens.h"
#include "support/fixtures.h"
#include "support/golden_image.h"

#include <QTimeZone>

namespace {

const QTimeZone tokyo("Asia/Tokyo");

QDateTime tokyoTime(int d, int h, int mi = 0) { return QDateTime(QDate(2027, 1, d), QTime(h, mi), tokyo); }

WeatherInfo weatherWith(int hours, double temperature = 21.5) {
    WeatherInfo weather{temperature, 2, QStringLiteral("Partly cloudy"), QStringLiteral("cloud.sun.fill"), {}};
    for (int i = 0; i < hours; ++i) {
        weather.hourlyForecast.append({QUuid::createUuid(), tokyoTime(15, 9 + i, i == 0 ? 5 : 0), 20.0 - i, 3,
                                       QStringLiteral("cloud.fill")});
    }
    return weather;
}

CalendarEvent event(const QString& id, const QString& title, QDateTime start, QDateTime end, bool allDay = false) {
    return CalendarEvent{id, title, QStringLiteral("Work"), std::move(start), std::move(end), allDay, {0.9, 0.3, 0.2}, {}};
}

class GlanceViewsTest : public testsupport::QuillvexTest {
protected:
    testsupport::FakeScreens screens;
    EventBus bus{scheduler()};

    GlanceViewsTest() { screens.screenList = {testsupport::plainScreen(0, 0, 1512, 982)}; }

    GlanceViewServices services() {
        return GlanceViewServices{bus, scheduler(), defaults(), screens, [] { return QLocale(QLocale::English); },
                                  [] { return tokyo; }};
    }
    // The panel on screen with the bus's values delivered.
    std::unique_ptr<GlanceExpandedView> shownPanel() {
        auto panel = std::make_unique<GlanceExpandedView>(nullptr, services());
        panel->show();
        scheduler().drain();
        return panel;
    }
};

TEST_F(GlanceViewsTest, CardRoundsHalvesAwayFromZeroWithoutMinusZero) {
    EXPECT_EQ(WeatherCardView::temperatureText(21.5), "22°");
    EXPECT_EQ(WeatherCardView::temperatureText(-0.4), "0°");
    EXPECT_EQ(WeatherCardView::temperatureText(-0.5), "-1°");
    EXPECT_EQ(WeatherCardView::temperatureText(-2.5), "-3°");
    EXPECT_EQ(WeatherCardView::hourText(tokyoTime(15, 9, 5), tokyo), "9:05");
    EXPECT_EQ(WeatherCardView::hourText(tokyoTime(15, 0), tokyo), "0:00");
}

TEST_F(GlanceViewsTest, CardShowsAtMostThreeHoursAndNoRowWithoutThem) {
    const DrawList none = WeatherCardView::layout(weatherWith(0), QSizeF(142, 176), tokyo);
    EXPECT_FALSE(none.has("weather.divider"));
    EXPECT_FALSE(none.has("weather.hour.0.time"));
    EXPECT_EQ(none.find("weather.temperature")->text, "22°");
    // The spacers share the free height: the block sits in the middle.
    const DrawItem* icon = none.find("weather.icon");
    const DrawItem* description = none.find("weather.description");
    EXPECT_NEAR(icon->frame.top() - 8, 176 - 8 - description->frame.bottom(), 1.0);
    EXPECT_EQ(description->maxLines, 1);

    const DrawList five = WeatherCardView::layout(weatherWith(5), QSizeF(142, 176), tokyo);
    EXPECT_TRUE(five.has("weather.divider"));
    EXPECT_TRUE(five.has("weather.hour.2.time"));
    EXPECT_FALSE(five.has("weather.hour.3.time"));
    EXPECT_EQ(five.find("weather.hour.0.time")->text, "9:05");
    EXPECT_EQ(five.find("weather.hour.1.temperature")->text, "19°");
    EXPECT_LE(five.find("weather.hour.0.temperature")->frame.bottom(), 176 - 8 - 2 + 0.01);
    // Equal shares of the row.
    EXPECT_DOUBLE_EQ(five.find("weather.hour.1.time")->frame.width(), (142 - 16) / 3.0);
}

TEST_F(GlanceViewsTest, CornerRadiusIsClampedAndMissingOrNonPositiveReadsSixteen) {
    EXPECT_EQ(GlanceExpandedView::cornerRadius(defaults()), 16);
    const std::vector<std::pair<double, double>> cases = {{30, 24}, {4, 8}, {0, 16}, {-3, 16}, {12.5, 12.5}, {24, 24}};
    for (const auto& [stored, used] : cases) {
        defaults().set(AppSettings::dynamicIslandCornerRadiusKey, stored);
        EXPECT_EQ(GlanceExpandedView::cornerRadius(defaults()), used) << stored;
    }
    defaults().set(AppSettings::dynamicIslandCornerRadiusKey, std::nan(""));
    EXPECT_EQ(GlanceExpandedView::cornerRadius(defaults()), 16);
}

TEST_F(GlanceViewsTest, TopPaddingFollowsTheNotch) {
    GlanceExpandedView plain(nullptr, services());
    EXPECT_EQ(GlanceExpandedView::topPadding(plain.notchInfo()), 8);
    EXPECT_EQ(plain.layout().surface.find("glance.events.title")->frame.top(), 8);
    screens.screenList = {testsupport::notchedScreen(0, 0, 1512, 982, 32, 650, 650),
                          testsupport::plainScreen(1512, 0, 1920, 1080)};
    EXPECT_EQ(GlanceExpandedView::topPadding(plain.notchInfo()), 36);
    EXPECT_EQ(plain.layout().surface.find("glance.events.title")->frame.top(), 36);

    // Every screen unplugged: no notch to clear, and the panel still lays out and draws its edge.
    screens.screenList.clear();
    EXPECT_FALSE(plain.notchInfo().hasSafeArea);
    EXPECT_EQ(GlanceExpandedView::topPadding(plain.notchInfo()), 8);
    EXPECT_EQ(plain.layout().surface.find("glance.events.title")->frame.top(), 8);
    EXPECT_FALSE(plain.drawnOutline().isEmpty());
}

TEST_F(GlanceViewsTest, EmptyStatesInBothLanguages) {
    auto panel = shownPanel();
    QStringList texts = panel->layout().surface.texts();
    EXPECT_TRUE(texts.contains("Events"));
    EXPECT_TRUE(texts.contains("No events"));
    EXPECT_TRUE(texts.contains("Loading..."));
    EXPECT_GOLDEN(QStringLiteral("panel-empty-en"), *panel, Qt::black);
    defaults().set(L10n::languageKey, QStringLiteral("ja"));
    texts = panel->layout().surface.texts();
    EXPECT_TRUE(texts.contains("予定"));
    EXPECT_TRUE(texts.contains("予定なし"));
    EXPECT_TRUE(texts.contains("取得中..."));

    // No location can come for the weather: said in place of the wait, until one comes.
    bus.weatherLocationUnavailableSubject.send(true);
    scheduler().drain();
    EXPECT_TRUE(panel->layout().surface.texts().contains("現在地を取得できません"));
    defaults().set(L10n::languageKey, QStringLiteral("en"));
    EXPECT_TRUE(panel->layout().surface.texts().contains("Location unavailable"));
    bus.weatherLocationUnavailableSubject.send(false);
    scheduler().drain();
    EXPECT_TRUE(panel->layout().surface.texts().contains("Loading..."));
}

TEST_F(GlanceViewsTest, ShowsWhatTheBusCarriesOnceOnScreen) {
    bus.calendarEventsSubject.send({event("a", "Standup", tokyoTime(15, 9), tokyoTime(15, 10, 30)),
                                    event("b", "Release night", tokyoTime(15, 23), tokyoTime(16, 1)),
                                    event("c", "Offsite", tokyoTime(15, 0), tokyoTime(18, 0), true),
                                    event("d", "Conference", tokyoTime(15, 8), tokyoTime(17, 18))});
    bus.weatherInfoSubject.send(weatherWith(3));
    GlanceExpandedView hidden(nullptr, services());
    scheduler().drain();
    EXPECT_TRUE(hidden.events().isEmpty());  // subscribes when it comes on screen

    auto panel = shownPanel();
    ASSERT_EQ(panel->events().size(), 4);
    const GlancePanelDrawing drawing = panel->layout();
    EXPECT_EQ(drawing.eventRows.find("glance.event.0.row.time")->text, "09:00 - 10:30");
    EXPECT_EQ(drawing.eventRows.find("glance.event.1.row.time")->text, "23:00 - 01:00");
    EXPECT_EQ(drawing.eventRows.find("glance.event.2.row.time")->text, "All Day");
    EXPECT_EQ(drawing.eventRows.find("glance.event.3.row.time")->text, "08:00 - 18:00");
    EXPECT_FALSE(drawing.eventRows.texts().contains("Work"));  // no calendar title
    EXPECT_TRUE(drawing.surface.has("weather.hour.2.time"));
    EXPECT_FALSE(drawing.surface.texts().contains("Loading..."));
    EXPECT_GOLDEN(QStringLiteral("panel-en"), *panel, Qt::black);

    defaults().set(L10n::languageKey, QStringLiteral("ja"));
    EXPECT_EQ(panel->layout().eventRows.find("glance.event.2.row.time")->text, "終日");
    bus.weatherInfoSubject.send(WeatherInfo{-0.4, 71, QStringLiteral("雪"), QStringLiteral("cloud.snow.fill"),
                                            weatherWith(3).hourlyForecast});
    scheduler().drain();
    EXPECT_EQ(panel->layout().surface.find("weather.temperature")->text, "0°");
    EXPECT_GOLDEN(QStringLiteral("panel-ja"), *panel, Qt::black);
    WeatherCardView card(*panel->weatherInfo());
    card.resize(142, 176);
    EXPECT_GOLDEN(QStringLiteral("card-ja"), card, Qt::black);
    defaults().set(L10n::languageKey, QStringLiteral("en"));
    WeatherCardView english(weatherWith(3));
    english.resize(142, 176);
    EXPECT_GOLDEN(QStringLiteral("card-en"), english, Qt::black);
}

TEST_F(GlanceViewsTest, SixtyEventsMakeSixtyRowsInAScrollableColumn) {
    QList<CalendarEvent> events;
    for (int i = 0; i < 60; ++i) {
        events.append(event(QString::number(i), QStringLiteral("A rather long meeting title number %1 that will not fit").arg(i),
                            tokyoTime(15, i % 24), tokyoTime(15, i % 24, 30)));
    }
    bus.calendarEventsSubject.send(events);
    auto panel = shownPanel();
    const GlancePanelDrawing drawing = panel->layout();
    EXPECT_TRUE(drawing.eventRows.has("glance.event.59.row.title"));
    EXPECT_EQ(drawing.eventRows.find("glance.event.0.row.title")->maxLines, 1);
    EXPECT_LE(drawing.eventsViewport.bottom(), 200 - 12);
    EXPECT_GT(drawing.eventsHeight, drawing.eventsViewport.height());

    // What is painted at an offset: the rows in sight, in their places.
    const GlancePanelDrawing top = panel->layout(0.0);
    EXPECT_TRUE(top.eventRows.has("glance.event.0.row.title"));
    EXPECT_FALSE(top.eventRows.has("glance.event.59.row.title"));
    EXPECT_EQ(top.eventsHeight, drawing.eventsHeight);

    panel->scrollBy(1e9);
    EXPECT_DOUBLE_EQ(panel->scrollOffset(), drawing.eventsHeight - drawing.eventsViewport.height());
    const GlancePanelDrawing bottom = panel->layout(panel->scrollOffset());
    EXPECT_FALSE(bottom.eventRows.has("glance.event.0.row.title"));
    EXPECT_EQ(bottom.eventRows.find("glance.event.59.row.title")->frame,
              drawing.eventRows.find("glance.event.59.row.title")->frame);
    EXPECT_GOLDEN(QStringLiteral("panel-60-scrolled-en"), *panel, Qt::black);
    panel->scrollBy(-1e9);
    EXPECT_EQ(panel->scrollOffset(), 0);
    EXPECT_GOLDEN(QStringLiteral("panel-60-en"), *panel, Qt::black);
}

}  // namespace
