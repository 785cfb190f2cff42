#include "glance/open_meteo_forecast.h"

#include "support/fixtures.h"

#include <QTimeZone>

namespace {

using namespace OpenMeteoForecast;

QDateTime utc(int y, int mo, int d, int h, int mi = 0, int s = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
}

OpenMeteoResponse decoded(const QByteArray& body) {
    auto result = OpenMeteoResponse::decode(body);
    if (auto* error = std::get_if<OpenMeteoResponse::DecodeError>(&result)) {
        ADD_FAILURE() << "did not decode: " << error->description.toStdString();
        return {};
    }
    return std::get<OpenMeteoResponse>(result);
}

QString decodeError(const QByteArray& body) {
    auto result = OpenMeteoResponse::decode(body);
    if (auto* error = std::get_if<OpenMeteoResponse::DecodeError>(&result)) return error->description;
    return {};
}

class ForecastTest : public testsupport::QuillvexTest {};

TEST_F(ForecastTest, RequestTargetIsFixedWithShortestCoordinatesAndAnUnencodedComma) {
    const QUrl base(QStringLiteral("https://forecast.example"));
    EXPECT_EQ(requestUrl(base, 35.6895, 139.69171).toString(QUrl::FullyEncoded),
              "https://forecast.example/v1/forecast?latitude=35.6895&longitude=139.69171&current_weather=true"
              "&hourly=temperature_2m,weathercode&timezone=auto&forecast_hours=4");
    const QUrl other = requestUrl(base, 51, -0.00001);
    EXPECT_EQ(other.query(QUrl::FullyEncoded).section('&', 0, 1), "latitude=51.0&longitude=-1e-05");
    EXPECT_TRUE(requestUrl(base, std::nan(""), 1).isEmpty());
    EXPECT_TRUE(requestUrl(base, 1, INFINITY).isEmpty());
    EXPECT_TRUE(requestUrl(QUrl(), 1, 1).isEmpty());
}

TEST_F(ForecastTest, CodeTableInBothLanguagesWithNightSymbolsOnlyForTheFirstThreeCodes) {
    EXPECT_EQ(weatherDescription(3), "Overcast");
    EXPECT_EQ(weatherIconName(3, false), "cloud.fill");
    EXPECT_EQ(weatherIconName(3, true), "cloud.fill");
    EXPECT_EQ(weatherIconName(0, true), "moon.stars.fill");
    EXPECT_EQ(weatherIconName(0, false), "sun.max.fill");
    EXPECT_EQ(weatherIconName(1, true), "moon.fill");
    EXPECT_EQ(weatherIconName(2, true), "cloud.moon.fill");
    EXPECT_EQ(weatherIconName(2, false), "cloud.sun.fill");
    const std::vector<std::tuple<int, const char*, const char*>> rows = {
        {45, "Fog", "cloud.fog.fill"},          {48, "Fog", "cloud.fog.fill"},
        {55, "Drizzle", "cloud.drizzle.fill"},  {57, "Freezing drizzle", "cloud.sleet.fill"},
        {63, "Rain", "cloud.rain.fill"},        {67, "Freezing rain", "cloud.sleet.fill"},
        {75, "Snowfall", "cloud.snow.fill"},    {77, "Snow grains", "cloud.hail.fill"},
        {82, "Rain showers", "cloud.heavyrain.fill"}, {86, "Snow showers", "cloud.snow.fill"},
        {95, "Thunderstorm", "cloud.bolt.fill"}, {99, "Thunderstorm with hail", "cloud.bolt.rain.fill"},
    };
    for (const auto& [code, text, icon] : rows) {
        EXPECT_EQ(weatherDescription(code), text) << code;
        EXPECT_EQ(weatherIconName(code, true), icon) << code;
    }
    for (int code : {52, 54, 58, 62, 70, 76, 78, 97, -1, 100}) {
        EXPECT_EQ(weatherDescription(code), "Unknown") << code;
        EXPECT_EQ(weatherIconName(code, false), "cloud.fill") << code;
        EXPECT_EQ(weatherIconName(code, true), "cloud.fill") << code;
    }
    defaults().set(QStringLiteral("appLanguage"), QStringLiteral("ja"));
    EXPECT_EQ(weatherDescription(0), "快晴");
    EXPECT_EQ(weatherDescription(96), "雹を伴う雷雨");
    EXPECT_EQ(weatherDescription(52), "不明");
}

TEST_F(ForecastTest, DecodesTolerantlyWhereOptionalAndStrictlyWhereRequired) {
    const OpenMeteoResponse full = decoded(R"({"latitude":1,"current_weather":{"temperature":21,"weathercode":2.0,
        "is_day":0,"windspeed":3},"hourly":{"time":["2027-01-15T09:00"],"temperature_2m":[1.5],"weathercode":[3]},
        "utc_offset_seconds":32400})");
    EXPECT_EQ(full.current_weather.temperature, 21.0);
    EXPECT_EQ(full.current_weather.weathercode, 2);
    EXPECT_EQ(full.current_weather.is_day, 0);
    ASSERT_TRUE(full.hourly);
    EXPECT_EQ(full.hourly->time->size(), 1);
    EXPECT_EQ(full.utc_offset_seconds, 32400);

    EXPECT_FALSE(decoded(R"({"current_weather":{"temperature":1,"weathercode":0,"is_day":1}})").hourly);
    EXPECT_FALSE(decoded(R"({"current_weather":{"temperature":1,"weathercode":0,"is_day":1},"hourly":null})").hourly);
    const auto partial = decoded(R"({"current_weather":{"temperature":1,"weathercode":0,"is_day":1},"hourly":{}})");
    ASSERT_TRUE(partial.hourly);
    EXPECT_FALSE(partial.hourly->time);
    // The zone is not a field the reply must carry: an odd one only loses the zone.
    EXPECT_FALSE(decoded(R"({"current_weather":{"temperature":1,"weathercode":0,"is_day":1},"utc_offset_seconds":"x"})")
                     .utc_offset_seconds);

    const QString missing = QStringLiteral("The data couldn’t be read because it is missing.");
    const QString malformed = QStringLiteral("The data couldn’t be read because it isn’t in the correct format.");
    EXPECT_EQ(decodeError(R"({"current_weather":{"temperature":1,"weathercode":0}})"), missing);
    EXPECT_EQ(decodeError(R"({"current_weather":{"temperature":null,"weathercode":0,"is_day":1}})"), missing);
    EXPECT_EQ(decodeError(R"({"hourly":{}})"), missing);
    EXPECT_EQ(decodeError(R"({"current_weather":{"temperature":"1","weathercode":0,"is_day":1}})"), malformed);
    EXPECT_EQ(decodeError(R"({"current_weather":{"temperature":1,"weathercode":1.5,"is_day":1}})"), malformed);
    EXPECT_EQ(decodeError(R"({"current_weather":{"temperature":1,"weathercode":0,"is_day":true}})"), malformed);
    EXPECT_EQ(decodeError(R"({"current_weather":{"temperature":1,"weathercode":4294967296,"is_day":1}})"), malformed);
    EXPECT_EQ(decodeError(R"({"current_weather":{"temperature":1,"weathercode":0,"is_day":1},
        "hourly":{"time":["x",null]}})"), missing);
    EXPECT_EQ(decodeError(R"({"current_weather":{"temperature":1,"weathercode":0,"is_day":1},
        "hourly":{"weathercode":[1,"2"]}})"), malformed);
    EXPECT_EQ(decodeError(R"({"current_weather":{"temperature":1,"weathercode":0,"is_day":1},"hourly":[]})"), malformed);
    EXPECT_EQ(decodeError(""), malformed);
    EXPECT_EQ(decodeError("{\"error\":true,\"reason\":\"Latitude must be in range\"}"), missing);
    EXPECT_EQ(decodeError("[1,2"), malformed);
}

TEST_F(ForecastTest, HourlyTimesAreReadStrictlyInTheRepliesOwnZone) {
    EXPECT_EQ(readHourlyTime("2024-06-01T13:00", 0), utc(2024, 6, 1, 13));
    EXPECT_EQ(readHourlyTime("2024-06-01T13:00:30", 0), utc(2024, 6, 1, 13, 0, 30));
    // Tokyo's 09:00 is midnight UTC; New York's 19:00 is midnight the next day.
    EXPECT_EQ(readHourlyTime("2024-06-01T09:00", 9 * 3600), utc(2024, 6, 1, 0));
    EXPECT_EQ(readHourlyTime("2024-06-01T19:00", -5 * 3600), utc(2024, 6, 2, 0));
    for (const char* bad : {"2024-06-01T13:00Z", "2024-06-01T13:00+09:00", "2024-06-01 13:00", "2024-6-01T13:00",
                            "2024-06-01T13:00:00.5", "2024-02-30T13:00", "2024-06-01T24:00", "2024-06-01T13:60",
                            "２０２４-06-01T13:00", "", "2024-06-01T1a:00"}) {
        EXPECT_FALSE(readHourlyTime(QString::fromUtf8(bad), 0).isValid()) << bad;
    }
}

TEST_F(ForecastTest, BuildsAtMostThreeFutureHoursFromTheShortestArray) {
    const QDateTime now = utc(2027, 1, 15, 8);
    OpenMeteoHourly hourly{QList<QString>{"2027-01-15T09:00", "2027-01-15T10:00", "2027-01-15T11:00", "2027-01-15T12:00"},
                           QList<double>{1, 2}, QList<int>{0, 1, 2}};
    auto built = buildHourlyForecast(hourly, false, now);
    ASSERT_EQ(built.size(), 2);
    EXPECT_EQ(built[0].hour, utc(2027, 1, 15, 9));
    EXPECT_EQ(built[1].temperature, 2.0);
    EXPECT_EQ(built[1].iconName, "sun.min.fill");
    EXPECT_NE(built[0].id, built[1].id);

    hourly.temperature_2m = QList<double>{1, 2, 3, 4};
    hourly.weathercode = QList<int>{0, 1, 2, 3};
    built = buildHourlyForecast(hourly, true, now);
    ASSERT_EQ(built.size(), 3);
    EXPECT_EQ(built[2].hour, utc(2027, 1, 15, 11));
    EXPECT_EQ(built[0].iconName, "moon.stars.fill");

    // A time equal to now is skipped, one a second later is taken; unreadable ones are skipped.
    hourly.time = QList<QString>{"2027-01-15T08:00:00", "garbage", "2027-01-15T08:00:01", "2027-01-15T07:00"};
    built = buildHourlyForecast(hourly, false, now);
    ASSERT_EQ(built.size(), 1);
    EXPECT_EQ(built[0].hour, utc(2027, 1, 15, 8, 0, 1));
    EXPECT_EQ(built[0].conditionCode, 2);

    hourly.weathercode.reset();
    EXPECT_TRUE(buildHourlyForecast(hourly, false, now).isEmpty());
    EXPECT_TRUE(buildHourlyForecast(std::nullopt, false, now).isEmpty());
}

TEST_F(ForecastTest, HoursWestOfUtcAreNotLostToTheirLocalLabels) {
    // 03:00 UTC: in New York (UTC-5) it is 22:00 of the day before, and the reply lists the next
    // local hours. Read as UTC, every one of them would lie in the past.
    const QDateTime now = utc(2027, 1, 15, 3);
    const OpenMeteoHourly hourly{QList<QString>{"2027-01-14T22:00", "2027-01-14T23:00", "2027-01-15T00:00", "2027-01-15T01:00"},
                                 QList<double>{1, 2, 3, 4}, QList<int>{0, 0, 0, 0}};
    EXPECT_TRUE(buildHourlyForecast(hourly, false, now).isEmpty());
    const auto built = buildHourlyForecast(hourly, false, now, -5 * 3600);
    ASSERT_EQ(built.size(), 3);
    EXPECT_EQ(built[0].hour, utc(2027, 1, 15, 4));
}

}  // namespace
