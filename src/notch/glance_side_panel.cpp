#include "notch/glance_side_panel.h"

#include "core/l10n.h"
#include "platform/dates/date_format.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

namespace {

const QColor systemBlue = QColor::fromRgbF(0.0f, 0.478f, 1.0f);
const QColor systemRed = QColor::fromRgbF(1.0f, 0.231f, 0.188f);

QColor toneBase(DayTone tone) {
    switch (tone) {
    case DayTone::regular: return QColor(Qt::white);
    case DayTone::saturday: return systemBlue;
    case DayTone::sundayOrHoliday: return systemRed;
    }
    return QColor(Qt::white);
}

QColor atOpacity(QColor color, double opacity) {
    color.setAlphaF(static_cast<float>(opacity));
    return color;
}

// Case- and diacritic-insensitive form of a title, for the holiday test.
QString folded(const QString& text) {
    const QString decomposed = text.normalized(QString::NormalizationForm_KD);
    QString result;
    result.reserve(decomposed.size());
    for (const QChar c : decomposed)
        if (c.category() != QChar::Mark_NonSpacing) result += c;
    return result.toCaseFolded();
}

bool isHolidayCalendar(const QString& calendarTitle) {
    static const QString markers[] = {QStringLiteral("祝日"), QStringLiteral("休日"), QStringLiteral("holidays"),
                                      QStringLiteral("holiday")};
    const QString title = folded(calendarTitle);
    return std::any_of(std::begin(markers), std::end(markers), [&](const QString& m) { return title.contains(m); });
}

QString dayKey(const QDate& day) { return day.toString(Qt::ISODate); }

double textHeight(const QFont& font, const QString& text, double width, int maxLines) {
    const QFontMetricsF metrics(font);
    const QRectF bounds = metrics.boundingRect(QRectF(0, 0, width, 1e6), Qt::TextWordWrap | Qt::AlignLeft, text);
    const double line = std::ceil(metrics.height());
    const int lines = std::clamp(static_cast<int>(std::lround(bounds.height() / metrics.height())), 1, maxLines);
    return line * lines;
}

}  // namespace

GlanceSidePanel::GlanceSidePanel(GlancePanelState& state, QDateTime now, QLocale locale, QTimeZone zone)
    : state_(state), now_(std::move(now)), locale_(std::move(locale)), zone_(zone.isValid() ? zone : QTimeZone::utc()) {}

QString GlanceSidePanel::temperatureText(double temperature) {
    // A reading no thermometer gives is shown as unknown rather than as a wrapped number.
    if (!std::isfinite(temperature) || std::abs(temperature) > 1e6) return QStringLiteral("--°");
    // Halves go away from zero; a rounded -0.4 prints as "0", never "-0".
    const long long rounded = std::llround(temperature);
    return QString::number(rounded) + QStringLiteral("°");
}

QDate GlanceSidePanel::dayOf(const QDateTime& moment) const { return moment.toTimeZone(zone_).date(); }
QDate GlanceSidePanel::today() const { return dayOf(now_); }
QDateTime GlanceSidePanel::startOfDay(const QDate& day) const { return day.startOfDay(zone_); }

QDateTime GlanceSidePanel::weekAnchorDate() const {
    const QDate anchor = today().addDays(static_cast<qint64>(state_.weekOffset) * 7);
    return anchor.isValid() ? startOfDay(anchor) : startOfDay(today());
}

std::vector<QDate> GlanceSidePanel::weekDates() const {
    const QDate anchor = dayOf(weekAnchorDate());
    std::vector<QDate> days;
    for (int offset = -2; offset <= 2; ++offset) {
        const QDate day = anchor.addDays(offset);
        if (day.isValid()) days.push_back(day);
    }
    return days;
}

QList<CalendarEvent> GlanceSidePanel::todaysEvents() const {
    const QDate selected = selectedDay();
    QList<CalendarEvent> result;
    for (const CalendarEvent& event : state_.events)
        if (event.startDate.isValid() && dayOf(event.startDate) == selected) result << event;
    return result;
}

DayTone GlanceSidePanel::dayTone(const QDate& day) const {
    for (const CalendarEvent& event : state_.events) {
        if (event.isAllDay && event.startDate.isValid() && dayOf(event.startDate) == day &&
            isHolidayCalendar(event.calendarTitle))
            return DayTone::sundayOrHoliday;
    }
    switch (weekdayNumber(day)) {
    case 1: return DayTone::sundayOrHoliday;
    case 7: return DayTone::saturday;
    default: return DayTone::regular;
    }
}

QColor GlanceSidePanel::weekdayForegroundColor(DayTone tone, bool isSelected, bool isToday) {
    double opacity;
    if (tone == DayTone::regular)
        opacity = isSelected ? (isToday ? 0.96 : 0.88) : (isToday ? 0.92 : 0.35);
    else
        opacity = (isSelected || isToday) ? 0.95 : 0.82;
    return atOpacity(toneBase(tone), opacity);
}

QColor GlanceSidePanel::dayNumberForegroundColor(DayTone tone, bool isSelected, bool isToday) {
    double opacity;
    if (tone == DayTone::regular)
        opacity = (isSelected || isToday) ? 1.0 : 0.75;
    else
        opacity = (isSelected || isToday) ? 0.98 : 0.86;
    return atOpacity(toneBase(tone), opacity);
}

QString GlanceSidePanel::dateText(const QDateTime& date, const QString& pattern, bool isTemplate) const {
    return isTemplate ? platform::DateFormat::formatTemplate(date, pattern, locale_, zone_)
                      : platform::DateFormat::formatPattern(date, pattern, locale_, zone_);
}

QString GlanceSidePanel::monthTitle() const {
    return dateText(state_.selectedDate, L10n::isJapanese() ? QStringLiteral("M") : QStringLiteral("MMM"), true);
}

QString GlanceSidePanel::weekdaySymbol(const QDate& day) const {
    return dateText(startOfDay(day), QStringLiteral("EEEEE"), true);
}

QString GlanceSidePanel::dayNumber(const QDate& day) const { return dateText(startOfDay(day), QStringLiteral("d"), true); }

QString GlanceSidePanel::scheduleSectionTitle() const {
    const bool japanese = L10n::isJapanese();
    if (selectedDay() == today()) return japanese ? QStringLiteral("今日") : QStringLiteral("Today");
    return dateText(state_.selectedDate, japanese ? QStringLiteral("Md(E)") : QStringLiteral("MMM d (E)"), true);
}

QString GlanceSidePanel::noEventsMessage() const {
    if (selectedDay() == today()) return L10n::pick(QStringLiteral("No events today"), QStringLiteral("今日の予定はありません"));
    return L10n::pick(QStringLiteral("No events for this day"), QStringLiteral("この日の予定はありません"));
}

QString GlanceSidePanel::scheduleText(const CalendarEvent& event) const {
    const QString when = event.isAllDay ? L10n::pick(QStringLiteral("All Day"), QStringLiteral("終日"))
                                        : dateText(event.startDate, QStringLiteral("HH:mm"), false);
    return when + QStringLiteral("  ") + event.title;
}

QString GlanceSidePanel::forecastHour(const QDateTime& hour) const { return dateText(hour, QStringLiteral("H:mm"), false); }

void GlanceSidePanel::moveWeek(int delta) {
    state_.weekOffset += delta;
    const QDate moved = selectedDay().addDays(static_cast<qint64>(delta) * 7);
    if (moved.isValid()) state_.selectedDate = startOfDay(moved);
}

void GlanceSidePanel::selectDay(const QDate& day) {
    if (day.isValid()) state_.selectedDate = startOfDay(day);
}

bool GlanceSidePanel::endStripDrag(double translationX) {
    if (!(std::abs(translationX) > swipeThreshold)) return false;
    moveWeek(translationX < 0 ? 1 : -1);
    return true;
}

GlancePanelLayout GlanceSidePanel::layout(const QSizeF& size, double chipOpacity) const {
    GlancePanelLayout out;
    layoutHeader(out, std::clamp(chipOpacity, 0.0, 1.0));
    double headerHeight = 0;
    for (const DrawItem& item : out.drawing.items) headerHeight = std::max(headerHeight, item.frame.bottom());
    headerHeight = std::max(headerHeight, out.hits.strip.bottom());

    const double top = headerHeight + 10;
    const double width = size.width();
    const double bottom = std::max(size.height(), top);
    if (state_.showCalendar) {
        const double columnWidth = state_.showWeather ? width - 10 - pairedWeatherWidth : width;
        layoutSchedule(out.drawing, QRectF(0, top, std::max(0.0, columnWidth), bottom - top));
    }
    if (state_.showWeather) {
        const double columnWidth = state_.showCalendar ? pairedWeatherWidth : glancePanelWidth;
        const double x = state_.showCalendar ? width - pairedWeatherWidth : 0;
        layoutWeather(out.drawing, QRectF(x, top, columnWidth, bottom - top));
    }
    return out;
}

void GlanceSidePanel::layoutHeader(GlancePanelLayout& out, double chipOpacity) const {
    const QFont titleFont = notchFont(24, QFont::Bold, true);
    const QString title = monthTitle();
    const double titleWidth = std::ceil(textWidth(titleFont, title));
    out.drawing.add(textItem(QStringLiteral("glance.month"), title, QRectF(0, 0, titleWidth, lineHeight(titleFont)),
                             titleFont, QColor(Qt::white)));

    const QFont weekdayFont = notchFont(8, QFont::Medium);
    const QFont numberFont = notchFont(15, QFont::DemiBold, true);
    const double chipWidth = 22;
    const double chipHeight = 3 + lineHeight(weekdayFont) + 2 + lineHeight(numberFont) + 3;
    const double stripX = titleWidth + 12;
    const std::vector<QDate> days = weekDates();
    const double stripWidth = days.empty() ? 0 : days.size() * chipWidth + (days.size() - 1) * 8.0;
    out.hits.strip = QRectF(stripX, 0, stripWidth, chipHeight);

    const QDate todayDay = today();
    const QDate selected = selectedDay();
    double x = stripX;
    for (const QDate& day : days) {
        const bool isToday = day == todayDay;
        const bool isSelected = day == selected;
        const DayTone tone = dayTone(day);
        const QString key = QStringLiteral("glance.chip.") + dayKey(day);
        const QRectF chip(x, 0, chipWidth, chipHeight);
        if (isSelected) {
            const double opacity = (tone != DayTone::regular || isToday) ? 0.18 : 0.14;
            out.drawing.add(shapeItem(DrawItem::Kind::fill, key + QStringLiteral(".background"), chip,
                                      atOpacity(toneBase(tone), opacity), chipWidth / 2));
        }
        if (isToday && !isSelected)
            out.drawing.add(shapeItem(DrawItem::Kind::stroke, key + QStringLiteral(".ring"), chip, whiteAt(0.24),
                                      chipWidth / 2, 1));
        const double weekdayTop = 3;
        const double numberTop = weekdayTop + lineHeight(weekdayFont) + 2;
        // Some locales write the day with a suffix ("12日"): such a number is set smaller to fit
        // the chip (with a little of the gap) rather than run into its neighbours.
        const QString number = dayNumber(day);
        QFont chipNumberFont = numberFont;
        const double natural = textWidth(numberFont, number);
        const double room = chipWidth + 6;
        if (natural > room)
            chipNumberFont.setPixelSize(std::max(1, static_cast<int>(numberFont.pixelSize() * room / natural)));
        const double numberWidth = std::max(chipWidth, std::ceil(textWidth(chipNumberFont, number)));
        out.drawing.add(textItem(key + QStringLiteral(".weekday"), weekdaySymbol(day),
                                 QRectF(x, weekdayTop, chipWidth, lineHeight(weekdayFont)), weekdayFont,
                                 weekdayForegroundColor(tone, isSelected, isToday), Qt::AlignCenter));
        out.drawing.add(textItem(key + QStringLiteral(".number"), number,
                                 QRectF(x + (chipWidth - numberWidth) / 2, numberTop, numberWidth, lineHeight(numberFont)),
                                 chipNumberFont, dayNumberForegroundColor(tone, isSelected, isToday), Qt::AlignCenter));
        for (auto it = out.drawing.items.rbegin(); it != out.drawing.items.rend() && it->key.startsWith(key); ++it)
            it->opacity = chipOpacity;
        out.hits.chips.push_back({day, chip});
        x += chipWidth + 8;
    }
}

double GlanceSidePanel::layoutSchedule(DrawList& out, const QRectF& column) const {
    const QFont titleFont = notchFont(10, QFont::Medium);
    double y = column.top();
    out.add(textItem(QStringLiteral("glance.schedule.title"), scheduleSectionTitle(),
                     QRectF(column.left(), y, column.width(), lineHeight(titleFont)), titleFont, whiteAt(0.45)));
    y += lineHeight(titleFont) + 6;

    const QFont rowFont = notchFont(12, QFont::Medium);
    const QList<CalendarEvent> events = todaysEvents();
    if (events.isEmpty()) {
        const QString message = noEventsMessage();
        const double height = textHeight(rowFont, message, column.width(), 2);
        out.add(textItem(QStringLiteral("glance.schedule.empty"), message, QRectF(column.left(), y, column.width(), height),
                         rowFont, whiteAt(0.75), Qt::AlignLeft | Qt::AlignTop, 2));
        return y + height;
    }
    const double rowHeight = std::max(6.0, lineHeight(rowFont));
    for (qsizetype i = 0; i < std::min<qsizetype>(events.size(), listedEventLimit); ++i) {
        const CalendarEvent& event = events[i];
        const QString key = QStringLiteral("glance.event.") + event.id;
        const auto& c = event.calendarColor;
        const QColor dot = QColor::fromRgbF(static_cast<float>(std::clamp(c.red, 0.0, 1.0)),
                                            static_cast<float>(std::clamp(c.green, 0.0, 1.0)),
                                            static_cast<float>(std::clamp(c.blue, 0.0, 1.0)), 1.0f);
        out.add(shapeItem(DrawItem::Kind::fill, key + QStringLiteral(".dot"),
                          QRectF(column.left(), y + (rowHeight - 6) / 2, 6, 6), dot, 3));
        out.add(textItem(key + QStringLiteral(".text"), scheduleText(event),
                         QRectF(column.left() + 12, y, std::max(0.0, column.width() - 12), rowHeight), rowFont,
                         whiteAt(0.86)));
        y += rowHeight + 5;
    }
    return y - 5;
}

void GlanceSidePanel::layoutWeather(DrawList& out, const QRectF& column) const {
    const QFont titleFont = notchFont(10, QFont::Medium);
    double y = column.top();
    out.add(textItem(QStringLiteral("glance.weather.title"), L10n::pick(QStringLiteral("Weather"), QStringLiteral("天気")),
                     QRectF(column.left(), y, column.width(), lineHeight(titleFont)), titleFont, whiteAt(0.45)));
    y += lineHeight(titleFont) + 6;
    const double inner = column.width() - 16;

    if (!state_.weatherInfo) {
        const QFont font = notchFont(9, QFont::Medium);
        const QString text = state_.weatherLocationUnavailable
                                 ? L10n::pick(QStringLiteral("Location unavailable"), QStringLiteral("現在地を取得できません"))
                                 : L10n::pick(QStringLiteral("Loading weather"), QStringLiteral("天気を取得中"));
        const double textH = textHeight(font, text, inner, 2);
        const double content = 18 + 6 + textH;
        const QRectF card(column.left(), y, column.width(), std::max(0.0, column.bottom() - y));
        out.add(shapeItem(DrawItem::Kind::fill, QStringLiteral("glance.weather.placeholder"), card, whiteAt(0.05), 10));
        double cy = card.center().y() - content / 2;
        out.add(symbolItem(QStringLiteral("glance.weather.placeholderIcon"), QStringLiteral("cloud.fill"),
                           QRectF(card.center().x() - 9, cy, 18, 18), whiteAt(0.34)));
        cy += 18 + 6;
        out.add(textItem(QStringLiteral("glance.weather.loading"), text, QRectF(card.left() + 8, cy, inner, textH), font,
                         whiteAt(0.34), Qt::AlignHCenter | Qt::AlignTop, 2));
        return;
    }

    const WeatherInfo& weather = *state_.weatherInfo;
    const QFont temperatureFont = notchFont(21, QFont::Light, true);
    const QFont descriptionFont = notchFont(9, QFont::Medium);
    const QFont hourFont = notchFont(7, QFont::Medium);
    const QFont hourTemperatureFont = notchFont(8, QFont::Medium, true);
    const double descriptionH = textHeight(descriptionFont, weather.conditionDescription, inner, 2);
    const bool hasForecast = !weather.hourlyForecast.isEmpty();
    const double hourRowH = lineHeight(hourFont) + 2 + 9 + 2 + lineHeight(hourTemperatureFont);
    double content = 18 + 6 + lineHeight(temperatureFont) + 6 + descriptionH;
    if (hasForecast) content += 6 + 1 + 6 + hourRowH;
    const double available = std::max(0.0, column.bottom() - y);
    const QRectF card(column.left(), y, column.width(), available);
    out.add(shapeItem(DrawItem::Kind::fill, QStringLiteral("glance.weather.card"), card, whiteAt(0.08), 10));

    if (content + 16 > available) {
        // Beside the player the column is far shorter than the full card: the symbol and the
        // temperature share one row, the condition gets one line below when it fits, and the
        // hours are left out rather than drawn outside the card.
        const double rowH = lineHeight(temperatureFont);
        const double oneLine = lineHeight(descriptionFont);
        const bool withDescription = 4 + rowH + 1 + oneLine + 4 <= available;
        const double compact = rowH + (withDescription ? 1 + oneLine : 0);
        double cy = card.center().y() - compact / 2;
        const QString temperature = temperatureText(weather.temperature);
        const double temperatureW = std::ceil(textWidth(temperatureFont, temperature));
        const double rowW = 18 + 6 + temperatureW;
        const double rowX = card.center().x() - rowW / 2;
        out.add(symbolItem(QStringLiteral("glance.weather.icon"), weather.iconName,
                           QRectF(rowX, cy + (rowH - 18) / 2, 18, 18), whiteAt(0.9)));
        out.add(textItem(QStringLiteral("glance.weather.temperature"), temperature,
                         QRectF(rowX + 24, cy, temperatureW, rowH), temperatureFont, QColor(Qt::white), Qt::AlignCenter));
        if (withDescription)
            out.add(textItem(QStringLiteral("glance.weather.description"), weather.conditionDescription,
                             QRectF(card.left() + 8, cy + rowH + 1, inner, oneLine), descriptionFont, whiteAt(0.58),
                             Qt::AlignCenter));
        return;
    }

    double cy = card.center().y() - content / 2;
    out.add(symbolItem(QStringLiteral("glance.weather.icon"), weather.iconName, QRectF(card.center().x() - 9, cy, 18, 18),
                       whiteAt(0.9)));
    cy += 18 + 6;
    out.add(textItem(QStringLiteral("glance.weather.temperature"), temperatureText(weather.temperature),
                     QRectF(card.left() + 8, cy, inner, lineHeight(temperatureFont)), temperatureFont,
                     QColor(Qt::white), Qt::AlignCenter));
    cy += lineHeight(temperatureFont) + 6;
    out.add(textItem(QStringLiteral("glance.weather.description"), weather.conditionDescription,
                     QRectF(card.left() + 8, cy, inner, descriptionH), descriptionFont, whiteAt(0.58),
                     Qt::AlignHCenter | Qt::AlignTop, 2));
    cy += descriptionH;
    if (!hasForecast) return;

    cy += 6;
    out.add(shapeItem(DrawItem::Kind::fill, QStringLiteral("glance.weather.divider"),
                      QRectF(card.left() + 8, cy, inner, 1), whiteAt(0.1), 0));
    cy += 1 + 6;
    const qsizetype count = std::min<qsizetype>(weather.hourlyForecast.size(), 3);
    const double cell = (inner - 4 * (count - 1)) / count;
    for (qsizetype i = 0; i < count; ++i) {
        const WeatherInfo::HourlyWeather& hour = weather.hourlyForecast[i];
        const QString key = QStringLiteral("glance.weather.hour%1").arg(i);
        const double x = card.left() + 8 + i * (cell + 4);
        double hy = cy;
        out.add(textItem(key + QStringLiteral(".time"), forecastHour(hour.hour), QRectF(x, hy, cell, lineHeight(hourFont)),
                         hourFont, whiteAt(0.45), Qt::AlignCenter));
        hy += lineHeight(hourFont) + 2;
        out.add(symbolItem(key + QStringLiteral(".icon"), hour.iconName, QRectF(x + cell / 2 - 4.5, hy, 9, 9),
                           whiteAt(0.72)));
        hy += 9 + 2;
        out.add(textItem(key + QStringLiteral(".temperature"), temperatureText(hour.temperature),
                         QRectF(x, hy, cell, lineHeight(hourTemperatureFont)), hourTemperatureFont, whiteAt(0.84),
                         Qt::AlignCenter));
    }
}
