#include "glance/weather_card_view.h"

#include "notch/glance_side_panel.h"
#include "platform/dates/date_format.h"

#include <QPainter>

#include <algorithm>

namespace {

constexpr double spacing = 6;
constexpr double padding = 8;
constexpr double symbolSize = 26;
constexpr double hourSymbolSize = 10;
constexpr int maxHours = 3;

// Every text of the card is centred in its frame.
DrawItem centredText(const QString& key, const QString& value, const QRectF& frame, const QFont& font,
                     const QColor& color) {
    return textItem(key, value, frame, font, color, Qt::AlignCenter);
}

}  // namespace

WeatherCardView::WeatherCardView(WeatherInfo weather, QWidget* parent) : QWidget(parent), weather_(std::move(weather)) {
    setAttribute(Qt::WA_TranslucentBackground);
}

// One rounding rule for every weather card, beside the player and in the glance panel.
QString WeatherCardView::temperatureText(double temperature) { return GlanceSidePanel::temperatureText(temperature); }

QString WeatherCardView::hourText(const QDateTime& hour, const QTimeZone& zone, const QLocale& locale) {
    return platform::DateFormat::formatPattern(hour, QStringLiteral("H:mm"), locale, zone);
}

DrawList WeatherCardView::layout(const WeatherInfo& weather, const QSizeF& size, const QTimeZone& zone,
                                 const QLocale& locale) {
    DrawList out;
    const QRectF card(0, 0, size.width(), size.height());
    out.add(fillItem(QStringLiteral("weather.card"), card, whiteAt(0.08), 8));
    const QRectF inner = card.adjusted(padding, padding, -padding, -padding);

    const QFont temperatureFont = notchFont(28, QFont::Light, true);
    const QFont descriptionFont = notchFont(10, QFont::Medium);
    const QFont hourFont = notchFont(8, QFont::Medium);
    const QFont hourTemperatureFont = notchFont(9, QFont::Medium, true);
    const double temperatureH = lineHeight(temperatureFont);
    const double descriptionH = lineHeight(descriptionFont);
    const bool hasHours = !weather.hourlyForecast.isEmpty();
    const double hourColumnH = lineHeight(hourFont) + 2 + hourSymbolSize + 2 + lineHeight(hourTemperatureFont);
    const double rowH = hourColumnH + 2;  // bottom padding of the row

    // spacer, symbol, temperature, description, spacer [, divider, hours]: spacing between each.
    double fixed = symbolSize + temperatureH + descriptionH + 4 * spacing;
    if (hasHours) fixed += 1 + rowH + 2 * spacing;
    const double spacer = std::max(0.0, (inner.height() - fixed) / 2);

    double y = inner.top() + spacer + spacing;
    out.add(symbolItem(QStringLiteral("weather.icon"), weather.iconName,
                       QRectF(inner.center().x() - symbolSize / 2, y, symbolSize, symbolSize), whiteAt(0.9)));
    y += symbolSize + spacing;
    out.add(centredText(QStringLiteral("weather.temperature"), temperatureText(weather.temperature),
                        QRectF(inner.left(), y, inner.width(), temperatureH), temperatureFont, QColor(Qt::white)));
    y += temperatureH + spacing;
    out.add(centredText(QStringLiteral("weather.description"), weather.conditionDescription,
                        QRectF(inner.left(), y, inner.width(), descriptionH), descriptionFont, whiteAt(0.6)));
    y += descriptionH + spacing + spacer;
    if (!hasHours) return out;

    y += spacing;
    out.add(fillItem(QStringLiteral("weather.divider"), QRectF(inner.left(), y, inner.width(), 1), whiteAt(0.1), 0));
    y += 1 + spacing;
    const int count = static_cast<int>(std::min<qsizetype>(weather.hourlyForecast.size(), maxHours));
    const double columnW = inner.width() / count;
    for (int i = 0; i < count; ++i) {
        const WeatherInfo::HourlyWeather& hour = weather.hourlyForecast[i];
        const QString key = QStringLiteral("weather.hour.%1").arg(i);
        const double x = inner.left() + i * columnW;
        double cy = y;
        out.add(centredText(key + QStringLiteral(".time"), hourText(hour.hour, zone, locale),
                            QRectF(x, cy, columnW, lineHeight(hourFont)), hourFont, whiteAt(0.5)));
        cy += lineHeight(hourFont) + 2;
        out.add(symbolItem(key + QStringLiteral(".icon"), hour.iconName,
                           QRectF(x + columnW / 2 - hourSymbolSize / 2, cy, hourSymbolSize, hourSymbolSize), whiteAt(0.7)));
        cy += hourSymbolSize + 2;
        out.add(centredText(key + QStringLiteral(".temperature"), temperatureText(hour.temperature),
                            QRectF(x, cy, columnW, lineHeight(hourTemperatureFont)), hourTemperatureFont, whiteAt(0.8)));
    }
    return out;
}

void WeatherCardView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    layout(weather_, size()).paint(painter);
}
