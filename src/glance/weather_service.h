#pragma once

#include "core/event_bus.h"
#include "core/glance_records.h"
#include "glance/open_meteo_forecast.h"
#include "platform/http/http_client.h"
#include "platform/location/location_manager.h"
#include "platform/runtime/dispatch.h"

#include <QUrl>

#include <memory>
#include <optional>

// Publishes the weather at the machine's approximate location on the bus: fetched when the
// location first arrives or moves more than a kilometre, and every fifteen minutes while running.
// The last weather built and the last location are kept across stops for the life of the process.
class WeatherService {
public:
    static constexpr double refreshInterval = 900;
    static constexpr double moveThreshold = 1000;  // metres
    static constexpr double requestTimeout = 60;   // seconds for the whole transfer

    // The process-wide service, created on first use.
    static WeatherService& shared();
    // The public forecast service.
    static QUrl defaultForecastBase();

    // `location` defaults to GeoClue on the system bus, owned by the service.
    explicit WeatherService(platform::LocationManager* location = nullptr,
                            platform::HttpClient& http = platform::HttpClient::shared(),
                            EventBus& bus = EventBus::shared(),
                            platform::Scheduler& scheduler = platform::Scheduler::shared(),
                            QUrl forecastBase = defaultForecastBase());
    ~WeatherService();
    WeatherService(const WeatherService&) = delete;
    WeatherService& operator=(const WeatherService&) = delete;

    // Starts unless running; sends the kept weather again at once, if any.
    void start();
    // Stops in any state. Replies to requests sent before it are dropped.
    void stop();
    bool isRunning() const { return isRunning_; }
    const std::optional<WeatherInfo>& cachedWeather() const { return cachedWeather_; }
    const std::optional<platform::Location>& lastLocation() const { return lastLocation_; }

    static QString weatherDescription(int code) { return OpenMeteoForecast::weatherDescription(code); }
    static QString weatherIconName(int code, bool isNight) { return OpenMeteoForecast::weatherIconName(code, isNight); }
    static QList<WeatherInfo::HourlyWeather> buildHourlyForecast(const std::optional<OpenMeteoHourly>& hourly,
                                                                 bool isNight, const QDateTime& now,
                                                                 std::optional<int> utcOffsetSeconds = std::nullopt) {
        return OpenMeteoForecast::buildHourlyForecast(hourly, isNight, now, utcOffsetSeconds);
    }
    // The record a decoded reply stands for, with hours after `now`.
    static WeatherInfo weatherInfo(const OpenMeteoResponse& response, const QDateTime& now);

private:
    void didUpdateLocations(const std::vector<platform::Location>& locations);
    void didFailWithError(const platform::LocationError& error);
    void didChangeAuthorization();
    void fetchWeatherIfPossible();
    void fetchWeather(double latitude, double longitude);
    void handleReply(const platform::HttpResult& result);
    void resendCachedWeather();
    // Tells the views whether the weather waits for a location that cannot come.
    void publishLocationUnavailable(bool noLocationCanCome);
    QDateTime now() const;

    std::unique_ptr<platform::LocationManager> ownLocation_;
    platform::LocationManager& location_;
    platform::HttpClient& http_;
    EventBus& bus_;
    platform::Scheduler& scheduler_;
    QUrl forecastBase_;
    platform::RepeatingTimer timer_;
    bool isRunning_ = false;
    std::optional<platform::Location> lastLocation_;
    std::optional<WeatherInfo> cachedWeather_;
    // Bumped by every stop: a reply carries the value its request was sent under.
    uint64_t runGeneration_ = 0;
    platform::Lifetime lifetime_;  // timer ticks, replies and hops hold the service weakly
};
