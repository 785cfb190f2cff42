#include "glance/open_meteo_forecast.h"

#include "core/format.h"
#include "core/l10n.h"

#include <QTimeZone>
#include <QUrlQuery>
#include <QUuid>

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>

namespace {

using json = nlohmann::json;

// The platform's wording for a reply that does not fit the records.
const QString missingText = QStringLiteral("The data couldn’t be read because it is missing.");
const QString malformedText = QStringLiteral("The data couldn’t be read because it isn’t in the correct format.");

struct Failure {
    QString description;
};

double readDouble(const json& value) {
    if (!value.is_number()) throw Failure{malformedText};
    return value.get<double>();
}

int readInt(const json& value) {
    if (value.is_number_integer()) {
        if (value.is_number_unsigned()) {
            const auto v = value.get<uint64_t>();
            if (v > static_cast<uint64_t>(std::numeric_limits<int>::max())) throw Failure{malformedText};
            return static_cast<int>(v);
        }
        const auto v = value.get<int64_t>();
        if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) throw Failure{malformedText};
        return static_cast<int>(v);
    }
    // A number written with a point still reads as an integer when it is one exactly.
    if (value.is_number_float()) {
        const double v = value.get<double>();
        if (std::isfinite(v) && v == std::trunc(v) && v >= std::numeric_limits<int>::min() &&
            v <= std::numeric_limits<int>::max())
            return static_cast<int>(v);
    }
    throw Failure{malformedText};
}

const json& required(const json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) throw Failure{missingText};
    return *it;
}

// Absent or null: none; present: every element must read.
template <class T, class Read>
std::optional<QList<T>> optionalArray(const json& object, const char* key, Read read) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return std::nullopt;
    if (!it->is_array()) throw Failure{malformedText};
    QList<T> out;
    out.reserve(static_cast<qsizetype>(it->size()));
    for (const json& element : *it) {
        if (element.is_null()) throw Failure{missingText};
        out.append(read(element));
    }
    return out;
}

bool allDigits(const QString& text, int from, int count) {
    for (int i = from; i < from + count; ++i) {
        if (text[i] < QLatin1Char('0') || text[i] > QLatin1Char('9')) return false;
    }
    return true;
}

QString numberForQuery(double value) { return format::number(value); }

}  // namespace

std::variant<OpenMeteoResponse, OpenMeteoResponse::DecodeError> OpenMeteoResponse::decode(const QByteArray& body) {
    const json root = json::parse(body.constBegin(), body.constEnd(), nullptr, false);
    if (root.is_discarded()) return DecodeError{malformedText};
    try {
        if (!root.is_object()) throw Failure{malformedText};
        OpenMeteoResponse response;
        const json& current = required(root, "current_weather");
        if (!current.is_object()) throw Failure{malformedText};
        response.current_weather.temperature = readDouble(required(current, "temperature"));
        response.current_weather.weathercode = readInt(required(current, "weathercode"));
        response.current_weather.is_day = readInt(required(current, "is_day"));

        if (const auto it = root.find("hourly"); it != root.end() && !it->is_null()) {
            if (!it->is_object()) throw Failure{malformedText};
            OpenMeteoHourly hourly;
            hourly.time = optionalArray<QString>(*it, "time", [](const json& v) {
                if (!v.is_string()) throw Failure{malformedText};
                return QString::fromStdString(v.get<std::string>());
            });
            hourly.temperature_2m = optionalArray<double>(*it, "temperature_2m", readDouble);
            hourly.weathercode = optionalArray<int>(*it, "weathercode", readInt);
            response.hourly = std::move(hourly);
        }

        if (const auto it = root.find("utc_offset_seconds"); it != root.end()) {
            try {
                const int offset = readInt(*it);
                if (std::abs(offset) <= 16 * 3600) response.utc_offset_seconds = offset;
            } catch (const Failure&) {
                // Not one of the reply's required fields: an odd value only loses the zone.
            }
        }
        return response;
    } catch (const Failure& failure) {
        return DecodeError{failure.description};
    }
}

namespace OpenMeteoForecast {

QUrl requestUrl(const QUrl& base, double latitude, double longitude) {
    if (!std::isfinite(latitude) || !std::isfinite(longitude)) return {};
    QUrl url = base;
    url.setPath(QStringLiteral("/v1/forecast"));
    // Written by hand in the fixed order; the values hold nothing a query must escape, so the
    // comma of "hourly" goes out as it is.
    const QString query = QStringLiteral("latitude=") + numberForQuery(latitude) + QStringLiteral("&longitude=") +
                          numberForQuery(longitude) +
                          QStringLiteral("&current_weather=true&hourly=temperature_2m,weathercode&timezone=auto"
                                         "&forecast_hours=4");
    url.setQuery(query, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) return {};
    return url;
}

QString weatherDescription(int code) {
    const auto pick = [](const char* english, const char* japanese) {
        return L10n::pick(QString::fromUtf8(english), QString::fromUtf8(japanese));
    };
    switch (code) {
    case 0: return pick("Clear sky", "快晴");
    case 1: return pick("Mainly clear", "概ね晴れ");
    case 2: return pick("Partly cloudy", "一部曇り");
    case 3: return pick("Overcast", "曇り");
    case 45: case 48: return pick("Fog", "霧");
    case 51: case 53: case 55: return pick("Drizzle", "霧雨");
    case 56: case 57: return pick("Freezing drizzle", "着氷性の霧雨");
    case 61: case 63: case 65: return pick("Rain", "雨");
    case 66: case 67: return pick("Freezing rain", "着氷性の雨");
    case 71: case 73: case 75: return pick("Snowfall", "雪");
    case 77: return pick("Snow grains", "霰");
    case 80: case 81: case 82: return pick("Rain showers", "にわか雨");
    case 85: case 86: return pick("Snow showers", "にわか雪");
    case 95: return pick("Thunderstorm", "雷雨");
    case 96: case 99: return pick("Thunderstorm with hail", "雹を伴う雷雨");
    default: return pick("Unknown", "不明");
    }
}

QString weatherIconName(int code, bool isNight) {
    switch (code) {
    case 0: return isNight ? QStringLiteral("moon.stars.fill") : QStringLiteral("sun.max.fill");
    case 1: return isNight ? QStringLiteral("moon.fill") : QStringLiteral("sun.min.fill");
    case 2: return isNight ? QStringLiteral("cloud.moon.fill") : QStringLiteral("cloud.sun.fill");
    case 3: return QStringLiteral("cloud.fill");
    case 45: case 48: return QStringLiteral("cloud.fog.fill");
    case 51: case 53: case 55: return QStringLiteral("cloud.drizzle.fill");
    case 56: case 57: case 66: case 67: return QStringLiteral("cloud.sleet.fill");
    case 61: case 63: case 65: return QStringLiteral("cloud.rain.fill");
    case 71: case 73: case 75: case 85: case 86: return QStringLiteral("cloud.snow.fill");
    case 77: return QStringLiteral("cloud.hail.fill");
    case 80: case 81: case 82: return QStringLiteral("cloud.heavyrain.fill");
    case 95: return QStringLiteral("cloud.bolt.fill");
    case 96: case 99: return QStringLiteral("cloud.bolt.rain.fill");
    default: return QStringLiteral("cloud.fill");
    }
}

QDateTime readHourlyTime(const QString& text, int utcOffsetSeconds) {
    // yyyy-MM-ddTHH:mm[:ss], nothing more and nothing less.
    if (text.size() != 16 && text.size() != 19) return {};
    if (!allDigits(text, 0, 4) || text[4] != QLatin1Char('-') || !allDigits(text, 5, 2) ||
        text[7] != QLatin1Char('-') || !allDigits(text, 8, 2) || text[10] != QLatin1Char('T') ||
        !allDigits(text, 11, 2) || text[13] != QLatin1Char(':') || !allDigits(text, 14, 2))
        return {};
    int second = 0;
    if (text.size() == 19) {
        if (text[16] != QLatin1Char(':') || !allDigits(text, 17, 2)) return {};
        second = text.mid(17, 2).toInt();
    }
    const QDate date(text.left(4).toInt(), text.mid(5, 2).toInt(), text.mid(8, 2).toInt());
    const int hour = text.mid(11, 2).toInt();
    const int minute = text.mid(14, 2).toInt();
    if (!date.isValid() || hour > 23 || minute > 59 || second > 59) return {};
    return QDateTime(date, QTime(hour, minute, second), Qt::OffsetFromUTC, utcOffsetSeconds);
}

QList<WeatherInfo::HourlyWeather> buildHourlyForecast(const std::optional<OpenMeteoHourly>& hourly, bool isNight,
                                                      const QDateTime& now, std::optional<int> utcOffsetSeconds) {
    QList<WeatherInfo::HourlyWeather> out;
    if (!hourly || !hourly->time || !hourly->temperature_2m || !hourly->weathercode) return out;
    const qsizetype n = std::min({hourly->time->size(), hourly->temperature_2m->size(), hourly->weathercode->size()});
    for (qsizetype i = 0; i < n; ++i) {
        const QDateTime hour = readHourlyTime(hourly->time->at(i), utcOffsetSeconds.value_or(0));
        if (!hour.isValid() || !(hour > now)) continue;
        const int code = hourly->weathercode->at(i);
        out.append(WeatherInfo::HourlyWeather{QUuid::createUuid(), hour, hourly->temperature_2m->at(i), code,
                                              weatherIconName(code, isNight)});
        if (out.size() == 3) break;
    }
    return out;
}

}  // namespace OpenMeteoForecast
