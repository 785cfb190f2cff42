#include "glance/weather_service.h"

#include "support/fake_http_client.h"
#include "support/fake_location_manager.h"
#include "support/fixtures.h"

#include <cmath>

namespace {

using platform::HttpError;
using platform::Location;
using platform::LocationAuthorizationStatus;

const QByteArray dayReply = R"({"current_weather":{"temperature":21.5,"weathercode":2,"is_day":1},
    "utc_offset_seconds":0,
    "hourly":{"time":["2027-01-15T07:00","2027-01-15T09:00","2027-01-15T10:00"],
              "temperature_2m":[1,2,3],"weathercode":[3,61,0]}})";
const QByteArray nightReply = R"({"current_weather":{"temperature":-3.25,"weathercode":0,"is_day":0}})";

// A point due north of `from` (on the equator, where latitudes are finest) whose computed distance
// is exactly `metres`.
Location north(const Location& from, double metres) {
    double lo = from.latitude;
    double hi = from.latitude + 2 * metres / 111000.0;
    for (int i = 0; i < 200; ++i) {
        const double mid = (lo + hi) / 2;
        (from.distance({mid, from.longitude}) < metres ? lo : hi) = mid;
    }
    Location to{lo, from.longitude};
    for (int i = 0; i < 256 && from.distance(to) < metres; ++i) to.latitude = std::nextafter(to.latitude, 90.0);
    return to;
}

class WeatherServiceTest : public testsupport::QuillvexTest {
protected:
    testsupport::FakeLocationManager location;
    testsupport::FakeHttpClient http{scheduler()};
    EventBus bus{scheduler()};
    WeatherService service{&location, http, bus, scheduler(), QUrl(QStringLiteral("https://forecast.example"))};
    std::vector<std::optional<WeatherInfo>> sent;
    platform::AnyCancellable subscription = bus.weatherInfoSubject.sink([this](const std::optional<WeatherInfo>& w) {
        sent.push_back(w);
    });

    void SetUp() override { sent.clear(); }

    // One fetched weather in the cache, with the request answered and the publication done.
    void primeCache() {
        service.start();
        location.deliver(35.6895, 139.69171);
        http.respondOk(dayReply);
        scheduler().drain();
        ASSERT_TRUE(service.cachedWeather());
        sent.clear();
        log.clear();
    }
};

TEST_F(WeatherServiceTest, FirstLocationLogsAndSendsOneRequestThenPublishesTheWeather) {
    service.start();
    EXPECT_EQ(location.authorizationRequests, 1);
    EXPECT_TRUE(location.updating);
    EXPECT_EQ(location.desiredAccuracy, 1000.0);
    EXPECT_TRUE(http.sent().empty());  // start alone fetches nothing

    location.deliver(35.6895, 139.69171);
    EXPECT_TRUE(log.contains(platform::LogLevel::Debug, "WeatherService: Location updated (35.6895, 139.69171)"));
    EXPECT_TRUE(log.contains(platform::LogLevel::Debug, "WeatherService: Fetching weather for (35.6895, 139.69171)"));
    ASSERT_EQ(http.sent().size(), 1u);
    EXPECT_EQ(http.sent()[0].url.toString(QUrl::FullyEncoded),
              "https://forecast.example/v1/forecast?latitude=35.6895&longitude=139.69171&current_weather=true"
              "&hourly=temperature_2m,weathercode&timezone=auto&forecast_hours=4");
    EXPECT_EQ(http.sent()[0].timeoutSeconds, 60.0);
    EXPECT_EQ(http.sent()[0].deadlineSeconds, 60.0);  // a trickling server cannot hold it longer
    EXPECT_FALSE(location.updating);  // updates stop after every batch

    // Decoded on a worker, published on the main queue: the main thread alone publishes nothing.
    scheduler().setHoldGlobal(true);
    http.respondOk(dayReply);
    scheduler().drain();
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(scheduler().heldGlobalCount(), 1u);
    scheduler().setHoldGlobal(false);
    scheduler().drain();
    ASSERT_EQ(sent.size(), 1u);
    const WeatherInfo& weather = *sent[0];
    EXPECT_EQ(weather.temperature, 21.5);
    EXPECT_EQ(weather.conditionDescription, "Partly cloudy");
    EXPECT_EQ(weather.iconName, "cloud.sun.fill");
    ASSERT_EQ(weather.hourlyForecast.size(), 2);  // 07:00 lies before the virtual 08:00 UTC
    EXPECT_EQ(weather.hourlyForecast[0].iconName, "cloud.rain.fill");
    EXPECT_EQ(service.cachedWeather(), weather);
    EXPECT_TRUE(log.contains(platform::LogLevel::Debug, "WeatherService: Updated weather - 21.5°C, Partly cloudy"));
}

// A move east or west counts as one north or south does: a degree of longitude on the equator, and
// less nearer a pole.
TEST(LocationDistance, MovesEastAndWestCountAsTheGreatCircleSays) {
    EXPECT_NEAR((Location{0, 0}.distance({0, 1})), 111195.0, 1.0);
    EXPECT_NEAR((Location{60, 10}.distance({60, 11})), 55597.0, 1.0);
}

TEST_F(WeatherServiceTest, OnlyAMoveOfMoreThanAKilometreFetchesButEveryLocationIsKept) {
    service.start();
    const Location home{0, 139.69171};
    location.deliver({home});
    ASSERT_EQ(http.sent().size(), 1u);

    const Location exactly = north(home, 1000.0);
    ASSERT_EQ(home.distance(exactly), 1000.0);
    location.deliver({Location{0, 0}, exactly});  // the newest of a batch counts
    EXPECT_EQ(http.sent().size(), 1u);
    EXPECT_EQ(service.lastLocation()->latitude, exactly.latitude);

    const Location beyond = north(exactly, 1000.1);
    ASSERT_GT(exactly.distance(beyond), 1000.0);
    location.deliver({beyond});
    EXPECT_EQ(http.sent().size(), 2u);

    location.deliver({Location{std::nan(""), 0}});  // not a number: no move
    EXPECT_EQ(http.sent().size(), 2u);
    location.deliver(std::vector<Location>{});
    EXPECT_EQ(http.sent().size(), 2u);
}

TEST_F(WeatherServiceTest, TimerFetchesForTheLastLocationOrResendsTheCache) {
    service.start();
    scheduler().advance(900);
    EXPECT_TRUE(log.contains(platform::LogLevel::Debug, "WeatherService: No location available, using cached data"));
    EXPECT_TRUE(sent.empty());  // nothing cached yet
    EXPECT_TRUE(http.sent().empty());

    location.deliver(51, -0.1275);
    EXPECT_TRUE(log.contains("WeatherService: Fetching weather for (51.0, -0.1275)"));
    http.respondOk(nightReply);
    scheduler().drain();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]->iconName, "moon.stars.fill");
    EXPECT_TRUE(sent[0]->hourlyForecast.isEmpty());

    scheduler().advance(899);
    EXPECT_EQ(http.sent().size(), 1u);
    scheduler().advance(1);
    EXPECT_EQ(http.sent().size(), 2u);
}

TEST_F(WeatherServiceTest, DecodeAndNetworkFailuresResendTheCachedWeather) {
    // Before any success nothing is sent.
    service.start();
    location.deliver(35.6895, 139.69171);
    http.respondError(HttpError::Kind::Transport, QStringLiteral("Connection refused"));
    scheduler().drain();
    EXPECT_TRUE(log.contains(platform::LogLevel::Error, "WeatherService: Network error - Connection refused"));
    EXPECT_TRUE(sent.empty());
    location.deliver(48.8566, 2.3522);
    http.respondOk(dayReply);
    scheduler().drain();
    const WeatherInfo cached = *service.cachedWeather();
    sent.clear();

    scheduler().advance(900);
    http.respondStatus(400, R"({"error":true,"reason":"Latitude must be in range of -90 to 90°."})");
    scheduler().drain();
    EXPECT_TRUE(log.contains(platform::LogLevel::Error,
                             "WeatherService: Decode error - The data couldn’t be read because it is missing."));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], cached);

    // Any status with a body that decodes is weather.
    scheduler().advance(900);
    http.respondStatus(500, nightReply);
    scheduler().drain();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1]->temperature, -3.25);

    // An empty body is a decode error, not missing data; a missing "is_day" stores nothing new.
    scheduler().advance(900);
    http.respondOk(QByteArray(""));
    scheduler().advance(900);
    http.respondOk(R"({"current_weather":{"temperature":30,"weathercode":0}})");
    scheduler().drain();
    EXPECT_EQ(log.matching("WeatherService: Decode error - ").size(), 3);
    EXPECT_FALSE(log.contains("WeatherService: No data received"));
    EXPECT_EQ(service.cachedWeather()->temperature, -3.25);
    EXPECT_EQ(sent.size(), 4u);

    scheduler().advance(900);
    http.respondError(HttpError::Kind::Timeout, QStringLiteral("The request timed out."));
    scheduler().drain();
    EXPECT_TRUE(log.contains("WeatherService: Network error - The request timed out."));
    EXPECT_EQ(sent.size(), 5u);
}

TEST_F(WeatherServiceTest, LocationErrorsAndAuthorizationChanges) {
    location.fail(QStringLiteral("The operation couldn’t be completed."));
    EXPECT_TRUE(log.contains(platform::LogLevel::Error,
                             "WeatherService: Location error - The operation couldn’t be completed."));
    EXPECT_TRUE(sent.empty());

    location.changeAuthorization(LocationAuthorizationStatus::notDetermined);
    EXPECT_TRUE(log.contains(platform::LogLevel::Debug, "WeatherService: Location authorization not determined"));
    location.changeAuthorization(LocationAuthorizationStatus::denied);
    location.changeAuthorization(LocationAuthorizationStatus::restricted);
    EXPECT_EQ(log.count("WeatherService: Location access denied"), 2);
    EXPECT_FALSE(location.updating);

    // Authorized while stopped still starts updates; a far location then fetches and publishes.
    location.changeAuthorization(LocationAuthorizationStatus::authorized);
    EXPECT_TRUE(log.contains(platform::LogLevel::Info, "WeatherService: Location authorized"));
    EXPECT_TRUE(location.updating);
    location.deliver(48.8566, 2.3522);
    http.respondOk(dayReply);
    scheduler().drain();
    EXPECT_EQ(sent.size(), 1u);

    location.fail(QStringLiteral("gone"));
    EXPECT_EQ(sent.size(), 2u);
}

// The views wait for the weather while a location may come, and say when none can.
TEST_F(WeatherServiceTest, TheLocationIsUnavailableOnlyWhileRunningWithNoLocationComingAndNoneKnown) {
    const auto unavailable = [&] { return bus.weatherLocationUnavailableSubject.value(); };
    location.changeAuthorization(LocationAuthorizationStatus::denied);
    EXPECT_FALSE(unavailable()) << "a stopped service promises nothing";
    service.start();
    EXPECT_TRUE(unavailable()) << "refused before the start";
    location.changeAuthorization(LocationAuthorizationStatus::authorized);
    EXPECT_FALSE(unavailable());
    location.changeAuthorization(LocationAuthorizationStatus::restricted);  // the service went away
    EXPECT_TRUE(unavailable());
    service.stop();
    EXPECT_FALSE(unavailable());

    location.status = LocationAuthorizationStatus::notDetermined;
    service.start();
    EXPECT_FALSE(unavailable());
    location.fail(QStringLiteral("The location service did not answer."));
    EXPECT_TRUE(unavailable());
    // Once a location is known, a forecast can always come for it.
    location.deliver(35.6895, 139.69171);
    EXPECT_FALSE(unavailable());
    location.fail(QStringLiteral("gone"));
    location.changeAuthorization(LocationAuthorizationStatus::denied);
    EXPECT_FALSE(unavailable());
}

TEST_F(WeatherServiceTest, StartTwiceKeepsOneTimerAndStopThenStartMakesANewOne) {
    location.deliver(35.6895, 139.69171);  // a location known before the start
    http.respondOk(dayReply);
    scheduler().drain();
    service.start();
    service.start();
    EXPECT_EQ(log.count("WeatherService: Starting"), 1);
    scheduler().advance(900);
    EXPECT_EQ(http.sent().size(), 2u);  // one tick, not two

    service.stop();
    EXPECT_TRUE(log.contains(platform::LogLevel::Info, "WeatherService: Stopped"));
    EXPECT_FALSE(service.isRunning());
    EXPECT_FALSE(location.updating);
    scheduler().advance(1800);
    EXPECT_EQ(http.sent().size(), 2u);

    service.stop();  // no guard needed
    EXPECT_EQ(log.count("WeatherService: Stopped"), 2);
    service.start();
    scheduler().advance(900);
    EXPECT_EQ(http.sent().size(), 3u);
}

TEST_F(WeatherServiceTest, StartResendsTheCachedWeatherAndRepliesFromBeforeAStopAreDropped) {
    primeCache();
    service.stop();
    EXPECT_TRUE(sent.empty());  // stop publishes nothing
    service.start();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], service.cachedWeather());

    // A request under way when the service stops never publishes, not even the cache.
    scheduler().advance(900);
    ASSERT_EQ(http.pendingCount(), 1u);
    service.stop();
    http.respondOk(nightReply);
    scheduler().drain();
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(service.cachedWeather()->temperature, 21.5);

    service.start();
    scheduler().advance(900);
    http.respondError(HttpError::Kind::Transport, QStringLiteral("Connection refused"));
    service.stop();  // the hop to the main queue is dropped too
    scheduler().drain();
    EXPECT_EQ(sent.size(), 2u);  // only the start's resend
}

TEST_F(WeatherServiceTest, UnbuildableAddressSendsNothing) {
    service.start();
    location.deliver(std::nan(""), 1);
    EXPECT_TRUE(log.contains(platform::LogLevel::Error, "WeatherService: Failed to build URL"));
    EXPECT_TRUE(http.sent().empty());
}

}  // namespace
