#pragma once

// The calendar and weather panel beside the expanded player: a month title with a five-day strip
// that taps select and swipes move by a week, the selected day's first two events, and a weather
// card. It owns no state: it reads and writes the player's, and computes everything from it at
// each use.

#include "core/glance_records.h"
#include "notch/notch_drawing.h"

#include <QColor>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QRectF>
#include <QString>
#include <QTimeZone>

#include <optional>
#include <vector>

enum class DayTone { regular, saturday, sundayOrHoliday };

// The player's state that the panel reads and writes.
struct GlancePanelState {
    QList<CalendarEvent> events;  // every event received, in the order received
    std::optional<WeatherInfo> weatherInfo;
    bool weatherLocationUnavailable = false;  // no weather can come: no location for it
    int weekOffset = 0;      // whole weeks between the strip's centre and today
    QDateTime selectedDate;  // start of the day whose events are listed
    bool showCalendar = true;
    bool showWeather = true;
};

// Where the panel can be touched, in panel coordinates.
struct GlancePanelHitAreas {
    QRectF strip;  // takes every hit and carries the swipe
    struct Chip {
        QDate day;
        QRectF frame;
    };
    std::vector<Chip> chips;
};

struct GlancePanelLayout {
    DrawList drawing;
    GlancePanelHitAreas hits;
};

class GlanceSidePanel {
public:
    static constexpr double glancePanelWidth = 276;
    static constexpr double pairedWeatherWidth = 124;
    static constexpr double swipeMinimumDistance = 16;
    static constexpr double swipeThreshold = 28;
    static constexpr int listedEventLimit = 2;

    // `now` decides what today is; days are those of `zone`, texts those of `locale`.
    GlanceSidePanel(GlancePanelState& state, QDateTime now, QLocale locale = QLocale::system(),
                    QTimeZone zone = QTimeZone::systemTimeZone());

    // The weekday numbering of the calendar: 1 is Sunday, 7 is Saturday.
    static int weekdayNumber(const QDate& day) { return day.dayOfWeek() % 7 + 1; }
    // A temperature rounded to whole degrees, halves away from zero, with "°"; never "-0°".
    static QString temperatureText(double temperature);

    QDate today() const;
    QDateTime startOfDay(const QDate& day) const;
    QDate dayOf(const QDateTime& moment) const;
    QDate selectedDay() const { return dayOf(state_.selectedDate); }

    QDateTime weekAnchorDate() const;
    std::vector<QDate> weekDates() const;
    QList<CalendarEvent> todaysEvents() const;
    DayTone dayTone(const QDate& day) const;
    static QColor weekdayForegroundColor(DayTone tone, bool isSelected, bool isToday);
    static QColor dayNumberForegroundColor(DayTone tone, bool isSelected, bool isToday);

    QString monthTitle() const;
    QString weekdaySymbol(const QDate& day) const;
    QString dayNumber(const QDate& day) const;
    QString scheduleSectionTitle() const;
    QString noEventsMessage() const;
    QString scheduleText(const CalendarEvent& event) const;
    QString forecastHour(const QDateTime& hour) const;

    // Actions.
    void moveWeek(int delta);
    void selectDay(const QDate& day);
    // The end of a drag over the strip with this horizontal translation: a swipe past the
    // threshold moves the week (leftward +1, rightward -1). Whether the week moved.
    bool endStripDrag(double translationX);

    // The panel drawn at `size` (width normally glancePanelWidth), in panel coordinates, its day
    // chips at `chipOpacity` (a moved week fades in).
    GlancePanelLayout layout(const QSizeF& size, double chipOpacity = 1) const;

private:
    QString dateText(const QDateTime& date, const QString& pattern, bool isTemplate) const;
    void layoutHeader(GlancePanelLayout& out, double chipOpacity) const;
    double layoutSchedule(DrawList& out, const QRectF& column) const;
    void layoutWeather(DrawList& out, const QRectF& column) const;

    GlancePanelState& state_;
    QDateTime now_;
    QLocale locale_;
    QTimeZone zone_;
};
