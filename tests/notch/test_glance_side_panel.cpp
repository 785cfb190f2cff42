#include "notch/glance_side_panel.h"
#include "notch_view_fixture.h"

#include "support/golden_image.h"

#include <QPainter>

#include <cmath>
#include <limits>

using notchtest::NotchViewTest;

namespace {

CalendarEvent event(const QString& id, const QString& title, const QDateTime& start, bool allDay = false,
                    const QString& calendar = QStringLiteral("Work")) {
    CalendarEvent e;
    e.id = id;
    e.title = title;
    e.calendarTitle = calendar;
    e.startDate = start;
    e.endDate = start.addSecs(3600);
    e.isAllDay = allDay;
    e.calendarColor = {0.2, 0.4, 0.8};
    return e;
}

}  // namespace

class GlanceSidePanelTest : public NotchViewTest {
protected:
    GlanceSidePanelTest() {
        state.selectedDate = at(day(2025, 12, 12));
    }
    GlanceSidePanel panel() { return GlanceSidePanel(state, QDateTime::fromSecsSinceEpoch(std::chrono::system_clock::to_time_t(scheduler.wallNow()), QTimeZone::utc()), locale, zone); }
    std::vector<QDate> strip() { return panel().weekDates(); }

    GlancePanelState state;
};

TEST_F(GlanceSidePanelTest, StripCentresOnTodayAndSwipesPastTheThresholdMoveByAWeek) {
    const std::vector<QDate> thisWeek{day(2025, 12, 10), day(2025, 12, 11), day(2025, 12, 12), day(2025, 12, 13),
                                      day(2025, 12, 14)};
    EXPECT_EQ(strip(), thisWeek);

    // 20 points, and exactly 28, do nothing in either direction.
    for (double dx : {-20.0, 20.0, -28.0, 28.0}) EXPECT_FALSE(panel().endStripDrag(dx));
    EXPECT_EQ(state.weekOffset, 0);
    EXPECT_EQ(panel().selectedDay(), day(2025, 12, 12));

    // A leftward 40-point swipe: next week, the selected day 7 days later, in the same place.
    EXPECT_TRUE(panel().endStripDrag(-40));
    EXPECT_EQ(state.weekOffset, 1);
    EXPECT_EQ(strip().front(), day(2025, 12, 17));
    EXPECT_EQ(panel().selectedDay(), day(2025, 12, 19));
    EXPECT_EQ(state.selectedDate, at(day(2025, 12, 19)));
    EXPECT_EQ(panel().weekAnchorDate(), at(day(2025, 12, 19)));

    // A tap selects without moving the strip; a rightward swipe then moves both back a week.
    panel().selectDay(day(2025, 12, 17));
    EXPECT_EQ(state.weekOffset, 1);
    EXPECT_TRUE(panel().endStripDrag(29));
    EXPECT_EQ(state.weekOffset, 0);
    EXPECT_EQ(panel().selectedDay(), day(2025, 12, 10));
    EXPECT_EQ(strip(), thisWeek);
}

TEST_F(GlanceSidePanelTest, WeekendsAndAllDayHolidaysColourTheDays) {
    EXPECT_EQ(GlanceSidePanel::weekdayNumber(day(2025, 12, 14)), 1);  // Sunday
    EXPECT_EQ(GlanceSidePanel::weekdayNumber(day(2025, 12, 13)), 7);  // Saturday
    EXPECT_EQ(GlanceSidePanel::weekdayNumber(day(2025, 12, 15)), 2);

    EXPECT_EQ(panel().dayTone(day(2025, 12, 12)), DayTone::regular);
    EXPECT_EQ(panel().dayTone(day(2025, 12, 13)), DayTone::saturday);
    EXPECT_EQ(panel().dayTone(day(2025, 12, 14)), DayTone::sundayOrHoliday);

    // A timed event in a holiday calendar does not count; an all-day one does, in any case and
    // with accents; one that started the day before does not colour the next day.
    state.events = {event("t", "Parade", at(day(2025, 12, 12), QTime(10, 0)), false, "US HOLIDAYS")};
    EXPECT_EQ(panel().dayTone(day(2025, 12, 12)), DayTone::regular);
    state.events << event("h", "Founders", at(day(2025, 12, 12)), true, "Hólidays in Ñowhere");
    EXPECT_EQ(panel().dayTone(day(2025, 12, 12)), DayTone::sundayOrHoliday);
    EXPECT_EQ(panel().dayTone(day(2025, 12, 13)), DayTone::saturday);
    state.events = {event("j", "天皇誕生日", at(day(2025, 12, 11)), true, "日本の祝日")};
    EXPECT_EQ(panel().dayTone(day(2025, 12, 11)), DayTone::sundayOrHoliday);
    state.events = {event("w", "Offsite", at(day(2025, 12, 11)), true, "Work")};
    EXPECT_EQ(panel().dayTone(day(2025, 12, 11)), DayTone::regular);

    // The chip colours of the table, at a few corners.
    EXPECT_NEAR(GlanceSidePanel::weekdayForegroundColor(DayTone::regular, true, true).alphaF(), 0.96, 1e-3);
    EXPECT_NEAR(GlanceSidePanel::weekdayForegroundColor(DayTone::regular, true, false).alphaF(), 0.88, 1e-3);
    EXPECT_NEAR(GlanceSidePanel::weekdayForegroundColor(DayTone::regular, false, false).alphaF(), 0.35, 1e-3);
    EXPECT_NEAR(GlanceSidePanel::dayNumberForegroundColor(DayTone::regular, false, false).alphaF(), 0.75, 1e-3);
    const QColor red = GlanceSidePanel::dayNumberForegroundColor(DayTone::sundayOrHoliday, false, false);
    EXPECT_GT(red.redF(), 0.9f);
    EXPECT_NEAR(red.alphaF(), 0.86, 1e-3);
    EXPECT_GT(GlanceSidePanel::weekdayForegroundColor(DayTone::saturday, false, true).blueF(), 0.9f);
}

TEST_F(GlanceSidePanelTest, ListsTheFirstTwoEventsThatStartOnTheSelectedDay) {
    state.events = {event("a", "Standup", at(day(2025, 12, 12), QTime(9, 30))),
                    event("y", "Yesterday", at(day(2025, 12, 11), QTime(23, 0))),
                    event("b", "Holiday", at(day(2025, 12, 12)), true),
                    event("c", "Review", at(day(2025, 12, 12), QTime(16, 0)))};
    const QList<CalendarEvent> listed = panel().todaysEvents();
    ASSERT_EQ(listed.size(), 3);
    EXPECT_EQ(listed[0].id, "a");
    EXPECT_EQ(panel().scheduleText(listed[0]), "09:30  Standup");
    EXPECT_EQ(panel().scheduleText(listed[1]), "All Day  Holiday");

    const GlancePanelLayout layout = panel().layout({276, 111});
    EXPECT_TRUE(layout.drawing.has("glance.event.a.text"));
    EXPECT_TRUE(layout.drawing.has("glance.event.b.text"));
    EXPECT_FALSE(layout.drawing.has("glance.event.c.text"));
    EXPECT_FALSE(layout.drawing.has("glance.event.y.text"));
    EXPECT_FALSE(layout.drawing.has("glance.schedule.empty"));
    EXPECT_EQ(layout.drawing.find("glance.event.a.dot")->color, QColor::fromRgbF(0.2f, 0.4f, 0.8f));
    EXPECT_EQ(layout.drawing.find("glance.schedule.title")->text, "Today");

    useJapanese();
    EXPECT_EQ(panel().scheduleText(listed[1]), "終日  Holiday");
    EXPECT_EQ(panel().scheduleSectionTitle(), "今日");
}

TEST_F(GlanceSidePanelTest, TitlesAndMessagesFollowTheSelectedDayAndLanguage) {
    EXPECT_EQ(panel().monthTitle(), "Dec");
    EXPECT_EQ(panel().noEventsMessage(), "No events today");
    panel().selectDay(day(2025, 12, 19));
    EXPECT_EQ(panel().scheduleSectionTitle(), "Fri, Dec 19");
    EXPECT_EQ(panel().noEventsMessage(), "No events for this day");
    const GlancePanelLayout layout = panel().layout({276, 111});
    EXPECT_EQ(layout.drawing.find("glance.schedule.empty")->text, "No events for this day");
    EXPECT_EQ(layout.drawing.find("glance.chip.2025-12-12.weekday")->text, "F");
    EXPECT_EQ(layout.drawing.find("glance.chip.2025-12-12.number")->text, "12");
    // Today keeps its ring while another day is selected; the selected day gets the capsule.
    EXPECT_TRUE(layout.drawing.has("glance.chip.2025-12-12.ring"));
    EXPECT_FALSE(layout.drawing.has("glance.chip.2025-12-12.background"));
    EXPECT_EQ(layout.hits.chips.size(), 5u);

    useJapanese();
    EXPECT_EQ(panel().monthTitle(), "12月");
    EXPECT_EQ(panel().scheduleSectionTitle(), "12/19(金)");
    EXPECT_EQ(panel().noEventsMessage(), "この日の予定はありません");
    panel().selectDay(day(2025, 12, 12));
    EXPECT_EQ(panel().noEventsMessage(), "今日の予定はありません");
    EXPECT_EQ(panel().weekdaySymbol(day(2025, 12, 13)), "土");
    // "12日" is set smaller so that it stays within its chip and the gap beside it.
    const DrawList japanese = panel().layout({276, 111}).drawing;
    const DrawItem* number = japanese.find("glance.chip.2025-12-12.number");
    EXPECT_EQ(number->text, "12日");
    EXPECT_LE(textWidth(number->font, number->text), 22 + 6);
    EXPECT_LT(number->font.pixelSize(), 15);
}

TEST_F(GlanceSidePanelTest, TemperaturesRoundHalvesAwayFromZeroWithoutNegativeZero) {
    EXPECT_EQ(GlanceSidePanel::temperatureText(-0.4), "0°");
    EXPECT_EQ(GlanceSidePanel::temperatureText(-0.5), "-1°");
    EXPECT_EQ(GlanceSidePanel::temperatureText(22.5), "23°");
    EXPECT_EQ(GlanceSidePanel::temperatureText(21.5), "22°");
    EXPECT_EQ(GlanceSidePanel::temperatureText(21.4), "21°");
    EXPECT_EQ(GlanceSidePanel::temperatureText(-0.0), "0°");
    EXPECT_EQ(GlanceSidePanel::temperatureText(std::numeric_limits<double>::quiet_NaN()), "--°");
    EXPECT_EQ(GlanceSidePanel::temperatureText(std::numeric_limits<double>::infinity()), "--°");
    EXPECT_EQ(GlanceSidePanel::temperatureText(1e300), "--°");
    EXPECT_EQ(GlanceSidePanel::temperatureText(-89.2), "-89°");
}

TEST_F(GlanceSidePanelTest, WeatherCardPlaceholderForecastAndColumnWidths) {
    DrawList drawing = panel().layout({276, 111}).drawing;
    EXPECT_TRUE(drawing.has("glance.weather.placeholder"));
    EXPECT_EQ(drawing.find("glance.weather.loading")->text, "Loading weather");
    EXPECT_EQ(drawing.find("glance.weather.placeholderIcon")->symbol, "cloud.fill");
    EXPECT_EQ(drawing.find("glance.weather.placeholder")->frame.width(), 124);
    EXPECT_EQ(drawing.find("glance.weather.placeholder")->frame.left(), 276 - 124);

    WeatherInfo weather;
    weather.temperature = -0.5;
    weather.conditionDescription = "Light snow";
    weather.iconName = "cloud.snow.fill";
    state.weatherInfo = weather;
    drawing = panel().layout({276, 250}).drawing;
    EXPECT_FALSE(drawing.has("glance.weather.placeholder"));
    EXPECT_EQ(drawing.find("glance.weather.temperature")->text, "-1°");
    EXPECT_EQ(drawing.find("glance.weather.icon")->symbol, "cloud.snow.fill");
    EXPECT_FALSE(drawing.has("glance.weather.divider"));
    EXPECT_FALSE(drawing.has("glance.weather.hour0.time"));

    for (int i = 0; i < 4; ++i)
        state.weatherInfo->hourlyForecast << WeatherInfo::HourlyWeather{QUuid::createUuid(),
                                                                        at(day(2025, 12, 12), QTime(13 + i, 0)),
                                                                        1.5 + i, 71, "cloud.snow.fill"};
    drawing = panel().layout({276, 250}).drawing;
    EXPECT_TRUE(drawing.has("glance.weather.divider"));
    EXPECT_EQ(drawing.find("glance.weather.hour0.time")->text, "13:00");
    EXPECT_EQ(drawing.find("glance.weather.hour2.temperature")->text, "4°");
    EXPECT_FALSE(drawing.has("glance.weather.hour3.time"));

    // Beside the player the card is short: symbol and temperature on one row, the condition
    // below, the hours left out, and nothing drawn outside the card.
    drawing = panel().layout({276, 111}).drawing;
    const QRectF card = drawing.find("glance.weather.card")->frame;
    EXPECT_EQ(card.bottom(), 111);
    EXPECT_FALSE(drawing.has("glance.weather.hour0.time"));
    EXPECT_EQ(drawing.find("glance.weather.description")->text, "Light snow");
    for (const QString key : {"glance.weather.icon", "glance.weather.temperature", "glance.weather.description"})
        EXPECT_TRUE(card.contains(drawing.find(key)->frame)) << key.toStdString();
    EXPECT_EQ(drawing.find("glance.weather.icon")->frame.center().y(),
              drawing.find("glance.weather.temperature")->frame.center().y());

    // The weather alone takes the panel's width; the schedule alone has no weather beside it.
    state.showCalendar = false;
    drawing = panel().layout({276, 250}).drawing;
    EXPECT_EQ(drawing.find("glance.weather.card")->frame, QRectF(0, drawing.find("glance.weather.card")->frame.top(), 276,
                                                                  drawing.find("glance.weather.card")->frame.height()));
    EXPECT_FALSE(drawing.has("glance.schedule.title"));
    state.showCalendar = true;
    state.showWeather = false;
    drawing = panel().layout({276, 111}).drawing;
    EXPECT_FALSE(drawing.has("glance.weather.title"));
    EXPECT_EQ(drawing.find("glance.schedule.title")->frame.width(), 276);

    useJapanese();
    state.showWeather = true;
    state.weatherInfo.reset();
    drawing = panel().layout({276, 111}).drawing;
    EXPECT_EQ(drawing.find("glance.weather.title")->text, "天気");
    EXPECT_EQ(drawing.find("glance.weather.loading")->text, "天気を取得中");
}

// The full card, as the glance shows it without the player: a condition too long for one line
// takes a second, and the hours follow below it.
TEST_F(GlanceSidePanelTest, AConditionTooLongForOneLineWrapsInTheFullCard) {
    WeatherInfo weather;
    weather.temperature = 12.4;
    weather.conditionDescription = "Patchy light rain with thunder";
    weather.iconName = "cloud.bolt.rain.fill";
    for (int i = 0; i < 3; ++i)
        weather.hourlyForecast << WeatherInfo::HourlyWeather{QUuid::createUuid(), at(day(2025, 12, 12), QTime(13 + i, 0)),
                                                             12.0 - i, 80, "cloud.rain.fill"};
    state.weatherInfo = weather;
    const DrawList drawing = panel().layout({276, 250}).drawing;
    // The card alone, so that a word more or less in the condition is a large part of the picture.
    const QRectF card = drawing.find("glance.weather.card")->frame;
    EXPECT_GOLDEN(QStringLiteral("glance-weather-long-condition"), card.size().toSize(), [&](QPainter& painter) {
        painter.fillRect(QRectF(QPointF(0, 0), card.size()), Qt::black);  // the notch's own colour
        painter.translate(-card.topLeft());
        drawing.paint(painter);
    });
}

// No location can come: the placeholder says so instead of waiting for ever, in both languages.
TEST_F(GlanceSidePanelTest, WithoutALocationThePlaceholderSaysItIsUnavailable) {
    state.weatherLocationUnavailable = true;
    DrawList drawing = panel().layout({276, 111}).drawing;
    EXPECT_EQ(drawing.find("glance.weather.loading")->text, "Location unavailable");
    EXPECT_TRUE(drawing.has("glance.weather.placeholder"));
    useJapanese();
    drawing = panel().layout({276, 111}).drawing;
    EXPECT_EQ(drawing.find("glance.weather.loading")->text, "現在地を取得できません");
    // A weather that came from the cache is shown as ever.
    state.weatherInfo = WeatherInfo{};
    EXPECT_FALSE(panel().layout({276, 111}).drawing.has("glance.weather.loading"));
}
