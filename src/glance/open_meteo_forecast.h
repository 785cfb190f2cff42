#pragma once

// The one exchange with the forecast service: the request address, the reply records with their
// strict decoding, the weather-code tables and the builder of the next hours.

#include "core/glance_records.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>
#include <variant>

struct OpenMeteoCurrentWeather {
    double temperature = 0;
    int weathercode = 0;
    int is_day = 1;
};

struct OpenMeteoHourly {
    std::optional<QList<QString>> time;
    std::optional<QList<double>> temperature_2m;
    std::optional<QList<int>> weathercode;
};

struct OpenMeteoResponse {
    OpenMeteoCurrentWeather current_weather;
    std::optional<OpenMeteoHourly> hourly;
    // The zone of the hourly times, when the reply names it (read tolerantly: anything but a
    // whole number of seconds within a day counts as absent).
    std::optional<int> utc_offset_seconds;

    struct DecodeError {
        QString description;
    };
    // The reply, or why it does not decode. A required key missing or null, a value of the wrong
    // type, or a null or mistyped array element fails the whole reply.
    static std::variant<OpenMeteoResponse, DecodeError> decode(const QByteArray& body);
};

namespace OpenMeteoForecast {

// https://<host>/v1/forecast?latitude=…&longitude=…&current_weather=true&hourly=temperature_2m,weathercode&timezone=auto&forecast_hours=4
// on `base` (scheme, host and port); empty when either coordinate is not a finite number.
QUrl requestUrl(const QUrl& base, double latitude, double longitude);

// The description of a WMO weather code in the current language.
QString weatherDescription(int code);
// The system symbol name for a weather code; only codes 0, 1 and 2 differ by night.
QString weatherIconName(int code, bool isNight);

// Up to three hours strictly later than `now`, in the reply's order. Times are read in the zone
// `utcOffsetSeconds` names (UTC without one); unreadable times are skipped.
QList<WeatherInfo::HourlyWeather> buildHourlyForecast(const std::optional<OpenMeteoHourly>& hourly, bool isNight,
                                                      const QDateTime& now,
                                                      std::optional<int> utcOffsetSeconds = std::nullopt);

// "2024-06-01T13:00" or "2024-06-01T13:00:00" at `utcOffsetSeconds` east of UTC; invalid for
// anything else (no zone designator, no fractions, no loose digits).
QDateTime readHourlyTime(const QString& text, int utcOffsetSeconds);

}  // namespace OpenMeteoForecast
